// Multiplication of points by secret scalars (signing numbers, private keys)
// in time and memory access that do not depend on the scalar: fixed windows
// over a fixed number of digits, table entries chosen by reading the whole
// table under masks, and complete addition formulas in homogeneous
// coordinates (Renes, Costello and Batina, 2016), which add, double and meet
// the point at infinity with the same instructions. Any point goes by signed
// 5-bit windows; the base point through a table of j·64^i·P (signed 6-bit
// digits) built once per curve and shared by every curve with the same
// parameters.
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_ct_field.h"
#include "crypto/ecgost/ec_ct_pm_field.h"
#include "crypto/ecgost/ec_local.h"

namespace cadb {
namespace {

using ec::ct::Fe;
using ec::ct::u64;
namespace ct = ec::ct;

// Any point: signed 5-bit digits in [-16, 16], multiples 1..16 of the point
// (0 is infinity), the sign applied to the entry's y.
constexpr int kWindow = 5;
constexpr int kEntries = 1 << (kWindow - 1);
// The base-point table: signed 6-bit digits in [-32, 32], multiples 1..32
// of 64^i·P per digit i, the sign applied to the entry's y.
constexpr int kCombWindow = 6;
constexpr int kCombEntries = 1 << (kCombWindow - 1);

// Outcome of a multiplication.
enum class Mul { kDone, kFailed, kExceptional };

class SecretMul {
  public:
    virtual ~SecretMul() = default;
    virtual Mul mul(ECPOINT* pt, const BIGNUM* k, BN_CTX* ctx) const = 0;
    // out := z1·P + z2·Q for public scalars, in variable time.
    virtual Mul mul2(ECPOINT* out, const BIGNUM* z1, const ECPOINT* Q, const BIGNUM* z2,
                     BN_CTX* ctx) const = 0;
};

// Fld: the field of the curve's prime (Montgomery form for any odd prime,
// or the faster reduction of a prime just below 2^256).
template <class Fld>
class SecretMulN final : public SecretMul {
    static constexpr int N = Fld::kLimbs;
    using F = Fe<N>;
    struct Pt {
        F X, Y, Z;
    };
    static constexpr bool kWordMul = requires(const Fld& f, F& r, const F& a) {
        f.mul_word(r, a, u64{});
    };

  public:
    bool init(const ECURVE* c, BN_CTX* ctx) {
        F a, b;
        if (!f_.init(c->p.get(), ctx) || !ct::fe_from_bn(a, c->a.get()) ||
            !ct::fe_from_bn(b, c->b.get()))
            return false;
        f_.to_field(a_, a);
        // A coefficient b of one small word multiplies as a word where the
        // field can.
        if constexpr (kWordMul) {
            if (BN_num_bits(c->b.get()) <= 32) b_word_ = BN_get_word(c->b.get());
        }
        f_.to_field(b_, b);
        f_.add(b3_, b_, b_);
        f_.add(b3_, b3_, b_);
        a_minus_3_ = (c->flags & ECURVE_FLAG_A_IS_MINUS_3) != 0;
        order_bits_ = c->q ? BN_num_bits(c->q.get()) : 0;
        if (c->h && !BN_is_zero(c->h.get()) && !BN_is_one(c->h.get()))
            order_bits_ += BN_num_bits(c->h.get());
        // Without a base point and its order there is no table; a table
        // that cannot be built (a base of small order) leaves the base
        // point to the general multiply.
        if (c->P && c->q && !BN_is_zero(c->q.get()) && !ECPOINT_is_infinity(c->P.get())) {
            base_x_ = bn_new();
            base_y_ = bn_new();
            EcPointPtr base(ECPOINT_dup(c->P.get()));
            if (!base_x_ || !base_y_ || !base || !ECPOINT_to_affine(base.get()) ||
                !BN_copy(base_x_.get(), base->x.get()) || !BN_copy(base_y_.get(), base->y.get()))
                return false;
            Pt P;
            if (load(P, c->P.get(), ctx)) build_comb(P, BN_num_bits(c->q.get()));
        }
        return true;
    }

    Mul mul(ECPOINT* pt, const BIGNUM* k, BN_CTX* ctx) const override {
        Pt r, P;
        const int kbits = BN_num_bits(k);
        const bool base = comb_windows_ > 0 && kbits <= comb_bits() && is_base(pt);
        // The base point's multiples are in its table: only another point is
        // read in.
        if (!base && !load(P, pt, ctx)) return Mul::kFailed;
        // A fixed number of digits, from public sizes only: a scalar longer
        // than the curve's order (or order times cofactor) is not secret in
        // its length.
        const int bits = base ? comb_bits() : std::max(order_bits_, kbits);
        // Signed digits need one bit more than the scalar, for the last
        // carry.
        const int width = base ? kCombWindow : kWindow;
        const int windows = (bits + width) / width;
        // Little-endian bytes, one spare for reading a digit across a byte
        // boundary.
        std::vector<unsigned char> digits(static_cast<std::size_t>(width * windows + 7) / 8 + 1);
        if (BN_bn2lebinpad(k, digits.data(), static_cast<int>(digits.size())) < 0)
            return Mul::kFailed;
        if (base)
            mul_comb(r, digits.data());
        else
            mul_window(r, P, digits.data(), windows);
        OPENSSL_cleanse(digits.data(), digits.size());
        // Complete formulas fail only where the difference of two points
        // has order 2, which no point of odd order meets: the point had a
        // component of even order, and the general method takes over.
        if (ct::is_zero_mask(r.X) & ct::is_zero_mask(r.Y) & ct::is_zero_mask(r.Z))
            return Mul::kExceptional;
        if (BN_is_negative(k)) f_.sub(r.Y, F{}, r.Y);
        const bool stored = store(pt, r, ctx);
        // An agreement's product is its shared secret.
        OPENSSL_cleanse(&r, sizeof r);
        return stored ? Mul::kDone : Mul::kFailed;
    }

