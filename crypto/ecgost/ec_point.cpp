#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"

namespace cadb {

void EcPointDeleter::operator()(ECPOINT* pt) const { ECPOINT_free(pt); }

ECPOINT* ECPOINT_new(ECURVE* c) {
    auto pt = std::make_unique<ECPOINT>();
    pt->x.reset(BN_new());
    pt->y.reset(BN_new());
    pt->z.reset(BN_new());
    if (!pt->x || !pt->y || !pt->z) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    pt->curve = c;
    pt->form = c ? c->form : EC_FORM_AFFINE;
    return pt.release();
}

void ECPOINT_free(ECPOINT* pt) { delete pt; }

ECPOINT* ECPOINT_dup(const ECPOINT* pt) {
    if (!pt) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_DUP, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    EcPointPtr copy(ECPOINT_new(pt->curve));
    if (!copy || !ECPOINT_copy(copy.get(), pt)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_DUP, ERR_LIB_ECGOST);
        return nullptr;
    }
    return copy.release();
}

int ECPOINT_copy(ECPOINT* dst, const ECPOINT* src) {
    if (!dst || !src) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_COPY, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (dst == src) return 1;
    if (!BN_copy(dst->x.get(), src->x.get()) || !BN_copy(dst->y.get(), src->y.get()) ||
        !BN_copy(dst->z.get(), src->z.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_COPY, ERR_R_MALLOC);
        return 0;
    }
    dst->form = src->form;
    dst->curve = src->curve;
    dst->table = src->table;
    return 1;
}

int ECPOINT_set_infinity(ECPOINT* pt) {
    if (!pt || !pt->curve) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_SET_INFINITY, ERR_R_NULL_PARAMETER);
        return 0;
    }
    bool ok;
    if (pt->form == EC_FORM_PROJECTIVE) {
        ok = BN_one(pt->x.get()) && BN_one(pt->y.get());
        BN_zero(pt->z.get());
    } else {
        // (0, 0) lies on the curve only when b = 0; then (0, 1) is used.
        BN_zero(pt->x.get());
        BN_zero(pt->z.get());
        const BIGNUM* b = pt->curve->b.get();
        ok = BN_set_word(pt->y.get(), b && BN_is_zero(b) ? 1 : 0);
    }
    if (!ok) CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_SET_INFINITY, ERR_R_MALLOC);
    return ok;
}

int ECPOINT_is_infinity(const ECPOINT* pt) {
    if (!pt) return 0;
    if (pt->form == EC_FORM_PROJECTIVE) return BN_is_zero(pt->z.get());
    const BIGNUM* b = pt->curve ? pt->curve->b.get() : nullptr;
    const bool b_zero = b && BN_is_zero(b);
    return BN_is_zero(pt->x.get()) && (b_zero ? BN_is_one(pt->y.get()) : BN_is_zero(pt->y.get()));
}

int ECPOINT_to_affine(ECPOINT* pt) {
    if (!pt || !pt->curve) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_TO_AFFINE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (pt->form != EC_FORM_PROJECTIVE || BN_is_zero(pt->z.get())) return 1;
    // Products by secret scalars come back with Z = 1 already.
    if (BN_is_one(pt->z.get())) {
        BN_zero(pt->z.get());
        pt->form = EC_FORM_AFFINE;
        return 1;
    }
    ECURVE* c = pt->curve;
    const BIGNUM* p = c->p.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr zi = bn_new(), zi2 = bn_new(), e = bn_new();
    // Z may come of a secret multiple: z^(p-2) takes the same steps for
    // every z, where the binary inverse would branch on its bits.
    if (!ctx || !zi || !zi2 || !e || !BN_copy(e.get(), p) || !BN_sub_word(e.get(), 2) ||
        !BN_mod_exp_mont_consttime(zi.get(), pt->z.get(), e.get(), p, ctx.get(), c->mont.get()) ||
        !BN_mod_sqr(zi2.get(), zi.get(), p, ctx.get()) ||
        !BN_mod_mul(pt->x.get(), pt->x.get(), zi2.get(), p, ctx.get()) ||
        !BN_mod_mul(zi2.get(), zi2.get(), zi.get(), p, ctx.get()) ||
        !BN_mod_mul(pt->y.get(), pt->y.get(), zi2.get(), p, ctx.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_TO_AFFINE, ERR_LIB_ECGOST);
        return 0;
    }
    BN_zero(pt->z.get());
    pt->form = EC_FORM_AFFINE;
    return 1;
}

int ECPOINT_normalize(ECPOINT* pt) {
    if (!pt || !pt->curve) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_NORMALIZE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (pt->form != EC_FORM_PROJECTIVE || BN_is_one(pt->z.get()) || BN_is_zero(pt->z.get()))
        return 1;
    if (!ECPOINT_to_affine(pt) || !BN_one(pt->z.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_NORMALIZE, ERR_LIB_ECGOST);
        return 0;
    }
    pt->form = EC_FORM_PROJECTIVE;
    return 1;
}

