// What the message engine's files share inside the library.
#pragma once

#include <openssl/evp.h>

#include "crypto/pkcs7/p7_ber.h"
#include "crypto/pkcs7/pkcs7.h"

namespace cadb {

void p7_enc_content_free(PKCS7_ENC_CONTENT* e);
void p7_free_content(PKCS7* p7);
PKCS7_ENC_CONTENT* p7_enc_content(PKCS7* p7);
// Data (21), CMC PKIData (251) and ResponseBody (252), time-stamp info (309).
bool p7_is_octets(int nid);
// Whether a message's content is a structure (signed, enveloped, digested,
// encrypted, compressed data ...) rather than octets: a signature or digest
// over it covers the DER of that structure.
bool p7_is_structured(const PKCS7* p7);
// The DER of the element a message carries inside its [0]: for a
// structured inner content, what a signature or digest covers. Kept
// encodings are not reused (they may be BER).
bool p7_content_der(const PKCS7* p7, ByteVec& out);

// The library's number of the hash a digest record computes (the GOST
// signing records name their hash), 0 when unknown.
int p7_digest_nid_of(const EVP_MD* md);
// The digest record of a hash number, or null.
const EVP_MD* p7_md_by_nid(int nid);
const EVP_CIPHER* p7_cipher_by_nid(int nid);
// The signer's signature algorithm for a key and hash: the key's own object
// for the GOST key types, rsaEncryption, or DSA with the hash; 0 when none.
int p7_signature_alg_nid(EVP_PKEY* key, int md_nid);
// The digest record that selects the signature form for the key type: the
// GOST signing records for 271, 272, 181 and 177, else md itself.
const EVP_MD* p7_sign_md(int key_type, const EVP_MD* md);
// Whether a key type writes its messageDigest attribute in GOST byte order.
bool p7_reversed_digest(int key_type);

// The chain's digest context for the hash number, or null with reason 108
// or 102 under func.
EVP_MD_CTX* p7_find_digest(BIO* bio, int md_nid, int func);
// Whether the chain already has a digest filter for md's hash, the one
// p7_find_digest would take: a message that names a hash many times gets
// one filter for it.
bool p7_has_digest_filter(BIO* bio, const EVP_MD* md);

// A memory stream for the collected content that grows by doubling; read it
// as a memory stream (BIO_get_mem_data).
BIO* p7_new_sink();
// Digest of the DER of a signed-attribute SET; given the signer's key, on
// the key's token when it has one that hashes.
bool p7_digest_attributes(const STACK_OF(X509_ATTRIBUTE) * attrs, const EVP_MD* md,
                          unsigned char* out, unsigned int* out_len, EVP_PKEY* signer = nullptr);

// The library number of an algorithm identifier's object, 0 when none.
int p7_algor_nid(const X509_ALGOR* alg);

}  // namespace cadb
