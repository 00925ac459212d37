// The PKCS#7 message record and the streaming engine over it: a structure in
// memory becomes a chain of filters for writing (PKCS7_dataInit), is
// finished after the content has been written (PKCS7_DATASIGN), is opened
// for reading (PKCS7_dataDecode), and its signers are checked
// (PKCS7_signatureVerify). Outer types: signed (22), enveloped (23),
// signed-and-enveloped (24), digested (25), encrypted (26) and compressed
// (261) data; inner octet types: data (21), CMC PKIData (251) and
// ResponseBody (252), time-stamp info (309).
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <vector>

#include "crypto/pkcs7/p7_cek.h"
#include "crypto/pkcs7/p7_kept.h"
#include "crypto/pkcs7/p7_recip.h"
#include "crypto/pkcs7/p7_records.h"

// libcrypto's own PKCS#7 header (reached through x509.h) defines this name
// as a macro over its record.
#undef PKCS7_set_detached

namespace cadb {

// Bits of the message's flag word.
enum Pkcs7Flag : std::uint32_t {
    // Outer message: PKCS7_DATASIGN adds no contentType signed attribute.
    PKCS7_FLAG_NO_CONTENT_TYPE = 0x4000,
    // Inner content of signed data: carried as plain octets; the type is
    // kept in the second type slot.
    PKCS7_FLAG_OCTETS = 0x8000,
    // Detached signed message: written in definite-length DER.
    PKCS7_FLAG_DER_DETACHED = 0x10000,
};

// Decompression stops at this many bytes unless the message says otherwise.
constexpr long PKCS7_DEFAULT_MAX_UNCOMPRESSED = 64L << 20;

DEFINE_STACK_OF(EVP_PKEY)
using P7_RECIP_INFO = PKCS7_RECIP_INFO;
DEFINE_STACK_OF(P7_RECIP_INFO)

struct PKCS7;

struct PKCS7_SIGNED {
    ASN1_INTEGER* version;
    STACK_OF(X509_ALGOR) * md_algs;
    STACK_OF(X509) * cert;
    STACK_OF(X509_CRL) * crl;
    STACK_OF(P7_SIGNER_INFO) * signer_info;
    PKCS7* contents;
};

struct PKCS7_ENC_CONTENT {
    ASN1_OBJECT* content_type;
    X509_ALGOR* algorithm;
    ASN1_OCTET_STRING* enc_data;  // [0] IMPLICIT, may be null
    const EVP_CIPHER* cipher;     // set for writing
};

struct PKCS7_ENVELOPE {
    ASN1_INTEGER* version;
    STACK_OF(P7_RECIP_INFO) * recipientinfo;
    PKCS7_ENC_CONTENT* enc_data;
};

struct PKCS7_SIGN_ENVELOPE {
    ASN1_INTEGER* version;
    STACK_OF(P7_RECIP_INFO) * recipientinfo;
    STACK_OF(X509_ALGOR) * md_algs;
    PKCS7_ENC_CONTENT* enc_data;
    STACK_OF(X509) * cert;
    STACK_OF(X509_CRL) * crl;
    STACK_OF(P7_SIGNER_INFO) * signer_info;
};

struct PKCS7_DIGEST {
    ASN1_INTEGER* version;
    X509_ALGOR* md;
    PKCS7* contents;
    ASN1_OCTET_STRING* digest;
};

struct PKCS7_ENCRYPT {
    ASN1_INTEGER* version;
    PKCS7_ENC_CONTENT* enc_data;
    // The password-derived key, set by the message context; wiped on free.
    std::vector<unsigned char> key;
};

struct PKCS7 {
    // The encoding the message was read from; written back as it is until
    // the message is modified through the engine.
    P7KeptBytes asn1;
    int detached = 0;
    ASN1_OBJECT* type = nullptr;
    // Receives the type when PKCS7_FLAG_OCTETS is honoured (type is then
    // null); readers take the first slot, else this one.
    ASN1_OBJECT* type2 = nullptr;
    std::uint32_t flags = 0;
    // Cap of PKCS7_dataDecode's decompression (<= 0: the default).
    long max_uncompressed = 0;
    union {
        ASN1_OCTET_STRING* data;  // 21, 309; for 251/252 the content's DER
        PKCS7_SIGNED* sign;
        PKCS7_ENVELOPE* enveloped;
        PKCS7_SIGN_ENVELOPE* signed_and_enveloped;
        PKCS7_DIGEST* digest;
        PKCS7_ENCRYPT* encrypted;
        PKCS7_COMPRESSED* compressed;
    } d = {};
};

PKCS7* PKCS7_new();
void PKCS7_free(PKCS7* p7);
// The type NID (first slot, else the second), 0 when none.
int PKCS7_type_nid(const PKCS7* p7);
// Makes the content record of the type (21-26, 251, 252, 261, 309). 1/0.
int PKCS7_set_type(PKCS7* p7, int nid);
// Drops the kept encoding of the message (and of its inner content).
void PKCS7_modified(PKCS7* p7);

// Signed and digested data: the inner message, owned from then on.
int PKCS7_set_content(PKCS7* p7, PKCS7* inner);
// A new inner message of the type, set as the content.
int PKCS7_content_new(PKCS7* p7, int nid);
// The octets of a data-like message (21, 251, 252, 309). 1/0.
int PKCS7_set_octets(PKCS7* p7, const unsigned char* bytes, int len);
const ASN1_OCTET_STRING* PKCS7_get_octets(const PKCS7* p7);
void PKCS7_set_detached(PKCS7* p7, int detached);

// A signer of certificate and key with the digest; signed attributes are on
// (an empty stack) unless the caller frees them. Returns the signer record,
// owned by the message.
PKCS7_SIGNER_INFO* PKCS7_add_signature(PKCS7* p7, X509* cert, EVP_PKEY* key, const EVP_MD* md);
int PKCS7_add_certificate(PKCS7* p7, X509* cert);
int PKCS7_add_crl(PKCS7* p7, X509_CRL* crl);
STACK_OF(P7_SIGNER_INFO) * PKCS7_get_signer_info(const PKCS7* p7);
STACK_OF(X509) * PKCS7_get_certificates(const PKCS7* p7);
// A key-transport recipient of the certificate (form 0, version 0); the
// record is owned by the message.
PKCS7_RECIP_INFO* PKCS7_add_recipient(PKCS7* p7, X509* cert);
int PKCS7_add_recipient_info(PKCS7* p7, PKCS7_RECIP_INFO* ri);
STACK_OF(P7_RECIP_INFO) * PKCS7_get_recipient_info(const PKCS7* p7);
// The content cipher of enveloped, signed-and-enveloped and encrypted data.
int PKCS7_set_cipher(PKCS7* p7, const EVP_CIPHER* cipher);
// The digest of digested data.
int PKCS7_set_digest(PKCS7* p7, const EVP_MD* md);
// The password-derived key of encrypted data.
int PKCS7_encrypted_set_key(PKCS7* p7, const unsigned char* key, int len);

// Writes the message (see the engine's coder for the forms); the length, or
// -1.
int i2d_PKCS7(const PKCS7* p7, unsigned char** out);
// Reads a message in BER or DER, keeping its encoding.
PKCS7* d2i_PKCS7(PKCS7** p7, const unsigned char** in, long len);

// The streaming engine.
BIO* PKCS7_dataInit(PKCS7* p7, BIO* bio);
int PKCS7_DATASIGN(PKCS7* p7, BIO* bio);
BIO* PKCS7_dataDecode(PKCS7* p7, EVP_PKEY* pkey, X509* cert, STACK_OF(EVP_PKEY) * keys,
                      STACK_OF(X509) * certs, BIO* in);
int PKCS7_signatureVerify(BIO* bio, PKCS7* p7, PKCS7_SIGNER_INFO* si, X509* x509);
// 1 when the library can compute the signer's check with the certificate:
// it computes the signer's digest algorithm and verifies with the
// certificate's public key; 0 when it does not compute one of them (the
// digest, or a key type without a method or without verification); -1 when
// the check cannot even be set up (no signer or certificate, a key of a
// known type that does not decode, no memory). Leaves the error queues as
// they were.
int PKCS7_signer_computable(const PKCS7_SIGNER_INFO* si, X509* x509);

// The inner content type (see the engine), or null; a null message gives
// reason 12.
const ASN1_OBJECT* PKCS7_get_inner_type(const PKCS7* p7);
// The first key of the stack that pairs with the certificate, or null.
EVP_PKEY* PKCS7_find_key_for_cert(STACK_OF(EVP_PKEY) * keys, X509* cert);

}  // namespace cadb
