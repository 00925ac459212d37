// The fixed-width fields of the constant-time multiply against big-number
// arithmetic: every operation on operands at the edges of the field (0, 1,
// p - 1, values whose sums and differences wrap) and on random ones.
#include "crypto/ecgost/ec_ct_field.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_ct_pm_field.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using ec::ct::Fe;

BnPtr bn(const Fe<4>& a) {
    BnPtr r = bn_new();
    EXPECT_TRUE(ec::ct::fe_to_bn(r.get(), a));
    return r;
}

Fe<4> fe(const BIGNUM* a) {
    Fe<4> r{};
    EXPECT_TRUE(ec::ct::fe_from_bn(r, a));
    return r;
}

// Operands: small numbers, numbers just below p and 2^255 around, and
// random ones.
std::vector<BnPtr> operands(const BIGNUM* p) {
    std::vector<BnPtr> out;
    for (BN_ULONG w : {0u, 1u, 2u, 3u, 617u, 0xFFFFFFFFu}) {
        BnPtr v = bn_new();
        BN_set_word(v.get(), w);
        out.push_back(std::move(v));
    }
    for (BN_ULONG d : {1, 2, 617, 618}) {
        BnPtr v(BN_dup(p));
        BN_sub_word(v.get(), d);
        out.push_back(std::move(v));
    }
    BnPtr half = bn_new();
    BN_set_bit(half.get(), 255);
    out.push_back(BnPtr(BN_dup(half.get())));
    BN_sub_word(half.get(), 1);
    out.push_back(std::move(half));
    for (int i = 0; i < 6; ++i) out.push_back(testing::random_below(p));
    return out;
}

// Both fields on one prime, ordinary residues in and out.
template <class Field>
void expect_arithmetic(const BIGNUM* p) {
    BnCtxPtr ctx(BN_CTX_new());
    Field f;
    ASSERT_TRUE(f.init(p, ctx.get()));
    const auto ops = operands(p);
    auto in = [&](const BIGNUM* v) {
        Fe<4> r;
        f.to_field(r, fe(v));
        return r;
    };
    auto out = [&](const Fe<4>& v) {
        Fe<4> r;
        f.from_field(r, v);
        return bn(r);
    };
    BnPtr want = bn_new();
    for (const auto& a : ops) {
        Fe<4> r;
        f.sqr(r, in(a.get()));
        ASSERT_TRUE(BN_mod_sqr(want.get(), a.get(), p, ctx.get()));
        EXPECT_EQ(BN_cmp(out(r).get(), want.get()), 0);
        f.inv(r, in(a.get()));
        if (BN_is_zero(a.get())) {
            EXPECT_TRUE(BN_is_zero(out(r).get()));
        } else {
            ASSERT_TRUE(BN_mod_inverse(want.get(), a.get(), p, ctx.get()));
            EXPECT_EQ(BN_cmp(out(r).get(), want.get()), 0);
        }
        for (const auto& b : ops) {
            f.mul(r, in(a.get()), in(b.get()));
            ASSERT_TRUE(BN_mod_mul(want.get(), a.get(), b.get(), p, ctx.get()));
            EXPECT_EQ(BN_cmp(out(r).get(), want.get()), 0);
            f.add(r, in(a.get()), in(b.get()));
            ASSERT_TRUE(BN_mod_add(want.get(), a.get(), b.get(), p, ctx.get()));
            EXPECT_EQ(BN_cmp(out(r).get(), want.get()), 0);
            f.sub(r, in(a.get()), in(b.get()));
            ASSERT_TRUE(BN_mod_sub(want.get(), a.get(), b.get(), p, ctx.get()));
            EXPECT_EQ(BN_cmp(out(r).get(), want.get()), 0);
        }
    }
}

BnPtr prime_of(int code) {
    EcCurvePtr c(ECURVE_new_by_code(code));
    return BnPtr(BN_dup(c->p.get()));
}

TEST(ConstantTimeFields, PrimeJustBelowTwoTo256) {
    const BnPtr p = prime_of(ECURVE_CODE_CRYPTOPRO_A);
    ASSERT_TRUE(ec::ct::PseudoMersenneField::suits(p.get()));
    expect_arithmetic<ec::ct::PseudoMersenneField>(p.get());
    expect_arithmetic<ec::ct::Field<4>>(p.get());
    // Multiplying by a word, as by a small curve coefficient.
    BnCtxPtr ctx(BN_CTX_new());
    ec::ct::PseudoMersenneField f;
    ASSERT_TRUE(f.init(p.get(), ctx.get()));
    BnPtr want = bn_new();
    for (const auto& a : operands(p.get())) {
        for (BN_ULONG w : {0u, 1u, 166u, 498u, 0xFFFFFFFFu}) {
            Fe<4> r;
            f.mul_word(r, fe(a.get()), w);
            ASSERT_TRUE(BN_copy(want.get(), a.get()) && BN_mul_word(want.get(), w) &&
                        BN_nnmod(want.get(), want.get(), p.get(), ctx.get()));
            EXPECT_EQ(BN_cmp(bn(r).get(), want.get()), 0) << w;
        }
    }
}

// The inverse comes by a chain of squarings and multiplications shaped by
// the prime's low bits: other primes 2^256 - c with short and long runs of
// low bits, and many random values besides the edge ones.
TEST(ConstantTimeFields, InverseOnPrimesJustBelowTwoTo256) {
    BnCtxPtr ctx(BN_CTX_new());
    for (BN_ULONG c : {617u, 189u, 0x7FFFFFFDu, 0xFFFFFE69u}) {
        SCOPED_TRACE(c);
        BnPtr p = bn_new();
        ASSERT_TRUE(BN_set_bit(p.get(), 256) && BN_sub_word(p.get(), c));
        ASSERT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);
        ASSERT_TRUE(ec::ct::PseudoMersenneField::suits(p.get()));
        if (c != 617u) expect_arithmetic<ec::ct::PseudoMersenneField>(p.get());
        ec::ct::PseudoMersenneField f;
        ASSERT_TRUE(f.init(p.get(), ctx.get()));
        BnPtr want = bn_new();
        for (int i = 0; i < 200; ++i) {
            const BnPtr a = testing::random_below(p.get());
            if (BN_is_zero(a.get())) continue;
            Fe<4> r = fe(a.get());
            f.inv(r, r);  // in place, as the callers use it
            ASSERT_TRUE(BN_mod_inverse(want.get(), a.get(), p.get(), ctx.get()));
            EXPECT_EQ(BN_cmp(bn(r).get(), want.get()), 0);
        }
    }
}

TEST(ConstantTimeFields, OtherPrimesTakeTheMontgomeryField) {
    for (int code :
         {ECURVE_CODE_CRYPTOPRO_B, ECURVE_CODE_CRYPTOPRO_C, ECURVE_CODE_P256, ECURVE_CODE_TEST}) {
        SCOPED_TRACE(code);
        const BnPtr p = prime_of(code);
        EXPECT_FALSE(ec::ct::PseudoMersenneField::suits(p.get()));
        expect_arithmetic<ec::ct::Field<4>>(p.get());
    }
}

}  // namespace
}  // namespace cadb
