// Arithmetic modulo the group order q on secrets (the private key, the
// signing number, a freshly drawn number), in fixed-width words: the secret
// steers no branch and no memory index, and takes no division.
#pragma once

#include <openssl/bn.h>

namespace cadb::ecgost {

// s := (r·d + k·e) mod q in Montgomery arithmetic over q's words. The public
// r and e must lie in [0, q); d and k may be any non-negative numbers that
// fit q's width (an unreduced key signs as its residue). 1 when done; -1
// when q (even, or wider than the widths built) or an operand (negative, r
// or e not below q, d or k wider than q's width) falls outside what the
// fixed code takes; 0 on failure.
int signature_s_fixed(BIGNUM* s, const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
                      const BIGNUM* q, BN_CTX* ctx);

// The same s for any q and d: the fixed code where it applies, big-number
// arithmetic where it does not.
bool signature_s(BIGNUM* s, const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
                 const BIGNUM* q, BN_CTX* ctx);

// out := a mod q for a non-negative a that fits q's width (a signing number
// given as bytes): 1 when done, -1 when q or a falls outside what the fixed
// code takes, 0 on failure. out may be a.
int reduce_fixed(BIGNUM* out, const BIGNUM* a, const BIGNUM* q, BN_CTX* ctx);

// The same for any a: the fixed code where it applies, big-number division
// where it does not.
bool reduce_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* q, BN_CTX* ctx);

// out := a mod q for a non-negative a of at most len bytes, where len is
// not secret (the length of a random draw wider than q): 1 when done, -1
// when q, a or len falls outside what the fixed code takes, 0 on failure.
// out may be a.
int reduce_wide_fixed(BIGNUM* out, const BIGNUM* a, int len, const BIGNUM* q, BN_CTX* ctx);

// The same for any a: the fixed code where it applies, big-number division
// where it does not.
bool reduce_wide_secret(BIGNUM* out, const BIGNUM* a, int len, const BIGNUM* q, BN_CTX* ctx);

// out := a·b mod q for a public a in [0, q) and a non-negative secret b that
// fits q's width: 1 when done, -1 when q or an operand falls outside what
// the fixed code takes, 0 on failure. out may be a or b.
int product_fixed(BIGNUM* out, const BIGNUM* a, const BIGNUM* b, const BIGNUM* q, BN_CTX* ctx);

// The same for any a and b: a public a outside [0, q) is reduced first (it
// is no secret), and the fixed code is used where it applies, big-number
// arithmetic where it does not.
bool product_secret(BIGNUM* out, const BIGNUM* a, const BIGNUM* b, const BIGNUM* q, BN_CTX* ctx);

}  // namespace cadb::ecgost
