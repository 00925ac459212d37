#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

BnPtr hex(const char* h) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, h);
    return BnPtr(bn);
}
BnPtr word(BN_ULONG w) {
    BnPtr bn = bn_new();
    BN_set_word(bn.get(), w);
    return bn;
}

// Checks every residue modulo a small prime against the Legendre symbol.
void check_exhaustive(BN_ULONG prime) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr p = word(prime), r = bn_new(), sq = bn_new();
    for (BN_ULONG v = 0; v < prime; ++v) {
        BnPtr a = word(v);
        const bool square = v == 0 || BN_kronecker(a.get(), p.get(), ctx.get()) == 1;
        for (int parity = 0; parity <= 1; ++parity) {
            ERR_clear_error();
            ASSERT_EQ(BN_sqrt(r.get(), a.get(), p.get(), parity), square ? 1 : 0)
                << v << " mod " << prime;
            if (!square) {
                EXPECT_EQ(ERR_code_func(ERR_peek_error()), BN_F_BN_SQRT);
                continue;
            }
            BN_mod_sqr(sq.get(), r.get(), p.get(), ctx.get());
            EXPECT_EQ(BN_cmp(sq.get(), a.get()), 0);
            if (v != 0) {
                EXPECT_EQ(BN_is_odd(r.get()), parity);
            }
        }
    }
}

TEST(BnSqrt, SmallPrimesOfEveryClass) {
    for (BN_ULONG p : {3, 7, 11, 19, 23, 43})  // 3 mod 4
        check_exhaustive(p);
    for (BN_ULONG p : {5, 13, 29, 37, 53})  // 5 mod 8
        check_exhaustive(p);
    for (BN_ULONG p : {17, 41, 73, 97, 113, 193, 257})  // 1 mod 8
        check_exhaustive(p);
}

TEST(BnSqrt, KnownSmallCases) {
    BnPtr r = bn_new(), p = word(7);
    ASSERT_EQ(BN_sqrt(r.get(), word(4).get(), p.get(), 0), 1);
    EXPECT_TRUE(BN_is_word(r.get(), 2));
    ASSERT_EQ(BN_sqrt(r.get(), word(4).get(), p.get(), 1), 1);
    EXPECT_TRUE(BN_is_word(r.get(), 5));
    BN_set_word(r.get(), 99);
    EXPECT_EQ(BN_sqrt(r.get(), word(3).get(), p.get(), 0), 0);
    EXPECT_TRUE(BN_is_word(r.get(), 99)) << "r must be left unchanged";
}

// Large primes: squares of random numbers come back with the asked parity,
// and numbers whose Legendre symbol is -1 are refused.
void check_large(const char* prime_hex) {
    testing::KernelRandom source;
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr p = hex(prime_hex), x = bn_new(), a = bn_new(), r = bn_new(), sq = bn_new();
    int non_residues = 0;
    for (int i = 0; i < 40; ++i) {
        BN_rand_range(x.get(), p.get());
        BN_mod_sqr(a.get(), x.get(), p.get(), ctx.get());
        const int parity = i & 1;
        ASSERT_EQ(BN_sqrt(r.get(), a.get(), p.get(), parity), 1);
        BN_mod_sqr(sq.get(), r.get(), p.get(), ctx.get());
        EXPECT_EQ(BN_cmp(sq.get(), a.get()), 0);
        EXPECT_EQ(BN_is_odd(r.get()), parity);

        BN_rand_range(a.get(), p.get());
        if (BN_kronecker(a.get(), p.get(), ctx.get()) == -1) {
            ++non_residues;
            EXPECT_EQ(BN_sqrt(r.get(), a.get(), p.get(), 0), 0);
        }
    }
    EXPECT_GT(non_residues, 0);
}

TEST(BnSqrt, PrimeThreeModFour) {
    check_large("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFD97");
}
TEST(BnSqrt, PrimeFiveModEight) {
    check_large("7FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFED");  // 2^255-19
}
TEST(BnSqrt, PrimeOneModEight) {
    // 2^224 - 2^96 + 1: p - 1 carries 96 factors of two, the hard case for
    // Tonelli-Shanks.
    check_large("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF000000000000000000000001");
}

TEST(BnSqrt, InputOutsideTheFieldIsReduced) {
    BnPtr p = word(7), r = bn_new();
    ASSERT_EQ(BN_sqrt(r.get(), word(11).get(), p.get(), 0), 1);  // 11 = 4
    EXPECT_TRUE(BN_is_word(r.get(), 2));
    BnPtr minus3 = word(3);
    BN_set_negative(minus3.get(), 1);  // -3 = 4
    ASSERT_EQ(BN_sqrt(r.get(), minus3.get(), p.get(), 1), 1);
    EXPECT_TRUE(BN_is_word(r.get(), 5));
    ASSERT_EQ(BN_sqrt(r.get(), word(14).get(), p.get(), 1), 1);  // 14 = 0
    EXPECT_TRUE(BN_is_zero(r.get()));
}

TEST(BnSqrt, HostileArguments) {
    BnPtr r = bn_new(), a = word(4);
    EXPECT_EQ(BN_sqrt(r.get(), a.get(), word(8).get(), 0), 0);
    EXPECT_EQ(BN_sqrt(r.get(), a.get(), word(1).get(), 0), 0);
    EXPECT_EQ(BN_sqrt(r.get(), a.get(), word(0).get(), 0), 0);
    EXPECT_EQ(BN_sqrt(nullptr, a.get(), word(7).get(), 0), 0);
    EXPECT_EQ(BN_sqrt(r.get(), nullptr, word(7).get(), 0), 0);
    EXPECT_EQ(BN_sqrt(r.get(), a.get(), nullptr, 0), 0);
    // An odd square "prime" has no non-residue to find; the call must end.
    EXPECT_EQ(BN_sqrt(r.get(), word(2).get(), word(17 * 17).get(), 0), 0);
}

}  // namespace
}  // namespace cadb