    Mul mul2(ECPOINT* out, const BIGNUM* z1, const ECPOINT* Q, const BIGNUM* z2,
             BN_CTX* ctx) const override {
        if (comb_windows_ == 0 || BN_is_negative(z1) || BN_is_negative(z2) ||
            BN_num_bits(z1) > comb_bits())
            return Mul::kFailed;
        Jp q;
        if (!load_jacobian(q, Q, ctx)) return Mul::kFailed;
        // z2·Q by width-5 NAF over the odd multiples Q, 3Q, ..., 15Q.
        Jp odd[8];
        odd[0] = q;
        Jp q2 = q;
        jdbl(q2);
        for (int j = 1; j < 8; ++j) {
            odd[j] = odd[j - 1];
            jadd(odd[j], q2);
        }
        const std::vector<int> naf = wnaf(z2);
        Jp acc;
        for (std::size_t i = naf.size(); i-- > 0;) {
            jdbl(acc);
            const int d = naf[i];
            if (d == 0) continue;
            Jp t = odd[(d > 0 ? d : -d) / 2];
            if (d < 0 && !t.inf) f_.sub(t.Y, F{}, t.Y);
            jadd(acc, t);
        }
        // z1·P from the table: one mixed addition per nonzero digit.
        std::vector<unsigned char> digits(static_cast<std::size_t>(comb_bits() + 7) / 8 + 1);
        if (BN_bn2lebinpad(z1, digits.data(), static_cast<int>(digits.size())) < 0)
            return Mul::kFailed;
        u64 carry = 0;
        for (int i = 0; i < comb_windows_; ++i) {
            const std::int64_t d = signed_digit<kCombWindow>(digits.data(), i, carry);
            if (d == 0) continue;
            const std::size_t at = static_cast<std::size_t>(i) * kCombEntries +
                                   static_cast<std::size_t>((d < 0 ? -d : d) - 1);
            F y = comb_y_[at];
            if (d < 0) f_.sub(y, F{}, y);
            jadd_affine(acc, comb_x_[at], y);
        }
        return store_jacobian(out, acc) ? Mul::kDone : Mul::kFailed;
    }

  private:
    // Jacobian points (X/Z^2, Y/Z^3) for the variable-time public path.
    struct Jp {
        F X{}, Y{}, Z{};
        bool inf = true;
    };

    Pt infinity() const { return Pt{F{}, f_.one(), F{}}; }

    void jdbl(Jp& r) const {
        if (r.inf) return;
        if (ct::is_zero_mask(r.Y)) {
            r.inf = true;
            return;
        }
        F yy, yyyy, zz, s, m, t;
        f_.sqr(yy, r.Y);
        f_.sqr(zz, r.Z);
        // M := 3·X^2 + a·Z^4, as 3·(X - Z^2)·(X + Z^2) when a = -3.
        if (a_minus_3_) {
            f_.sub(s, r.X, zz);
            f_.add(t, r.X, zz);
            f_.mul(s, s, t);
            f_.add(m, s, s);
            f_.add(m, m, s);
        } else {
            f_.sqr(s, r.X);
            f_.add(m, s, s);
            f_.add(m, m, s);
            f_.sqr(t, zz);
            f_.mul(t, t, a_);
            f_.add(m, m, t);
        }
        // S := 4·X·Y^2; X3 := M^2 - 2·S; Y3 := M·(S - X3) - 8·Y^4; Z3 := 2·Y·Z.
        f_.mul(s, r.X, yy);
        f_.add(s, s, s);
        f_.add(s, s, s);
        f_.sqr(yyyy, yy);
        f_.mul(r.Z, r.Y, r.Z);
        f_.add(r.Z, r.Z, r.Z);
        f_.sqr(t, m);
        f_.sub(t, t, s);
        f_.sub(r.X, t, s);
        f_.sub(t, s, r.X);
        f_.mul(t, m, t);
        f_.add(yyyy, yyyy, yyyy);
        f_.add(yyyy, yyyy, yyyy);
        f_.add(yyyy, yyyy, yyyy);
        f_.sub(r.Y, t, yyyy);
    }

