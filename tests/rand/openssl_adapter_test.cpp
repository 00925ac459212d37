// libcrypto's own draws come from the layer's current method.
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/err.h>

#include <memory>
#include <vector>

#include "crypto/rand/rand.h"
#include "tests/rand/fake_source.h"

namespace cadb {
namespace {

using fake::LayerTest;
using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_free)>;

BnPtr new_bn() { return {BN_new(), &BN_free}; }

TEST_F(LayerTest, BnRandTakesItsBytesFromTheCurrentMethod) {
    RAND_set_rand_method(&fake::kMethod);
    const auto before = fake::state().produced.size();
    BnPtr bn = new_bn();
    // 256 bits with no top or bottom bit forced: the value is the bytes drawn.
    ASSERT_EQ(BN_rand(bn.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 1);
    const auto& produced = fake::state().produced;
    ASSERT_GE(produced.size(), before + 32);
    std::vector<unsigned char> value(32);
    ASSERT_EQ(BN_bn2binpad(bn.get(), value.data(), 32), 32);
    EXPECT_TRUE(std::equal(value.begin(), value.end(), produced.end() - 32));

    std::vector<unsigned char> direct(16);
    ASSERT_EQ(::RAND_bytes(direct.data(), 16), 1);
    EXPECT_TRUE(std::equal(direct.begin(), direct.end(), produced.end() - 16));
}

TEST_F(LayerTest, PrimeGenerationRunsOnTheCurrentMethod) {
    RAND_set_rand_method(&fake::kMethod);
    BnPtr p = new_bn();
    ASSERT_EQ(BN_generate_prime_ex(p.get(), 128, 0, nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(BN_num_bits(p.get()), 128);
    EXPECT_GT(fake::state().draws, 0);
}

TEST_F(LayerTest, LibcryptoDrawsFailWithNoMethod) {
    RAND_install_openssl_adapter();
    BnPtr bn = new_bn();
    unsigned char buf[16];
    EXPECT_EQ(BN_rand(bn.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY), 0);
    EXPECT_EQ(::RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(::RAND_status(), 0);
    BnPtr p = new_bn();
    EXPECT_EQ(BN_generate_prime_ex(p.get(), 128, 0, nullptr, nullptr, nullptr), 0);
    ::ERR_clear_error();
}

TEST_F(LayerTest, LibcryptoSeedReachesTheMethodThroughACopy) {
    RAND_set_rand_method(&fake::kMethod);
    const unsigned char seed[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ::RAND_seed(seed, sizeof seed);
    ::RAND_add(seed, sizeof seed, 8.0);
    EXPECT_EQ(fake::state().seeds, 2);
    EXPECT_EQ(seed[7], 8);
}

}  // namespace
}  // namespace cadb
