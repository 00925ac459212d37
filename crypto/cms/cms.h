// CMS: the message context through which the system writes and reads
// PKCS#7 / CMS messages (signed, enveloped, digested, password-encrypted and
// compressed data). Writing: choose the type and options, add signers,
// recipients, certificates or a key, feed the content, finish, encode.
// Reading: feed the encoded message, let the context determine its type and
// collect certificates, CRLs, signers and recipients into library records,
// then decrypt, uncompress, check the digest or verify the signers, and take
// the content out. The message engine beneath does the cryptography.
//
// libcrypto exports functions of these names with C linkage; the context's
// live in namespace cadb and never become global symbols. Do not include
// <openssl/cms.h> beside this header.
#pragma once

#include <openssl/bio.h>
#include <openssl/safestack.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <ctime>
#include <memory>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/buffer.h"
#include "crypto/keys/pkey.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/crl.h"
#include "crypto/x509/verify_error.h"

namespace cadb {

struct PKCS7;

// Option bits of CMS_set_type (also kept in the message's flag word).
enum CmsOption : int {
    CMS_OPT_DETACHED = 0x1,        // signed: the content travels outside
    CMS_OPT_SIGNING_TIME = 0x2,    // signingTime attribute on every signer
    CMS_OPT_NO_CONTENT = 0x4,      // signed without content; feeding is refused
    CMS_OPT_IGNORE_CERTS = 0x8,    // verification ignores the message's certificates
    CMS_OPT_IGNORE_CRLS = 0x10,    // verification ignores the message's CRLs
    CMS_OPT_ENVELOPED_FLAG = 0x100,
    CMS_OPT_NO_PEM = 0x200,        // reading: DER only
    CMS_OPT_PEM_ONE_LINE = 0x800,  // CMS_get PEM: "CERTIFICATE", CR and LF removed
    CMS_OPT_SIGNING_CERT = 0x1000,  // ESS signing-certificate attribute on every signer
};

// Codes of the errors a signer record collects.
enum CmsVerifyError : int {
    CMS_VERIFY_OK = 0,
    CMS_VERIFY_SIGNATURE_FAILURE = 1,
    CMS_VERIFY_OUT_OF_MEMORY = 2,
    CMS_VERIFY_INTERNAL_ERROR = 3,
    CMS_VERIFY_MISSING_SIGNING_CERT = 4,
    CMS_VERIFY_INVALID_SIGNING_CERT = 5,
    CMS_VERIFY_CERT_SIGNATURE_FAILURE = 6,
};

struct CMS_SIGNATURE;
DEFINE_STACK_OF(CMS_SIGNATURE)

// One signer of a read message.
struct CMS_SIGNATURE {
    // Issuer and serial number, when the signer is named so.
    X509_NAME* issuer_name;
    ATTRIBUTE* issuer;
    ASN1_INTEGER* serial;
    BUFFER* serial_bytes;
    // Subject key identifier, when the signer is named so.
    ASN1_OCTET_STRING* key_id;
    BUFFER* key_id_bytes;
    struct tm* signing_time;  // signingTime attribute, null when absent
    BUFFER* text;             // signature-comment attribute, null when absent
    CERT* cert;               // the signer's certificate with its chain results
    int chain_result;         // -1 not checked, 1 passed, other values failed
    int signature_result;     // -1 not checked, 1 verified, 0 failed
    STACK_OF(X509_VERIFY_ERROR) * errors;
    STACK_OF(CMS_SIGNATURE) * countersignatures;
};

// One recipient of a read enveloped message.
struct CMS_RECIPIENT {
    ATTRIBUTE* issuer;
    BUFFER* serial_bytes;
    X509_NAME* issuer_name;
    ASN1_INTEGER* serial;
    // 2 for a GOST R 34.10-94 key-transport recipient; for agreement
    // recipients the form the engine read (1 explicit, 0 RFC 5652); else 0.
    int kind;
};
DEFINE_STACK_OF(CMS_RECIPIENT)

struct CMS {
    int type;        // outer content type, 0 until set or determined
    int detached;    // the signed content travels outside
    int inner_type;  // encapsulated content type
    int cipher;      // content-encryption algorithm
    int writing;     // 1 after CMS_set_type
    BIO* data;       // the engine's chain: encoding while writing, decoding while reading
    BIO* content;    // the decoded content
    BIO* detached_content;
    int detached_fed;  // detached content was given
    int content_saved;
    PKCS7* message;
    X509_STORE* store;  // one reference
    STACK_OF(CMS_SIGNATURE) * signatures;
    STACK_OF(CMS_RECIPIENT) * recipients;
    STACK_OF(CERT) * certificates;
    STACK_OF(CRL) * crls;
    int certs_only;
    int flags;
    BUFFER* read_buffer;  // the collected encoded message
    // The recipient's own key and certificate for opening enveloped data.
    EVP_PKEY* recipient_key;
    X509* recipient_cert;
};

CMS_SIGNATURE* CMS_signature_new();
void CMS_signature_free(CMS_SIGNATURE* s);
CMS_RECIPIENT* CMS_recipient_new();
void CMS_recipient_free(CMS_RECIPIENT* r);

// A zeroed reading context with an empty message.
CMS* CMS_new();
// Releases the context and everything it holds. Null accepted.
void CMS_free(CMS* cms);

// Makes the context a writing one of the type (22, 23, 25, 26, 261) with
// the option bits. 1/0.
int CMS_set_type(CMS* cms, int type, int flags);
int CMS_set_content_type(CMS* cms, int nid);
int CMS_set_cipher(CMS* cms, int cipher_nid);
int CMS_digested_set_md(CMS* cms, int md_nid);

// The key of a password-encrypted message: PBKDF2 with HMAC over GOST R
// 34.11-94 for RUS-GAMMAR (174) or SHA-1 for DES-EDE3-CBC (44), eight zero
// bytes of salt, iterations <= 0 taken as 2048. key receives the cipher's
// key length (at most 32 bytes) and *key_len that length. 1/0.
int CMS_passwd2key(int cipher_nid, const char* passwd, int passwd_len, unsigned char* key,
                   int* key_len, int iterations);
// Puts the key into an encrypted-data context (type 26), writing or read.
int CMS_encrypted_set_password(CMS* cms, const unsigned char* key, int len);

// A signer whose certificate and key must be a pair; the digest is the one
// the key signs with for the NID.
int CMS_add_signature(CMS* cms, const CERT* cert, const PKEY* key, int md_nid);
// A signer of certificate and key with the digest of the NID; its
// certificate joins the message. Refused with CMS_OPT_NO_CONTENT.
int CMS_add_signer(CMS* cms, X509* cert, EVP_PKEY* key, int md_nid);
// A certificate or CRL carried by a signed message.
int CMS_add_cert(CMS* cms, const CERT* cert);
int CMS_add_crl(CMS* cms, const CRL* crl);
// A recipient of an enveloped message. form -1 chooses by the key type: key
// transport (0) for RSA and the CryptoPro GOST types, the explicit agreement
// form (1) for the others; 1 and 2 choose an agreement form.
int CMS_add_recipient(CMS* cms, const CERT* cert, int form);
// The own key (and, when given, certificate) that opens a read enveloped
// message.
int CMS_set_recipient_key(CMS* cms, const PKEY* key, const CERT* cert);

int CMS_update_data(CMS* cms, const void* bytes, int len);
int CMS_update_detached(CMS* cms, const void* bytes, int len);
// Writing: the content through the engine's chain. Reading: the encoded
// message, or with detached set the detached content of a detached message.
int CMS_update(CMS* cms, const void* bytes, int len, int detached);
// Writing: signs, encrypts or compresses and finishes the message.
// Reading: nothing.
int CMS_final(CMS* cms);

// Decodes the collected message and collects its records; the type, or 0.
int CMS_get_type(CMS* cms);
// Reads the whole decoding chain into the content stream. 1/0.
int CMS_save_content(CMS* cms);
// Opening a read message: encrypted (26), or enveloped (23, 24) with the
// key set by CMS_set_recipient_key; digested (25), whose digest must match;
// compressed (261).
int CMS_decrypt(CMS* cms);
int CMS_digested_verify(CMS* cms);
int CMS_uncompress(CMS* cms);

// Verifies every signer of a read signed message against the store, at time
// (null: now), with the ignorable chain errors of mask. 1 when the signers
// could be processed; the outcome is in the signer records.
int CMS_verify(CMS* cms, X509_STORE* store, const struct tm* time, VERIFY_IGNORE_MASK mask);
const char* CMS_verify_error_string(long code);

// The encoded message: form 2 PEM, any other DER.
BUFFER* CMS_get(CMS* cms, int form);
// The content of a read message (an empty buffer for empty content); null
// for a writing context.
BUFFER* CMS_get_content(CMS* cms);
int CMS_get_flags(const CMS* cms);

struct CmsDeleter {
    void operator()(CMS* c) const { CMS_free(c); }
};
using CmsPtr = std::unique_ptr<CMS, CmsDeleter>;

}  // namespace cadb