    // r := r + q, given both points' X and Y brought to a common scale:
    // U1, S1 for r and U2, S2 for q; zq is q's Z.
    void jadd_scaled(Jp& r, const Jp& q, const F& u1, const F& s1, const F& u2, const F& s2,
                     const F& zq) const {
        F h, rr, hh, hhh, v, t;
        f_.sub(h, u2, u1);
        f_.sub(rr, s2, s1);
        if (ct::is_zero_mask(h)) {
            if (ct::is_zero_mask(rr)) {
                r = q;
                jdbl(r);
            } else {
                r.inf = true;
            }
            return;
        }
        f_.sqr(hh, h);
        f_.mul(hhh, h, hh);
        f_.mul(v, u1, hh);
        // X3 := R^2 - H^3 - 2·V; Y3 := R·(V - X3) - S1·H^3; Z3 := Z1·Z2·H.
        f_.sqr(t, rr);
        f_.sub(t, t, hhh);
        f_.sub(t, t, v);
        f_.sub(r.X, t, v);
        f_.sub(t, v, r.X);
        f_.mul(t, rr, t);
        f_.mul(hhh, s1, hhh);
        f_.sub(r.Y, t, hhh);
        f_.mul(r.Z, r.Z, zq);
        f_.mul(r.Z, r.Z, h);
    }

    void jadd(Jp& r, const Jp& q) const {
        if (q.inf) return;
        if (r.inf) {
            r = q;
            return;
        }
        F z1z1, z2z2, u1, u2, s1, s2;
        f_.sqr(z1z1, r.Z);
        f_.sqr(z2z2, q.Z);
        f_.mul(u1, r.X, z2z2);
        f_.mul(u2, q.X, z1z1);
        f_.mul(s1, r.Y, q.Z);
        f_.mul(s1, s1, z2z2);
        f_.mul(s2, q.Y, r.Z);
        f_.mul(s2, s2, z1z1);
        jadd_scaled(r, q, u1, s1, u2, s2, q.Z);
    }

    void jadd_affine(Jp& r, const F& x, const F& y) const {
        const Jp q{x, y, f_.one(), false};
        if (r.inf) {
            r = q;
            return;
        }
        F z1z1, u2, s2;
        f_.sqr(z1z1, r.Z);
        f_.mul(u2, x, z1z1);
        f_.mul(s2, y, r.Z);
        f_.mul(s2, s2, z1z1);
        jadd_scaled(r, q, r.X, r.Y, u2, s2, f_.one());
    }

    // Width-5 NAF digits of a non-negative k, least significant first.
    static std::vector<int> wnaf(const BIGNUM* k) {
        const int bytes = BN_num_bytes(k) + 1;
        std::vector<unsigned char> le(static_cast<std::size_t>(bytes));
        BN_bn2lebinpad(k, le.data(), bytes);
        std::vector<u64> w((le.size() + 7) / 8 + 1, 0);
        for (std::size_t i = 0; i < le.size(); ++i)
            w[i / 8] |= static_cast<u64>(le[i]) << (8 * (i % 8));
        auto zero = [&] {
            for (u64 v : w)
                if (v) return false;
            return true;
        };
        std::vector<int> out;
        while (!zero()) {
            int d = 0;
            if (w[0] & 1) {
                d = static_cast<int>(w[0] & 31);
                if (d >= 16) d -= 32;
                if (d > 0) {
                    w[0] -= static_cast<u64>(d);
                } else {
                    // Adding -d carries upward.
                    u64 add = static_cast<u64>(-d);
                    for (std::size_t i = 0; i < w.size() && add; ++i) {
                        w[i] += add;
                        add = w[i] < add ? 1 : 0;
                    }
                }
            }
            out.push_back(d);
            for (std::size_t i = 0; i < w.size(); ++i)
                w[i] = (w[i] >> 1) | (i + 1 < w.size() ? w[i + 1] << 63 : 0);
        }
        return out;
    }

    bool load_jacobian(Jp& out, const ECPOINT* pt, BN_CTX* ctx) const {
        if (ECPOINT_is_infinity(pt)) {
            out.inf = true;
            return true;
        }
        const ECURVE* c = pt->curve;
        BnCtxFrame fr(ctx);
        BIGNUM* t = fr.get();
        F v;
        auto read = [&](F& r, const BIGNUM* b) {
            if (!BN_nnmod(t, b, c->p.get(), ctx) || !ct::fe_from_bn(v, t)) return false;
            f_.to_field(r, v);
            return true;
        };
        out.inf = false;
        if (!t || !read(out.X, pt->x.get()) || !read(out.Y, pt->y.get())) return false;
        if (pt->form != EC_FORM_PROJECTIVE) {
            out.Z = f_.one();
            return true;
        }
        return read(out.Z, pt->z.get());
    }

