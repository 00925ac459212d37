// The GOST R 34.10-2001 key types inside libcrypto's key layer and their
// text dumps.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <cstddef>
#include <span>

#include "crypto/core/gost_pkey.h"

namespace cadb {

struct ECGOST;
struct PSE;
struct PKEY_TOKEN_METHOD;

// The key types ECR3410 (181) and ECR3410-CP (271), built on first use.
std::span<const EngineKeyType> ECGOST_key_types();
// The key method of one of the two types (signing, verification, key
// generation on the type's default or the requested curve).
EVP_PKEY_METHOD* ECGOST_pkey_method(int nid);

// The generic key layer's operations on keys of the two types: attach a key
// store, wrap (wrap = 1) or unwrap the private key under a key store (null:
// the key's own), compute a missing public key (unwrapping for the
// computation when the key is wrapped), check the public key, and read the
// bare private-key DER into a key of type 181.
int ECGOST_pkey_set_pse(EVP_PKEY* pkey, PSE* store);
int ECGOST_pkey_opaque(EVP_PKEY* pkey, PSE* store, int wrap);
int ECGOST_pkey_generate_pubkey(EVP_PKEY* pkey, PSE* store);
int ECGOST_pkey_check(const EVP_PKEY* pkey, int full);
EVP_PKEY* ECGOST_pkey_from_private_der(const unsigned char* der, long len);

// The token-side method of a GOST R 34.10-2001 key (null for any other key
// or a key held in memory), its data, and their attachment: the key takes
// over data, which the method's free_data releases with the key.
const PKEY_TOKEN_METHOD* EVP_PKEY_token_method(const EVP_PKEY* pkey);
void* EVP_PKEY_token_data(const EVP_PKEY* pkey);
int EVP_PKEY_token_flags(const EVP_PKEY* pkey);
int EVP_PKEY_set_token(EVP_PKEY* pkey, const PKEY_TOKEN_METHOD* method, void* data, int flags);
// The digest with md of a bounded piece of data that pkey is about to sign:
// computed on the key's token when the key lives on one that offers hashing and md
// is the hash the token computes (GOST R 34.11-94 with the CryptoPro
// parameters), else here (also for a null pkey); *out_len receives its
// length. 1 or 0.
int EVP_PKEY_digest_to_sign(EVP_PKEY* pkey, const EVP_MD* md, const unsigned char* data,
                            std::size_t len, unsigned char* out, unsigned int* out_len);

// Text dumps: "pub: " with the point's coordinates and "ECGOST-Parameters:
// (%d bits)" with prime, base, order and cofactor. 1/0.
int ECGOST_print(BIO* out, const ECGOST* key, int indent);
int ECGOSTparams_print(BIO* out, const ECGOST* key, int indent);

}  // namespace cadb
