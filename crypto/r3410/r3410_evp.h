// The GOST R 34.10-94 key types inside libcrypto's key layer, their checks
// and text dumps.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <span>

#include "crypto/core/gost_pkey.h"

namespace cadb {

struct GOSTS;
struct PSE;

// The key types R3410 (177) and R3410-CP (272), built on first use.
std::span<const EngineKeyType> R3410_key_types();
// The key method of one of the two types (signing, verification, key
// generation on the type's default or the requested parameter set).
EVP_PKEY_METHOD* R3410_pkey_method(int nid);

// The generic key layer's operations on keys of the two types: attach a key
// store, wrap (wrap = 1) or unwrap the private key under a key store (null:
// the key's own), compute a missing public key (unwrapping for the
// computation when the key is wrapped), check the public key, and read the
// bare private-key DER into a key of type 177.
int R3410_pkey_set_pse(EVP_PKEY* pkey, PSE* store);
int R3410_pkey_opaque(EVP_PKEY* pkey, PSE* store, int wrap);
int R3410_pkey_generate_pubkey(EVP_PKEY* pkey, PSE* store);
int R3410_pkey_check(const EVP_PKEY* pkey, int full);
EVP_PKEY* R3410_pkey_from_private_der(const unsigned char* der, long len);

// y present, 0 < y < p, and with full set y^q mod p = 1. 1/0.
int R3410_check_pubkey(const GOSTS* key, int full);

// Text dumps: "pub: " y and the parameters, "R3410-Parameters: (%d bits)"
// with p, q, a and the generation values. 1/0.
int R3410_print(BIO* out, const GOSTS* key, int indent);
int R3410params_print(BIO* out, const GOSTS* key, int indent);

}  // namespace cadb