    // Jacobian coordinates on a projective curve, affine ones otherwise.
    bool store_jacobian(ECPOINT* pt, Jp& r) const {
        pt->table.reset();
        pt->form = pt->curve->form;
        if (r.inf || ct::is_zero_mask(r.Z)) return ECPOINT_set_infinity(pt) != 0;
        if (pt->form != EC_FORM_PROJECTIVE) {
            F zi, zi2;
            f_.inv(zi, r.Z);
            f_.sqr(zi2, zi);
            f_.mul(r.X, r.X, zi2);
            f_.mul(zi2, zi2, zi);
            f_.mul(r.Y, r.Y, zi2);
            r.Z = f_.one();
        }
        F x, y, z;
        f_.from_field(x, r.X);
        f_.from_field(y, r.Y);
        f_.from_field(z, r.Z);
        if (!ct::fe_to_bn(pt->x.get(), x) || !ct::fe_to_bn(pt->y.get(), y)) return false;
        if (pt->form == EC_FORM_PROJECTIVE) return ct::fe_to_bn(pt->z.get(), z);
        BN_zero(pt->z.get());
        return true;
    }

    void mul_b(F& r, const F& t) const {
        if constexpr (kWordMul) {
            if (b_word_) return f_.mul_word(r, t, b_word_);
        }
        f_.mul(r, t, b_);
    }

    // r := p + q for any two points, equal or at infinity included.
    void add(Pt& r, const Pt& p, const Pt& q) const {
        if (a_minus_3_)
            add_a_minus_3(r, p, q);
        else
            add_any_a(r, p, q);
    }

    // r := 2·p; the addition formula serves where a is not -3.
    void dbl(Pt& r, const Pt& p) const {
        if (a_minus_3_)
            dbl_a_minus_3(r, p);
        else
            add_any_a(r, p, p);
    }

    // What both complete additions start from: the products X1·X2, Y1·Y2
    // and Z1·Z2, and the mixed sums X1·Y2 + X2·Y1, X1·Z2 + X2·Z1 and
    // Y1·Z2 + Y2·Z1, each by one multiplication of sums less two products.
    void products(const Pt& p, const Pt& q, F& xx, F& yy, F& zz, F& xy, F& xz, F& yz) const {
        F s, t;
        f_.mul(xx, p.X, q.X);
        f_.mul(yy, p.Y, q.Y);
        f_.mul(zz, p.Z, q.Z);
        f_.add(s, p.X, p.Y);
        f_.add(t, q.X, q.Y);
        f_.mul(xy, s, t);
        f_.add(t, xx, yy);
        f_.sub(xy, xy, t);
        f_.add(s, p.X, p.Z);
        f_.add(t, q.X, q.Z);
        f_.mul(xz, s, t);
        f_.add(t, xx, zz);
        f_.sub(xz, xz, t);
        f_.add(s, p.Y, p.Z);
        f_.add(t, q.Y, q.Z);
        f_.mul(yz, s, t);
        f_.add(t, yy, zz);
        f_.sub(yz, yz, t);
    }

    // The complete addition for any a (algorithm 1 of the paper).
    void add_any_a(Pt& r, const Pt& p, const Pt& q) const {
        F t0, t1, t2, t3, t4, t5, x3, y3, z3;
        products(p, q, t0, t1, t2, t3, t4, t5);
        f_.mul(z3, a_, t4);
        f_.mul(x3, b3_, t2);
        f_.add(z3, x3, z3);
        f_.sub(x3, t1, z3);
        f_.add(z3, t1, z3);
        f_.mul(y3, x3, z3);
        f_.add(t1, t0, t0);
        f_.add(t1, t1, t0);
        f_.mul(t2, a_, t2);
        f_.mul(t4, b3_, t4);
        f_.add(t1, t1, t2);
        f_.sub(t2, t0, t2);
        f_.mul(t2, a_, t2);
        f_.add(t4, t4, t2);
        f_.mul(t0, t1, t4);
        f_.add(y3, y3, t0);
        f_.mul(t0, t5, t4);
        f_.mul(x3, t3, x3);
        f_.sub(x3, x3, t0);
        f_.mul(t0, t3, t1);
        f_.mul(z3, t5, z3);
        f_.add(z3, z3, t0);
        r.X = x3;
        r.Y = y3;
        r.Z = z3;
    }

    // The complete addition for a = -3 (algorithm 4 of the paper): fewer
    // operations than the general one, and b in place of 3b.
    void add_a_minus_3(Pt& r, const Pt& p, const Pt& q) const {
        F t0, t1, t2, t3, t4, y3;
        products(p, q, t0, t1, t2, t3, y3, t4);
        finish_a_minus_3(r, t0, t1, t2, t3, t4, y3);
    }

    // The same with Z2 = 1 (algorithm 5 of the paper): one multiplication
    // less, and complete as long as the affine point is a finite one.
    void add_affine_a_minus_3(Pt& r, const Pt& p, const F& x2, const F& y2) const {
        F t0, t1, t2 = p.Z, t3, t4, y3;
        f_.mul(t0, p.X, x2);
        f_.mul(t1, p.Y, y2);
        f_.add(t3, p.X, p.Y);
        f_.add(t4, x2, y2);
        f_.mul(t3, t3, t4);
        f_.add(t4, t0, t1);
        f_.sub(t3, t3, t4);  // X1·Y2 + X2·Y1
        f_.mul(t4, y2, p.Z);
        f_.add(t4, t4, p.Y);  // Y1 + Y2·Z1
        f_.mul(y3, x2, p.Z);
        f_.add(y3, y3, p.X);  // X1 + X2·Z1
        finish_a_minus_3(r, t0, t1, t2, t3, t4, y3);
    }

