#include <gtest/gtest.h>

#include <string>

#include "crypto/bio/etoken.h"
#include "crypto/bio/etoken_r2.h"
#include "crypto/bio/ikey.h"
#include "crypto/bio/touch_memory.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken.h"
#include "crypto/cadb/init.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
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

}  // namespace
}  // namespace cadb
