// Signed-attribute helpers, the ESS signing-certificate attribute, counter
// signatures, signature value and comment, the certificate digest and the
// PBKDF2 helper of the password-encrypted messages.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "crypto/cadb/buffer.h"
#include "crypto/pkcs7/p7_records.h"

namespace cadb {

// The next attribute of the NID from *index on (index advanced past it):
// a copy of its value, or for a set of several values one SEQUENCE value
// holding their encodings in order. The attribute itself is never changed
// (a rewritten attribute would break the signature over it). Caller frees;
// null when there is none or its set is empty.
ASN1_TYPE* X509_ATTRIBUTES_find_from(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid, int* index);
// find_from from index 0.
ASN1_TYPE* X509_ATTRIBUTES_get_value(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid);
// Copies of every value of every attribute of the NID, in order.
STACK_OF(ASN1_TYPE) * X509_ATTRIBUTES_get_all(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid);
// Adds (type, value) under nid, taking value on success; the stack is made
// when *attrs is null. Without append an attribute of the NID is replaced
// in place; with append, or when none exists, a new one goes at the end.
int X509_ATTRIBUTES_add_value(STACK_OF(X509_ATTRIBUTE) * *attrs, int nid, int type, void* value,
                              int append);

int PKCS7_add_signed_attr(PKCS7_SIGNER_INFO* si, int nid, int type, void* value);
// The messageDigest (51) and contentType (50) values, borrowed; null when
// missing or of another type.
const ASN1_OCTET_STRING* PKCS7_get_message_digest(const STACK_OF(X509_ATTRIBUTE) * attrs);
const ASN1_OBJECT* PKCS7_get_content_type_attr(const STACK_OF(X509_ATTRIBUTE) * attrs);

// SHA-1 of the certificate's DER as the V1 signing-certificate attribute
// (310). 1/0.
int PKCS7_add_signing_cert(PKCS7_SIGNER_INFO* si, X509* cert);
// The signing-certificate value, V2 (332) first, then V1 (310); *is_v2
// tells which. Caller frees.
ESS_SIGNING_CERT* PKCS7_get_signing_cert(const PKCS7_SIGNER_INFO* si, int* is_v2 = nullptr);
// The digest of an identifier: its own algorithm, else SHA-256 for V2
// (RFC 5035) and SHA-1 for V1.
const EVP_MD* ESS_CERT_ID_md(const ESS_CERT_ID* id, int is_v2);
// 1 when the identifier's hash (and issuer-serial, when present) name the
// certificate.
int ESS_CERT_ID_matches(const ESS_CERT_ID* id, int is_v2, X509* cert);

STACK_OF(P7_SIGNER_INFO) * PKCS7_get_counter_signatures(const PKCS7_SIGNER_INFO* si);
BUFFER* PKCS7_get_signature_value(const PKCS7_SIGNER_INFO* si);
// Copy of the signatureComment (333) value; caller frees.
ASN1_TYPE* PKCS7_get_signature_comment(const PKCS7_SIGNER_INFO* si);

// The digest of the certificate's DER.
BUFFER* X509_get_digest(X509* cert, const EVP_MD* md);

// RFC 2898 PBKDF2 with HMAC over md; passwd_len -1: up to the terminator.
int PKCS5_PBKDF2_HMAC_md(const EVP_MD* md, const char* passwd, int passwd_len,
                         const unsigned char* salt, int salt_len, int iterations, int key_len,
                         unsigned char* out);

}  // namespace cadb
