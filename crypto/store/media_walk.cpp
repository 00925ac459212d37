// Directory walks over every medium.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
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

constexpr int kDirectoryExtension = 127;

struct Walk {
    int flags;
    CADB_WALK_CB cb;
    void* user;

    bool recurse() const { return (flags & CADB_WALK_RECURSE) != 0; }
    bool directories() const { return (flags & CADB_WALK_DIRECTORIES) != 0; }
    // Names the rest of the layer cannot hold are passed over.
    bool report(const std::string& name) const {
        return name.size() >= kMaxPath || cb(name.c_str(), user) != 0;
    }
};

std::string join(std::string_view dir, std::string_view name) {
    std::string out(dir);
    if (!out.empty() && out.back() != '\\') out += '\\';
    out.append(name);
    return out;
}

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// The system's wildcards: '*' any run, '?' one character, letters without
// case; "*.*" also matches names without a dot.
bool matches(std::string_view pattern, std::string_view name) {
    if (pattern == "*.*") pattern = "*";
    std::size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(name[n]))) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

bool walk_disk_dir(const std::string& dir, std::string_view pattern, const Walk& walk) {
    const auto os = path_to_os(dir);
    if (!os) return false;
    std::unique_ptr<DIR, DirCloser> handle(opendir(os->path.c_str()));
    if (!handle) return false;
    std::vector<std::string> names;
    while (const dirent* entry = readdir(handle.get())) {
        const std::string_view name(entry->d_name);
        if (name != "." && name != "..") names.emplace_back(name);
    }
    handle.reset();
    std::sort(names.begin(), names.end());
    struct Found {
        std::string name;
        bool directory;  // followed through links, for reporting
        bool walkable;   // a real directory, not a link to one
    };
    std::vector<Found> found;
    for (std::string& name : names) {
        const std::string full = os->path + "/" + name;
        struct stat st {};
        struct stat lst {};
        const bool directory = ::stat(full.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        const bool walkable = ::lstat(full.c_str(), &lst) == 0 && S_ISDIR(lst.st_mode);
        found.push_back({std::move(name), directory, walkable});
    }
    if (walk.recurse()) {
        for (const Found& f : found) {
            if (!f.walkable) continue;
            const std::string sub = join(dir, f.name);
            if (sub.size() < kMaxPath && !walk_disk_dir(sub, pattern, walk)) return false;
        }
    }
    for (const Found& f : found) {
        if (f.directory && !walk.directories()) continue;
        if (matches(pattern, f.name) && !walk.report(join(dir, f.name))) return false;
    }
    return true;
}

bool walk_disk(const char* path, const Walk& walk) {
    std::array<char, kMaxPath> copy{};
    const std::size_t len = strnlen(path, kMaxPath);
    if (len >= kMaxPath) return false;
    std::memcpy(copy.data(), path, len);
    std::string dir = path_normalise(std::string_view(copy.data(), len));
    std::string pattern = "*";
    const auto os = path_to_os(dir);
    if (!os) return false;
    struct stat st {};
    if (::stat(os->path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) return walk.report(dir);
    } else {
        std::array<char, kMaxPath> dir_out{};
        std::array<char, kMaxPath> name_out{};
        if (!CADB_split_path(copy.data(), dir_out.data(), name_out.data())) return false;
        const bool rooted = copy[0] == '\\';
        dir = dir_out.data();
        pattern = name_out.data();
        if (dir.empty() && rooted) dir = "\\";
    }
    if (!dir.empty() && dir.back() == ':') dir += '\\';
    return walk_disk_dir(dir, pattern, walk);
}

struct Entry {
    std::string name;
    int extension;
    bool directory;
};

int collect(const BIO_MEDIA_ENTRY* entry, void* arg) {
    if (entry == nullptr || entry->name == nullptr) return 1;
    static_cast<std::vector<Entry>*>(arg)->push_back(
        {entry->name, entry->extension, entry->is_directory != 0});
    return 1;
}

// A touch-memory name: the entry's name up to its first blank, and its
// numeric extension in three digits unless it is 0. A directory is named by
// its bare name, which is how a path addresses it.
std::string button_name(const Entry& e) {
    std::string name = e.name.substr(0, e.name.find(' '));
    if (e.extension != 0 && !e.directory) {
        char ext[8];
        std::snprintf(ext, sizeof ext, ".%03i", e.extension & 0xFF);
        name += ext;
    }
    return name;
}

bool walk_token(const BIO_MEDIA_DRIVER& driver, bool button, const std::string& dir,
                const Walk& walk) {
    std::vector<Entry> entries;
    if (driver.list_dir == nullptr || driver.list_dir(dir.c_str(), collect, &entries) != 1)
        return false;
    for (Entry& e : entries) {
        if (button && e.extension == kDirectoryExtension) e.directory = true;
    }
    if (walk.recurse() && !button) {
        for (const Entry& e : entries) {
            const std::string sub = join(dir, e.name);
            if (e.directory && sub.size() < kMaxPath && !walk_token(driver, button, sub, walk))
                return false;
        }
    }
    for (const Entry& e : entries) {
        if (e.directory && !walk.directories()) continue;
        if (!walk.report(join(dir, button ? button_name(e) : e.name))) return false;
    }
    return true;
}

// A token's objects are listed by kind. Flags that name a kind are the
// token's own and pass unchanged (the object layer walks key folders so);
// the walk's own flags are translated: recursion lists every object, not
// only the direct children, and as a token has no folders the bit for them
// goes; the objects listed are the keys, found by their public halves,
// which need no login.
int pkcs11_walk_flags(int flags) {
    constexpr int kKinds = PKCS11_WALK_PRIVATE_KEYS | PKCS11_WALK_USER_CERTS |
                           PKCS11_WALK_CA_CERTS | PKCS11_WALK_PUBLIC_KEYS |
                           PKCS11_WALK_CERTIFICATES;
    if ((flags & kKinds) != 0) return flags;
    return PKCS11_WALK_PUBLIC_KEYS | ((flags & CADB_WALK_RECURSE) != 0 ? PKCS11_WALK_ALL : 0) |
           (flags & PKCS11_WALK_USER_IS_PIN_ARG);
}

}  // namespace

int CADB_walk_dir(const char* path, int flags, CADB_WALK_CB cb, void* user) {
    if (path == nullptr || cb == nullptr || strnlen(path, kMaxPath) >= kMaxPath) return 0;
    const Walk walk{flags, cb, user};
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_DISK) return walk_disk(path, walk) ? 1 : 0;
    if (kind == BIO_MEDIUM_PKCS11)
        return PKCS11_walk_dir(path, pkcs11_walk_flags(flags), cb, user) == 1 ? 1 : 0;
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (driver == nullptr) return 0;
    std::string dir = path_normalise(path);
    while (dir.size() > 1 && dir.back() == '\\') dir.pop_back();
    return walk_token(*driver, kind == BIO_MEDIUM_IBUTTON, dir, walk) ? 1 : 0;
}

}  // namespace cadb
