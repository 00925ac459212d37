#include <gtest/gtest.h>
#include <openssl/bn.h>

#include "crypto/bn/bn_ext.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/core/err.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

// Bytes 1, 2, 3, ... so that the byte order of the result is visible.
int counting_bytes(void* buf, int len) {
    auto* p = static_cast<unsigned char*>(buf);
    for (int i = 0; i < len; ++i) p[i] = static_cast<unsigned char>(i + 1);
    return len;
}
int failing_bytes(void*, int) { return 0; }
const RAND_METHOD kCounting = {nullptr, counting_bytes, nullptr, nullptr, nullptr, nullptr, 0};
const RAND_METHOD kFailing = {nullptr, failing_bytes, nullptr, nullptr, nullptr, nullptr, 0};

TEST(BnRandBytes, ReadsBigEndian) {
    RAND_set_rand_method(&kCounting);
    BnPtr r = bn_new();
    ASSERT_EQ(BN_rand_bytes(r.get(), 4), 1);
    EXPECT_TRUE(BN_is_word(r.get(), 0x01020304));
    ASSERT_EQ(BN_rand_bytes(r.get(), 0), 1);
    EXPECT_TRUE(BN_is_zero(r.get()));
    RAND_set_rand_method(nullptr);
}

TEST(BnRandBytes, GeneratorFailureLeavesResultUnchanged) {
    BnPtr r = bn_new();
    BN_set_word(r.get(), 77);
    RAND_set_rand_method(&kFailing);
    ERR_clear_error();
    EXPECT_EQ(BN_rand_bytes(r.get(), 32), 0);
    EXPECT_TRUE(BN_is_word(r.get(), 77));
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(ERR_LIB_BN_, BN_F_BN_RAND_BYTES, ERR_LIB_RAND_));
    RAND_set_rand_method(nullptr);
    EXPECT_EQ(BN_rand_bytes(r.get(), 32), 0) << "no random method";
    EXPECT_EQ(BN_rand_bytes(nullptr, 32), 0);
    EXPECT_EQ(BN_rand_bytes(r.get(), -1), 0);
}

TEST(BnRandBytes, LengthBound) {
    testing::KernelRandom source;
    BnPtr r = bn_new();
    int top_byte_used = 0;
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(BN_rand_bytes(r.get(), 32), 1);
        EXPECT_LE(BN_num_bytes(r.get()), 32);
        top_byte_used += BN_num_bytes(r.get()) == 32;
    }
    EXPECT_GT(top_byte_used, 32);
}

TEST(BnRandBelow, RangeAndRefusals) {
    testing::KernelRandom source;
    BnPtr r = bn_new(), q = bn_new(), two = bn_new();
    BIGNUM* qp = q.get();
    ASSERT_GT(BN_hex2bn(&qp, "98915E7EC8265EDFCDA31E88F24809DDB064BDC7285DD50D7289F0AC6F49DD2D"),
              0);
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(BN_rand_below(r.get(), q.get()), 1);
        ASSERT_FALSE(BN_is_zero(r.get()));
        ASSERT_LT(BN_cmp(r.get(), q.get()), 0);
    }
    // q = 2 leaves only 1.
    BN_set_word(two.get(), 2);
    ASSERT_EQ(BN_rand_below(r.get(), two.get()), 1);
    EXPECT_TRUE(BN_is_one(r.get()));
    ERR_clear_error();
    EXPECT_EQ(BN_rand_below(r.get(), BN_value_one()), 0);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(ERR_LIB_BN_, BN_F_BN_RAND_BELOW, 35));
    EXPECT_EQ(BN_rand_below(nullptr, q.get()), 0);
    EXPECT_EQ(BN_rand_below(r.get(), nullptr), 0);
    RAND_set_rand_method(&kFailing);
    EXPECT_EQ(BN_rand_below(r.get(), q.get()), 0);
    RAND_set_rand_method(nullptr);
    ERR_clear_error();
}

// A draw of q's own length reduced mod q makes the numbers below
// 2^(8n) - q twice as likely as the rest: with q = 192, one byte reduced
// gives 0..63 twice as often as 64..191. With the extra bytes every number
// comes out in proportion.
TEST(BnRandBelow, NoFoldingBias) {
    testing::KernelRandom source;
    BnPtr r = bn_new(), q = bn_new();
    BN_set_word(q.get(), 0xC0);
    int low = 0;
    constexpr int kDraws = 20000;
    for (int i = 0; i < kDraws; ++i) {
        ASSERT_EQ(BN_rand_below(r.get(), q.get()), 1);
        low += BN_get_word(r.get()) < 64;
    }
    // Uniform on [1, 192): 63/191 of the draws fall below 64 (about 6,597;
    // the folded draw would give about 9,950). Six standard deviations.
    EXPECT_NEAR(low, kDraws * 63.0 / 191.0, 6 * 67.0);
}

}  // namespace
}  // namespace cadb
