#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"

namespace cadb {
namespace {

int field_reduce(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx) {
    return BN_nnmod(r, a, c->p.get(), ctx);
}

// The binary inverse of a·R is a^-1·R^-1; a Montgomery product with R^3
// brings it back to a^-1·R.
int field_inverse(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx) {
    return BN_mod_binary_inverse(r, a, c->p.get()) &&
           BN_mod_mul_montgomery(r, r, c->r3.get(), c->mont.get(), ctx);
}

int field_sqr(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx) {
    return BN_mod_mul_montgomery(r, a, a, c->mont.get(), ctx);
}

int field_mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c, BN_CTX* ctx) {
    return BN_mod_mul_montgomery(r, a, b, c->mont.get(), ctx);
}

// Residues stay in [0, p), so one conditional correction suffices; this is
// a good third cheaper than libcrypto's general modular add and subtract,
// which matters because a point doubling makes a dozen of these calls.
int field_sub(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c) {
    if (BN_ucmp(a, b) >= 0) return BN_usub(r, a, b);
    return BN_usub(r, b, a) && BN_usub(r, c->p.get(), r);
}

int field_add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c) {
    if (!BN_uadd(r, a, b)) return 0;
    return BN_ucmp(r, c->p.get()) < 0 || BN_usub(r, r, c->p.get());
}

// Both methods do the same work: the base-point multiply looks for a window
// table on the point either way. The name tells which kind of set the curve
// came from.
const ECURVE_METHOD kDefaultMethod = {
    "default", field_reduce,   field_inverse,     field_sqr,      field_mul,           field_sub,
    field_add, ec::record_add, ec::record_double, ec::record_mul, ec::record_mul_base,
};
const ECURVE_METHOD kFixedBaseWindowMethod = {
    "fixed base window", field_reduce,   field_inverse,       field_sqr,
    field_mul,           field_sub,      field_add,           ec::record_add,
    ec::record_double,   ec::record_mul, ec::record_mul_base,
};

}  // namespace

const ECURVE_METHOD* ECURVE_default_method() { return &kDefaultMethod; }
const ECURVE_METHOD* ECURVE_fixed_base_window_method() { return &kFixedBaseWindowMethod; }

namespace ec {

bool to_field(const ECURVE* c, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
    if (BN_is_negative(a) || BN_cmp(a, c->p.get()) >= 0) {
        if (!BN_nnmod(r, a, c->p.get(), ctx)) return false;
        return BN_to_montgomery(r, r, c->mont.get(), ctx);
    }
    return BN_to_montgomery(r, a, c->mont.get(), ctx);
}

bool from_field(const ECURVE* c, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx) {
    return BN_from_montgomery(r, a, c->mont.get(), ctx);
}

bool fpoint_init(FPoint& p) {
    p.x.reset(BN_new());
    p.y.reset(BN_new());
    p.z.reset(BN_new());
    p.inf = true;
    return p.x && p.y && p.z;
}

bool fpoint_set(const ECURVE* c, FPoint& dst, const PointView& src) {
    dst.inf = src.inf;
    if (src.inf) return true;
    return BN_copy(dst.x.get(), src.x) && BN_copy(dst.y.get(), src.y) &&
           BN_copy(dst.z.get(), src.z ? src.z : c->one_field.get());
}

bool load(const ECURVE* c, FPoint& out, const ECPOINT* pt, BN_CTX* ctx) {
    if (ECPOINT_is_infinity(pt)) {
        out.inf = true;
        return true;
    }
    out.inf = false;
    if (!to_field(c, out.x.get(), pt->x.get(), ctx) || !to_field(c, out.y.get(), pt->y.get(), ctx))
        return false;
    if (pt->form == EC_FORM_PROJECTIVE && c->form == EC_FORM_PROJECTIVE)
        return to_field(c, out.z.get(), pt->z.get(), ctx);
    return BN_copy(out.z.get(), c->one_field.get()) != nullptr;
}

bool store(ECPOINT* pt, const ECURVE* c, const FPoint& in, BN_CTX* ctx) {
    // New coordinates make another point: a window table of the old one
    // would multiply the wrong point.
    pt->table.reset();
    pt->form = c->form;
    if (in.inf) return ECPOINT_set_infinity(pt) != 0;
    if (!from_field(c, pt->x.get(), in.x.get(), ctx) ||
        !from_field(c, pt->y.get(), in.y.get(), ctx))
        return false;
    if (c->form == EC_FORM_PROJECTIVE) return from_field(c, pt->z.get(), in.z.get(), ctx);
    BN_zero(pt->z.get());
    return true;
}

}  // namespace ec
}  // namespace cadb
