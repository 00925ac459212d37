// PBKDF2 (RFC 2898, section 5.2) with HMAC over any digest record, the
// library's GOST digests included: libcrypto's PKCS5_PBKDF2_HMAC fetches
// digests by name from providers, which never see the engine's records.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace cadb {

// Writes out_len derived bytes to out. 1/0; on failure out is wiped.
int pbkdf2_hmac(const EVP_MD* md, const void* passwd, std::size_t passwd_len,
                const unsigned char* salt, std::size_t salt_len, unsigned long iterations,
                unsigned char* out, std::size_t out_len);

}  // namespace cadb
