// Path text of the file layer: building, splitting and comparing paths, and
// what a path names on its medium.
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"

namespace cadb {
namespace {

// The text of a caller's string, read no further than one byte past what a
// path may hold: a longer string is refused without being scanned to its end.
std::string_view bounded(const char* s) { return {s, strnlen(s, kMaxPath)}; }

bool copy_out(char* out, std::string_view text) {
    if (text.size() >= kMaxPath) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

bool is_token_medium(int kind) {
    return kind == BIO_MEDIUM_IBUTTON || kind == BIO_MEDIUM_ETR2 || kind == BIO_MEDIUM_ETOKEN ||
           kind == BIO_MEDIUM_RUTOKEN || kind == BIO_MEDIUM_IKEY;
}

}  // namespace

char* BuildFilePath(char* out, const char* dir, const char* name, const char* ext) {
    if (out == nullptr) return nullptr;
    std::string text;
    if (dir == nullptr && name == nullptr && ext == nullptr) {
        text = bounded(out);
    } else {
        if (dir != nullptr) {
            text = bounded(dir);
            // An empty directory adds no separator: "" and "x" make "x", not
            // the root's "\x".
            if (!text.empty() && text.back() != '\\' && text.back() != '/') text += '/';
        }
        if (name != nullptr) text += bounded(name);
        if (ext != nullptr) {
            if (ext[0] != '.') text += '.';
            text += bounded(ext);
        }
    }
    text = path_normalise(text);
    if (text.size() > 1 && text.back() == '\\') text.pop_back();
    return copy_out(out, text) ? out : nullptr;
}

int CADB_split_path(char* path, char* dir, char* name) {
    if (path == nullptr || dir == nullptr || name == nullptr) return 0;
    const std::string_view given = bounded(path);
    if (given.size() >= kMaxPath) return 0;
    std::replace(path, path + given.size(), '/', '\\');
    const auto slash = given.rfind('\\');
    if (slash != std::string_view::npos)
        return copy_out(dir, given.substr(0, slash)) && copy_out(name, given.substr(slash + 1));
    std::vector<char> cwd(4096);
    if (::getcwd(cwd.data(), cwd.size()) == nullptr) return 0;
    const std::string here = path_from_os(cwd.data());
    return copy_out(dir, here) && copy_out(name, given);
}

int CADB_is_media_path(const char* path) { return BIO_media_kind(path) != BIO_MEDIUM_DISK ? 1 : 0; }

int CADB_paths_overlap(const char* a, const char* b) {
    if (a == nullptr || b == nullptr || a[0] == '\0' || b[0] == '\0') return 0;
    auto full = [](const char* p) -> std::optional<std::string> {
        if (CADB_is_media_path(p)) {
            const std::string_view text = bounded(p);
            if (text.size() >= kMaxPath) return std::nullopt;
            return path_normalise(text);
        }
        return path_full(bounded(p));
    };
    const auto fa = full(a);
    const auto fb = full(b);
    if (!fa || !fb) return 0;
    const std::string& shorter = fa->size() <= fb->size() ? *fa : *fb;
    const std::string& longer = fa->size() <= fb->size() ? *fb : *fa;
    if (strncasecmp(shorter.c_str(), longer.c_str(), shorter.size()) != 0) return 0;
    // "a:\key" lies beside "a:\keys", not above it.
    return longer.size() == shorter.size() || shorter.back() == '\\' ||
                   longer[shorter.size()] == '\\'
               ? 1
               : 0;
}

int media_path_state(const char* path) {
    if (path == nullptr) return 0;
    if (BIO_media_is_pkcs11(path)) return PKCS11_file_exists(path);
    if (CADB_is_media_path(path)) {
        const BIO_MEDIA_DRIVER* driver = BIO_media_driver_of(path);
        if (driver == nullptr || driver->exists == nullptr) return -1;
        const int state = driver->exists(path);
        return state == 1 || state == 0 ? state : -1;
    }
    const auto os = path_to_os(bounded(path));
    return os && ::access(os->path.c_str(), F_OK) == 0 ? 1 : 0;
}

int IsMediaPathPresent(const char* path) { return media_path_state(path) == 1 ? 1 : 0; }

int IsMediaDirectory(const char* path) {
    if (path == nullptr) return 0;
    const int kind = BIO_media_kind(path);
    if (is_token_medium(kind)) {
        const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
        return driver != nullptr && driver->is_directory != nullptr &&
                       driver->is_directory(path) == 1
                   ? 1
                   : 0;
    }
    if (kind != BIO_MEDIUM_DISK) return 0;
    const auto os = path_to_os(bounded(path));
    struct stat st {};
    return os && ::stat(os->path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

int SetMediaFileWritable(const char* path, int mode) {
    if (path == nullptr) return 0;
    if (CADB_is_media_path(path)) return 1;
    const auto os = path_to_os(bounded(path));
    struct stat st {};
    if (!os || ::stat(os->path.c_str(), &st) != 0) return 0;
    mode_t bits = st.st_mode & 07777;
    if ((mode & CADB_FILE_WRITABLE) != 0) {
        bits |= S_IWUSR;
    } else {
        bits &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    }
    return ::chmod(os->path.c_str(), bits) == 0 ? 1 : 0;
}

}  // namespace cadb
