#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/ec.h>

#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using testing::base_copy;
using testing::hex_bn;
using testing::kAllCodes;
using testing::octets;
using testing::random_below;

class EveryCurve : public ::testing::TestWithParam<int> {
  protected:
    void SetUp() override {
        curve_.reset(ECURVE_new_by_code(GetParam()));
        ASSERT_TRUE(curve_);
    }
    EcCurvePtr curve_;
};

TEST_P(EveryCurve, BaseOnCurveWithPrimeOrder) {
    const ECURVE* c = curve_.get();
    EXPECT_EQ(c->form, EC_FORM_PROJECTIVE);
    EXPECT_EQ(ECPOINT_lies(c->P.get()), 1);
    EcPointPtr pt = base_copy(c);
    ASSERT_EQ(ECPOINT_mul(pt.get(), c->q.get()), 1);
    EXPECT_TRUE(ECPOINT_is_infinity(pt.get()));
    pt = base_copy(c);
    ASSERT_EQ(ECPOINT_mul_base(pt.get(), c->q.get()), 1);
    EXPECT_TRUE(ECPOINT_is_infinity(pt.get()));
    // (q - 1)·P = -P.
    BnPtr qm1(BN_dup(c->q.get()));
    BN_sub_word(qm1.get(), 1);
    pt = base_copy(c);
    ASSERT_EQ(ECPOINT_mul(pt.get(), qm1.get()), 1);
    ASSERT_EQ(ECPOINT_to_affine(pt.get()), 1);
    EXPECT_EQ(BN_cmp(pt->x.get(), c->P->x.get()), 0);
    BnPtr neg_y = bn_new();
    BN_sub(neg_y.get(), c->p.get(), c->P->y.get());
    EXPECT_EQ(BN_cmp(pt->y.get(), neg_y.get()), 0);
}

TEST_P(EveryCurve, FixedBaseAgreesWithSignedBinary) {
    const ECURVE* c = curve_.get();
    std::vector<BnPtr> scalars;
    scalars.push_back(hex_bn("1"));
    scalars.push_back(hex_bn("2"));
    scalars.push_back(hex_bn("F"));
    scalars.push_back(hex_bn("10"));
    BnPtr qm1(BN_dup(c->q.get()));
    BN_sub_word(qm1.get(), 1);
    scalars.push_back(std::move(qm1));
    for (int i = 0; i < 8; ++i) scalars.push_back(random_below(c->q.get()));
    for (const auto& k : scalars) {
        EcPointPtr a = base_copy(c), b = base_copy(c);
        ASSERT_EQ(ECPOINT_mul_base(a.get(), k.get()), 1);
        ASSERT_EQ(ECPOINT_mul(b.get(), k.get()), 1);
        EXPECT_EQ(ECPOINT_cmp(a.get(), b.get()), 0);
        EXPECT_EQ(ECPOINT_lies(a.get()), 1);
    }
    EcPointPtr zero = base_copy(c);
    ASSERT_EQ(ECPOINT_mul_base(zero.get(), hex_bn("0").get()), 1);
    EXPECT_TRUE(ECPOINT_is_infinity(zero.get()));
}

// The stored window tables equal tables computed from the base point.
TEST_P(EveryCurve, StoredTableMatchesComputedTable) {
    const ECURVE* c = curve_.get();
    if (!c->P->table) GTEST_SKIP() << "this set has no table";
    EXPECT_STREQ(c->meth->name, "fixed base window");
    auto computed = ECPOINT_FBW_new(c->P.get());
    ASSERT_TRUE(computed);
    const auto& stored = *c->P->table;
    ASSERT_EQ(stored.n, 64);
    ASSERT_EQ(computed->n, stored.n);
    ASSERT_EQ(computed->w, stored.w);
    for (int i = 0; i < stored.n; ++i) {
        EXPECT_EQ(BN_cmp(stored.points[i]->x.get(), computed->points[i]->x.get()), 0) << i;
        EXPECT_EQ(BN_cmp(stored.points[i]->y.get(), computed->points[i]->y.get()), 0) << i;
    }
}

