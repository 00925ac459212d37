#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rand/rand.h"
#include "tests/rand/fake_source.h"

namespace cadb {
namespace {

using fake::LayerTest;

bool all_zero(const std::vector<unsigned char>& v) {
    return std::all_of(v.begin(), v.end(), [](unsigned char c) { return c == 0; });
}

std::vector<unsigned char> produced_range(std::size_t from, std::size_t n) {
    const auto& p = fake::state().produced;
    return {p.begin() + static_cast<long>(from), p.begin() + static_cast<long>(from + n)};
}

TEST_F(LayerTest, NoMethodMeansEveryCallFails) {
    unsigned char buf[16];
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_NO_RANDOM_METHOD);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 101, 100));
    EXPECT_EQ(RAND_seed(buf, sizeof buf), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 102, 100));
    EXPECT_EQ(RAND_init(buf, nullptr), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 103, 100));
    EXPECT_EQ(RAND_status(), 0);
    EXPECT_EQ(RAND_cleanup(), 0);
    EXPECT_EQ(RAND_operational_check(), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 121, 100));
    EXPECT_EQ(ERR_get_error(), 0UL);
}

TEST_F(LayerTest, SwitchingCleansUpThePreviousMethodOnce) {
    RAND_set_rand_method(&fake::kMethod);
    EXPECT_EQ(RAND_get_rand_method(), &fake::kMethod);
    RAND_set_rand_method(&fake::kMethod);
    EXPECT_EQ(fake::state().cleanups, 0);
    RAND_set_rand_method(&fake::kOther);
    EXPECT_EQ(fake::state().cleanups, 1);
    EXPECT_EQ(RAND_get_rand_method(), &fake::kOther);
    EXPECT_EQ(RAND_cleanup(), 1);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(fake::state().cleanups, 2);
}

TEST_F(LayerTest, RefusedCleanupKeepsTheMethodButSwitchingStillSwitches) {
    RAND_set_rand_method(&fake::kMethod);
    fake::state().cleanup_result = 0;
    EXPECT_EQ(RAND_cleanup(), 0);
    EXPECT_EQ(RAND_get_rand_method(), &fake::kMethod);
    RAND_set_rand_method(&fake::kOther);
    EXPECT_EQ(RAND_get_rand_method(), &fake::kOther);
    fake::state().cleanup_result = 1;
}

TEST_F(LayerTest, SeedAndInitForwardAndNullSlotsBehave) {
    unsigned char seed[32] = {};
    RAND_set_rand_method(&fake::kMethod);
    EXPECT_EQ(RAND_seed(seed, sizeof seed), 1);
    EXPECT_EQ(RAND_init(nullptr, nullptr), 1);
    EXPECT_EQ(fake::state().seeds, 1);
    EXPECT_EQ(fake::state().inits, 1);
    EXPECT_EQ(RAND_seed(nullptr, 4), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 102, 35));

    RAND_set_rand_method(&fake::kBare);
    EXPECT_EQ(RAND_seed(seed, sizeof seed), 1);
    EXPECT_EQ(RAND_init(nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 103, 34));
    // A method without a cleanup slot is always released.
    EXPECT_EQ(RAND_cleanup(), 1);
}

TEST_F(LayerTest, StatusFollowsTheSourceReadiness) {
    RAND_set_rand_method(&fake::kMethod);
    fake::state().ready = 0;
    EXPECT_EQ(RAND_status(), 0);
    fake::state().ready = 1;
    EXPECT_EQ(RAND_status(), 1);
    RAND_set_rand_method(&fake::kBare);
    EXPECT_EQ(RAND_status(), 1);
    RAND_set_rand_method(&fake::kUnusable);
    EXPECT_EQ(RAND_status(), 0);
    unsigned char buf[8];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_NO_RANDOM_METHOD);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 101, 102));
    EXPECT_EQ(fake::state().draws, 0);
}

TEST_F(LayerTest, PowerUpCheckRunsOncePerMethodWhenReady) {
    RAND_set_rand_method(&fake::kMethod);
    std::vector<unsigned char> buf(100);
    ASSERT_EQ(RAND_bytes(buf.data(), 100), 100);
    // One tested block, then the caller's bytes straight from the source.
    EXPECT_EQ(fake::state().draws, 2);
    EXPECT_EQ(buf, produced_range(RAND_STAT_BLOCK_SIZE, 100));
    ASSERT_EQ(RAND_bytes(buf.data(), 100), 100);
    EXPECT_EQ(fake::state().draws, 3);

    // Switching away and back makes the check due again.
    RAND_set_rand_method(&fake::kOther);
    RAND_set_rand_method(&fake::kMethod);
    ASSERT_EQ(RAND_bytes(buf.data(), 100), 100);
    EXPECT_EQ(fake::state().draws, 5);
}

TEST_F(LayerTest, UnreadySourceIsNotCheckedUntilReady) {
    RAND_set_rand_method(&fake::kMethod);
    fake::state().ready = 0;
    unsigned char buf[10];
    ASSERT_EQ(RAND_bytes(buf, sizeof buf), 10);
    EXPECT_EQ(fake::state().draws, 1);
    fake::state().ready = 1;
    ASSERT_EQ(RAND_bytes(buf, sizeof buf), 10);
    EXPECT_EQ(fake::state().draws, 3);
}

TEST_F(LayerTest, BrokenSourceFailsThePowerUpCheckAndStaysFailed) {
    fake::state().output = fake::Output::Zeros;
    RAND_set_rand_method(&fake::kMethod);
    unsigned char buf[10];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(fake::state().draws, 10);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 121, 102));
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 101, 102));
    EXPECT_EQ(RAND_status(), 0);
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(fake::state().draws, 10);
}

