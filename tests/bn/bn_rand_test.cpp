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

}  // namespace
}  // namespace cadb