    // The common end of both: t0 = X1·X2, t1 = Y1·Y2, t2 = Z1·Z2, t3, t4
    // and y3 the three mixed sums.
    void finish_a_minus_3(Pt& r, F& t0, F& t1, F& t2, const F& t3, const F& t4, F& y3) const {
        F x3, z3;
        mul_b(z3, t2);
        f_.sub(x3, y3, z3);
        f_.add(z3, x3, x3);
        f_.add(x3, x3, z3);
        f_.sub(z3, t1, x3);
        f_.add(x3, t1, x3);
        mul_b(y3, y3);
        f_.add(t1, t2, t2);
        f_.add(t2, t1, t2);
        f_.sub(y3, y3, t2);
        f_.sub(y3, y3, t0);
        f_.add(t1, y3, y3);
        f_.add(y3, t1, y3);
        f_.add(t1, t0, t0);
        f_.add(t0, t1, t0);
        f_.sub(t0, t0, t2);
        f_.mul(t1, t4, y3);
        f_.mul(t2, t0, y3);
        f_.mul(y3, x3, z3);
        f_.add(y3, y3, t2);
        f_.mul(x3, t3, x3);
        f_.sub(x3, x3, t1);
        f_.mul(z3, t4, z3);
        f_.mul(t1, t3, t0);
        f_.add(z3, z3, t1);
        r.X = x3;
        r.Y = y3;
        r.Z = z3;
    }

    // r := p + (x, y) for a finite affine point.
    void add_affine(Pt& r, const Pt& p, const F& x, const F& y) const {
        if (a_minus_3_)
            add_affine_a_minus_3(r, p, x, y);
        else
            add_any_a(r, p, Pt{x, y, f_.one()});
    }

    // The complete doubling for a = -3 (algorithm 6 of the paper).
    void dbl_a_minus_3(Pt& r, const Pt& p) const {
        F t0, t1, t2, t3, x3, y3, z3;
        f_.sqr(t0, p.X);
        f_.sqr(t1, p.Y);
        f_.sqr(t2, p.Z);
        f_.mul(t3, p.X, p.Y);
        f_.add(t3, t3, t3);
        f_.mul(z3, p.X, p.Z);
        f_.add(z3, z3, z3);
        mul_b(y3, t2);
        f_.sub(y3, y3, z3);
        f_.add(x3, y3, y3);
        f_.add(y3, x3, y3);
        f_.sub(x3, t1, y3);
        f_.add(y3, t1, y3);
        f_.mul(y3, x3, y3);
        f_.mul(x3, x3, t3);
        f_.add(t3, t2, t2);
        f_.add(t2, t2, t3);
        mul_b(z3, z3);
        f_.sub(z3, z3, t2);
        f_.sub(z3, z3, t0);
        f_.add(t3, z3, z3);
        f_.add(z3, z3, t3);
        f_.add(t3, t0, t0);
        f_.add(t0, t3, t0);
        f_.sub(t0, t0, t2);
        f_.mul(t0, t0, z3);
        f_.add(y3, y3, t0);
        f_.mul(t0, p.Y, p.Z);
        f_.add(t0, t0, t0);
        f_.mul(z3, t0, z3);
        f_.sub(x3, x3, z3);
        f_.mul(z3, t0, t1);
        f_.add(z3, z3, z3);
        f_.add(z3, z3, z3);
        r.X = x3;
        r.Y = y3;
        r.Z = z3;
    }

    // Scalars of up to this many bits go through the base-point table: the
    // top digit then stays below 32 and leaves no carry.
    int comb_bits() const { return kCombWindow * comb_windows_ - 1; }

    // Digit i of the signed recoding of a little-endian scalar in W-bit
    // windows: its W bits plus the carry from below, less 2^W (carrying one
    // up) when above 2^(W-1). Arithmetic only: no branch on the scalar.
    template <int W>
    static std::int64_t signed_digit(const unsigned char* le, int i, u64& carry) {
        static_assert(W <= 9, "a digit spans two bytes at most");
        const int bit = W * i;
        const unsigned pair = le[bit / 8] | (static_cast<unsigned>(le[bit / 8 + 1]) << 8);
        const u64 t = ((pair >> (bit % 8)) & ((1u << W) - 1)) + carry;
        carry = ((u64{1} << (W - 1)) - t) >> 63;
        return static_cast<std::int64_t>(t) - static_cast<std::int64_t>(carry << W);
    }

