// Point arithmetic on coordinates held in the curve's field form: the records
// keep ordinary residues, and every multiply converts once on the way in and
// once on the way out.
#pragma once

#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"

namespace cadb::ec {

// A point in field form; on a projective curve z is meaningful, on an
// affine one it is ignored.
struct FPoint {
    BnPtr x, y, z;
    bool inf = true;
};

// Read-only view of a point; a null z means Z = 1.
struct PointView {
    const BIGNUM* x;
    const BIGNUM* y;
    const BIGNUM* z;
    bool inf;
};

inline PointView view(const FPoint& p) { return {p.x.get(), p.y.get(), p.z.get(), p.inf}; }

bool fpoint_init(FPoint& p);
bool fpoint_set(const ECURVE* c, FPoint& dst, const PointView& src);

// Record <-> field form.
bool load(const ECURVE* c, FPoint& out, const ECPOINT* pt, BN_CTX* ctx);
bool store(ECPOINT* pt, const ECURVE* c, const FPoint& in, BN_CTX* ctx);
bool to_field(const ECURVE* c, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx);
bool from_field(const ECURVE* c, BIGNUM* r, const BIGNUM* a, BN_CTX* ctx);

// The temporaries of the formulas, drawn once per multiplication instead of
// once per step: a context frame costs as much as two field additions, and
// a multiplication makes some 350 steps.
class Work {
  public:
    static constexpr int kTemps = 5;
    explicit Work(BN_CTX* ctx) : ctx_(ctx) {
        BN_CTX_start(ctx_);
        for (auto& t : t_) t = BN_CTX_get(ctx_);
    }
    ~Work() { BN_CTX_end(ctx_); }
    Work(const Work&) = delete;
    Work& operator=(const Work&) = delete;
    bool ok() const { return t_[kTemps - 1] != nullptr; }
    BN_CTX* ctx() const { return ctx_; }
    BIGNUM* t(int i) const { return t_[i]; }

  private:
    BN_CTX* ctx_;
    BIGNUM* t_[kTemps];
};

// Formulas, chosen by the curve's form.
bool point_double(const ECURVE* c, FPoint& r, Work& w);
bool point_add(const ECURVE* c, FPoint& r, const PointView& q, Work& w);
// Makes z = 1 on a projective curve.
bool make_affine(const ECURVE* c, FPoint& p, BN_CTX* ctx);

// r := k·P by the signed binary method (k may be negative).
bool mul_signed_binary(const ECURVE* c, FPoint& r, const FPoint& P, const BIGNUM* k, BN_CTX* ctx);
// r := k·P through the window table of P; k must be non-negative with at
// most w·n bits.
bool mul_fixed_base(const ECURVE* c, FPoint& r, const ECPOINT_FBW& table, const BIGNUM* k,
                    BN_CTX* ctx);

// The point operations of both curve methods, on records.
int record_add(ECPOINT* r, const ECPOINT* q);
int record_double(ECPOINT* r);
int record_mul(ECPOINT* pt, const BIGNUM* k);
int record_mul_base(ECPOINT* pt, const BIGNUM* k);

// pt := k·pt in constant time: 1 when done, 0 on failure, -1 for a point
// with a component of even order, which the complete formulas do not serve
// and which then takes the general multiply.
int mul_secret_constant_time(ECPOINT* pt, const BIGNUM* k);

}  // namespace cadb::ec
