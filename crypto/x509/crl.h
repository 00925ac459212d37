// CRL: a certificate revocation list with its fields decoded into numbers,
// broken-down times, texts and lists, beside the list itself.
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

struct CERT;

// One revoked entry.
struct REVOKED {
    BUFFER* serial;
    struct tm revocation_date;          // broken-down UTC
    STACK_OF(CADB_V3EXT) * extensions;  // the entry's extensions as records; null for none
    X509_REVOKED* entry;                // the entry object, owned by the CRL it came from
};
DEFINE_STACK_OF(REVOKED)

REVOKED* REVOKED_new();
// Null accepted.
void REVOKED_free(REVOKED* r);
void REVOKED_list_free(STACK_OF(REVOKED) * list);

struct CRL {
    int version;  // the value of the version field
    int signature_algorithm;
    int revoked_count;
    struct tm last_update;  // thisUpdate
    struct tm next_update;  // nextUpdate, when has_next_update
    int has_next_update;
    ATTRIBUTE* issuer;
    STACK_OF(REVOKED) * revoked;  // in the list's order
    X509_CRL* crl;                // one reference held
    STACK_OF(CADB_V3EXT) * extensions;  // the list's extensions as records; null for none
    BUFFER* issuer_text;          // RFC 2253 form
    CERT* issuer_cert;            // owned, when attached
    int verify_result;            // -1 until set
    STACK_OF(X509_VERIFY_ERROR) * verify_errors;
};
DEFINE_STACK_OF(CRL)

// Zeroed record with verification result -1.
CRL* CRL_new();
// Releases the contents; the record stays as CRL_new leaves it.
void CRL_clear(CRL* crl);
// CRL_clear, then the record. Null accepted.
void CRL_free(CRL* crl);
void CRL_list_free(STACK_OF(CRL) * list);

// A new record of the list's fields; takes its own reference on crl. Any
// failure frees the partial record.
CRL* CRL_split(X509_CRL* crl);

// Form 1 DER or 2 PEM, the whole stream. Other forms: "invalid encode type".
X509_CRL* CRL_read_bio(int form, BIO* in);
// Form 0 tries DER, then PEM; 1 and 2 that form only.
CRL* CRL_read_buffer(int form, const unsigned char* bytes, int len);

// 2 PEM "X509 CRL", 5 the printed list, any other form DER.
BUFFER* CRL_get(const CRL* crl, int form);

}  // namespace cadb
