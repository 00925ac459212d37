#include "crypto/check/self_test.h"

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <thread>
#include <vector>

#include "crypto/check/self_test_data.h"
#include "crypto/core/err.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

struct Case {
    const char* name;
    GostSelfTest id;
    std::function<int(std::uint32_t marker)> check;  // runs the test on a context with marker
    std::uint32_t marker;
    int lib, func;
    unsigned char* answer;  // one byte of the expected answer
};

int with_cipher(int (*check)(const GOSTE*), std::uint32_t marker) {
    GOSTE ctx;
    ctx.marker = marker;
    return check(&ctx);
}

std::vector<Case> cases() {
    auto& d = gost_self_test_data();
    return {
        {"ecb", GOST_TEST_SS, [](std::uint32_t m) { return with_cipher(GOSTE_ss_check, m); },
         GOST_MARKER_SS, ERR_LIB_GOSTE, 102, &d.ecb[3]},
        {"counter", GOST_TEST_GAMMA,
         [](std::uint32_t m) { return with_cipher(GOSTE_gamma_check, m); }, GOST_MARKER_GAMMA,
         ERR_LIB_GOSTE, 103, &d.counter[12]},
        {"cfb", GOST_TEST_GAMMA_FB,
         [](std::uint32_t m) { return with_cipher(GOSTE_gamma_fb_check, m); }, GOST_MARKER_GAMMA_FB,
         ERR_LIB_GOSTE, 104, &d.cfb[9]},
        {"mac", GOST_TEST_MAC, [](std::uint32_t m) { return with_cipher(GOSTE_mac_check, m); },
         GOST_MARKER_MAC, ERR_LIB_GOSTE, 105, &d.mac[0]},
        {"hash", GOST_TEST_HASH,
         [](std::uint32_t m) {
             GOSTH h;
             h.marker = m;
             return GOSTH_check(&h);
         },
         GOST_MARKER_HASH, ERR_LIB_GOSTH, 106, &d.hash[31]},
    };
}

// Calls the test three times from a fresh start and returns how many times
// it really ran, trying again until the three calls fall inside one second
// of the clock, so that the once-a-second pacing is predictable.
long runs_of_three_calls(const Case& c) {
    for (;;) {
        GOST_self_test_reset_times();
        const std::time_t before = std::time(nullptr);
        const long runs = GOST_self_test_runs(c.id);
        const bool passed = c.check(0) && c.check(0) && c.check(0);
        if (std::time(nullptr) == before) return passed ? GOST_self_test_runs(c.id) - runs : -1;
    }
}

TEST(SelfTest, EachTestPassesAndRunsOncePerSecond) {
    for (const Case& c : cases()) EXPECT_EQ(runs_of_three_calls(c), 1) << c.name;
}

TEST(SelfTest, ContextMadeByATestIsNotTestedAgain) {
    for (const Case& c : cases()) {
        GOST_self_test_reset_times();
        const long runs = GOST_self_test_runs(c.id);
        EXPECT_EQ(c.check(c.marker), 1) << c.name;
        EXPECT_EQ(GOST_self_test_runs(c.id), runs) << c.name;
    }
    GOSTE skip;
    skip.options = GOSTE_OPT_NO_SS_CHECK;
    GOST_self_test_reset_times();
    const long runs = GOST_self_test_runs(GOST_TEST_SS);
    EXPECT_EQ(GOSTE_ss_check(&skip), 1);
    EXPECT_EQ(GOST_self_test_runs(GOST_TEST_SS), runs);
}

TEST(SelfTest, CorruptedAnswerFailsWithTheTestsCode) {
    for (const Case& c : cases()) {
        GOST_self_test_reset_times();
        ERR_clear_error();
        ERR_set_last_error(0);
        *c.answer ^= 0x40;
        EXPECT_EQ(c.check(0), 0) << c.name;
        *c.answer ^= 0x40;
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL) << c.name;
        EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(c.lib, c.func, ERR_R_SELF_TESTING_ERROR))
            << c.name;
        // A failed run is not remembered as a pass: the next call runs again
        // and, with the answer restored, passes.
        const long runs = GOST_self_test_runs(c.id);
        EXPECT_EQ(c.check(0), 1) << c.name;
        EXPECT_EQ(GOST_self_test_runs(c.id), runs + 1) << c.name;
    }
    ERR_clear_error();
}

TEST(SelfTest, CorruptedTestTableFailsEveryTest) {
    auto& d = gost_self_test_data();
    d.sbox[17] ^= 0x11;
    for (const Case& c : cases()) {
        GOST_self_test_reset_times();
        EXPECT_EQ(c.check(0), 0) << c.name;
    }
    d.sbox[17] ^= 0x11;
    GOST_self_test_reset_times();
    ERR_clear_error();
}

TEST(SelfTest, FailedTestMakesTheInitAndFinalFail) {
    auto& d = gost_self_test_data();
    const unsigned char key[32] = {1, 2, 3};
    GOST_self_test_reset_times();
    d.ecb[0] ^= 1;
    GOSTE ecb;
    EXPECT_EQ(GOSTE_ss_init(&ecb, 1, key, nullptr), 0);
    d.ecb[0] ^= 1;

    GOST_self_test_reset_times();
    d.counter[0] ^= 1;
    GOSTE counter;
    EXPECT_EQ(GOSTE_gamma_init(&counter, key, nullptr, nullptr), 0);
    d.counter[0] ^= 1;

    GOST_self_test_reset_times();
    GOSTE mac;
    ASSERT_EQ(GOSTE_mac_init(&mac, key, nullptr), 1);
    ASSERT_EQ(GOSTE_mac_process(&mac, key, 32), 32);
    GOST_self_test_reset_times();
    d.mac[1] ^= 1;
    unsigned char out[4];
    EXPECT_EQ(GOSTE_mac_final(&mac, out, 32), 0);
    d.mac[1] ^= 1;

    GOST_self_test_reset_times();
    d.hash[5] ^= 1;
    GOSTH h;
    EXPECT_EQ(GOSTH_init(&h, nullptr, nullptr), 0);
    d.hash[5] ^= 1;
    GOST_self_test_reset_times();
    ERR_clear_error();
}

TEST(SelfTest, ThreadsInOneSecondAllSeeAPass) {
    GOST_self_test_reset_times();
    std::vector<std::thread> threads;
    std::vector<int> results(16, -1);
    for (int i = 0; i < 16; ++i)
        threads.emplace_back([&results, i] {
            results[i] =
                GOSTE_mac_check(nullptr) && GOSTH_check(nullptr) && GOSTE_gamma_fb_check(nullptr);
        });
    for (auto& t : threads) t.join();
    for (int r : results) EXPECT_EQ(r, 1);
}

TEST(SelfTest, StartupCheckPasses) {
    EXPECT_EQ(GOST_startup_check(), 1);
    EXPECT_EQ(GOST_startup_check(), 1);
}

}  // namespace
}  // namespace cadb
