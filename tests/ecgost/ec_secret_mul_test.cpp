// The constant-time multiply for secret scalars gives exactly the points of
// the general multiply, on every curve, form and kind of input point.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/crypto.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_local.h"
#include "crypto/ecgost/ec_params.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using testing::base_copy;
using testing::octets;
using testing::random_below;

// Both multiplies on copies of pt; the affine encodings must agree.
void expect_same(const ECPOINT* pt, const BIGNUM* k) {
    EcPointPtr plain(ECPOINT_dup(pt)), secret(ECPOINT_dup(pt));
    ASSERT_EQ(ECPOINT_mul(plain.get(), k), 1);
    ASSERT_EQ(ECPOINT_mul_secret(secret.get(), k), 1);
    char* hex = BN_bn2hex(k);
    EXPECT_EQ(octets(secret.get(), false), octets(plain.get(), false)) << "k = " << hex;
    OPENSSL_free(hex);
    EXPECT_EQ(secret->form, pt->curve->form);
}

// Scalars at the edges of the digit ranges and of the order: signed 5-bit
// digits of 15, 16 and 17 (-15 and a carry up), runs that carry through
// many digits.
std::vector<BnPtr> edge_scalars(const ECURVE* c) {
    std::vector<BnPtr> out;
    for (const char* hex :
         {"0", "1", "2", "F", "10", "11", "1F", "20", "21", "FF", "100", "210", "3FF", "2108421"}) {
        BIGNUM* bn = nullptr;
        BN_hex2bn(&bn, hex);
        out.emplace_back(bn);
    }
    for (long delta : {-2L, -1L, 0L, 1L}) {
        BnPtr k(BN_dup(c->q.get()));
        if (delta < 0) BN_sub_word(k.get(), static_cast<BN_ULONG>(-delta));
        if (delta > 0) BN_add_word(k.get(), static_cast<BN_ULONG>(delta));
        out.push_back(std::move(k));
    }
    // All ones over the order's length, and one bit longer than the order.
    BnPtr ones = bn_new(), longer = bn_new();
    BN_set_bit(ones.get(), BN_num_bits(c->q.get()));
    BN_sub_word(ones.get(), 1);
    BN_set_bit(longer.get(), BN_num_bits(c->q.get()) + 3);
    BN_add_word(longer.get(), 5);
    out.push_back(std::move(ones));
    out.push_back(std::move(longer));
    BnPtr negative = random_below(c->q.get());
    BN_set_negative(negative.get(), 1);
    out.push_back(std::move(negative));
    return out;
}

class EveryCurveAndForm : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(EveryCurveAndForm, AgreesWithTheGeneralMultiply) {
    const auto [code, form] = GetParam();
    EcCurvePtr c(ECURVE_init(ECURVE_params_by_code(code), form));
    ASSERT_TRUE(c);
    // The base point, a point in Jacobian form with Z != 1, and infinity.
    EcPointPtr other = base_copy(c.get());
    ASSERT_EQ(ECPOINT_mul(other.get(), random_below(c->q.get()).get()), 1);
    EcPointPtr inf(ECPOINT_new(c.get()));
    ASSERT_EQ(ECPOINT_set_infinity(inf.get()), 1);
    for (const ECPOINT* pt : {c->P.get(), other.get(), inf.get()}) {
        for (const BnPtr& k : edge_scalars(c.get())) expect_same(pt, k.get());
        for (int i = 0; i < 8; ++i) expect_same(pt, random_below(c->q.get()).get());
    }
}

