// The printed text of certificates, CRLs and requests: libcrypto's layout,
// with every extension shown by the library's printers first (libcrypto's
// own printing would show its printers for the extensions it knows).
#pragma once

#include <openssl/bio.h>
#include <openssl/x509.h>

namespace cadb {

// "%*s<title>:\n" at indent, then per extension at indent + 4 its object and
// ": critical" (or ": "), its value at indent + 8 (the raw octets when no
// printer knows the extension) and a line end. Nothing for an empty list.
// 1/0. libcrypto exports a function of this name: call this one as
// cadb::X509V3_extensions_print.
int X509V3_extensions_print(BIO* out, const char* title, const STACK_OF(X509_EXTENSION) * exts,
                            unsigned long flag, int indent);

// The whole object as libcrypto's X509_print, X509_CRL_print and
// X509_REQ_print lay it out. 1/0.
int X509_print_text(BIO* out, X509* x);
int X509_CRL_print_text(BIO* out, X509_CRL* crl);
int X509_REQ_print_text(BIO* out, X509_REQ* req);

}  // namespace cadb
