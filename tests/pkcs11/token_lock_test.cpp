// The lock of a token: one token is one lock whichever module file reaches
// it, and a hold sees what another user of the token wrote before it, even
// where the module shows a writer only its own writes. A second copy of
// SoftHSM2's module plays the other process: it keeps a token view of its own
// over the same token folder.
#include "crypto/tokenstore/token_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "tests/pkcs11/token_support.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLabel = "lock-view-test";

PKCS11_TEMPLATE_ptr data_labelled() {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_data());
    PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, kLabel);
    return t;
}

void create_data(PKCS11_OBJ* ctx, const char* value) {
    PKCS11_TEMPLATE_ptr t = data_labelled();
    PKCS11_TEMPLATE_add_bool(t.get(), CKA_TOKEN, true);
    PKCS11_TEMPLATE_add_text(t.get(), CKA_VALUE, value);
    ASSERT_EQ(PKCS11_OBJ_create(ctx, t.get()), 1);
}

std::size_t data_count(PKCS11_OBJ* ctx) {
    std::vector<CK_OBJECT_HANDLE> found;
    PKCS11_TEMPLATE_ptr t = data_labelled();
    EXPECT_TRUE(pkcs11::find_all(ctx, t.get(), &found));
    return found.size();
}

// The module's file copied under another name, found on the module path.
fs::path twin_dir() {
    return fs::temp_directory_path() / ("cadb-twin-" + std::to_string(getpid()));
}

std::string twin_module() {
    const fs::path dir = twin_dir();
    fs::create_directories(dir);
    fs::copy_file(std::string(testing::kSoftHsmDir) + "/libsofthsm2.so", dir / "libsofthsm2twin.so",
                  fs::copy_options::overwrite_existing);
    const std::string path = dir.string() + ":" + std::getenv("CADB_MODULE_PATH");
    setenv("CADB_MODULE_PATH", path.c_str(), 1);
    return "pkcs11:\\softhsm2twin";
}

TEST(TokenLock, OneTokenIsOneLockThroughEitherModuleAndAHoldSeesTheOthersWrites) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr mine = testing::logged_in();
    const std::string twin_path = twin_module();
    PKCS11_OBJ_ptr other = testing::logged_in(twin_path.c_str());
    ASSERT_TRUE(mine && other);

    // Seen, then written by the other view, then this view writes its own:
    // its search after that write would miss the other's object.
    EXPECT_EQ(data_count(mine.get()), 0u);
    create_data(other.get(), "theirs");
    {
        TokenLock lock;
        ASSERT_TRUE(lock.acquire(mine.get(), CADB_F_PSE_CTX_WRITE));
        create_data(mine.get(), "mine");
        EXPECT_EQ(data_count(mine.get()), 2u);

        pse_set_lock_wait(50);
        int reason = 0;
        std::thread([&] {
            TokenLock twin;
            ERR_clear_error();
            if (twin.acquire(other.get(), CADB_F_PSE_CTX_WRITE)) return;
            for (unsigned long e; (e = ERR_get_error()) != 0;) reason = ERR_code_reason(e);
        }).join();
        pse_set_lock_wait(kPseLockWaitMs);
        EXPECT_EQ(reason, CADB_R_KEY_STORE_BUSY);
    }
    TokenLock after;
    EXPECT_TRUE(after.acquire(other.get(), CADB_F_PSE_CTX_WRITE));
    std::vector<CK_OBJECT_HANDLE> found;
    PKCS11_TEMPLATE_ptr t = data_labelled();
    ASSERT_TRUE(pkcs11::find_all(other.get(), t.get(), &found));
    for (CK_OBJECT_HANDLE h : found) {
        other->object = h;
        EXPECT_EQ(PKCS11_OBJ_destroy(other.get()), 1);
    }
    fs::remove_all(twin_dir());
}

}  // namespace
}  // namespace cadb
