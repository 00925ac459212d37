// A file written under a name nobody holds yet: how writers that pick the
// "next free" name of a folder at the same time still never share one.
#include <fcntl.h>
#include <openssl/crypto.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/pse_commit.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// No file a token medium holds is larger.
constexpr long kMaxUnwritten = 64 * 1024;

int fail() {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CADB_WRITE_FILE, ERR_R_INTERNAL);
    ERR_set_last_error(ERR_CLASS_WRITE);
    return 0;
}

bool write_all(int fd, const unsigned char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

void sync_folder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Puts the written temporary file under target unless target exists. The
// rename that refuses to replace is one step in the kernel; where the file
// system lacks it, a hard link, which never replaces either, does the same.
// 1 placed, -1 taken, 0 failed; the temporary name is gone in every case
// but a failure.
int place(const std::string& temp, const std::string& target) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return 1;
    if (errno == EEXIST) return -1;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return 0;
    if (::link(temp.c_str(), target.c_str()) != 0) return errno == EEXIST ? -1 : 0;
    // The file is now under both names: only the temporary name goes.
    ::unlink(temp.c_str());
    return 1;
}

int write_new_disk_file(const std::string& target, const void* data, int len) {
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) return -1;
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temp = folder + "." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // mode 0600
    if (fd < 0) return fail();
    // Held while it bears the temporary name, so that no one takes it for a
    // stopped writer's leftover.
    ::flock(fd, LOCK_EX);
    const bool written =
        write_all(fd, static_cast<const unsigned char*>(data), static_cast<std::size_t>(len)) &&
        ::fsync(fd) == 0;
    // The file stays open until it has its name, as every writer of a
    // temporary file keeps it.
    const int placed = written ? place(temp, target) : 0;
    // What did not reach its name may hold a key: it is wiped, not only
    // removed.
    if (placed != 1) pse_wipe_file(temp);
    ::close(fd);
    if (placed == 0) return fail();
    if (placed < 0) return -1;
    sync_folder(folder);
    return len;
}

// A file a writer created and died before writing (empty, or zero-filled
// where a device creates files at full size) holds no name: found under
// the device's lock, it is free. A file that cannot be read holds its name.
bool left_unwritten(const char* path) {
    const long size = CADB_file_size(path);
    if (size < 0 || size > kMaxUnwritten) return false;
    std::vector<unsigned char> bytes(static_cast<std::size_t>(size) + 1);
    ERR_set_mark();
    const int got = CADB_read_file_plain(path, bytes.data(), static_cast<int>(bytes.size()));
    ERR_pop_to_mark();
    if (got != size) return false;
    const bool unwritten =
        std::all_of(bytes.begin(), bytes.begin() + got, [](unsigned char b) { return b == 0; });
    OPENSSL_cleanse(bytes.data(), bytes.size());
    return unwritten;
}

}  // namespace

int CADB_write_new_file(const char* path, const void* data, int len) {
    std::array<char, kMaxPath> copy{};
    const std::size_t length = path != nullptr ? strnlen(path, kMaxPath) : kMaxPath;
    if (data == nullptr || len < 0 || length >= kMaxPath) return fail();
    std::memcpy(copy.data(), path, length + 1);
    if (BuildFilePath(copy.data(), nullptr, nullptr, nullptr) == nullptr) return fail();
    if (BIO_media_kind(copy.data()) != BIO_MEDIUM_DISK) {
        // A token medium cannot refuse a name by itself: the name is tested
        // and written under the device's lock, one writer after another.
        MediaLock device;
        if (!device.acquire({copy.data()}, CADB_F_CADB_WRITE_FILE)) return 0;
        // A name the medium cannot tell of may be taken: it is not written
        // over.
        const int state = media_path_state(copy.data());
        if (state < 0) return fail();
        if (state == 1 && !left_unwritten(copy.data())) return -1;
        return CADB_write_file_plain(copy.data(), data, len) == len ? len : 0;
    }
    if (!CADB_mkdir(copy.data())) return fail();
    const std::optional<OsPath> os = path_to_os(copy.data(), PathIntent::create);
    if (!os) return fail();
    return write_new_disk_file(os->path, data, len);
}

}  // namespace cadb
