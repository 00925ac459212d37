// Whole-file write, read, erase and size over every medium, and the
// directories a disk write needs.
#include "crypto/store/media_io.h"

#include <openssl/crypto.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/stale_temps.h"
#include "platform/paths.h"

namespace cadb {
namespace {

constexpr int kPiece = 4096;

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

bool is_token_medium(int kind) {
    return kind == BIO_MEDIUM_IBUTTON || kind == BIO_MEDIUM_ETR2 || kind == BIO_MEDIUM_ETOKEN ||
           kind == BIO_MEDIUM_RUTOKEN || kind == BIO_MEDIUM_IKEY;
}

// A normalised copy of a caller's path in a path buffer; false when the path
// is too long to hold.
bool normalised_copy(const char* path, std::array<char, kMaxPath>& out) {
    const std::size_t len = strnlen(path, kMaxPath);
    if (len >= kMaxPath) return false;
    std::memcpy(out.data(), path, len);
    out[len] = '\0';
    return BuildFilePath(out.data(), nullptr, nullptr, nullptr) != nullptr;
}

bool too_long(const char* path) { return strnlen(path, kMaxPath) >= kMaxPath; }

int fail(int func, int error_class, int result) {
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
    ERR_set_last_error(error_class);
    return result;
}

bool make_disk_dirs(const char* path) {
    const std::string_view text(path);
    const auto slash = text.rfind('\\');
    if (slash == std::string_view::npos) return true;  // no directory part
    const auto os = path_to_os(text.substr(0, slash == 0 ? 1 : slash), PathIntent::create);
    if (!os) return false;
    const std::string& dir = os->path;
    for (std::size_t pos = os->root_len + 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        const std::string prefix = dir.substr(0, pos);
        if (::access(prefix.c_str(), F_OK) == 0) continue;
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

int CADB_mkdir(const char* path) {
    if (path == nullptr) return fail(CADB_F_CADB_MKDIR, ERR_CLASS_FILE_IO, 0);
    if (is_token_medium(BIO_media_kind(path))) return 1;
    std::array<char, kMaxPath> copy{};
    if (!normalised_copy(path, copy) || !make_disk_dirs(copy.data()))
        return fail(CADB_F_CADB_MKDIR, ERR_CLASS_FILE_IO, 0);
    return 1;
}

int CADB_write_file(const char* path, const void* data, int len, std::uint32_t flags,
                    const void* credential) {
    return CADB_write_file_cb(path, data, len, flags, credential, nullptr, nullptr);
}

namespace {

int write_whole_file(const char* path, const void* data, int len, std::uint32_t flags,
                     const void* credential, pem_password_cb* cb, void* arg, bool make_dirs) {
    std::array<char, kMaxPath> copy{};
    if (path == nullptr || data == nullptr || len < 0 || !normalised_copy(path, copy))
        return fail(CADB_F_CADB_WRITE_FILE, ERR_CLASS_WRITE, 0);
    if (make_dirs && !CADB_mkdir(copy.data()))
        return fail(CADB_F_CADB_WRITE_FILE, ERR_CLASS_WRITE, 0);
    // A token driver makes the folders of a file it writes: into a folder
    // that is there only, the folder is looked for first.
    if (!make_dirs && is_token_medium(BIO_media_kind(copy.data()))) {
        std::string folder(copy.data());
        const auto slash = folder.rfind('\\');
        if (slash != std::string::npos && slash > 0 && folder[slash - 1] != ':') {
            folder.resize(slash);
            if (IsMediaDirectory(folder.c_str()) != 1)
                return fail(CADB_F_CADB_WRITE_FILE, ERR_CLASS_WRITE, 0);
        }
    }
    // What killed writers of such files left here goes first (it may be a
    // private key, and it takes room the new file may need).
    if (BIO_media_kind(copy.data()) == BIO_MEDIUM_DISK)
        if (const auto os = path_to_os(copy.data(), PathIntent::look))
            remove_stale_temps_beside(os->path);
    BioPtr bio(BIO_new_media_file_cb(copy.data(), "wb", flags, credential, cb, arg));
    if (!bio) return fail(CADB_F_CADB_WRITE_FILE, ERR_CLASS_WRITE, 0);
    // A stream whose write or commit failed is freed without committing: the
    // old file stays as it was.
    if ((len > 0 && BIO_write(bio.get(), data, len) != len) || BIO_flush(bio.get()) <= 0)
        return fail(CADB_F_CADB_WRITE_FILE, ERR_CLASS_WRITE, 0);
    return len;
}

}  // namespace

int CADB_write_file_cb(const char* path, const void* data, int len, std::uint32_t flags,
                       const void* credential, pem_password_cb* cb, void* arg) {
    return write_whole_file(path, data, len, flags, credential, cb, arg, true);
}

int CADB_write_file_plain(const char* path, const void* data, int len) {
    return CADB_write_file(path, data, len, 0, nullptr);
}

int CADB_write_file_in_dir(const char* path, const void* data, int len) {
    return write_whole_file(path, data, len, 0, nullptr, nullptr, nullptr, false);
}

int CADB_read_file(const char* path, void* buf, int max_len, std::uint32_t flags,
                   const void* credential) {
    if (path == nullptr || buf == nullptr || max_len < 0 || too_long(path))
        return fail(CADB_F_CADB_READ_FILE, ERR_CLASS_READ, -1);
    // A token medium's file is replaced by erasing it and writing it anew,
    // under the device's lock: a read held there too sees the old file or
    // the new one, never the gap or the zeros between them.
    MediaLock device;
    if (is_token_medium(BIO_media_kind(path)) && !device.acquire({path}, CADB_F_CADB_READ_FILE))
        return -1;
    BioPtr bio(BIO_new_media_file_ex(path, "rb", flags, credential));
    if (!bio) return fail(CADB_F_CADB_READ_FILE, ERR_CLASS_READ, -1);
    auto* out = static_cast<unsigned char*>(buf);
    int got = 0;
    while (got < max_len) {
        const int n = BIO_read(bio.get(), out + got, max_len - got);
        if (n == 0) break;
        if (n < 0 || n > max_len - got) return fail(CADB_F_CADB_READ_FILE, ERR_CLASS_READ, -1);
        got += n;
    }
    // A file longer than the caller's room is refused rather than cut: a
    // key cut short would be taken for a whole, damaged one.
    unsigned char more = 0;
    if (got == max_len && BIO_read(bio.get(), &more, 1) != 0) {
        OPENSSL_cleanse(out, static_cast<std::size_t>(got));
        return fail(CADB_F_CADB_READ_FILE, ERR_CLASS_READ, -1);
    }
    return got;
}

int CADB_read_file_plain(const char* path, void* buf, int max_len) {
    return CADB_read_file(path, buf, max_len, 0, nullptr);
}

long CADB_file_size_ex(const char* path, std::uint32_t flags, const void* credential) {
    if (path == nullptr || too_long(path)) return -1;
    const int kind = BIO_media_kind(path);
    if (!is_token_medium(kind)) {
        const auto os = path_to_os(path);
        struct stat st {};
        if (!os || ::stat(os->path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
        return static_cast<long>(st.st_size);
    }
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (driver == nullptr || driver->open_size == nullptr) return -1;
    BioPtr bio(BIO_new_media_file_ex(path, "rb", flags, credential));
    if (!bio) return -1;
    const long size = driver->open_size(bio.get());
    return size < 0 ? -1 : size;
}

long CADB_file_size(const char* path) { return CADB_file_size_ex(path, 0, nullptr); }

int CADB_erase_file(const char* path, std::uint32_t flags, const void* credential) {
    std::array<char, kMaxPath> copy{};
    if (path == nullptr || !normalised_copy(path, copy))
        return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    const char* target = copy.data();
    const int kind = BIO_media_kind(target);
    std::optional<OsPath> os;
    if (kind == BIO_MEDIUM_DISK) {
        // A refused path is no absent file: it is not reported erased.
        os = path_to_os(target);
        if (!os) return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
        // A link is removed; the file it points to is neither made writable
        // nor overwritten.
        struct stat st {};
        if (::lstat(os->path.c_str(), &st) == 0 && S_ISLNK(st.st_mode))
            return ::unlink(os->path.c_str()) == 0
                       ? 1
                       : fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    }
    SetMediaFileWritable(target, CADB_FILE_WRITABLE);
    if (!IsMediaPathPresent(target)) return 1;
    if (kind == BIO_MEDIUM_PKCS11)
        return PKCS11_file_erase(target) == 1 ? 1
                                              : fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (kind != BIO_MEDIUM_DISK && driver == nullptr)
        return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    const long size = CADB_file_size_ex(target, flags, credential);
    if (size < 0) return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    BioPtr bio(BIO_new_media_file_ex(target, "r+b", flags, credential));
    if (!bio) return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
    std::array<char, kPiece> piece{};
    if (kind != BIO_MEDIUM_DISK) {
        // The token drivers hold the file in memory: read it through first.
        while (BIO_read(bio.get(), piece.data(), kPiece) > 0) {
        }
        OPENSSL_cleanse(piece.data(), piece.size());
    }
    for (long left = size; left > 0;) {
        const int n = static_cast<int>(std::min<long>(left, kPiece));
        if (BIO_write(bio.get(), piece.data(), n) != n)
            return fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
        left -= n;
    }
    bool deleted = false;
    switch (kind) {
        case BIO_MEDIUM_DISK:
            // The zeros reach the disk before the name goes.
            deleted = BIO_flush(bio.get()) > 0;
            bio.reset();
            deleted = deleted && ::unlink(os->path.c_str()) == 0;
            break;
        case BIO_MEDIUM_IBUTTON:
            bio.reset();
            deleted = driver->delete_path != nullptr && driver->delete_path(target) == 1;
            break;
        default:
            deleted = driver->delete_open != nullptr && driver->delete_open(bio.get()) == 1;
            bio.reset();
            break;
    }
    return deleted ? 1 : fail(CADB_F_CADB_ERASE_FILE, ERR_CLASS_FILE_IO, 0);
}

int CADB_erase_file_plain(const char* path) { return CADB_erase_file(path, 0, nullptr); }

}  // namespace cadb
