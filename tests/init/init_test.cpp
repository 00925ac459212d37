#include "crypto/init/init.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <array>
#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/rand/boards.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

const char* reason_text(int lib, int reason) {
    return ERR_reason_error_string(ERR_pack_code(lib, 0, reason));
}

// Every test starts and ends with the library stopped and the kernel's
// random source allowed.
class Startup : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv(kNoOsRandomEnv);
        stop_all();
    }
    void TearDown() override {
        unsetenv(kNoOsRandomEnv);
        stop_all();
    }
    static void stop_all() {
        while (CADB_use_count() > 0) CADB_cleanup();
        ERR_clear_error();
    }
};

TEST_F(Startup, CountsUsersAndTheLastCleanupStops) {
    ASSERT_EQ(CADB_init(), 1);
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(CADB_use_count(), 2);

    CADB_cleanup();
    EXPECT_EQ(CADB_use_count(), 1);
    EXPECT_STREQ(reason_text(ERR_LIB_PSE, ERR_R_INTERNAL), "internal error");
    EXPECT_NE(RAND_get_rand_method(), nullptr);

    ERR_put_error(ERR_LIB_CADB, 1, ERR_R_INTERNAL, __FILE__, __LINE__);
    CADB_cleanup();
    EXPECT_EQ(CADB_use_count(), 0);
    EXPECT_EQ(reason_text(ERR_LIB_PSE, ERR_R_INTERNAL), nullptr);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(PSE_rand_board(), 0);
    // The stopping thread's error state goes with the library.
    EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST_F(Startup, StartsAgainAfterAStopWithItsErrorTexts) {
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(CADB_init(), 1) << round;
        EXPECT_STREQ(reason_text(ERR_LIB_CADB, ERR_R_INTERNAL), "internal error") << round;
        EXPECT_STREQ(reason_text(ERR_LIB_CADB, ERR_LIB_PSE), "PSE lib") << round;
        EXPECT_STREQ(ERR_lib_error_string(ERR_pack_code(ERR_LIB_GOSTE, 0, 0)), "GOSTE routines");
        CADB_cleanup();
    }
}

TEST_F(Startup, CleanupWithoutAUserDoesNothing) {
    CADB_cleanup();
    EXPECT_EQ(CADB_use_count(), 0);
    ASSERT_EQ(CADB_init(), 1);
    CADB_cleanup();
    CADB_cleanup();
    EXPECT_EQ(CADB_use_count(), 0);
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(CADB_use_count(), 1);
}

TEST_F(Startup, KernelSourceSeedsTheKeyStoreGenerator) {
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
    EXPECT_EQ(RAND_status(), 1);
    EXPECT_EQ(PSE_rand_board(), RAND_BOARD_OS);
    std::array<unsigned char, 64> a{}, b{};
    ASSERT_EQ(RAND_bytes(a.data(), static_cast<int>(a.size())), 64);
    ASSERT_EQ(RAND_bytes(b.data(), static_cast<int>(b.size())), 64);
    EXPECT_NE(a, b);
}

TEST_F(Startup, StartsWithoutAnyBoardAndLeavesNoError) {
    setenv(kNoOsRandomEnv, "1", 1);
    ERR_set_last_error(ERR_CLASS_NONE);
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(RAND_status(), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_NONE);
    unsigned char byte = 0;
    EXPECT_EQ(RAND_bytes(&byte, 1), 0);
}

TEST_F(Startup, AStartedMethodIsReplacedByNoneAtStart) {
    setenv(kNoOsRandomEnv, "1", 1);
    RAND_set_rand_method(OS_get_rand_method());
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
}

TEST_F(Startup, PublishesTheGostRecords) {
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_NE(EVP_get_cipherbyname("rus-cfb"), nullptr);
    EXPECT_NE(EVP_get_digestbyname("RUS-HASH-CP"), nullptr);
}

TEST_F(Startup, FailedStartupCheckLeavesTheLibraryStoppedWithItsReasons) {
    ASSERT_EQ(GOSTE_check_tables(), 1);  // remembers the tables as they are
    auto* table = const_cast<GOSTE_TABLE*>(GOSTE_static_table(GOSTE_get_cp_sbox_A()));
    auto* byte = reinterpret_cast<unsigned char*>(table->mid) + 77;
    *byte ^= 0x01;
    const int started = CADB_init();
    *byte ^= 0x01;
    ASSERT_EQ(started, 0);
    EXPECT_EQ(CADB_use_count(), 0);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);

    // The texts stay so that the caller can print why.
    unsigned long e = 0;
    std::string last;
    while (unsigned long next = ERR_get_error()) {
        e = next;
        last = ERR_error_string(e, nullptr);
    }
    EXPECT_EQ(e, ERR_pack_code(ERR_LIB_GOSTE, 104, ERR_R_INTERNAL));
    EXPECT_EQ(last, "error:4806800C:GOSTE routines:GOSTE_gamma_fb_check:internal error");

    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(CADB_use_count(), 1);
}

TEST_F(Startup, ThreadsStartingAndStoppingAlwaysSeeARunningLibrary) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 40;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < kRounds; ++i) {
                if (CADB_init() != 1) ++failures;
                // While this thread counts as a user the library runs.
                if (CADB_use_count() < 1 || reason_text(ERR_LIB_PSE, ERR_LIB_PSE) == nullptr ||
                    RAND_status() != 1)
                    ++failures;
                CADB_cleanup();
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(CADB_use_count(), 0);
}

TEST(BytesReverse, ReversesInPlaceAndIgnoresEmptyInput) {
    unsigned char odd[] = {1, 2, 3, 4, 5};
    EXPECT_EQ(bytes_reverse(odd, 5), odd);
    EXPECT_EQ(std::basic_string<unsigned char>(odd, 5),
              (std::basic_string<unsigned char>{5, 4, 3, 2, 1}));
    unsigned char even[] = {1, 2, 3, 4};
    bytes_reverse(even, 4);
    EXPECT_EQ(std::basic_string<unsigned char>(even, 4),
              (std::basic_string<unsigned char>{4, 3, 2, 1}));
    unsigned char one[] = {9, 8};
    bytes_reverse(one, 1);
    EXPECT_EQ(one[0], 9);
    bytes_reverse(one, 0);
    bytes_reverse(one, -3);
    EXPECT_EQ(one[0], 9);
    EXPECT_EQ(one[1], 8);
    EXPECT_EQ(bytes_reverse(nullptr, 4), nullptr);
}

TEST_F(Startup, LastCleanupReleasesTheTokenModulesLoadedMeanwhile) {
    setenv("CADB_MODULE_PATH", CADB_TEST_MODULES_DIR, 1);
    ASSERT_EQ(CADB_init(), 1);
    PKCS11_MODULE_ptr held(PKCS11_MODULE_get_by_name("cadbfakep11"));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->references, 2);  // the registry's and ours
    ASSERT_EQ(CADB_init(), 1);
    CADB_cleanup();
    EXPECT_EQ(held->references, 2);  // one user still runs the library
    CADB_cleanup();
    EXPECT_EQ(held->references, 1);  // the registry let go; ours stays valid
    unsetenv("CADB_MODULE_PATH");
}

}  // namespace
}  // namespace cadb
