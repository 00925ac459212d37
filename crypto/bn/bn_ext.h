// Big-number functions the elliptic-curve and GOST R 34.10-94 code needs
// beyond libcrypto's own.
#pragma once

#include <openssl/bn.h>

namespace cadb {

// Function codes of these functions in the BN library's error table.
enum BnFunc : int {
    BN_F_BN_SQRT = 119,
    BN_F_BN_MOD_BINARY_INVERSE = 120,
    BN_F_BN_RAND_BYTES = 121,
    BN_F_BN_RAND_BELOW = 122,
};

// r := a square root of a modulo the odd prime p whose lowest bit equals
// parity (the root 0 has only the even form). 1 on success; 0 when a is not
// a square modulo p, p is not an odd number above 2, or memory runs out. r is
// unchanged on failure.
int BN_sqrt(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, int parity);

// r := a^-1 mod m in [0, m), by the binary extended Euclidean algorithm. 1 on
// success; 0 when gcd(a, m) != 1 (a = 0 or a multiple of m included) or m < 2.
int BN_mod_binary_inverse(BIGNUM* r, const BIGNUM* a, const BIGNUM* m);

// r := n bytes of the library's random source read big-endian. 1 on success,
// 0 when the generator fails (r unchanged).
int BN_rand_bytes(BIGNUM* r, int n);

// r := a uniformly random number in [1, q) from the library's random
// source, for private keys and per-signature numbers. 64 bits more than q
// has are drawn and reduced, which leaves a bias below 2^-64 and takes the
// same time whatever the draw; r is marked for constant-time arithmetic. 1
// on success, 0 when the generator fails or q < 2.
int BN_rand_below(BIGNUM* r, const BIGNUM* q);

}  // namespace cadb
