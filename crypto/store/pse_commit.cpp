// The key store's commit: temporary files, the commit record, recovery and
// the folder lock.
#include "crypto/store/pse_commit.h"

#include <dirent.h>
#include <fcntl.h>
#include <openssl/crypto.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "crypto/bio/replace_temp.h"

namespace cadb {
namespace {

// The record: this line, then for each file its temporary and its target,
// each ending in a zero byte, then kRecordEnd. Names in the store's folder
// are kept without it, so a folder moved with its files still recovers.
constexpr std::string_view kRecordHead = "cadb key store commit 1\n";
constexpr std::string_view kRecordEnd = "end";
// No record of a few files comes near this.
constexpr std::size_t kMaxRecord = 64 * 1024;

std::atomic<int> g_lock_wait_ms{kPseLockWaitMs};

std::string folder_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string join(const std::string& folder, const std::string& name) {
    return folder == "/" ? "/" + name : folder + "/" + name;
}

struct Fd {
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool sync_folder(const std::string& folder) {
    Fd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.fd >= 0 && ::fsync(fd.fd) == 0;
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

// A new temporary file ".<name>.XXXXXX" beside target holding data, synced;
// its path, or nothing (and no file left).
std::optional<std::string> stage(const std::string& target, std::span<const unsigned char> data) {
    std::string temp = join(folder_of(target), "." + name_of(target) + ".XXXXXX");
    Fd fd(::mkostemp(temp.data(), O_CLOEXEC));  // mode 0600
    if (fd.fd < 0) return std::nullopt;
    if (!write_all(fd.fd, data.data(), data.size()) || ::fsync(fd.fd) != 0) {
        pse_wipe_file(temp);
        return std::nullopt;
    }
    return temp;
}

void remove_temps_of(const std::string& target) {
    const std::string folder = folder_of(target);
    const std::string name = name_of(target);
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return;
    std::vector<std::string> found;
    while (const dirent* e = ::readdir(dir.get()))
        if (replace_temp_of(e->d_name, name)) found.emplace_back(e->d_name);
    dir.reset();
    // A temporary still held is a live writer's: the file layer writes some
    // of the store's files one by one (crypto/bio/replace_temp.h).
    for (const std::string& f : found) replace_temp_remove_stale(join(folder, f));
}

// The whole record file, or nothing when there is none; false in ok when it
// is there but cannot be read.
std::optional<std::string> read_record(const std::string& path, bool& ok) {
    ok = true;
    Fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    if (fd.fd < 0) {
        ok = errno == ENOENT;
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxRecord) {
        ok = false;
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t r = ::read(fd.fd, text.data() + got, text.size() - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<std::size_t>(r);
    }
    if (got != text.size()) {
        ok = false;
        return std::nullopt;
    }
    return text;
}

// The (temporary, target) pairs of a record; nothing when it is malformed.
std::optional<std::vector<std::pair<std::string, std::string>>> parse_record(
    std::string_view text, const std::string& folder) {
    if (text.substr(0, kRecordHead.size()) != kRecordHead) return std::nullopt;
    text.remove_prefix(kRecordHead.size());
    std::vector<std::string> fields;
    while (!text.empty()) {
        const auto zero = text.find('\0');
        if (zero == std::string_view::npos || zero == 0) return std::nullopt;
        fields.emplace_back(text.substr(0, zero));
        text.remove_prefix(zero + 1);
    }
    if (fields.empty() || fields.back() != kRecordEnd || fields.size() % 2 != 1)
        return std::nullopt;
    fields.pop_back();
    auto full = [&folder](const std::string& f) { return f[0] == '/' ? f : join(folder, f); };
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t i = 0; i < fields.size(); i += 2)
        pairs.emplace_back(full(fields[i]), full(fields[i + 1]));
    return pairs;
}

std::string record_text(const std::string& folder,
                        const std::vector<std::pair<std::string, std::string>>& pairs) {
    auto field = [&folder](const std::string& p) {
        return folder_of(p) == folder ? name_of(p) : p;
    };
    std::string text(kRecordHead);
    for (const auto& [temp, target] : pairs) {
        text += field(temp);
        text += '\0';
        text += field(target);
        text += '\0';
    }
    text += kRecordEnd;
    text += '\0';
    return text;
}

bool sync_folders_of(const std::vector<std::string>& paths) {
    std::set<std::string> folders;
    for (const std::string& p : paths) folders.insert(folder_of(p));
    bool ok = true;
    for (const std::string& f : folders) ok = sync_folder(f) && ok;
    return ok;
}

}  // namespace

PseFolderLock& PseFolderLock::operator=(PseFolderLock&& o) noexcept {
    if (this != &o) {
        release();
        fd_ = o.fd_;
        o.fd_ = -1;
    }
    return *this;
}

void pse_set_lock_wait(int ms) { g_lock_wait_ms.store(ms < 0 ? 0 : ms); }
int pse_lock_wait() { return g_lock_wait_ms.load(); }

bool PseFolderLock::acquire(const std::string& folder, int wait_ms) {
    release();
    return hold(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC), wait_ms);
}

bool PseFolderLock::hold(int fd, int wait_ms) {
    if (fd < 0) return false;
    // Each open is a lock of its own, so two contexts of one process
    // exclude each other as two processes do.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            fd_ = fd;
            return true;
        }
        if ((errno != EWOULDBLOCK && errno != EINTR) ||
            std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::close(fd);
    return false;
}

void PseFolderLock::release() {
    if (fd_ < 0) return;
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
    fd_ = -1;
}

bool pse_wipe_file(const std::string& path) {
    Fd fd(::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (fd.fd >= 0 && ::fstat(fd.fd, &st) == 0 && S_ISREG(st.st_mode)) {
        static const std::array<unsigned char, 4096> kZeros{};
        for (off_t left = st.st_size; left > 0;) {
            const auto n = static_cast<std::size_t>(std::min<off_t>(left, kZeros.size()));
            if (!write_all(fd.fd, kZeros.data(), n)) break;
            left -= static_cast<off_t>(n);
        }
        ::fsync(fd.fd);
    }
    return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

bool pse_commit_recover(const std::string& folder) {
    const std::string record = join(folder, kPseCommitRecord);
    bool ok = true;
    const std::optional<std::string> text = read_record(record, ok);
    if (!text) return ok;
    const auto pairs = parse_record(*text, folder);
    if (!pairs) return false;
    std::vector<std::string> touched;
    for (const auto& [temp, target] : *pairs) {
        struct stat st {};
        // A temporary file that is gone was renamed before the break.
        if (::lstat(temp.c_str(), &st) != 0) {
            if (errno != ENOENT) return false;
            continue;
        }
        if (::rename(temp.c_str(), target.c_str()) != 0) return false;
        touched.push_back(target);
    }
    if (!sync_folders_of(touched)) return false;
    if (::unlink(record.c_str()) != 0 && errno != ENOENT) return false;
    return sync_folder(folder);
}

void pse_commit_remove_stale(const std::string& folder, const std::vector<std::string>& targets) {
    for (const std::string& t : targets) remove_temps_of(t);
    remove_temps_of(join(folder, kPseCommitRecord));
}

bool pse_commit_write(const std::string& folder, std::span<const PseCommitFile> files) {
    for (const PseCommitFile& f : files) {
        struct stat st {};
        // As a single file: a read-only file or anything but a file stays.
        if (::stat(f.target.c_str(), &st) == 0 &&
            (!S_ISREG(st.st_mode) || (st.st_mode & S_IWUSR) == 0))
            return false;
    }
    std::vector<std::pair<std::string, std::string>> pairs;
    std::vector<std::string> temps;
    auto abandon = [&temps] {
        for (const std::string& t : temps) pse_wipe_file(t);
        return false;
    };
    for (const PseCommitFile& f : files) {
        std::optional<std::string> temp = stage(f.target, f.data);
        if (!temp) return abandon();
        temps.push_back(*temp);
        pairs.emplace_back(*temp, f.target);
    }
    if (!sync_folders_of(temps)) return abandon();
    const std::string text = record_text(folder, pairs);
    const std::string record = join(folder, kPseCommitRecord);
    std::optional<std::string> record_temp =
        stage(record, {reinterpret_cast<const unsigned char*>(text.data()), text.size()});
    if (!record_temp) return abandon();
    if (::rename(record_temp->c_str(), record.c_str()) != 0) {
        pse_wipe_file(*record_temp);
        return abandon();
    }
    // The record is the commit: from here on the change is finished, now or
    // by the next user of the store.
    sync_folder(folder);
    return pse_commit_recover(folder);
}

void pse_commit_erase(const std::string& folder, const std::vector<std::string>& targets) {
    pse_wipe_file(join(folder, kPseCommitRecord));
    sync_folder(folder);
    pse_commit_remove_stale(folder, targets);
}

}  // namespace cadb