    // Each window adds its table entry as an affine point, its y negated
    // for a negative digit; a zero digit selects no entry, adds all the
    // same and keeps the sum it had.
    void mul_comb(Pt& r, const unsigned char* digits) const {
        r = infinity();
        u64 carry = 0;
        for (int i = 0; i < comb_windows_; ++i) {
            const u64 d = static_cast<u64>(signed_digit<kCombWindow>(digits, i, carry));
            const u64 negative = 0 - (d >> 63);
            const u64 magnitude = (d ^ negative) - negative;
            const std::size_t row = static_cast<std::size_t>(i) * kCombEntries;
            F x{}, y{};
            for (int j = 1; j <= kCombEntries; ++j) {
                const u64 m = ct::eq_mask(magnitude, static_cast<u64>(j));
                ct::or_masked(x, comb_x_[row + j - 1], m);
                ct::or_masked(y, comb_y_[row + j - 1], m);
            }
            F minus_y;
            f_.sub(minus_y, F{}, y);
            ct::cmov(y, minus_y, negative);
            Pt sum;
            add_affine(sum, r, x, y);
            const u64 nonzero = ~ct::eq_mask(magnitude, 0);
            ct::cmov(r.X, sum.X, nonzero);
            ct::cmov(r.Y, sum.Y, nonzero);
            ct::cmov(r.Z, sum.Z, nonzero);
        }
        OPENSSL_cleanse(&carry, sizeof carry);
    }

    // Windows from the top: kWindow doublings, then the addition of the
    // table entry of the digit's magnitude (infinity for 0), its y negated
    // for a negative digit, every entry read under masks.
    void mul_window(Pt& r, const Pt& P, const unsigned char* digits, int windows) const {
        std::vector<std::int64_t> d(static_cast<std::size_t>(windows));
        u64 carry = 0;
        for (int i = 0; i < windows; ++i) d[i] = signed_digit<kWindow>(digits, i, carry);
        Pt table[kEntries + 1];
        table[0] = infinity();
        table[1] = P;
        for (int j = 2; j <= kEntries; ++j) add(table[j], table[j - 1], P);
        r = infinity();
        Pt s;
        for (int i = windows - 1; i >= 0; --i) {
            if (i != windows - 1) dbl_times(r, kWindow);
            const u64 di = static_cast<u64>(d[i]);
            const u64 negative = 0 - (di >> 63);
            const u64 magnitude = (di ^ negative) - negative;
            s = Pt{};
            for (int j = 0; j <= kEntries; ++j) {
                const u64 m = ct::eq_mask(magnitude, static_cast<u64>(j));
                ct::or_masked(s.X, table[j].X, m);
                ct::or_masked(s.Y, table[j].Y, m);
                ct::or_masked(s.Z, table[j].Z, m);
            }
            F minus_y;
            f_.sub(minus_y, F{}, s.Y);
            ct::cmov(s.Y, minus_y, negative);
            add(r, r, s);
        }
        OPENSSL_cleanse(d.data(), d.size() * sizeof d[0]);
        OPENSSL_cleanse(&carry, sizeof carry);
        OPENSSL_cleanse(table, sizeof table);
        OPENSSL_cleanse(&s, sizeof s);
    }

    // r := 2^n·r. Where a = -3 the doublings run in Jacobian coordinates
    // (3M + 5S each, against 8M + 3S for the complete doubling), between
    // two changes of coordinates. A point of odd order never has y = 0,
    // and infinity enters as (1, 1, 0), which doubles to itself: on such
    // points the Jacobian doubling is complete. A point with a component of
    // order 2 may come out as (0, 0, 0), which the addition carries to the
    // end, where it is caught as the exceptional case.
    void dbl_times(Pt& r, int n) const {
        if (!a_minus_3_) {
            for (int s = 0; s < n; ++s) dbl(r, r);
            return;
        }
        // (X : Y : Z) = (X/Z, Y/Z) is (X·Z, Y·Z^2, Z) in Jacobian form;
        // infinity (0 : Y : 0), Y nonzero, becomes (1, 1, 0).
        const u64 inf = ct::is_zero_mask(r.Z) & ~ct::is_zero_mask(r.Y);
        F zz;
        f_.sqr(zz, r.Z);
        f_.mul(r.X, r.X, r.Z);
        f_.mul(r.Y, r.Y, zz);
        ct::cmov(r.X, f_.one(), inf);
        ct::cmov(r.Y, f_.one(), inf);
        for (int s = 0; s < n; ++s) dbl_jacobian_a_minus_3(r);
        // And back: (X, Y, Z) is (X·Z : Y : Z^3).
        f_.sqr(zz, r.Z);
        f_.mul(r.X, r.X, r.Z);
        f_.mul(r.Z, r.Z, zz);
    }

