#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

// A prime has a quadratic non-residue below 2^16 for every size this library
// meets; the bound only stops a composite "prime" from looping for ever.
constexpr BN_ULONG kNonResidueSearchLimit = 1u << 16;

// root := a^((p+1)/4).
bool sqrt_3_mod_4(BIGNUM* root, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
    BnCtxFrame f(ctx);
    BIGNUM* e = f.get();
    return e && BN_copy(e, p) && BN_add_word(e, 1) && BN_rshift(e, e, 2) &&
           BN_mod_exp(root, a, e, p, ctx);
}

// Atkin's formula: b := (2a)^((p-5)/8), i := 2a·b^2, root := a·b·(i - 1).
bool sqrt_5_mod_8(BIGNUM* root, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
    BnCtxFrame f(ctx);
    BIGNUM* two_a = f.get();
    BIGNUM* e = f.get();
    BIGNUM* b = f.get();
    BIGNUM* i = f.get();
    if (!i) return false;
    return BN_mod_lshift1_quick(two_a, a, p) && BN_copy(e, p) && BN_sub_word(e, 5) &&
           BN_rshift(e, e, 3) && BN_mod_exp(b, two_a, e, p, ctx) && BN_mod_sqr(i, b, p, ctx) &&
           BN_mod_mul(i, i, two_a, p, ctx) && BN_sub_word(i, 1) && BN_mod_mul(root, a, b, p, ctx) &&
           BN_mod_mul(root, root, i, p, ctx);
}

// Tonelli-Shanks with the smallest non-residue from 2 upward.
bool sqrt_tonelli_shanks(BIGNUM* root, const BIGNUM* a, const BIGNUM* p, BN_CTX* ctx) {
    BnCtxFrame f(ctx);
    BIGNUM* q = f.get();
    BIGNUM* z = f.get();
    BIGNUM* c = f.get();
    BIGNUM* t = f.get();
    BIGNUM* b = f.get();
    BIGNUM* t2 = f.get();
    if (!t2) return false;

    // p - 1 = q·2^s with q odd.
    if (!BN_sub(q, p, BN_value_one())) return false;
    int s = 0;
    while (!BN_is_bit_set(q, s)) ++s;
    if (!BN_rshift(q, q, s)) return false;

    BN_ULONG candidate = 2;
    for (;; ++candidate) {
        if (candidate == kNonResidueSearchLimit || !BN_set_word(z, candidate)) return false;
        const int symbol = BN_kronecker(z, p, ctx);
        if (symbol == -2) return false;
        if (symbol == -1) break;
    }

    // c := z^q, t := a^q, root := a^((q+1)/2).
    if (!BN_mod_exp(c, z, q, p, ctx) || !BN_mod_exp(t, a, q, p, ctx) || !BN_add_word(q, 1) ||
        !BN_rshift1(q, q) || !BN_mod_exp(root, a, q, p, ctx))
        return false;
    int m = s;
    while (!BN_is_one(t)) {
        // Least i with t^(2^i) = 1; none below m means a is not a square.
        int i = 0;
        if (!BN_copy(t2, t)) return false;
        while (!BN_is_one(t2)) {
            if (++i == m || !BN_mod_sqr(t2, t2, p, ctx)) return false;
        }
        // b := c^(2^(m-i-1)).
        if (!BN_copy(b, c)) return false;
        for (int j = 0; j < m - i - 1; ++j)
            if (!BN_mod_sqr(b, b, p, ctx)) return false;
        m = i;
        if (!BN_mod_sqr(c, b, p, ctx) || !BN_mod_mul(t, t, c, p, ctx) ||
            !BN_mod_mul(root, root, b, p, ctx))
            return false;
    }
    return true;
}

}  // namespace

int BN_sqrt(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, int parity) {
    if (!r || !a || !p || !BN_is_odd(p) || BN_cmp(p, BN_value_one()) <= 0 || BN_is_negative(p)) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, ERR_R_NULL_PARAMETER);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr x = bn_new();
    BnPtr root = bn_new();
    BnPtr check = bn_new();
    if (!ctx || !x || !root || !check) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, ERR_R_MALLOC);
        return 0;
    }
    if (!BN_nnmod(x.get(), a, p, ctx.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, ERR_R_MALLOC);
        return 0;
    }
    if (BN_is_zero(x.get())) {
        BN_zero(r);
        return 1;
    }

    bool done;
    if (BN_is_bit_set(p, 1))
        done = sqrt_3_mod_4(root.get(), x.get(), p, ctx.get());
    else if (BN_is_bit_set(p, 2))
        done = sqrt_5_mod_8(root.get(), x.get(), p, ctx.get());
    else
        done = sqrt_tonelli_shanks(root.get(), x.get(), p, ctx.get());

    // The closed formulas give a number for a non-residue too; squaring back is
    // what tells a root from a wrong answer.
    if (!done || !BN_mod_sqr(check.get(), root.get(), p, ctx.get()) ||
        BN_cmp(check.get(), x.get()) != 0) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, BN_R_NOT_A_SQUARE);
        return 0;
    }
    if (BN_is_odd(root.get()) != (parity != 0) && !BN_sub(root.get(), p, root.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, ERR_R_MALLOC);
        return 0;
    }
    if (!BN_copy(r, root.get())) {
        CADB_ERR(ERR_LIB_BN_, BN_F_BN_SQRT, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

}  // namespace cadb
