#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <memory>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"

namespace cadb {
namespace ec {

bool mul_signed_binary(const ECURVE* c, FPoint& r, const FPoint& P, const BIGNUM* k, BN_CTX* ctx) {
    if (P.inf || BN_is_zero(k)) {
        r.inf = true;
        return true;
    }
    BnCtxFrame fr(ctx);
    BIGNUM* e = fr.get();
    BIGNUM* kk = fr.get();
    FPoint neg;
    Work w(ctx);
    if (!kk || !w.ok() || !fpoint_init(neg) || !BN_copy(kk, k)) return false;
    BN_set_negative(kk, 0);
    // -P := (x, p - y).
    if (!fpoint_set(c, neg, view(P)) || !BN_sub(neg.y.get(), c->p.get(), P.y.get())) return false;
    if (BN_is_zero(P.y.get())) BN_zero(neg.y.get());
    const PointView plus = view(P);
    const PointView minus = view(neg);
    // The digits of 3k - k are the signed binary digits of k.
    if (!BN_lshift1(e, kk) || !BN_add(e, e, kk) || !fpoint_set(c, r, plus)) return false;
    for (int i = BN_num_bits(e) - 2; i >= 1; --i) {
        if (!point_double(c, r, w)) return false;
        const bool ei = BN_is_bit_set(e, i), ki = BN_is_bit_set(kk, i);
        if (ei && !ki && !point_add(c, r, plus, w)) return false;
        if (!ei && ki && !point_add(c, r, minus, w)) return false;
    }
    if (BN_is_negative(k) && !r.inf && !BN_is_zero(r.y.get()))
        return BN_sub(r.y.get(), c->p.get(), r.y.get());
    return true;
}

bool mul_fixed_base(const ECURVE* c, FPoint& r, const ECPOINT_FBW& table, const BIGNUM* k,
                    BN_CTX* ctx) {
    const int w = table.w;
    const int n = table.n;
    // Digits of k in base 2^w, least significant first; they are the secret
    // scalar and are wiped on every way out.
    std::vector<unsigned> digits(n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < w; ++j)
            if (BN_is_bit_set(k, i * w + j)) digits[i] |= 1u << j;
    auto sum = [&] {
        // With B_j the sum of the P_i whose digit is at least j, the sum of
        // all B_j is the sum of d_i·P_i.
        FPoint b;
        Work work(ctx);
        if (!work.ok() || !fpoint_init(b)) return false;
        r.inf = true;
        for (unsigned j = (1u << w) - 1; j >= 1; --j) {
            for (int i = 0; i < n; ++i) {
                if (digits[i] != j) continue;
                const PointView pi{table.field_x[i].get(), table.field_y[i].get(), nullptr, false};
                if (!point_add(c, b, pi, work)) return false;
            }
            if (!point_add(c, r, view(b), work)) return false;
        }
        return true;
    };
    const bool ok = sum();
    OPENSSL_cleanse(digits.data(), digits.size() * sizeof(unsigned));
    return ok;
}

namespace {

// pt := k·pt through field form; with_table picks the window table.
int multiply(ECPOINT* pt, const BIGNUM* k, bool with_table) {
    ECURVE* c = pt ? pt->curve : nullptr;
    BnCtxPtr ctx(BN_CTX_new());
    FPoint p, r;
    if (!c || !k || !ctx || !fpoint_init(p) || !fpoint_init(r)) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_LIB_ECGOST);
        return 0;
    }
    const ECPOINT_FBW* table = with_table ? pt->table.get() : nullptr;
    bool ok;
    if (table && !BN_is_negative(k) && BN_num_bits(k) <= table->w * table->n) {
        ok = mul_fixed_base(c, r, *table, k, ctx.get());
    } else {
        ok = load(c, p, pt, ctx.get()) &&
             (c->form == EC_FORM_PROJECTIVE || make_affine(c, p, ctx.get())) &&
             mul_signed_binary(c, r, p, k, ctx.get());
    }
    if (!ok || !store(pt, c, r, ctx.get())) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_LIB_ECGOST);
        return 0;
    }
    return 1;
}

}  // namespace

int record_mul(ECPOINT* pt, const BIGNUM* k) { return multiply(pt, k, false); }
int record_mul_base(ECPOINT* pt, const BIGNUM* k) { return multiply(pt, k, true); }

}  // namespace ec

int ECPOINT_mul(ECPOINT* pt, const BIGNUM* k) {
    if (!pt || !pt->curve || !pt->curve->meth) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_R_NULL_PARAMETER);
        return 0;
    }
    return pt->curve->meth->point_mul(pt, k);
}

int ECPOINT_mul_base(ECPOINT* pt, const BIGNUM* k) {
    if (!pt || !pt->curve || !pt->curve->meth) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_R_NULL_PARAMETER);
        return 0;
    }
    return pt->curve->meth->point_mul_base(pt, k);
}

std::shared_ptr<const ECPOINT_FBW> ECPOINT_FBW_new(const ECPOINT* P) {
    ECURVE* c = P ? P->curve : nullptr;
    auto table = std::make_shared<ECPOINT_FBW>();
    BnCtxPtr ctx(BN_CTX_new());
    ec::FPoint acc;
    if (!c || !ctx || !ec::fpoint_init(acc) || !ec::load(c, acc, P, ctx.get()) || acc.inf) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_FBW_NEW, ERR_LIB_ECGOST);
        return nullptr;
    }
    const int bits = BN_num_bits(c->p.get());
    table->bits = bits;
    table->w = bits > 256 ? 5 : 4;
    table->n = (bits + table->w - 1) / table->w;
    ec::Work w(ctx.get());
    if (!w.ok()) {
        CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_FBW_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    for (int i = 0; i < table->n; ++i) {
        // Doubling w times is the multiply by 2^w.
        for (int j = 0; i > 0 && j < table->w; ++j) {
            if (!ec::point_double(c, acc, w)) {
                CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_MUL, ERR_LIB_ECGOST);
                CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_FBW_NEW, ERR_LIB_ECGOST);
                return nullptr;
            }
        }
        EcPointPtr pt(ECPOINT_new(c));
        BnPtr fx = bn_new(), fy = bn_new();
        // A point of small order would make a table that silently yields
        // infinity; such a base is refused.
        if (!pt || !fx || !fy || !ec::make_affine(c, acc, ctx.get()) || acc.inf ||
            !ec::store(pt.get(), c, acc, ctx.get()) || !ECPOINT_to_affine(pt.get()) ||
            !BN_copy(fx.get(), acc.x.get()) || !BN_copy(fy.get(), acc.y.get())) {
            CADB_ERR(ERR_LIB_ECGOST, ECGOST_F_ECPOINT_FBW_NEW, ERR_LIB_ECGOST);
            return nullptr;
        }
        // As in the stored tables: bare coordinates, no curve to outlive.
        pt->curve = nullptr;
        table->points.push_back(std::move(pt));
        table->field_x.push_back(std::move(fx));
        table->field_y.push_back(std::move(fy));
    }
    return table;
}

}  // namespace cadb
