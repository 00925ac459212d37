// The GOST R 34.10-94 key types inside libcrypto's key layer, their checks
// and text dumps.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <span>

#include "crypto/core/engine.h"

namespace cadb {

struct GOSTS;

// The key types R3410 (177) and R3410-CP (272), built on first use.
std::span<const EngineKeyType> R3410_key_types();
// The key method of one of the two types (signing, verification, key
// generation on the type's default or the requested parameter set).
EVP_PKEY_METHOD* R3410_pkey_method(int nid);

// y present, 0 < y < p, and with full set y^q mod p = 1. 1/0.
int R3410_check_pubkey(const GOSTS* key, int full);

// Text dumps: "pub: " y and the parameters, "R3410-Parameters: (%d bits)"
// with p, q, a and the generation values. 1/0.
int R3410_print(BIO* out, const GOSTS* key, int indent);
int R3410params_print(BIO* out, const GOSTS* key, int indent);

}  // namespace cadb
