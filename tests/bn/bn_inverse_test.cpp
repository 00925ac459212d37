#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

BnPtr word(BN_ULONG w) {
    BnPtr bn = bn_new();
    BN_set_word(bn.get(), w);
    return bn;
}

TEST(BnBinaryInverse, KnownCases) {
    BnPtr r = bn_new();
    ASSERT_EQ(BN_mod_binary_inverse(r.get(), word(3).get(), word(7).get()), 1);
    EXPECT_TRUE(BN_is_word(r.get(), 5));
    BN_set_word(r.get(), 42);
    ERR_clear_error();
    EXPECT_EQ(BN_mod_binary_inverse(r.get(), word(0).get(), word(7).get()), 0);
    EXPECT_EQ(ERR_peek_error(),
              ERR_pack_code(ERR_LIB_BN_, BN_F_BN_MOD_BINARY_INVERSE, BN_R_NO_INVERSE));
    EXPECT_EQ(BN_mod_binary_inverse(r.get(), word(21).get(), word(7).get()), 0);
    EXPECT_TRUE(BN_is_word(r.get(), 42)) << "r must be left unchanged";
    EXPECT_EQ(BN_mod_binary_inverse(r.get(), word(6).get(), word(9).get()), 0);
    EXPECT_EQ(BN_mod_binary_inverse(r.get(), word(3).get(), word(1).get()), 0);
    EXPECT_EQ(BN_mod_binary_inverse(r.get(), word(3).get(), word(0).get()), 0);
    EXPECT_EQ(BN_mod_binary_inverse(nullptr, word(3).get(), word(7).get()), 0);
    ASSERT_EQ(BN_mod_binary_inverse(r.get(), word(1).get(), word(2).get()), 1);
    EXPECT_TRUE(BN_is_one(r.get()));
}

// Agrees with libcrypto's inverse on random inputs, for odd and even moduli
// of several sizes, negative and oversized inputs included.
TEST(BnBinaryInverse, AgreesWithLibcrypto) {
    testing::KernelRandom source;
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr m = bn_new(), a = bn_new(), r = bn_new(), expect = bn_new();
    int compared = 0;
    for (int bits : {2, 63, 64, 65, 128, 255, 256, 257, 512, 1024}) {
        for (int i = 0; i < 30; ++i) {
            BN_rand(m.get(), bits, BN_RAND_TOP_ONE,
                    i % 3 ? BN_RAND_BOTTOM_ODD : BN_RAND_BOTTOM_ANY);
            BN_rand(a.get(), bits + (i % 5 == 0 ? 40 : 0), BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
            if (i % 7 == 0) BN_set_negative(a.get(), 1);
            ERR_set_mark();
            const bool exists =
                BN_mod_inverse(expect.get(), a.get(), m.get(), ctx.get()) != nullptr;
            ERR_pop_to_mark();
            ::ERR_clear_error();
            const bool trivial = BN_is_one(m.get());
            ASSERT_EQ(BN_mod_binary_inverse(r.get(), a.get(), m.get()), exists && !trivial ? 1 : 0);
            if (exists && !trivial) {
                EXPECT_EQ(BN_cmp(r.get(), expect.get()), 0);
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 100);
}

TEST(BnBinaryInverse, ResultMayAliasInput) {
    BnPtr a = word(3), m = word(7);
    ASSERT_EQ(BN_mod_binary_inverse(a.get(), a.get(), m.get()), 1);
    EXPECT_TRUE(BN_is_word(a.get(), 5));
}

}  // namespace
}  // namespace cadb
