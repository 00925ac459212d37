// The lock of a device that several processes share: taken again at once by
// the thread that holds it, waited on by every other thread, kept in a folder
// of the user's home, and a lock file that is not the user's own is reported
// as such, not as a busy device.
#include "crypto/store/device_lock.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <string>
#include <thread>

#include "crypto/core/err.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "platform/paths.h"

// What the password database makes of a look-up of this process: an entry
// that needs more room than g_entry_room, or a failure g_lookup_error.
namespace {
std::size_t g_entry_room = 0;
int g_lookup_error = 0;
}  // namespace

extern "C" int getpwuid_r(uid_t uid, passwd* entry, char* buffer, std::size_t size,
                          passwd** found) {
    using Real = int (*)(uid_t, passwd*, char*, std::size_t, passwd**);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "getpwuid_r"));
    if (size < g_entry_room || g_lookup_error != 0) {
        *found = nullptr;
        return size < g_entry_room ? ERANGE : g_lookup_error;
    }
    return real(uid, entry, buffer, size, found);
}

namespace cadb {
namespace {

namespace fs = std::filesystem;

int last_reason() {
    int reason = 0;
    for (unsigned long e; (e = ERR_get_error()) != 0;) reason = ERR_code_reason(e);
    return reason;
}

TEST(DeviceLock, TheHolderTakesItAgainAtOnceAndOtherThreadsWait) {
    pse_set_lock_wait(50);
    DeviceLock outer;
    ASSERT_TRUE(outer.acquire("device-test-nesting", CADB_F_PSE_CTX_WRITE));
    {
        DeviceLock inner;
        EXPECT_TRUE(inner.acquire("device-test-nesting", CADB_F_PSE_CTX_WRITE));
    }
    // The inner holder's release leaves the outer one's lock in place.
    int other = 0;
    std::thread([&] {
        DeviceLock lock;
        ERR_clear_error();
        other = lock.acquire("device-test-nesting", CADB_F_PSE_CTX_WRITE) ? 0 : last_reason();
    }).join();
    EXPECT_EQ(other, CADB_R_KEY_STORE_BUSY);
    outer.release();
    std::thread([&] {
        DeviceLock lock;
        other = lock.acquire("device-test-nesting", CADB_F_PSE_CTX_WRITE) ? 1 : 0;
    }).join();
    EXPECT_EQ(other, 1);
    pse_set_lock_wait(kPseLockWaitMs);
}

TEST(DeviceLock, LivesInTheHomeAndRefusesALockFileNotTheUsersOwn) {
    const passwd* pw = getpwuid(getuid());
    ASSERT_NE(pw, nullptr);
    const std::string folder = lock_directory();
    // No other user can make a folder in this user's home first.
    EXPECT_EQ(folder, std::string(pw->pw_dir) + "/.local/state/cadb-locks");
    struct stat st {};
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    const fs::path link = fs::path(folder) / "device-test-symlink.lock";
    fs::remove(link);
    fs::create_symlink("/dev/null", link);
    DeviceLock lock;
    ERR_clear_error();
    EXPECT_FALSE(lock.acquire("device-test-symlink", CADB_F_PSE_CTX_WRITE));
    EXPECT_EQ(last_reason(), CADB_R_LOCK_FILE_UNUSABLE);
    fs::remove(link);
}

// Every process of the user names one folder: an entry too large for the
// first room is read in a larger one, and a look-up that fails names none,
// never another folder.
TEST(DeviceLock, EveryProcessOfTheUserNamesOneFolderOrNone) {
    const std::string folder = lock_directory();
    ASSERT_FALSE(folder.empty());
    g_entry_room = 40000;
    EXPECT_EQ(lock_directory(), folder);
    g_entry_room = 0;
    g_lookup_error = EIO;
    EXPECT_EQ(lock_directory(), "");
    DeviceLock lock;
    ERR_clear_error();
    EXPECT_FALSE(lock.acquire("device-test-no-folder", CADB_F_PSE_CTX_WRITE));
    g_lookup_error = 0;
    EXPECT_EQ(last_reason(), CADB_R_NO_LOCK_FOLDER);
}

}  // namespace
}  // namespace cadb
