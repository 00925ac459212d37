#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "crypto/bio/etoken.h"
#include "crypto/bio/etoken_r2.h"
#include "crypto/bio/ikey.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken.h"
#include "crypto/bio/touch_memory.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/init/init.h"
#include "tests/drivers/token_fixture.h"

namespace cadb {
namespace {

TEST(TokenStartup, StartUpLoadsTheInstalledVendorLibrariesAndTheLastStopFreesThem) {
    {
        test::ScopedModulePath path(CADB_TEST_MODULES_DIR);
        ASSERT_EQ(CADB_init(), 1);
    }
    EXPECT_NE(BIO_media_driver(BIO_MEDIUM_ETOKEN), nullptr);
    EXPECT_NE(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
    EXPECT_NE(BIO_media_driver(BIO_MEDIUM_ETR2), nullptr);
    EXPECT_NE(BIO_media_driver(BIO_MEDIUM_IBUTTON), nullptr);
    // The iKey driver is the token administration program's to load.
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_IKEY), nullptr);
    // The eToken R2 library's functions print beside the other eToken
    // driver's, under codes of their own.
    EXPECT_EQ(std::string(ERR_func_error_string(
                  ERR_pack_code(ERR_LIB_ETOKEN, vendor::ETR2_F_INIT, 2))),
              "ETOKEN_init");
    EXPECT_EQ(std::string(ERR_func_error_string(
                  ERR_pack_code(ERR_LIB_ETOKEN, ETOKEN_F_BIND, 2))),
              "ETOKEN_bind");
    EXPECT_EQ(std::string(ERR_func_error_string(ERR_pack_code(ERR_LIB_BIO_, BIO_F_BIO_CTRL_, 2))),
              "BIO_ctrl");
    // The drivers' errors print with their names.
    EXPECT_EQ(std::string(ERR_func_error_string(
                  ERR_pack_code(ERR_LIB_BIO_, RUTOKEN_F_BIND, TOKEN_R_NO_TOKEN))),
              "RUTOKEN_bind");
    EXPECT_EQ(std::string(ERR_reason_error_string(
                  ERR_pack_code(ERR_LIB_ETOKEN, ETOKEN_F_LOGIN, TOKEN_R_PIN_TOO_LONG))),
              "PIN too long");
    EXPECT_EQ(std::string(ERR_func_error_string(
                  ERR_pack_code(ERR_LIB_RUTOKEN, RUTOKEN_F_FILE_INFO_NEW, 33))),
              "RUTOKEN_FILE_INFO_new");
    CADB_cleanup();
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_ETOKEN), nullptr);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
    EXPECT_EQ(RUTOKEN_loaded(), 0);
    EXPECT_EQ(ETR2_driver_loaded(), 0);
    EXPECT_EQ(TM_loaded(), 0);
}

TEST(TokenStartup, MissingVendorLibrariesLeaveNoErrorBehind) {
    test::TempDir empty;
    test::ScopedModulePath path(empty.path().string());
    ERR_clear_error();
    ASSERT_EQ(CADB_init(), 1);
    EXPECT_EQ(ERR_peek_error(), 0u);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_ETOKEN), nullptr);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_ETR2), nullptr);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_IBUTTON), nullptr);
    CADB_cleanup();
}

// Start-up and stop take lock 18 and, loading or unloading the touch-memory
// driver, the driver's own lock; an unload of that driver on another thread
// takes the same two, and must take them in the same order or the two
// threads can each hold the lock the other waits for.
TEST(TokenStartup, StartsAndStopsBesideTouchMemoryUnloadsWithoutDeadlock) {
    test::ScopedModulePath path(CADB_TEST_MODULES_DIR);
    auto both = std::async(std::launch::async, [] {
        std::thread unloader([] {
            for (int i = 0; i < 200; ++i) {
                TM_unload();
                TM_load();
            }
        });
        for (int i = 0; i < 20; ++i) {
            CADB_init();
            CADB_cleanup();
        }
        unloader.join();
    });
    // Work of a few seconds at most; a deadlock never ends, and the threads
    // it holds cannot be joined.
    if (both.wait_for(std::chrono::minutes(2)) != std::future_status::ready) {
        ADD_FAILURE() << "start-up and the touch-memory unload deadlocked";
        std::_Exit(1);
    }
    TM_unload();
    EXPECT_EQ(CADB_use_count(), 0);
}

}  // namespace
}  // namespace cadb