TEST_P(EveryCurve, AgreesWithLibcryptoGenericCurve) {
    const ECURVE* c = curve_.get();
    BnCtxPtr ctx(BN_CTX_new());
    EC_GROUP* g = EC_GROUP_new_curve_GFp(c->p.get(), c->a.get(), c->b.get(), ctx.get());
    ASSERT_TRUE(g);
    EC_POINT* gen = EC_POINT_new(g);
    EC_POINT_set_affine_coordinates(g, gen, c->P->x.get(), c->P->y.get(), ctx.get());
    ASSERT_EQ(EC_GROUP_set_generator(g, gen, c->q.get(), BN_value_one()), 1);
    EC_POINT* r = EC_POINT_new(g);
    BnPtr x = bn_new(), y = bn_new();
    for (int i = 0; i < 4; ++i) {
        BnPtr k = random_below(c->q.get());
        EC_POINT_mul(g, r, k.get(), nullptr, nullptr, ctx.get());
        EC_POINT_get_affine_coordinates(g, r, x.get(), y.get(), ctx.get());
        EcPointPtr mine = base_copy(c);
        ASSERT_EQ(ECPOINT_mul_base(mine.get(), k.get()), 1);
        ASSERT_EQ(ECPOINT_to_affine(mine.get()), 1);
        EXPECT_EQ(BN_cmp(mine->x.get(), x.get()), 0);
        EXPECT_EQ(BN_cmp(mine->y.get(), y.get()), 0);
    }
    EC_POINT_free(r);
    EC_POINT_free(gen);
    EC_GROUP_free(g);
}

TEST_P(EveryCurve, AffineCurveGivesTheSamePoints) {
    EcCurvePtr affine(ECURVE_init(ECURVE_params_by_code(GetParam()), EC_FORM_AFFINE));
    ASSERT_TRUE(affine);
    const ECURVE* c = curve_.get();
    for (int i = 0; i < 3; ++i) {
        BnPtr k = random_below(c->q.get());
        EcPointPtr a(ECPOINT_dup(affine->P.get())), b = base_copy(c),
                                                    c2(ECPOINT_dup(affine->P.get()));
        ASSERT_EQ(ECPOINT_mul(a.get(), k.get()), 1);
        ASSERT_EQ(ECPOINT_mul_base(c2.get(), k.get()), 1);
        ASSERT_EQ(ECPOINT_mul(b.get(), k.get()), 1);
        EXPECT_EQ(a->form, EC_FORM_AFFINE);
        EXPECT_EQ(ECPOINT_cmp(a.get(), b.get()), 0);
        EXPECT_EQ(ECPOINT_cmp(c2.get(), b.get()), 0);
    }
}