TEST_F(LayerTest, NineBadBlocksThenAGoodOnePassTheCheck) {
    fake::state().bad_blocks = 9;
    RAND_set_rand_method(&fake::kMethod);
    unsigned char buf[10];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 10);
    EXPECT_EQ(fake::state().draws, 11);
}

TEST_F(LayerTest, ShortCountIsAFailureAndTheBufferIsWiped) {
    RAND_set_rand_method(&fake::kMethod);
    unsigned char warm[1];
    ASSERT_EQ(RAND_bytes(warm, 1), 1);
    fake::state().output = fake::Output::Short;
    std::vector<unsigned char> buf(64, 0xEE);
    EXPECT_EQ(RAND_bytes(buf.data(), 64), 0);
    EXPECT_TRUE(all_zero(buf));
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 101, 69));
}

TEST_F(LayerTest, HostileArguments) {
    RAND_set_rand_method(&fake::kMethod);
    unsigned char buf[4];
    EXPECT_EQ(RAND_bytes(nullptr, 4), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(RAND_bytes(buf, -1), 0);
    EXPECT_EQ(RAND_seed(buf, -1), 0);
    ERR_clear_error();
    EXPECT_EQ(RAND_bytes(buf, 0), 0);
    EXPECT_EQ(ERR_get_error(), 0UL);
    EXPECT_EQ(fake::state().draws, 0);
}

TEST_F(LayerTest, CheckModeServesFromThePool) {
    RAND_set_operational_check(1);
    RAND_set_rand_method(&fake::kMethod);
    std::vector<unsigned char> first(3000);
    ASSERT_EQ(RAND_bytes(first.data(), 3000), 3000);
    EXPECT_EQ(fake::state().draws, 2);
    EXPECT_EQ(first, produced_range(0, 3000));

    // The 2,000 bytes left in the pool serve the next call.
    std::vector<unsigned char> second(2000);
    ASSERT_EQ(RAND_bytes(second.data(), 2000), 2000);
    EXPECT_EQ(fake::state().draws, 2);
    EXPECT_EQ(second, produced_range(3000, 2000));

    unsigned char one;
    ASSERT_EQ(RAND_bytes(&one, 1), 1);
    EXPECT_EQ(fake::state().draws, 3);
    EXPECT_EQ(one, fake::state().produced[5000]);
}

TEST_F(LayerTest, CheckModeSkipsFailingBlocks) {
    RAND_set_operational_check(1);
    fake::state().bad_blocks = 3;
    RAND_set_rand_method(&fake::kMethod);
    std::vector<unsigned char> buf(10);
    ASSERT_EQ(RAND_bytes(buf.data(), 10), 10);
    EXPECT_EQ(fake::state().draws, 4);
    EXPECT_EQ(buf, produced_range(3 * RAND_STAT_BLOCK_SIZE, 10));
}

TEST_F(LayerTest, CheckModeGivesUpAfterExactlyTenDraws) {
    RAND_set_operational_check(1);
    fake::state().output = fake::Output::Zeros;
    RAND_set_rand_method(&fake::kMethod);
    std::vector<unsigned char> buf(10, 0xEE);
    EXPECT_EQ(RAND_bytes(buf.data(), 10), 0);
    EXPECT_EQ(fake::state().draws, 10);
    EXPECT_TRUE(all_zero(buf));
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, 101, 69));
}

TEST_F(LayerTest, CheckModePartialDeliveryIsAFailure) {
    RAND_set_operational_check(1);
    RAND_set_rand_method(&fake::kMethod);
    unsigned char warm[1];
    ASSERT_EQ(RAND_bytes(warm, 1), 1);
    // 2,499 bytes wait in the pool; the next block is short.
    fake::state().output = fake::Output::Short;
    std::vector<unsigned char> buf(4000, 0xEE);
    EXPECT_EQ(RAND_bytes(buf.data(), 4000), 0);
    EXPECT_TRUE(all_zero(buf));
    EXPECT_EQ(fake::state().draws, 2);
}

TEST_F(LayerTest, ChangingTheMethodWipesThePool) {
    RAND_set_operational_check(1);
    RAND_set_rand_method(&fake::kMethod);
    unsigned char buf[100];
    ASSERT_EQ(RAND_bytes(buf, 100), 100);
    RAND_set_rand_method(&fake::kOther);
    ASSERT_EQ(RAND_bytes(buf, 100), 100);
    EXPECT_EQ(fake::state().draws, 2);
    EXPECT_TRUE(std::equal(buf, buf + 100, fake::state().produced.begin() + RAND_STAT_BLOCK_SIZE));
}

TEST_F(LayerTest, ThreadsShareOnePoolAndNeverEnterTheSourceTogether) {
    RAND_set_operational_check(1);
    RAND_set_rand_method(&fake::kMethod);
    constexpr int kThreads = 8, kCalls = 200, kLen = 100;
    std::vector<std::vector<unsigned char>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&got, t] {
            unsigned char buf[kLen];
            for (int i = 0; i < kCalls; ++i) {
                if (RAND_bytes(buf, kLen) != kLen) return;
                got[t].insert(got[t].end(), buf, buf + kLen);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_FALSE(fake::state().reentered);
    constexpr int kTotal = kThreads * kCalls * kLen;
    EXPECT_EQ(fake::state().draws, kTotal / RAND_STAT_BLOCK_SIZE);
    // Every byte drawn was handed out exactly once.
    std::vector<unsigned char> all;
    for (auto& g : got) all.insert(all.end(), g.begin(), g.end());
    auto expected = fake::state().produced;
    ASSERT_EQ(all.size(), expected.size());
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

}  // namespace
}  // namespace cadb
