// PKCS10: a certification request (RFC 2986) split into ready-to-use
// fields. Requests are made and signed here with the new key, and read back
// from every form users bring them in: DER, PEM, bare base64 and base64
// broken by stray characters.
#pragma once

#include <openssl/bio.h>
#include <openssl/x509.h>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/buffer.h"
#include "crypto/keys/pkey.h"
#include "crypto/x509v3/v3ext.h"

namespace cadb {

// Library 66 (CADB) function codes of requests.
enum CadbPkcs10Func : int {
    CADB_F_PKCS10_NEW = 450,
    CADB_F_PKCS10_SPLIT = 451,
    CADB_F_PKCS10_READ_BIO = 452,
    CADB_F_PKCS10_READ_BUFFER = 453,
    CADB_F_PKCS10_MAKE = 454,
    CADB_F_ADD_ATTRIBUTE_OBJECT = 455,
    // Without a name text.
    CADB_F_PKCS10_GET = 456,
};

// Where a record came from.
inline constexpr int PKCS10_ORIGIN_ENCODED = 2;  // DER or PEM, or made here
inline constexpr int PKCS10_ORIGIN_BASE64 = 3;   // bare base64 read directly

inline constexpr const char* kPkcs10PemLabel = "CERTIFICATE REQUEST";

struct PKCS10 {
    int origin;
    int version;                            // only 0 is accepted
    int key_algorithm;                      // NID of the public key's algorithm
    int key_size;                           // bits
    int signature_algorithm;                // NID
    int signature_check;                    // 1 good; -1 until checked; otherwise not good
    ATTRIBUTE* subject;                     // the subject's entries
    ATTRIBUTE* attributes;                  // the printable request attributes
    STACK_OF(CADB_V3EXT) * extensions;      // the requested extensions as extension
                                            // records; null for none or when they
                                            // do not parse
    X509_REQ* request;                      // owned
    BUFFER* key_fingerprint;
    BUFFER* subject_fingerprint;
};

// A zeroed record with signature check -1.
PKCS10* PKCS10_new();
// Releases everything the record holds. Null accepted.
void PKCS10_free(PKCS10* p10);

// A new record of a copy of req (libcrypto's requests carry no reference
// count). A request whose signature does not verify is returned with
// signature check != 1 as long as its public key is sound.
PKCS10* PKCS10_split(const X509_REQ* req);
// The same, taking over req itself (freed on failure).
PKCS10* PKCS10_split0(X509_REQ* req);

// The request in the stream: form 1 DER, 2 PEM; all of it must be the one
// request. Other forms: "invalid encode type".
X509_REQ* PKCS10_read_bio(int form, BIO* in);
// A record from len bytes: form 0 DER, then PEM, then bare base64; 1 DER; 2
// PEM.
PKCS10* PKCS10_read_buffer(int form, const unsigned char* bytes, int len);
// A record from bare base64 text (len 0: strlen).
PKCS10* PKCS10_read_base64(const char* text, int len);
// A record from anything a user may paste: any form, and base64 broken by
// spaces, tabs, quotes and other characters that base64 does not use.
PKCS10* PKCS10_load(const char* text, int len);

// The request encoded: 2 PEM, 5 printed text, 6 base64 of the DER on one
// line, any other form DER.
BUFFER* PKCS10_get(const PKCS10* p10, int form);

// A signed request: subject name (null: empty), the subject key, the signing
// key (null or the subject key: self-signed), the digest NID (see
// PKEY_sign_md), request attributes to add (null: none), extensions to
// request (null or empty: none), and whether the public key carries its
// domain parameters (DSA keys always do).
PKCS10* PKCS10_make(const X509_NAME* subject, PKEY* key, PKEY* signer, int md_nid,
                    const ATTRIBUTE* attributes, const STACK_OF(X509_EXTENSION) * extensions,
                    int with_parameters);

// Adds the extensionRequest attribute (one value: the DER of the SEQUENCE OF
// Extension) to the request. 1/0.
int add_attribute_object(X509_REQ* req, const STACK_OF(X509_EXTENSION) * extensions);

}  // namespace cadb
