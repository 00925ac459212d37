// The token-side method of a key whose private half lives on a token: the
// record through which the rest of the library signs, agrees keys, unwraps
// keys and hashes with such a key. A key record carries a pointer to one of
// these and the method's own data (for PKCS#11 tokens the key's token
// context); the algorithms route their operations through it when present.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace cadb {

struct PKEY_TOKEN_METHOD {
    const char* name;
    // Signs a digest (given as the library's hash writes it) in the
    // signature form nid names; *sig_len in: room, out: length written.
    int (*sign)(int nid, const unsigned char* dgst, int dlen, unsigned char* sig,
                unsigned int* sig_len, EVP_PKEY* key);
    void* unused1;
    // Key agreement with the peer's public key and an 8-byte UKM: the
    // 32-byte key-encryption key. out null asks the size.
    int (*kek)(EVP_PKEY* key, EVP_PKEY* peer, const unsigned char* ukm, unsigned char* out,
               std::size_t* out_len);
    void* unused2;
    // Unwraps a transported content key (32 bytes out).
    int (*cek)(EVP_PKEY* key, EVP_PKEY* peer, const unsigned char* wrapped, std::size_t len,
               void* unused, unsigned char* out, std::size_t* out_len);
    // Hashes on the token; the result as the library's hash writes it.
    int (*digest)(EVP_PKEY* key, const unsigned char* data, std::size_t len, unsigned char* out,
                  std::size_t* out_len);
    // Frees the method's data of a key and detaches it.
    int (*release)(EVP_PKEY* key);
    // Frees method data when the key record itself goes.
    void (*free_data)(void* data);
};

// Bit 0 of a key's token flags: the token only signs.
inline constexpr int PKEY_TOKEN_SIGN_ONLY = 1;
// Bit 1: the token has no hash mechanism, so what the key signs is hashed
// in software.
inline constexpr int PKEY_TOKEN_NO_DIGEST = 2;

}  // namespace cadb
