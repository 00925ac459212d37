#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"

namespace cadb {

int ECPOINT_lies(const ECPOINT* pt) {
    if (!pt || !pt->curve || !pt->curve->p) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_LIES, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const ECURVE* c = pt->curve;
    const BIGNUM* p = c->p.get();
    EcPointPtr a(ECPOINT_dup(pt));
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr lhs = bn_new(), rhs = bn_new();
    if (!a || !ctx || !lhs || !rhs || !ECPOINT_to_affine(a.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_LIES, ERR_LIB_ECGOST);
        return 0;
    }
    // Infinity satisfies no affine equation.
    if (ECPOINT_is_infinity(a.get())) return 0;
    if (!BN_mod_sqr(lhs.get(), a->y.get(), p, ctx.get()) ||
        !BN_mod_sqr(rhs.get(), a->x.get(), p, ctx.get()) ||
        !BN_mod_add(rhs.get(), rhs.get(), c->a.get(), p, ctx.get()) ||
        !BN_mod_mul(rhs.get(), rhs.get(), a->x.get(), p, ctx.get()) ||
        !BN_mod_add(rhs.get(), rhs.get(), c->b.get(), p, ctx.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_LIES, ERR_LIB_ECGOST);
        return 0;
    }
    return BN_cmp(lhs.get(), rhs.get()) == 0;
}

int ECGOST_is_pubkey_valid(const ECPOINT* pt, int full) {
    auto refuse = [] {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECGOST_IS_PUBKEY_VALID, ERR_R_INTERNAL);
        return 0;
    };
    if (!pt || !pt->curve || !pt->curve->p) return refuse();
    const BIGNUM* p = pt->curve->p.get();
    EcPointPtr a(ECPOINT_dup(pt));
    if (!a || !ECPOINT_to_affine(a.get()) || ECPOINT_is_infinity(a.get())) return refuse();
    auto below_p = [p](const BIGNUM* v) { return !BN_is_negative(v) && BN_cmp(v, p) < 0; };
    // x = 0 names an ordinary point (the CryptoPro C set's base point has
    // it); infinity is refused above, and y = 0 would have order 2.
    if (!below_p(a->x.get()) || !below_p(a->y.get()) || BN_is_zero(a->y.get()) ||
        !ECPOINT_lies(a.get()))
        return refuse();
    // A group of q·1 points has no element of another order but infinity.
    const ECURVE* c = pt->curve;
    const bool prime_group =
        (c->flags & ECURVE_FLAG_KNOWN_GROUP_ORDER) && c->h && BN_is_one(c->h.get());
    if (full && !prime_group) {
        const BIGNUM* q = pt->curve->q.get();
        if (!q || BN_is_zero(q) || !ECPOINT_mul(a.get(), q) || !ECPOINT_is_infinity(a.get()))
            return refuse();
    }
    return 1;
}

}  // namespace cadb