TEST_P(EveryCurve, AdditionLaws) {
    const ECURVE* c = curve_.get();
    EcPointPtr two = base_copy(c), sum = base_copy(c), neg = base_copy(c), inf = base_copy(c);
    ASSERT_EQ(ECPOINT_double(two.get()), 1);
    ASSERT_EQ(ECPOINT_add(sum.get(), c->P.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(sum.get(), two.get()), 0);
    // P + (-P) = infinity; P + infinity = P; infinity + P = P.
    BN_sub(neg->y.get(), c->p.get(), neg->y.get());
    EcPointPtr zero = base_copy(c);
    ASSERT_EQ(ECPOINT_add(zero.get(), neg.get()), 1);
    EXPECT_TRUE(ECPOINT_is_infinity(zero.get()));
    ASSERT_EQ(ECPOINT_set_infinity(inf.get()), 1);
    EcPointPtr p = base_copy(c);
    ASSERT_EQ(ECPOINT_add(p.get(), inf.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(p.get(), c->P.get()), 0);
    ASSERT_EQ(ECPOINT_add(inf.get(), c->P.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(inf.get(), c->P.get()), 0);
    // 2P + P computed through a projective 2P with Z != 1 equals 3P.
    ASSERT_EQ(ECPOINT_add(two.get(), c->P.get()), 1);
    EcPointPtr three = base_copy(c);
    ASSERT_EQ(ECPOINT_mul(three.get(), hex_bn("3").get()), 1);
    EXPECT_EQ(ECPOINT_cmp(two.get(), three.get()), 0);
    EXPECT_EQ(ECPOINT_normalize(three.get()), 1);
    EXPECT_TRUE(BN_is_one(three->z.get()));
    EXPECT_EQ(ECPOINT_cmp(two.get(), three.get()), 0);
}

TEST_P(EveryCurve, EncodingsRoundTrip) {
    ECURVE* c = curve_.get();
    const std::size_t n = (BN_num_bits(c->p.get()) + 7) / 8;
    for (int i = 0; i < 6; ++i) {
        EcPointPtr pt = base_copy(c);
        ASSERT_EQ(ECPOINT_mul_base(pt.get(), random_below(c->q.get()).get()), 1);
        for (bool compressed : {false, true}) {
            auto bytes = octets(pt.get(), compressed);
            ASSERT_EQ(bytes.size(), compressed ? 1 + n : 1 + 2 * n);
            EcPointPtr back(ECPOINT_bi2point(c, bytes.data(), bytes.size(), nullptr));
            ASSERT_TRUE(back);
            EXPECT_EQ(ECPOINT_cmp(back.get(), pt.get()), 0);
            // Short and long input is refused.
            EXPECT_EQ(ECPOINT_bi2point(c, bytes.data(), bytes.size() - 1, nullptr), nullptr);
            bytes.push_back(0);
            EXPECT_EQ(ECPOINT_bi2point(c, bytes.data(), bytes.size(), nullptr), nullptr);
        }
        std::vector<unsigned char> le(2 * n);
        ASSERT_EQ(ECPOINT_point2le(pt.get(), le.data(), le.size()), 2 * n);
        EcPointPtr back(ECPOINT_le2point(c, le.data(), le.size(), nullptr));
        ASSERT_TRUE(back);
        EXPECT_EQ(ECPOINT_cmp(back.get(), pt.get()), 0);
        EXPECT_EQ(ECPOINT_le2point(c, le.data(), le.size() - 1, nullptr), nullptr);
        // Hex text: "04" + x + y and "02"/"03" + x.
        ASSERT_EQ(ECPOINT_to_affine(pt.get()), 1);
        char* xh = BN_bn2hex(pt->x.get());
        char* yh = BN_bn2hex(pt->y.get());
        std::string xs(xh), ys(yh);
        OPENSSL_free(xh);
        OPENSSL_free(yh);
        while (xs.size() < 2 * n) xs = "0" + xs;
        while (ys.size() < 2 * n) ys = "0" + ys;
        EcPointPtr h(ECPOINT_hex2point(c, ("04" + xs + ys).c_str(), nullptr));
        ASSERT_TRUE(h);
        EXPECT_EQ(ECPOINT_cmp(h.get(), pt.get()), 0);
        const std::string parity = BN_is_odd(pt->y.get()) ? "03" : "02";
        EcPointPtr hc(ECPOINT_hex2point(c, (parity + xs).c_str(), nullptr));
        ASSERT_TRUE(hc);
        EXPECT_EQ(ECPOINT_cmp(hc.get(), pt.get()), 0);
    }
}

// A compressed encoding decodes to the point for both parities: y and p - y.
TEST_P(EveryCurve, CompressedPointsDecodeWithBothParities) {
    ECURVE* c = curve_.get();
    int seen[2] = {0, 0};
    for (int i = 0; i < 16 && !(seen[0] && seen[1]); ++i) {
        EcPointPtr pt = base_copy(c);
        ASSERT_EQ(ECPOINT_mul_base(pt.get(), random_below(c->q.get()).get()), 1);
        auto bytes = octets(pt.get(), true);
        ++seen[bytes[0] - 2];
        EcPointPtr back(ECPOINT_bi2point(c, bytes.data(), bytes.size(), nullptr));
        ASSERT_TRUE(back);
        EXPECT_EQ(ECPOINT_cmp(back.get(), pt.get()), 0);
        bytes[0] ^= 1;
        EcPointPtr other(ECPOINT_bi2point(c, bytes.data(), bytes.size(), nullptr));
        ASSERT_TRUE(other);
        ASSERT_EQ(ECPOINT_to_affine(pt.get()), 1);
        ASSERT_EQ(ECPOINT_to_affine(other.get()), 1);
        EXPECT_EQ(BN_cmp(other->x.get(), pt->x.get()), 0);
        BnPtr sum = bn_new();
        BN_add(sum.get(), other->y.get(), pt->y.get());
        EXPECT_EQ(BN_cmp(sum.get(), c->p.get()), 0);
        EXPECT_EQ(ECPOINT_lies(other.get()), 1);
    }
    EXPECT_TRUE(seen[0] && seen[1]);
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, EveryCurve, ::testing::ValuesIn(testing::kAllCodes));

// A point whose coordinates change is no longer the base of its copied
// window table, and no longer multiplies through it.
TEST(Curves, NewCoordinatesDropTheWindowTable) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    EcPointPtr two = base_copy(c.get());
    ASSERT_TRUE(two->table);
    ASSERT_EQ(ECPOINT_double(two.get()), 1);
    EXPECT_FALSE(two->table);
    EcPointPtr a(ECPOINT_dup(two.get())), b(ECPOINT_dup(two.get()));
    BnPtr k = random_below(c->q.get());
    ASSERT_EQ(ECPOINT_mul_base(a.get(), k.get()), 1);
    ASSERT_EQ(ECPOINT_mul(b.get(), k.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(a.get(), b.get()), 0);
    EcPointPtr decoded = base_copy(c.get());
    auto bytes = octets(two.get(), false);
    ASSERT_TRUE(ECPOINT_bi2point(c.get(), bytes.data(), bytes.size(), decoded.get()));
    EXPECT_FALSE(decoded->table);
}

TEST(Curves, InfinityEncodesAsOneZeroByte) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    EcPointPtr inf(ECPOINT_new(c.get()));
    ASSERT_EQ(ECPOINT_set_infinity(inf.get()), 1);
    auto bytes = octets(inf.get(), false);
    ASSERT_EQ(bytes, std::vector<unsigned char>{0});
    EcPointPtr back(ECPOINT_bi2point(c.get(), bytes.data(), 1, nullptr));
    ASSERT_TRUE(back);
    EXPECT_TRUE(ECPOINT_is_infinity(back.get()));
    unsigned char le[64];
    EXPECT_EQ(ECPOINT_point2le(inf.get(), le, sizeof le), 0u);
    EcPointPtr hex(ECPOINT_hex2point(c.get(), "00", nullptr));
    ASSERT_TRUE(hex);
    EXPECT_TRUE(ECPOINT_is_infinity(hex.get()));
    EXPECT_EQ(ECGOST_is_pubkey_valid(back.get(), 0), 0);
}

TEST(Curves, HostileEncodingsAreRefused) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    auto bytes = octets(c->P.get(), false);
    for (unsigned char form : {0x01, 0x05, 0x06, 0x07, 0xFF}) {
        auto bad = bytes;
        bad[0] = form;
        ERR_clear_error();
        EXPECT_EQ(ECPOINT_bi2point(c.get(), bad.data(), bad.size(), nullptr), nullptr);
        EXPECT_EQ(ERR_peek_error(), ERR_pack_code(75, ECGOST_F_ECPOINT_BI2POINT, 12));
    }
    const unsigned char zero_then_more[] = {0x00, 0x00};
    EXPECT_EQ(ECPOINT_bi2point(c.get(), zero_then_more, 2, nullptr), nullptr);
    EXPECT_EQ(ECPOINT_bi2point(c.get(), bytes.data(), 0, nullptr), nullptr);
    EXPECT_EQ(ECPOINT_bi2point(c.get(), nullptr, 65, nullptr), nullptr);
    // A coordinate equal to p is no field element.
    std::vector<unsigned char> at_p(65, 0);
    at_p[0] = 0x04;
    BN_bn2binpad(c->p.get(), at_p.data() + 1, 32);
    at_p[64] = 1;
    EXPECT_EQ(ECPOINT_bi2point(c.get(), at_p.data(), at_p.size(), nullptr), nullptr);
    // An x with no y on the curve does not decode in compressed form.
    int refused = 0;
    for (unsigned v = 2; v < 40; ++v) {
        unsigned char comp[33] = {0x02};
        comp[32] = static_cast<unsigned char>(v);
        EcPointPtr pt(ECPOINT_bi2point(c.get(), comp, sizeof comp, nullptr));
        if (!pt)
            ++refused;
        else
            EXPECT_EQ(ECPOINT_lies(pt.get()), 1);
    }
    EXPECT_GT(refused, 0);
    for (const char* text : {"", "0", "04", "04XY", "05AB", "00FF", "02", "04123"})
        EXPECT_EQ(ECPOINT_hex2point(c.get(), text, nullptr), nullptr) << text;
}

// A refused encoding leaves a caller's point as it was, in every decoder:
// the prefix of a coordinate read before the refusal is not written.
TEST(Curves, RefusedEncodingLeavesTheGivenPointAlone) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    EcPointPtr target(ECPOINT_dup(c->P.get()));
    ASSERT_EQ(ECPOINT_normalize(target.get()), 1);
    const auto before = octets(target.get(), false);
    auto unchanged = [&] {
        EXPECT_EQ(octets(target.get(), false), before);
        EXPECT_EQ(ECPOINT_cmp(target.get(), c->P.get()), 0);
    };
    // x fine, y equal to p.
    std::vector<unsigned char> bad_y(before);
    bad_y[1] ^= 0x55;
    BN_bn2binpad(c->p.get(), bad_y.data() + 33, 32);
    EXPECT_EQ(ECPOINT_bi2point(c.get(), bad_y.data(), bad_y.size(), target.get()), nullptr);
    unchanged();
    // An x without a square root.
    for (unsigned v = 2; v < 40; ++v) {
        unsigned char comp[33] = {0x03};
        comp[32] = static_cast<unsigned char>(v);
        EcPointPtr probe(ECPOINT_bi2point(c.get(), comp, sizeof comp, nullptr));
        if (probe) continue;
        EXPECT_EQ(ECPOINT_bi2point(c.get(), comp, sizeof comp, target.get()), nullptr);
        unchanged();
        break;
    }
    // The little-endian form with y at p.
    std::vector<unsigned char> le(64, 0x11);
    BN_bn2lebinpad(c->p.get(), le.data() + 32, 32);
    EXPECT_EQ(ECPOINT_le2point(c.get(), le.data(), le.size(), target.get()), nullptr);
    unchanged();
    // Hex with a bad second half.
    const std::string hex = "04" + std::string(64, '1') + std::string(63, '2') + "Z";
    EXPECT_EQ(ECPOINT_hex2point(c.get(), hex.c_str(), target.get()), nullptr);
    unchanged();
    // A good encoding still fills the given point and returns it.
    const auto other = octets(EcPointPtr(ECPOINT_hex2point(c.get(), "00", nullptr)).get(), false);
    EXPECT_EQ(ECPOINT_bi2point(c.get(), other.data(), other.size(), target.get()), target.get());
    EXPECT_EQ(ECPOINT_is_infinity(target.get()), 1);
    ERR_clear_error();
}

