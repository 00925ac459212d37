#include "crypto/bio/replace_temp.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <ctime>

namespace cadb {
namespace {

constexpr std::size_t kSuffix = 6;  // mkostemp's "XXXXXX"
// A cleaner may hold a new temporary for a moment before its writer locks
// it (and then finds it gone); a writer tries again that many times.
constexpr int kCreateTries = 8;

bool same_file(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether path still names the file open at fd.
bool still_named(int fd, const std::string& path) {
    struct stat open_st {};
    struct stat named_st {};
    return ::fstat(fd, &open_st) == 0 && ::lstat(path.c_str(), &named_st) == 0 &&
           same_file(open_st, named_st);
}

bool write_zeros(int fd, off_t size) {
    static const std::array<unsigned char, 4096> kZeros{};
    if (::lseek(fd, 0, SEEK_SET) != 0) return false;
    while (size > 0) {
        const auto n = static_cast<std::size_t>(std::min<off_t>(size, kZeros.size()));
        const ssize_t w = ::write(fd, kZeros.data(), n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        size -= w;
    }
    return ::fsync(fd) == 0;
}

}  // namespace

int replace_temp_create(const std::string& target, std::string& path) {
    const auto slash = target.rfind('/');
    std::string pattern = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    pattern += '.';
    pattern += slash == std::string::npos ? target : target.substr(slash + 1);
    pattern += ".XXXXXX";
    for (int tries = 0; tries < kCreateTries; ++tries) {
        std::string temp = pattern;
        const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
        if (fd < 0) return -1;
        int locked = -1;
        while ((locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (locked == 0 && still_named(fd, temp)) {
            path = std::move(temp);
            return fd;
        }
        // A cleaner took it for a leftover between its creation and the lock.
        ::close(fd);
        if (locked != 0) {
            ::unlink(temp.c_str());
            return -1;
        }
    }
    return -1;
}

std::string_view replace_temp_target(std::string_view entry) {
    if (entry.size() < 1 + 1 + 1 + kSuffix || entry.front() != '.' ||
        entry[entry.size() - kSuffix - 1] != '.')
        return {};
    const bool suffix_ok = std::all_of(entry.end() - kSuffix, entry.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    });
    if (!suffix_ok) return {};
    return entry.substr(1, entry.size() - kSuffix - 2);
}

bool replace_temp_of(std::string_view entry, std::string_view target_name) {
    return !target_name.empty() && replace_temp_target(entry) == target_name;
}

bool replace_temp_remove_stale(const std::string& path, std::chrono::seconds min_age) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    bool removed = false;
    const auto old_enough = [&st, min_age] {
        return min_age.count() <= 0 || std::time(nullptr) - st.st_mtime >= min_age.count();
    };
    // Only a file of this user, and only once no writer holds it.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        st.st_nlink == 1 && old_enough() && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
        still_named(fd, path)) {
        // The bytes go before the name: the file may hold a private key.
        write_zeros(fd, st.st_size);
        removed = ::unlink(path.c_str()) == 0;
    }
    ::close(fd);
    return removed;
}

}  // namespace cadb
