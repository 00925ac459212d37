// The key store's generator started from the random boards.
#include <algorithm>
#include <thread>

#include "crypto/rand/boards.h"
#include "crypto/rand/pse_rand.h"
#include "tests/grand/grand_fixture.h"

namespace cadb::test {
namespace {

using State = std::vector<unsigned char>;

TEST_F(KeyStoreRandTest, StartsFromTheKernelBoard) {
    ScopedEnv on(kNoOsRandomEnv, nullptr);
    EXPECT_EQ(PSE_rand_is_ready(), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_NO_RANDOM_METHOD);
    ASSERT_EQ(PSE_rand_init_device(nullptr), 1);
    // The absent vendor boards before it leave nothing behind.
    EXPECT_EQ(ERR_peek_error(), 0u);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
    EXPECT_EQ(PSE_rand_is_ready(), 1);
    EXPECT_EQ(PSE_rand_board(), RAND_BOARD_OS);
    unsigned char buf[64];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 64);
    EXPECT_EQ(PSE_rand_init_device(nullptr), 1);  // already ready
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());

    PSE_rand_cleanup();
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(PSE_rand_board(), 0);
    EXPECT_EQ(GRAND_status(), 0);
}

TEST_F(KeyStoreRandTest, WithoutBoardsNothingIsCurrentAndDrawsFail) {
    ScopedEnv off(kNoOsRandomEnv, "1");
    CADB_ERR(ERR_LIB_PSE, 1, 2);  // an earlier failure of the caller's
    EXPECT_EQ(PSE_rand_init_device(nullptr), 0);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(PSE_rand_board(), 0);
    // The caller's entry survives; the boards' own failures do not.
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, 1, 2));
    EXPECT_EQ(ERR_get_error(), 0u);
    unsigned char buf[16];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_NO_RANDOM_METHOD);
    EXPECT_EQ(PSE_rand_is_ready(), 0);
}

TEST_F(KeyStoreRandTest, DeviceFillsItsOutputEvenWhenReady) {
    ScopedEnv on(kNoOsRandomEnv, nullptr);
    ASSERT_EQ(PSE_rand_init_device(nullptr), 1);
    State a(32, 0), b(32, 0);
    ASSERT_EQ(PSE_rand_device(nullptr, a.data(), 32), 1);
    ASSERT_EQ(PSE_rand_device(nullptr, b.data(), 32), 1);
    EXPECT_NE(a, State(32, 0));
    EXPECT_NE(a, b);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());  // no board took over
}

TEST_F(KeyStoreRandTest, DeviceWalksOnlyTheBoardsItKnows) {
    ScopedEnv on(kNoOsRandomEnv, nullptr);
    State out(32, 0);
    const int unknown[] = {2, 7, 0};
    EXPECT_EQ(PSE_rand_device(unknown, out.data(), 32), 0);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    const int kernel_only[] = {9, RAND_BOARD_OS, 0};
    ASSERT_EQ(PSE_rand_device(kernel_only, out.data(), 32), 1);
    EXPECT_EQ(RAND_get_rand_method(), OS_get_rand_method());
    EXPECT_EQ(PSE_rand_board(), RAND_BOARD_OS);
    EXPECT_NE(out, State(32, 0));

    EXPECT_EQ(PSE_rand_device(nullptr, nullptr, 32), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_DEVICE, 35));
    EXPECT_EQ(PSE_rand_device(nullptr, out.data(), 0), 0);
}

TEST_F(KeyStoreRandTest, ConcurrentStartsMakeOneGenerator) {
    ScopedEnv on(kNoOsRandomEnv, nullptr);
    constexpr int kThreads = 6;
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            unsigned char buf[32];
            results[t] = PSE_rand_init_device(nullptr) && RAND_bytes(buf, sizeof buf) == 32;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_TRUE(std::all_of(results.begin(), results.end(), [](int r) { return r == 1; }));
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
}

}  // namespace
}  // namespace cadb::test
