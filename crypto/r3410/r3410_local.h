// Helpers shared by the GOST R 34.10-94 sources.
#pragma once

#include <openssl/bn.h>

#include <span>

#include "crypto/bn/bn_ptr.h"
#include "crypto/r3410/r3410.h"

namespace cadb {

inline BnPtr bn_from_bytes(std::span<const unsigned char> b) {
    return BnPtr(BN_bin2bn(b.data(), static_cast<int>(b.size()), nullptr));
}

inline int bn_bytes_of_bits(int bits) { return (bits + 7) / 8; }

// The key has p, q and a.
inline bool gosts_has_params(const GOSTS* key) {
    return key != nullptr && key->p && key->q && key->a;
}

// Byte length of q: the length of each signature half.
int gosts_qlen(const GOSTS* key);

// A clear copy of the private number, or null. The copy is marked for
// constant-time arithmetic.
BnPtr gosts_private_copy(const GOSTS* key);
// Stores a clear private number into the key, which then holds it masked.
// The clear number is wiped when x is released.
int gosts_private_store(GOSTS* key, BnPtr x);
// The wrapped form: the wrapped key as a number and its check value.
BnPtr gosts_wrapped_copy(const GOSTS* key);
int gosts_wrapped_store(GOSTS* key, BnPtr wrapped, BnPtr check);

// h := the digest read big-endian, reduced mod q, 1 when that is 0.
int gosts_digest_number(BIGNUM* h, const unsigned char* dgst, int dlen, const BIGNUM* q,
                        BN_CTX* ctx);

// a^e mod p for a secret exponent e.
int gosts_exp_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* e, const BIGNUM* p, BN_CTX* ctx);

}  // namespace cadb