TEST(Curves, PubkeyValidity) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    EXPECT_EQ(ECGOST_is_pubkey_valid(c->P.get(), 1), 1);
    EcPointPtr pt = base_copy(c.get());
    BN_copy(pt->x.get(), c->p.get());  // x = p
    EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 0), 0);
    pt = base_copy(c.get());
    BN_add_word(pt->y.get(), 1);  // off the curve
    EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 0), 0);
    EXPECT_EQ(ECPOINT_lies(pt.get()), 0);
    EXPECT_EQ(ECGOST_is_pubkey_valid(nullptr, 0), 0);
}

// The self test's curve has cofactor 4: points outside the order-q
// subgroup pass the plain test and fail the full one.
TEST(Curves, FullTestRefusesPointsOutsideTheSubgroup) {
    EcCurvePtr c(ECURVE_new_from_params(ec_params_self_test()));
    ASSERT_TRUE(c);
    EXPECT_EQ(ECGOST_is_pubkey_valid(c->P.get(), 1), 1);
    int outside = 0;
    for (unsigned v = 1; v < 200 && outside < 3; ++v) {
        EcPointPtr pt(ECPOINT_new(c.get()));
        BN_set_word(pt->x.get(), v);
        if (!ECPOINT_derive(pt.get(), c.get(), 0)) continue;
        EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 0), 1);
        EcPointPtr t(ECPOINT_dup(pt.get()));
        ECPOINT_mul(t.get(), c->q.get());
        if (ECPOINT_is_infinity(t.get())) continue;
        ++outside;
        EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 1), 0);
    }
    EXPECT_GT(outside, 0);
    // No table on this set: a table built at run time serves the same.
    auto table = ECPOINT_FBW_new(c->P.get());
    ASSERT_TRUE(table);
    EXPECT_EQ(table->w, 4);
    EXPECT_EQ(table->n, (112 + 3) / 4);
    EcPointPtr a = base_copy(c.get()), b = base_copy(c.get());
    a->table = table;
    BnPtr k = random_below(c->q.get());
    ASSERT_EQ(ECPOINT_mul_base(a.get(), k.get()), 1);
    ASSERT_EQ(ECPOINT_mul(b.get(), k.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(a.get(), b.get()), 0);
}

