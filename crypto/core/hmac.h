// One-shot HMAC over any digest record, the library's GOST digests included.
// libcrypto's own one-shot HMAC() fetches digests by name from providers,
// which never see the records this library publishes through its engine.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace cadb {

// Writes the MAC to out (room for EVP_MAX_MD_SIZE bytes) and its length to
// *out_len. 1/0.
int hmac_digest(const EVP_MD* md, const void* key, std::size_t key_len, const unsigned char* data,
                std::size_t len, unsigned char* out, unsigned int* out_len);

}  // namespace cadb
