// The lookup method that serves certificates and CRLs held in memory to a
// certificate store: "local untrusted store" (the caller's CRLs of one
// verification) and the identical "trusted store". A store holding such a
// lookup builds chains from the certificates in it.
#pragma once

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

namespace cadb {

X509_LOOKUP_METHOD* X509_LOOKUP_local();
X509_LOOKUP_METHOD* X509_LOOKUP_trusted();

// Adds one reference of a certificate or a CRL to a lookup of either method.
// 1/0.
int X509_LOOKUP_local_add_cert(X509_LOOKUP* lookup, X509* x);
int X509_LOOKUP_local_add_crl(X509_LOOKUP* lookup, X509_CRL* crl);

// Queries: each match is pushed onto out with a new reference; without all
// the first match ends the search. The number pushed, or -1 on failure.
// CRLs whose issuer equals name.
int X509_LOOKUP_local_crls_by_subject(X509_LOOKUP* lookup, const X509_NAME* name,
                                      STACK_OF(X509_CRL) * out, int all);
// Certificates whose subject equals name: what the stock store asks for
// when it builds a chain. The store's own question (X509_LOOKUP_by_subject
// for certificates or CRLs) puts every match among the store's objects and
// answers the first one without a reference of its own, as the stock store
// expects of its lookups.
int X509_LOOKUP_local_certs_by_subject(X509_LOOKUP* lookup, const X509_NAME* name,
                                       STACK_OF(X509) * out, int all);
// Certificates with that issuer and serial number.
int X509_LOOKUP_local_certs_by_issuer_serial(X509_LOOKUP* lookup, const X509_NAME* issuer,
                                             const ASN1_INTEGER* serial, STACK_OF(X509) * out,
                                             int all);
// Certificates with that issuer and serial number in every in-memory lookup
// of the store that was given a certificate, in the order they were given
// their first; without all the first match ends the search.
int X509_STORE_local_certs_by_issuer_serial(X509_STORE* store, const X509_NAME* issuer,
                                            const ASN1_INTEGER* serial, STACK_OF(X509) * out,
                                            int all);
// Certificates whose key fingerprint (FINGER_PRINT_get) equals the bytes.
int X509_LOOKUP_local_certs_by_fingerprint(X509_LOOKUP* lookup, const unsigned char* bytes, int len,
                                           STACK_OF(X509) * out, int all);

}  // namespace cadb