    // 2·(X, Y, Z) in Jacobian coordinates (X/Z^2, Y/Z^3) for a = -3:
    // alpha = 3·(X - Z^2)·(X + Z^2), beta = X·Y^2; X3 = alpha^2 - 8·beta,
    // Y3 = alpha·(4·beta - X3) - 8·Y^4, Z3 = (Y + Z)^2 - Y^2 - Z^2 = 2·Y·Z.
    void dbl_jacobian_a_minus_3(Pt& r) const {
        F delta, gamma, beta, alpha, t;
        f_.sqr(delta, r.Z);
        f_.sqr(gamma, r.Y);
        f_.mul(beta, r.X, gamma);
        f_.sub(t, r.X, delta);
        f_.add(alpha, r.X, delta);
        f_.mul(alpha, t, alpha);
        f_.add(t, alpha, alpha);
        f_.add(alpha, t, alpha);
        f_.add(r.Z, r.Y, r.Z);
        f_.sqr(r.Z, r.Z);
        f_.sub(r.Z, r.Z, gamma);
        f_.sub(r.Z, r.Z, delta);
        f_.add(beta, beta, beta);
        f_.add(beta, beta, beta);
        f_.sqr(r.X, alpha);
        f_.sub(r.X, r.X, beta);
        f_.sub(r.X, r.X, beta);
        f_.sub(t, beta, r.X);
        f_.mul(r.Y, alpha, t);
        f_.sqr(gamma, gamma);
        f_.add(gamma, gamma, gamma);
        f_.add(gamma, gamma, gamma);
        f_.add(gamma, gamma, gamma);
        f_.sub(r.Y, r.Y, gamma);
    }

    // The table of j·64^i·P, j = 1..32, over enough windows i for a scalar
    // of bits bits and its carry, made affine with one inversion for all
    // its points.
    void build_comb(const Pt& P, int bits) {
        const int windows = (bits + kCombWindow) / kCombWindow;
        const std::size_t n = static_cast<std::size_t>(windows) * kCombEntries;
        std::vector<Pt> pts(n);
        Pt b = P;
        for (int i = 0; i < windows; ++i) {
            const std::size_t row = static_cast<std::size_t>(i) * kCombEntries;
            pts[row] = b;
            for (int j = 1; j < kCombEntries; ++j) add(pts[row + j], pts[row + j - 1], b);
            dbl(b, pts[row + kCombEntries - 1]);  // 64^(i+1)·P
        }
        std::vector<F> prefix(n);
        F run = f_.one();
        for (std::size_t i = 0; i < n; ++i) {
            f_.mul(run, run, pts[i].Z);
            prefix[i] = run;
        }
        // A point at infinity in the table (a base of small order) zeroes
        // every product: no table then.
        if (ct::is_zero_mask(run)) return;
        F inv;
        f_.inv(inv, run);
        comb_x_.resize(n);
        comb_y_.resize(n);
        for (std::size_t i = n; i-- > 0;) {
            F zi = inv;
            if (i > 0) {
                f_.mul(zi, inv, prefix[i - 1]);
                f_.mul(inv, inv, pts[i].Z);
            }
            f_.mul(comb_x_[i], pts[i].X, zi);
            f_.mul(comb_y_[i], pts[i].Y, zi);
        }
        comb_windows_ = windows;
    }

    bool is_base(const ECPOINT* pt) const {
        const bool unit_z = pt->form != EC_FORM_PROJECTIVE || BN_is_one(pt->z.get());
        return unit_z && !ECPOINT_is_infinity(pt) && BN_cmp(pt->x.get(), base_x_.get()) == 0 &&
               BN_cmp(pt->y.get(), base_y_.get()) == 0;
    }

    // A record (affine, or Jacobian (X, Y, Z) = (X/Z^2, Y/Z^3)) in
    // homogeneous form: (X·Z : Y : Z^3).
    bool load(Pt& out, const ECPOINT* pt, BN_CTX* ctx) const {
        if (ECPOINT_is_infinity(pt)) {
            out = infinity();
            return true;
        }
        const ECURVE* c = pt->curve;
        BnCtxFrame fr(ctx);
        BIGNUM* t = fr.get();
        F x, y, z;
        auto read = [&](F& r, const BIGNUM* v) {
            return BN_nnmod(t, v, c->p.get(), ctx) && ct::fe_from_bn(r, t);
        };
        if (!t || !read(x, pt->x.get()) || !read(y, pt->y.get())) return false;
        f_.to_field(out.X, x);
        f_.to_field(out.Y, y);
        if (pt->form != EC_FORM_PROJECTIVE) {
            out.Z = f_.one();
            return true;
        }
        if (!read(z, pt->z.get())) return false;
        F zm, z2;
        f_.to_field(zm, z);
        f_.mul(out.X, out.X, zm);
        f_.sqr(z2, zm);
        f_.mul(out.Z, z2, zm);
        return true;
    }

    bool store(ECPOINT* pt, const Pt& r, BN_CTX*) const {
        pt->table.reset();
        pt->form = pt->curve->form;
        if (ct::is_zero_mask(r.Z)) return ECPOINT_set_infinity(pt) != 0;
        F zi, x, y;
        f_.inv(zi, r.Z);
        f_.mul(x, r.X, zi);
        f_.mul(y, r.Y, zi);
        f_.from_field(x, x);
        f_.from_field(y, y);
        const bool ok = ct::fe_to_bn(pt->x.get(), x) && ct::fe_to_bn(pt->y.get(), y);
        OPENSSL_cleanse(&x, sizeof x);
        OPENSSL_cleanse(&y, sizeof y);
        if (!ok) return false;
        if (pt->form == EC_FORM_PROJECTIVE) return BN_one(pt->z.get());
        BN_zero(pt->z.get());
        return true;
    }

