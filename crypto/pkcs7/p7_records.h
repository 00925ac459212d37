// ASN.1 records of the message engine, described by item templates. The
// message level itself (ContentInfo and the six content types) is written
// and read by the engine's own coder, which keeps the cached encoding, the
// indefinite-length form and the two type slots; these are the records
// inside it.
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "crypto/asn1/asn1_item.h"

namespace cadb {

// IssuerAndSerialNumber.
struct PKCS7_ISSUER_AND_SERIAL {
    X509_NAME* issuer;
    ASN1_INTEGER* serial;
};
DECLARE_ASN1_ITEM(PKCS7_ISSUER_AND_SERIAL)

// OriginatorPublicKey ::= SEQUENCE { algorithm, publicKey BIT STRING }.
struct PKCS7_ORIGINATOR_KEY {
    X509_ALGOR* algorithm;
    ASN1_BIT_STRING* public_key;
};
DECLARE_ASN1_ITEM(PKCS7_ORIGINATOR_KEY)
// The same under [1] EXPLICIT and [1] IMPLICIT: the originatorKey choice of
// OriginatorIdentifierOrKey in its two taggings.
DECLARE_ASN1_ITEM(PKCS7_ORIGINATOR_KEY_EXP)
DECLARE_ASN1_ITEM(PKCS7_ORIGINATOR_KEY_IMP)

// RecipientEncryptedKey ::= SEQUENCE { rid IssuerAndSerialNumber,
// encryptedKey OCTET STRING }. The pair always owns copies of its members.
struct ASN1_PAIR {
    PKCS7_ISSUER_AND_SERIAL* rid;
    ASN1_OCTET_STRING* key;
};
DECLARE_ASN1_ITEM(ASN1_PAIR)
DEFINE_STACK_OF(ASN1_PAIR)

// KeyTransRecipientInfo.
struct P7_KTRI {
    ASN1_INTEGER* version;
    PKCS7_ISSUER_AND_SERIAL* issuer_and_serial;
    X509_ALGOR* key_enc_algor;
    ASN1_OCTET_STRING* enc_key;
};
DECLARE_ASN1_ITEM(P7_KTRI)

// KeyAgreeRecipientInfo body; originator is the originatorKey choice inside
// originator [0] EXPLICIT, tagged [1] EXPLICIT (P7_KARI_EXP) or [1]
// IMPLICIT (P7_KARI_IMP, the RFC 5652 form).
struct P7_KARI {
    ASN1_INTEGER* version;
    PKCS7_ORIGINATOR_KEY* originator;
    ASN1_OCTET_STRING* ukm;
    X509_ALGOR* key_enc_algor;
    STACK_OF(ASN1_PAIR) * rek;
};
DECLARE_ASN1_ITEM(P7_KARI_EXP)
DECLARE_ASN1_ITEM(P7_KARI_IMP)
// The record in its RecipientInfo choice: [1] EXPLICIT around the SEQUENCE
// (the library's key-agreement form, not RFC 5652's), or [1] IMPLICIT in
// place of the SEQUENCE tag (RFC 5652).
DECLARE_ASN1_ITEM(P7_KARI_TAGGED_EXP)
DECLARE_ASN1_ITEM(P7_KARI_TAGGED_IMP)
// The same two with the originatorKey tagged the other way ([1] IMPLICIT
// inside the explicit form, [1] EXPLICIT inside the implicit one), as
// other senders write them.
DECLARE_ASN1_ITEM(P7_KARI_TAGGED_EXP_OIMP)
DECLARE_ASN1_ITEM(P7_KARI_TAGGED_IMP_OEXP)

// The compact agreement record carried inside a key-transport encryptedKey:
// SEQUENCE { version, originator [0] EXPLICIT OPTIONAL, keyEncryptionAlgorithm,
// encryptedKey }.
struct P7_COMPACT {
    ASN1_INTEGER* version;
    PKCS7_ORIGINATOR_KEY* originator;
    ASN1_OCTET_STRING* ukm;
    X509_ALGOR* key_enc_algor;
    ASN1_OCTET_STRING* enc_key;
};
DECLARE_ASN1_ITEM(P7_COMPACT_IMP)
DECLARE_ASN1_ITEM(P7_COMPACT_EXP)
// The record without an originator, for writing: the two above cannot
// leave their tagged originator out (libcrypto refuses an absent value
// under the inner tag).
DECLARE_ASN1_ITEM(P7_COMPACT_NO_ORIGINATOR)

// Gost28147-89-EncryptedKey (RFC 4490) without the optional maskKey: a
// maskKey makes decoding fail.
struct GOST_ENCRYPTED_KEY {
    ASN1_OCTET_STRING* encrypted_key;
    ASN1_OCTET_STRING* mac;
};
DECLARE_ASN1_ITEM(GOST_ENCRYPTED_KEY)

// GostR3410-TransportParameters.
struct GOST_TRANSPORT_PARAMS {
    ASN1_OBJECT* cipher_params;
    X509_PUBKEY* ephemeral_key;
    ASN1_OCTET_STRING* ukm;
};
DECLARE_ASN1_ITEM(GOST_TRANSPORT_PARAMS)

// Gost28147-89-KeyWrapParameters (RFC 4357): the parameters of a key-wrap
// algorithm in a key-agreement recipient (RFC 4490).
struct GOST_KEY_WRAP_PARAMS {
    ASN1_OBJECT* cipher_params;
    ASN1_OCTET_STRING* ukm;  // optional
};
DECLARE_ASN1_ITEM(GOST_KEY_WRAP_PARAMS)

// GostR3410-KeyTransport.
struct GOST_KEY_TRANSPORT {
    GOST_ENCRYPTED_KEY* key;
    GOST_TRANSPORT_PARAMS* params;
};
DECLARE_ASN1_ITEM(GOST_KEY_TRANSPORT)

// X9.42 KeySpecificInfo and OtherInfo.
struct X942_KEY_INFO {
    ASN1_OBJECT* algorithm;
    ASN1_OCTET_STRING* counter;
};
DECLARE_ASN1_ITEM(X942_KEY_INFO)
struct X942_OTHER_INFO {
    X942_KEY_INFO* key_info;
    ASN1_OCTET_STRING* party_a;
    ASN1_OCTET_STRING* supp_pub;
};
DECLARE_ASN1_ITEM(X942_OTHER_INFO)

// The compressed content info: eContentType and eContent [0] IMPLICIT
// OCTET STRING (RFC 3274 has [0] EXPLICIT; the library writes and reads
// implicit tagging, which the authority's software expects).
struct PKCS7_COMPRESSED_CONTENT {
    ASN1_OBJECT* type;
    ASN1_OCTET_STRING* content;
};
DECLARE_ASN1_ITEM(PKCS7_COMPRESSED_CONTENT)
struct PKCS7_COMPRESSED {
    ASN1_INTEGER* version;
    X509_ALGOR* algorithm;
    PKCS7_COMPRESSED_CONTENT* content;
};
DECLARE_ASN1_ITEM(PKCS7_COMPRESSED)

// SignerInfo. Reading accepts IssuerAndSerialNumber or a [0] subject key
// identifier; writing always emits the issuer and serial.
struct PKCS7_SIGNER_INFO {
    ASN1_INTEGER* version;
    PKCS7_ISSUER_AND_SERIAL* issuer_and_serial;
    ASN1_OCTET_STRING* subject_key_id;
    X509_ALGOR* digest_alg;
    STACK_OF(X509_ATTRIBUTE) * auth_attr;
    X509_ALGOR* digest_enc_alg;
    ASN1_OCTET_STRING* enc_digest;
    STACK_OF(X509_ATTRIBUTE) * unauth_attr;
    EVP_PKEY* pkey;  // the signing key until the message is finished, not encoded
};
DECLARE_ASN1_ITEM(PKCS7_SIGNER_INFO)
// libcrypto defines the stack functions of its own signer record by macro.
using P7_SIGNER_INFO = PKCS7_SIGNER_INFO;
DEFINE_STACK_OF(P7_SIGNER_INFO)
// SET OF Attribute, the form signed attributes are digested in.
DECLARE_ASN1_ITEM(PKCS7_ATTR_SET)

// ESS (RFC 2634, 5035).
struct ESS_ISSUER_SERIAL {
    GENERAL_NAMES* issuer;
    ASN1_INTEGER* serial;
};
DECLARE_ASN1_ITEM(ESS_ISSUER_SERIAL)
struct ESS_CERT_ID {
    X509_ALGOR* hash_alg;  // the V2 form only
    ASN1_OCTET_STRING* hash;
    ESS_ISSUER_SERIAL* issuer_serial;
};
DECLARE_ASN1_ITEM(ESS_CERT_ID)
DEFINE_STACK_OF(ESS_CERT_ID)
struct ESS_SIGNING_CERT {
    STACK_OF(ESS_CERT_ID) * certs;
    STACK_OF(POLICYINFO) * policies;
};
DECLARE_ASN1_ITEM(ESS_SIGNING_CERT)

// Record functions in the library's conventions for one item.
#define P7_DECLARE_FUNCTIONS(T)                            \
    T* T##_new();                                          \
    void T##_free(T* v);                                   \
    T* d2i_##T(T** v, const unsigned char** in, long len); \
    int i2d_##T(const T* v, unsigned char** out);          \
    T* T##_dup(const T* v);

P7_DECLARE_FUNCTIONS(PKCS7_ISSUER_AND_SERIAL)
P7_DECLARE_FUNCTIONS(PKCS7_ORIGINATOR_KEY)
P7_DECLARE_FUNCTIONS(ASN1_PAIR)
P7_DECLARE_FUNCTIONS(GOST_ENCRYPTED_KEY)
P7_DECLARE_FUNCTIONS(GOST_TRANSPORT_PARAMS)
P7_DECLARE_FUNCTIONS(GOST_KEY_TRANSPORT)
P7_DECLARE_FUNCTIONS(GOST_KEY_WRAP_PARAMS)
P7_DECLARE_FUNCTIONS(PKCS7_COMPRESSED_CONTENT)
P7_DECLARE_FUNCTIONS(PKCS7_COMPRESSED)
P7_DECLARE_FUNCTIONS(PKCS7_SIGNER_INFO)
P7_DECLARE_FUNCTIONS(ESS_ISSUER_SERIAL)
P7_DECLARE_FUNCTIONS(ESS_CERT_ID)
P7_DECLARE_FUNCTIONS(ESS_SIGNING_CERT)

template <typename T>
using P7Ptr = AsnItemPtr<T>;

}  // namespace cadb
