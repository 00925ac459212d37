#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"

namespace cadb::ec {
namespace {

// Field operations of one curve through its method.
class Field {
  public:
    Field(const ECURVE* c, BN_CTX* ctx) : c_(c), m_(*c->meth), ctx_(ctx) {}
    bool mul(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) const {
        return m_.field_mul(r, a, b, c_, ctx_);
    }
    bool sqr(BIGNUM* r, const BIGNUM* a) const { return m_.field_sqr(r, a, c_, ctx_); }
    bool add(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) const {
        return m_.field_add(r, a, b, c_);
    }
    bool sub(BIGNUM* r, const BIGNUM* a, const BIGNUM* b) const {
        return m_.field_sub(r, a, b, c_);
    }
    bool inv(BIGNUM* r, const BIGNUM* a) const { return m_.field_inverse(r, a, c_, ctx_); }
    // r := a / 2: an odd residue gets p added first.
    bool half(BIGNUM* r, const BIGNUM* a) const {
        if (!BN_is_odd(a)) return BN_rshift1(r, a);
        return BN_add(r, a, c_->p.get()) && BN_rshift1(r, r);
    }
    const ECURVE* curve() const { return c_; }

  private:
    const ECURVE* c_;
    const ECURVE_METHOD& m_;
    BN_CTX* ctx_;
};

bool jacobian_double(const Field& f, FPoint& r, Work& w) {
    if (r.inf) return true;
    if (BN_is_zero(r.y.get()) || BN_is_zero(r.z.get())) {
        r.inf = true;
        return true;
    }
    const ECURVE* c = f.curve();
    BIGNUM* m = w.t(0);
    BIGNUM* t = w.t(1);
    BIGNUM* s = w.t(2);
    BIGNUM* y2 = w.t(3);
    if (c->flags & ECURVE_FLAG_A_IS_MINUS_3) {
        // M := 3·(X - Z^2)·(X + Z^2)
        if (!f.sqr(t, r.z.get()) || !f.sub(s, r.x.get(), t) || !f.add(t, r.x.get(), t) ||
            !f.mul(m, s, t) || !f.add(t, m, m) || !f.add(m, t, m))
            return false;
    } else {
        // M := 3·X^2 + a·Z^4
        if (!f.sqr(t, r.x.get()) || !f.add(m, t, t) || !f.add(m, m, t) || !f.sqr(t, r.z.get()) ||
            !f.sqr(t, t) || !f.mul(t, t, c->a_field.get()) || !f.add(m, m, t))
            return false;
    }
    // Z3 := 2·Y·Z; S := 4·X·Y^2; X3 := M^2 - 2·S; T := 8·Y^4; Y3 := M·(S - X3) - T.
    if (!f.mul(t, r.y.get(), r.z.get()) || !f.add(r.z.get(), t, t) || !f.sqr(y2, r.y.get()) ||
        !f.mul(s, r.x.get(), y2) || !f.add(s, s, s) || !f.add(s, s, s) || !f.sqr(t, m) ||
        !f.sub(t, t, s) || !f.sub(r.x.get(), t, s) || !f.sqr(y2, y2) || !f.add(y2, y2, y2) ||
        !f.add(y2, y2, y2) || !f.add(y2, y2, y2) || !f.sub(s, s, r.x.get()) || !f.mul(t, m, s) ||
        !f.sub(r.y.get(), t, y2))
        return false;
    return true;
}

bool jacobian_add(const Field& f, FPoint& r, const PointView& q, Work& wk) {
    if (q.inf) return true;
    const ECURVE* c = f.curve();
    if (r.inf) return fpoint_set(c, r, q);
    BIGNUM* u1 = wk.t(0);
    BIGNUM* s1 = wk.t(1);
    BIGNUM* u2 = wk.t(2);
    BIGNUM* s2 = wk.t(3);
    BIGNUM* t = wk.t(4);
    const bool q_affine = q.z == nullptr || BN_cmp(q.z, c->one_field.get()) == 0;
    if (q_affine) {
        if (!BN_copy(u1, r.x.get()) || !BN_copy(s1, r.y.get())) return false;
    } else {
        if (!f.sqr(t, q.z) || !f.mul(u1, r.x.get(), t) || !f.mul(t, t, q.z) ||
            !f.mul(s1, r.y.get(), t))
            return false;
    }
    // U2 := X2·Z1^2, S2 := Y2·Z1^3; W := U1 - U2 (into u2), R := S1 - S2 (into s2).
    if (!f.sqr(t, r.z.get()) || !f.mul(u2, q.x, t) || !f.mul(t, t, r.z.get()) ||
        !f.mul(s2, q.y, t) || !f.sub(u2, u1, u2) || !f.sub(s2, s1, s2))
        return false;
    BIGNUM* w = u2;
    BIGNUM* rr = s2;
    if (BN_is_zero(w)) {
        if (!BN_is_zero(rr)) {
            r.inf = true;
            return true;
        }
        return fpoint_set(c, r, q) && jacobian_double(f, r, wk);
    }
    // T := 2·U1 - W (into u1), M := 2·S1 - R (into s1).
    if (!f.add(u1, u1, u1) || !f.sub(u1, u1, w) || !f.add(s1, s1, s1) || !f.sub(s1, s1, rr))
        return false;
    // Z3 := Z1·Z2·W.
    if (!f.mul(r.z.get(), r.z.get(), w) || (!q_affine && !f.mul(r.z.get(), r.z.get(), q.z)))
        return false;
    // X3 := R^2 - T·W^2; V := T·W^2 - 2·X3; Y3 := (R·V - M·W^3) / 2.
    BIGNUM* w2 = r.y.get();  // Y1 is spent: reuse its number
    if (!f.sqr(w2, w) || !f.mul(u1, u1, w2) || !f.mul(w, w, w2) || !f.sqr(t, rr) ||
        !f.sub(r.x.get(), t, u1) || !f.sub(u1, u1, r.x.get()) || !f.sub(u1, u1, r.x.get()) ||
        !f.mul(u1, u1, rr) || !f.mul(s1, s1, w) || !f.sub(t, u1, s1) || !f.half(r.y.get(), t))
        return false;
    return true;
}

bool affine_double(const Field& f, FPoint& r, Work& w) {
    if (r.inf) return true;
    if (BN_is_zero(r.y.get())) {
        r.inf = true;
        return true;
    }
    BIGNUM* l = w.t(0);
    BIGNUM* t = w.t(1);
    // λ := (3x^2 + a)·(2y)^-1; x3 := λ^2 - 2x; y3 := λ·(x - x3) - y.
    if (!f.sqr(t, r.x.get()) || !f.add(l, t, t) || !f.add(l, l, t) ||
        !f.add(l, l, f.curve()->a_field.get()) || !f.add(t, r.y.get(), r.y.get()) || !f.inv(t, t) ||
        !f.mul(l, l, t) || !f.sqr(t, l) || !f.sub(t, t, r.x.get()) || !f.sub(t, t, r.x.get()) ||
        !f.sub(r.x.get(), r.x.get(), t) || !f.mul(r.x.get(), r.x.get(), l) ||
        !f.sub(r.y.get(), r.x.get(), r.y.get()) || !BN_copy(r.x.get(), t))
        return false;
    return true;
}

bool affine_add(const Field& f, FPoint& r, const PointView& q, Work& w) {
    if (q.inf) return true;
    const ECURVE* c = f.curve();
    if (r.inf) return fpoint_set(c, r, q);
    if (BN_cmp(r.x.get(), q.x) == 0) {
        if (BN_cmp(r.y.get(), q.y) == 0) return affine_double(f, r, w);
        r.inf = true;
        return true;
    }
    BIGNUM* l = w.t(0);
    BIGNUM* t = w.t(1);
    // λ := (yR - yQ)·(xR - xQ)^-1; x3 := λ^2 - xR - xQ; y3 := λ·(xR - x3) - yR.
    if (!f.sub(t, r.x.get(), q.x) || !f.inv(t, t) || !f.sub(l, r.y.get(), q.y) || !f.mul(l, l, t) ||
        !f.sqr(t, l) || !f.sub(t, t, r.x.get()) || !f.sub(t, t, q.x) ||
        !f.sub(r.x.get(), r.x.get(), t) || !f.mul(r.x.get(), r.x.get(), l) ||
        !f.sub(r.y.get(), r.x.get(), r.y.get()) || !BN_copy(r.x.get(), t))
        return false;
    return true;
}

}  // namespace

bool point_double(const ECURVE* c, FPoint& r, Work& w) {
    const Field f(c, w.ctx());
    if (c->form == EC_FORM_PROJECTIVE) {
        if (jacobian_double(f, r, w)) return true;
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_PROJECTIVE_DOUBLE, ERR_LIB_ECGOST);
    } else {
        if (affine_double(f, r, w)) return true;
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_AFFINE_DOUBLE, ERR_LIB_ECGOST);
    }
    return false;
}

bool point_add(const ECURVE* c, FPoint& r, const PointView& q, Work& w) {
    const Field f(c, w.ctx());
    if (c->form == EC_FORM_PROJECTIVE) {
        if (jacobian_add(f, r, q, w)) return true;
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_PROJECTIVE_ADD, ERR_LIB_ECGOST);
    } else {
        if (affine_add(f, r, q, w)) return true;
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_AFFINE_ADD, ERR_LIB_ECGOST);
    }
    return false;
}

bool make_affine(const ECURVE* c, FPoint& p, BN_CTX* ctx) {
    if (p.inf || c->form != EC_FORM_PROJECTIVE || BN_cmp(p.z.get(), c->one_field.get()) == 0)
        return true;
    const Field f(c, ctx);
    BnCtxFrame fr(ctx);
    BIGNUM* zi = fr.get();
    BIGNUM* zi2 = fr.get();
    if (!zi2) return false;
    return f.inv(zi, p.z.get()) && f.sqr(zi2, zi) && f.mul(p.x.get(), p.x.get(), zi2) &&
           f.mul(zi2, zi2, zi) && f.mul(p.y.get(), p.y.get(), zi2) &&
           BN_copy(p.z.get(), c->one_field.get());
}

}  // namespace cadb::ec
