#include "crypto/pse/bn_mask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <thread>
#include <vector>

#include "crypto/core/err.h"

namespace cadb {
namespace {

using BnPtr = std::unique_ptr<BIGNUM, decltype(&BN_clear_free)>;

BnPtr from_hex(const char* hex) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, hex);
    return BnPtr(bn, BN_clear_free);
}

TEST(MaskedNumber, RoundTripKeepsValueAndHidesIt) {
    auto d = from_hex("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28");
    std::unique_ptr<BN_MASKED, decltype(&BN_MASKED_free)> m(BN_MASKED_new(), BN_MASKED_free);
    ASSERT_EQ(BN_mask(m.get(), d.get()), 1);

    std::vector<unsigned char> clear(32);
    BN_bn2lebinpad(d.get(), clear.data(), 32);
    EXPECT_EQ(std::search(m->value.begin(), m->value.end(), clear.begin(), clear.begin() + 4),
              m->value.end());

    BnPtr back(BN_unmask_dup(m.get()), BN_clear_free);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(BN_cmp(back.get(), d.get()), 0);
    // The record stays masked: a second copy works as well.
    BnPtr again(BN_unmask_dup(m.get()), BN_clear_free);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(BN_cmp(again.get(), d.get()), 0);

    std::unique_ptr<BN_MASKED, decltype(&BN_MASKED_free)> copy(BN_MASKED_dup(m.get()),
                                                               BN_MASKED_free);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy->mask, m->mask);
    BnPtr from_copy(BN_unmask_dup(copy.get()), BN_clear_free);
    EXPECT_EQ(BN_cmp(from_copy.get(), d.get()), 0);
}

TEST(MaskedNumber, ZeroAndNegative) {
    BN_MASKED m;
    BnPtr zero(BN_new(), BN_clear_free);
    BN_zero(zero.get());
    ASSERT_EQ(BN_mask(&m, zero.get()), 1);
    EXPECT_TRUE(m.mask.empty());
    BnPtr back(BN_unmask_dup(&m), BN_clear_free);
    ASSERT_NE(back, nullptr);
    EXPECT_TRUE(BN_is_zero(back.get()));

    auto neg = from_hex("-1234567890ABCDEF");
    ASSERT_EQ(BN_mask(&m, neg.get()), 1);
    BnPtr back_neg(BN_unmask_dup(&m), BN_clear_free);
    EXPECT_EQ(BN_cmp(back_neg.get(), neg.get()), 0);
}

TEST(MaskedNumber, DamageAndBadArguments) {
    auto d = from_hex("0102030405060708090A");
    BN_MASKED m;
    ASSERT_EQ(BN_mask(&m, d.get()), 1);
    m.value[3] ^= 1;
    ERR_set_last_error(0);
    EXPECT_EQ(BN_unmask_dup(&m), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);

    BN_MASKED empty;
    ERR_set_last_error(0);
    EXPECT_EQ(BN_unmask_dup(&empty), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(BN_unmask_dup(nullptr), nullptr);
    EXPECT_EQ(BN_mask(nullptr, d.get()), 0);
    EXPECT_EQ(BN_mask(&m, nullptr), 0);
    EXPECT_EQ(BN_MASKED_dup(nullptr), nullptr);
    BN_MASKED_free(nullptr);
}

TEST(MaskedNumber, ConcurrentMaskingDrawsDistinctMasks) {
    auto d = from_hex("FFEEDDCCBBAA99887766554433221100FFEEDDCCBBAA9988");
    std::vector<std::vector<unsigned char>> masks(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                BN_MASKED m;
                ASSERT_EQ(BN_mask(&m, d.get()), 1);
                BnPtr back(BN_unmask_dup(&m), BN_clear_free);
                ASSERT_EQ(BN_cmp(back.get(), d.get()), 0);
                if (i == 0) masks[t] = m.mask;
            }
        });
    }
    for (auto& t : threads) t.join();
    std::sort(masks.begin(), masks.end());
    EXPECT_EQ(std::adjacent_find(masks.begin(), masks.end()), masks.end());
}

}  // namespace
}  // namespace cadb
