// RSA and DSA keys that stand for a key a CryptoAPI provider holds. Such a
// key object carries its own RSA_METHOD or DSA_METHOD, libcrypto's but for
// signing, and keeps the provider handle and key kind in its ex-data; when
// libcrypto signs with it (X509_REQ_sign, EVP_PKEY_sign, the message
// engine), the digest goes to the provider. The key may be public only.
// GOST keys carry the same two fields in their own records.
#pragma once

#include <openssl/evp.h>

#include <cstdint>

#include "crypto/core/capi_sign.h"

namespace cadb {

// Makes an RSA or DSA key stand for the provider's key of the given kind;
// provider 0 gives the key back its own signing. A key held by a provider
// (not as a libcrypto object of its own) is first copied into one. 1, or 0
// for a null key or another key type.
int CAPI_KEY_set(EVP_PKEY* key, std::uintptr_t provider, std::uint32_t key_spec);

// The provider a key stands for; provider 0 when none.
CAPI_KEY_REF CAPI_KEY_get(const EVP_PKEY* key);

}  // namespace cadb
