#include "crypto/store/device_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <new>
#include <thread>
#include <unordered_map>

#include "crypto/core/err.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "platform/paths.h"

namespace cadb {
namespace {

constexpr std::size_t kFieldMax = 64;

// The device locks this thread holds, by lock file, with how many holders
// of the thread share each.
struct Held {
    int fd;
    int holders;
};
thread_local std::unordered_map<std::string, Held> t_held;

enum class Outcome { held, busy, unusable };

// Opens and locks path: a lock file that is not a regular file of this user
// (a symlink, a FIFO, another user's file) is refused rather than waited on.
Outcome lock_file(const std::string& path, int wait_ms, int* fd_out) {
    const int fd = ::open(path.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) return Outcome::unusable;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) {
        ::close(fd);
        return Outcome::unusable;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            *fd_out = fd;
            return Outcome::held;
        }
        const int error = errno;
        if (error != EWOULDBLOCK && error != EINTR) {
            ::close(fd);
            return Outcome::unusable;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            ::close(fd);
            return Outcome::busy;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool refuse(int func, int reason) {
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    CADB_ERR(ERR_LIB_CADB, func, reason);
    return false;
}

}  // namespace

bool DeviceLock::acquire(const std::string& name, int func) try {
    release();
    const std::string folder = lock_directory();
    if (folder.empty()) return refuse(func, CADB_R_NO_LOCK_FOLDER);
    std::string path = folder + "/" + name + ".lock";
    if (const auto it = t_held.find(path); it != t_held.end()) {
        ++it->second.holders;
        path_ = std::move(path);
        return true;
    }
    // The entry is made before the lock is taken, so that no failure after
    // the lock leaves it held with no one to release it.
    const auto entry = t_held.try_emplace(path, Held{-1, 0}).first;
    int fd = -1;
    const Outcome outcome = lock_file(path, pse_lock_wait(), &fd);
    if (outcome != Outcome::held) t_held.erase(entry);
    switch (outcome) {
        case Outcome::held:
            entry->second = Held{fd, 1};
            path_ = std::move(path);
            return true;
        case Outcome::busy:
            return refuse(func, CADB_R_KEY_STORE_BUSY);
        case Outcome::unusable:
            break;
    }
    return refuse(func, CADB_R_LOCK_FILE_UNUSABLE);
} catch (const std::bad_alloc&) {
    return refuse(func, ERR_R_MALLOC);
}

void DeviceLock::release() {
    if (path_.empty()) return;
    const auto it = t_held.find(path_);
    if (it != t_held.end() && --it->second.holders == 0) {
        ::flock(it->second.fd, LOCK_UN);
        ::close(it->second.fd);
        t_held.erase(it);
    }
    path_.clear();
}

void device_lock_name_add(std::string& name, std::string_view field) {
    while (!field.empty() && (field.back() == ' ' || field.back() == '\0')) field.remove_suffix(1);
    name += '-';
    for (const char c : field.substr(0, kFieldMax)) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '.' || c == '_';
        name += plain ? c : '_';
    }
}

}  // namespace cadb