int ECPOINT_cmp(const ECPOINT* a, const ECPOINT* b) {
    if (!a || !b) return -1;
    EcPointPtr ca(ECPOINT_dup(a)), cb(ECPOINT_dup(b));
    if (!ca || !cb || !ECPOINT_to_affine(ca.get()) || !ECPOINT_to_affine(cb.get())) return -1;
    const bool ia = ECPOINT_is_infinity(ca.get()), ib = ECPOINT_is_infinity(cb.get());
    if (ia || ib) return ia && ib ? 0 : -1;
    return BN_cmp(ca->x.get(), cb->x.get()) == 0 && BN_cmp(ca->y.get(), cb->y.get()) == 0 ? 0 : -1;
}

BIGNUM* ECPOINT_get_x(const ECPOINT* pt, BIGNUM* x) {
    EcPointPtr copy(ECPOINT_dup(pt));
    // The point at infinity has no x coordinate.
    if (!copy || !ECPOINT_to_affine(copy.get()) || ECPOINT_is_infinity(copy.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_GET_X, ERR_LIB_ECGOST);
        return nullptr;
    }
    if (!x) return copy->x.release();
    if (!BN_copy(x, copy->x.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_GET_X, ERR_R_MALLOC);
        return nullptr;
    }
    return x;
}

int ECPOINT_derive(ECPOINT* pt, ECURVE* c, int odd) {
    if (!pt || !c || !c->p) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_DERIVE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const BIGNUM* p = c->p.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr rhs = bn_new(), t = bn_new(), y = bn_new();
    // y^2 = x^3 + a·x + b.
    const bool ok = ctx && rhs && t && y && BN_cmp(pt->x.get(), p) < 0 &&
                    !BN_is_negative(pt->x.get()) &&
                    BN_mod_sqr(rhs.get(), pt->x.get(), p, ctx.get()) &&
                    BN_mod_add(rhs.get(), rhs.get(), c->a.get(), p, ctx.get()) &&
                    BN_mod_mul(rhs.get(), rhs.get(), pt->x.get(), p, ctx.get()) &&
                    BN_mod_add(rhs.get(), rhs.get(), c->b.get(), p, ctx.get()) &&
                    BN_sqrt(y.get(), rhs.get(), p, odd);
    // y = 0 has no odd form: such an encoding names no point.
    if (!ok || BN_is_odd(y.get()) != (odd != 0) || !BN_copy(pt->y.get(), y.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_DERIVE, ERR_LIB_ECGOST);
        return 0;
    }
    pt->curve = c;
    pt->form = c->form;
    if (c->form == EC_FORM_PROJECTIVE) return BN_one(pt->z.get());
    BN_zero(pt->z.get());
    return 1;
}

namespace ec {

namespace {
// r := r + q (q null: r := 2r) on r's curve, through field form.
int add_or_double(ECPOINT* r, const ECPOINT* q) {
    const ECURVE* c = r->curve;
    BnCtxPtr ctx(BN_CTX_new());
    FPoint fr, fq;
    if (!ctx || !fpoint_init(fr) || !fpoint_init(fq) || !load(c, fr, r, ctx.get())) return 0;
    Work w(ctx.get());
    if (!w.ok()) return 0;
    bool ok;
    if (q) {
        ok = load(c, fq, q, ctx.get()) && point_add(c, fr, view(fq), w);
    } else {
        ok = point_double(c, fr, w);
    }
    return ok && store(r, c, fr, ctx.get());
}
}  // namespace

int record_add(ECPOINT* r, const ECPOINT* q) {
    if (add_or_double(r, q)) return 1;
    CADB_ERR(ERR_LIB_ECGOST,
             r->curve->form == EC_FORM_PROJECTIVE ? ECGOST_F_ECPOINT_PROJECTIVE_ADD
                                                  : ECGOST_F_ECPOINT_AFFINE_ADD,
             ERR_LIB_ECGOST);
    return 0;
}

int record_double(ECPOINT* r) {
    if (add_or_double(r, nullptr)) return 1;
    CADB_ERR(ERR_LIB_ECGOST,
             r->curve->form == EC_FORM_PROJECTIVE ? ECGOST_F_ECPOINT_PROJECTIVE_DOUBLE
                                                  : ECGOST_F_ECPOINT_AFFINE_DOUBLE,
             ERR_LIB_ECGOST);
    return 0;
}

}  // namespace ec

int ECPOINT_add(ECPOINT* r, const ECPOINT* q) {
    if (!r || !q || !r->curve || !r->curve->meth) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_PROJECTIVE_ADD, ERR_R_NULL_PARAMETER);
        return 0;
    }
    return r->curve->meth->point_add(r, q);
}

int ECPOINT_double(ECPOINT* r) {
    if (!r || !r->curve || !r->curve->meth) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_PROJECTIVE_DOUBLE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    return r->curve->meth->point_double(r);
}

}  // namespace cadb
