// The two printed forms of a distinguished name: the RFC 2253 style and the
// one-line form, both with values in the local code page.
#pragma once

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "crypto/cadb/buffer.h"

namespace cadb {

// indent spaces, then "sn=value" per entry in stored order, separated by
// ", " (an unknown type as its dotted OID, at most 80 characters). A value
// with , + = " < > # ; or a line feed, a leading or trailing space, or two
// spaces in a row is enclosed in double quotes, without escapes inside.
// 1/0.
int X509_NAME_print_rfc2253(BIO* out, const X509_NAME* name, int indent);

// "/sn=value" per entry; Unicode values in the local code page; a byte
// outside 32-126, the local Cyrillic letters 192-255 and 168, 171, 184, 185,
// 187 is written as "\xHH". A missing name gives "NO X509_NAME". With buf,
// the text stops before the entry that would not fit in size bytes (with
// its zero) and buf is returned; without, a new text the caller frees with
// OPENSSL_free. libcrypto exports a function of this name and signature:
// call this one as cadb::X509_NAME_oneline.
char* X509_NAME_oneline(const X509_NAME* name, char* buf, int size);

// Mode 1: the one-line form (at most 2,048 bytes); any other mode: the RFC
// 2253 form.
BUFFER* X509_NAME_get_text(const X509_NAME* name, int mode);
BUFFER* X509_NAME_get_rfc2253(const X509_NAME* name);

}  // namespace cadb