// A point of odd order never leaves the constant-time path for the
// general multiply, whose time follows the scalar: infinity met on the way
// (leading zero digits, k = 0, k = q) included.
TEST_P(EveryCurveAndForm, OddOrderPointsStayInConstantTime) {
    const auto [code, form] = GetParam();
    EcCurvePtr c(ECURVE_init(ECURVE_params_by_code(code), form));
    ASSERT_TRUE(c);
    EcPointPtr other = base_copy(c.get());
    ASSERT_EQ(ECPOINT_mul(other.get(), random_below(c->q.get()).get()), 1);
    EcPointPtr inf(ECPOINT_new(c.get()));
    ASSERT_EQ(ECPOINT_set_infinity(inf.get()), 1);
    for (const ECPOINT* pt : {c->P.get(), other.get(), inf.get()}) {
        std::vector<BnPtr> scalars = edge_scalars(c.get());
        for (int i = 0; i < 8; ++i) scalars.push_back(random_below(c->q.get()));
        for (const BnPtr& k : scalars) {
            EcPointPtr r(ECPOINT_dup(pt));
            EXPECT_EQ(ec::mul_secret_constant_time(r.get(), k.get()), 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, EveryCurveAndForm,
                         ::testing::Combine(::testing::ValuesIn(testing::kAllCodes),
                                            ::testing::Values(EC_FORM_PROJECTIVE, EC_FORM_AFFINE)));

// The verification product z1·P + z2·Q equals the sum of the two general
// multiplies, equal and opposite terms and infinity included.
TEST_P(EveryCurveAndForm, PublicDoubleProductAgrees) {
    const auto [code, form] = GetParam();
    EcCurvePtr c(ECURVE_init(ECURVE_params_by_code(code), form));
    ASSERT_TRUE(c);
    EcPointPtr other = base_copy(c.get());
    ASSERT_EQ(ECPOINT_mul(other.get(), random_below(c->q.get()).get()), 1);
    EcPointPtr inf(ECPOINT_new(c.get()));
    ASSERT_EQ(ECPOINT_set_infinity(inf.get()), 1);
    BnPtr zero = bn_new(), one = bn_new(), qm1(BN_dup(c->q.get()));
    BN_one(one.get());
    BN_sub_word(qm1.get(), 1);
    auto check = [&](const BIGNUM* z1, const ECPOINT* Q, const BIGNUM* z2) {
        EcPointPtr want = base_copy(c.get()), second(ECPOINT_dup(Q));
        ASSERT_EQ(ECPOINT_mul_base(want.get(), z1), 1);
        ASSERT_EQ(ECPOINT_mul(second.get(), z2), 1);
        ASSERT_EQ(ECPOINT_add(want.get(), second.get()), 1);
        EcPointPtr got(ECPOINT_new(c.get()));
        ASSERT_EQ(ECPOINT_mul2_public(got.get(), z1, Q, z2), 1);
        EXPECT_EQ(octets(got.get(), false), octets(want.get(), false));
    };
    for (const ECPOINT* Q : {c->P.get(), other.get(), inf.get()}) {
        for (const BIGNUM* z1 : {zero.get(), one.get(), qm1.get()})
            for (const BIGNUM* z2 : {zero.get(), one.get(), qm1.get()}) check(z1, Q, z2);
        for (int i = 0; i < 6; ++i)
            check(random_below(c->q.get()).get(), Q, random_below(c->q.get()).get());
    }
}

// y^2 = x^3 - 3x + 3 over the prime 2^18 - 5: 4·65449 points in a group
// with a cyclic part of order 4, so that the doublings kept for a = -3
// meet points of order 2 and 4 as well.
const EC_PARAMS kMinusThreeCofactorFour = {
    0, "3FFFB", "3FFF8", "3", "04" "1FB7F" "3F4D7", "FFA9", "4", nullptr, nullptr, nullptr};

// Points with a component of order 2 or 4 on curves with cofactor 4: the
// complete formulas do not hold for them, and the result still matches.
TEST(SecretMul, PointsOutsideTheOddSubgroupStillMultiplyRight) {
    for (const EC_PARAMS* set : {ec_params_self_test(), &kMinusThreeCofactorFour}) {
        EcCurvePtr c(ECURVE_new_from_params(set));
        ASSERT_TRUE(c);
        EXPECT_EQ((c->flags & ECURVE_FLAG_A_IS_MINUS_3) != 0, set == &kMinusThreeCofactorFour);
        int tried = 0;
        for (unsigned v = 1; v < 200 && tried < 6; ++v) {
            EcPointPtr pt(ECPOINT_new(c.get()));
            BN_set_word(pt->x.get(), v);
            if (!ECPOINT_derive(pt.get(), c.get(), 0)) continue;
            ++tried;
            for (const BnPtr& k : edge_scalars(c.get())) expect_same(pt.get(), k.get());
            for (int i = 0; i < 4; ++i) expect_same(pt.get(), random_below(c->q.get()).get());
        }
        EXPECT_EQ(tried, 6);
    }
}

TEST(SecretMul, RefusesMissingArguments) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    EcPointPtr pt = base_copy(c.get());
    EXPECT_EQ(ECPOINT_mul_secret(nullptr, c->q.get()), 0);
    EXPECT_EQ(ECPOINT_mul_secret(pt.get(), nullptr), 0);
    EcPointPtr loose(ECPOINT_new(nullptr));
    EXPECT_EQ(ECPOINT_mul_secret(loose.get(), c->q.get()), 0);
}

// Threads share the per-curve tables: first use from many threads at once,
// and curves made afresh, all give the same points.
TEST(SecretMul, ConcurrentFirstUse) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
    BnPtr k = random_below(c->q.get());
    EcPointPtr want = base_copy(c.get());
    ASSERT_EQ(ECPOINT_mul(want.get(), k.get()), 1);
    const auto expected = octets(want.get(), false);
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i) {
                EcCurvePtr own(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
                EcPointPtr pt = base_copy(own.get());
                if (!ECPOINT_mul_secret(pt.get(), k.get()) || octets(pt.get(), false) != expected)
                    ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
}  // namespace cadb