TEST(Curves, CodesAndNids) {
    EXPECT_EQ(GOST_nid2curve_code(283), 12);
    EXPECT_EQ(GOST_nid2curve_code(287), 16);
    EXPECT_EQ(GOST_nid2curve_code(286), 15);
    EXPECT_EQ(GOST_nid2curve_code(191), 11);
    EXPECT_EQ(GOST_nid2curve_code(282), 0);
    EXPECT_EQ(GOST_nid2curve_code(0), 0);
    EcCurvePtr xa(ECURVE_new_by_code(15)), a(ECURVE_new_by_code(12));
    EcCurvePtr xb(ECURVE_new_by_code(16)), cc(ECURVE_new_by_code(14)), b(ECURVE_new_by_code(13));
    EXPECT_EQ(ECURVE_cmp(xa.get(), a.get()), 0);
    EXPECT_EQ(ECURVE_cmp(xb.get(), cc.get()), 0);
    EXPECT_EQ(ECURVE_cmp(a.get(), b.get()), -1);
    EXPECT_EQ(xa->nid, 286);
    ERR_set_last_error(0);
    EXPECT_EQ(ECURVE_new_by_code(10), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_CODE);
    EXPECT_EQ(ECURVE_new_by_code(18), nullptr);
    EcCurvePtr def(ECURVE_init(nullptr, EC_FORM_PROJECTIVE));
    ASSERT_TRUE(def);
    EXPECT_EQ(def->nid, 191);
    EXPECT_TRUE(def->flags & ECURVE_FLAG_A_IS_MINUS_3);
    EXPECT_TRUE(EcCurvePtr(ECURVE_new_by_code(17)));
}

