// CERT: a certificate handed to the rest of the system with its fields
// already decoded into numbers, broken-down times, texts and lists, so that
// callers show and compare certificates without touching ASN.1.
#pragma once

#include <openssl/bio.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>

#include <ctime>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/x509/cert_codes.h"
#include "crypto/x509/verify_error.h"
#include "crypto/x509v3/v3ext.h"

namespace cadb {

struct CRL;
struct PKEY;

struct CERT {
    int version;              // 0 for v1, 2 for v3
    int key_algorithm;        // NID of the subject public key's algorithm
    int key_size;             // bits
    int signature_algorithm;  // NID
    int self_issued;          // 1 when subject equals issuer, else -1 (never 0)
    int parameters_missing;   // 1 when the key inherits its domain parameters
    BUFFER* serial;
    struct tm not_before;  // broken-down UTC
    struct tm not_after;
    ATTRIBUTE* subject;  // null for an empty name
    ATTRIBUTE* issuer;
    STACK_OF(CADB_V3EXT) * extensions;  // the extensions as extension records; null for none
    int verify_result;  // -1 until a verification recorded its result
    STACK_OF(X509_VERIFY_ERROR) * verify_errors;
    CERT* issuer_cert;  // owned: the issuer's record when a chain is attached
    X509* x509;         // one reference held
    BUFFER* key_fingerprint;
    BUFFER* subject_text;  // RFC 2253 form
    BUFFER* issuer_text;
    CRL* crl;  // owned
    BUFFER* subject_fingerprint;
    BUFFER* issuer_fingerprint;
};
DEFINE_STACK_OF(CERT)

// Zeroed record with self-issued and verification result -1.
CERT* CERT_new();
// Releases everything the record holds (its issuer chain too) and zeroes it
// as CERT_new does.
void CERT_clear(CERT* cert);
// Frees the issuer chain first, then the contents, then the record. Null
// accepted.
void CERT_free(CERT* cert);

// A new record of the certificate's fields; takes its own reference on x.
CERT* CERT_split(X509* x);

// Form 1 DER or 2 PEM, the whole stream. Other forms: "invalid encode type".
X509* CERT_read_bio(int form, BIO* in);
// Form 0 tries DER, then PEM, then bare base64 under "CERTIFICATE"; 1 and 2
// that form only. DER must fill the bytes exactly.
CERT* CERT_read_buffer(int form, const unsigned char* bytes, int len);
CERT* CERT_read_data(const unsigned char* bytes, int len);

// 2 PEM "CERTIFICATE" (64-character lines, LF), 5 the printed certificate,
// any other form DER.
BUFFER* CERT_get(const CERT* cert, int form);

// 1 when the certificate's public key and the key form a pair (the X.509
// layer's certificate-against-private-key comparison), 0 otherwise or when
// either is null.
int CERT_check_PKEY(const CERT* cert, const PKEY* key);

}  // namespace cadb
