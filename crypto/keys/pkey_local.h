// What the key files of the certificate-database layer share.
#pragma once

#include <openssl/evp.h>

#include "crypto/keys/pkey.h"

namespace cadb {

bool pkey_is_gost(int type);
bool pkey_is_ecgost(int type);
bool pkey_is_r3410(int type);
// RSA (6 or 19), DSA and the four GOST types.
bool pkey_type_known(int type);

// A key pair of a GOST type made inside the key store (its private key
// wrapped under the store's key-encryption key and attached to the store),
// or null.
EVP_PKEY* pkey_generate_in_store(int type, int n, PSE* store);

// The PKEY of a freshly made key object (which it takes over): fingerprint,
// size and type (as asked) set; null, the object freed, when the key does
// not encode.
PKEY* pkey_adopt(EVP_PKEY* pkey, int type, int func);

}  // namespace cadb