TEST(Curves, CoefficientsFromJInvariant) {
    EcCurvePtr c(ECURVE_new(EC_FORM_PROJECTIVE));
    c->p = hex_bn("8000000000000000000000000000000000000000000000000000000000000431");
    c->J = hex_bn("2");
    ASSERT_EQ(ECURVE_get_coefficients(c.get()), 1);
    // j = 1728·4a^3 / (4a^3 + 27b^2) must come back as 2.
    BnCtxPtr ctx(BN_CTX_new());
    const BIGNUM* p = c->p.get();
    BnPtr a3 = bn_new(), b2 = bn_new(), num = bn_new(), den = bn_new();
    BN_mod_sqr(a3.get(), c->a.get(), p, ctx.get());
    BN_mod_mul(a3.get(), a3.get(), c->a.get(), p, ctx.get());
    BN_mul_word(a3.get(), 4);
    BN_mod_sqr(b2.get(), c->b.get(), p, ctx.get());
    BN_mul_word(b2.get(), 27);
    BN_mod_add(den.get(), a3.get(), b2.get(), p, ctx.get());
    BN_mul_word(a3.get(), 1728);
    BN_mod_inverse(den.get(), den.get(), p, ctx.get());
    BN_mod_mul(num.get(), a3.get(), den.get(), p, ctx.get());
    EXPECT_TRUE(BN_is_word(num.get(), 2));
    for (const char* j : {"0", "6C0"}) {  // 0 and 1728
        c->J = hex_bn(j);
        EXPECT_EQ(ECURVE_get_coefficients(c.get()), 0) << j;
    }
}

// Curves and their shared tables are built and used from many threads.
TEST(Curves, ConcurrentUse) {
    EcCurvePtr ref(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
    BnPtr k = random_below(ref->q.get());
    EcPointPtr expect = base_copy(ref.get());
    ASSERT_EQ(ECPOINT_mul(expect.get(), k.get()), 1);
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
                ECURVE_up_ref(ref.get());
                EcPointPtr pt(c ? ECPOINT_dup(c->P.get()) : nullptr);
                if (!pt || !ECPOINT_mul_base(pt.get(), k.get()) ||
                    ECPOINT_cmp(pt.get(), expect.get()) != 0)
                    ++failures;
                ECURVE_free(ref.get());
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(ref->references.load(), 1);
}

}  // namespace
}  // namespace cadb