    Fld f_;
    F a_{}, b_{}, b3_{};
    u64 b_word_ = 0;
    bool a_minus_3_ = false;
    int order_bits_ = 0;
    BnPtr base_x_, base_y_;
    int comb_windows_ = 0;
    std::vector<F> comb_x_, comb_y_;
};

template <class Fld>
std::shared_ptr<const SecretMul> build(const ECURVE* c, BN_CTX* ctx) {
    auto m = std::make_shared<SecretMulN<Fld>>();
    if (!m->init(c, ctx)) return nullptr;
    return m;
}

std::shared_ptr<const SecretMul> build_for(const ECURVE* c, BN_CTX* ctx) {
    if (ct::PseudoMersenneField::suits(c->p.get())) return build<ct::PseudoMersenneField>(c, ctx);
    const int limbs = (BN_num_bits(c->p.get()) + 63) / 64;
    if (limbs <= 4) return build<ct::Field<4>>(c, ctx);
    if (limbs <= 6) return build<ct::Field<6>>(c, ctx);
    if (limbs <= 8) return build<ct::Field<8>>(c, ctx);
    if (limbs <= 11) return build<ct::Field<11>>(c, ctx);
    return nullptr;
}

// The curve's parameters as one byte string: equal strings, equal tables.
bool curve_key(const ECURVE* c, std::string& key) {
    for (const BIGNUM* v : {c->p.get(), c->a.get(), c->b.get(), c->q.get(), c->h.get(),
                            c->P ? c->P->x.get() : nullptr, c->P ? c->P->y.get() : nullptr,
                            c->P ? c->P->z.get() : nullptr}) {
        const int n = v ? BN_num_bytes(v) : 0;
        std::string bytes(static_cast<std::size_t>(n), '\0');
        if (v && BN_bn2bin(v, reinterpret_cast<unsigned char*>(bytes.data())) != n) return false;
        key += std::to_string(n) + ':' + bytes;
    }
    key += static_cast<char>('0' + (c->P ? c->P->form : 0));
    key += static_cast<char>('0' + static_cast<int>(c->flags & ECURVE_FLAG_A_IS_MINUS_3));
    return true;
}

// One table per distinct curve, kept for the process; a bounded number of
// them, so that curves from outside cannot grow the cache without end.
std::shared_ptr<const SecretMul> for_curve(const ECURVE* c, BN_CTX* ctx) {
    constexpr std::size_t kMaxCached = 32;
    static std::map<std::string, std::shared_ptr<const SecretMul>> cache;
    std::string key;
    if (!curve_key(c, key)) return nullptr;
    {
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        auto it = cache.find(key);
        if (it != cache.end()) return it->second;
    }
    auto built = build_for(c, ctx);
    if (!built) return nullptr;
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    if (cache.size() < kMaxCached) cache.emplace(key, built);
    return built;
}

}  // namespace

int ECPOINT_mul2_public(ECPOINT* out, const BIGNUM* z1, const ECPOINT* Q, const BIGNUM* z2) {
    ECURVE* c = out ? out->curve : nullptr;
    if (!c || !z1 || !Q || !z2 || !c->p || !c->mont) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_R_NULL_PARAMETER);
        return 0;
    }
    BnCtxPtr ctx(BN_CTX_new());
    auto m = ctx && Q->curve == c ? for_curve(c, ctx.get()) : nullptr;
    if (m && m->mul2(out, z1, Q, z2, ctx.get()) == Mul::kDone) return 1;
    // No table for this curve, or Q on another curve record: the curves'
    // own methods.
    EcPointPtr second(ECPOINT_dup(Q));
    if (!c->P || !second || !ECPOINT_copy(out, c->P.get()) || !ECPOINT_mul_base(out, z1) ||
        !ECPOINT_mul(second.get(), z2) || !ECPOINT_add(out, second.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_LIB_ECGOST);
        return 0;
    }
    return 1;
}

int ec::mul_secret_constant_time(ECPOINT* pt, const BIGNUM* k) {
    if (!pt || !pt->curve || !k) return 0;
    BnCtxPtr ctx(BN_CTX_new());
    auto m = ctx ? for_curve(pt->curve, ctx.get()) : nullptr;
    const Mul done = m ? m->mul(pt, k, ctx.get()) : Mul::kFailed;
    return done == Mul::kDone ? 1 : done == Mul::kExceptional ? -1 : 0;
}

int ECPOINT_mul_secret(ECPOINT* pt, const BIGNUM* k) {
    ECURVE* c = pt ? pt->curve : nullptr;
    if (!c || !k || !c->p || !c->mont) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const int done = ec::mul_secret_constant_time(pt, k);
    if (done < 0) return ec::record_mul(pt, k);
    if (done == 0) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_LIB_ECGOST);
        return 0;
    }
    return 1;
}

}  // namespace cadb
