#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace cadb {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

std::string data_directory() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') {
        const passwd* pw = getpwuid(getuid());
        home = pw != nullptr ? pw->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') return {};
    return std::string(home) + "/.local/share";
}

// mkdir -p with 0700 for every folder it makes.
bool make_private_dirs(const std::string& dir) {
    for (std::size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos != dir.size() && dir[pos] != '/') continue;
        const std::string prefix = dir.substr(0, pos);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// dir made (0700) when missing, and kept only when it is this user's own
// directory closed to everyone else: anyone may have made /tmp/cadb-<uid>
// first.
bool private_directory(const std::string& dir) {
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    return ::lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 077) == 0;
}

bool drive_mapped_by_env(char letter, std::string* out) {
    std::string name = kDriveEnvPrefix;
    name += static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    const char* value = std::getenv(name.c_str());
    if (value == nullptr || value[0] == '\0') return false;
    *out = value;
    return true;
}

// Splits on separators, dropping empty and "." components and resolving
// "..". At the top, ".." is kept for a relative path, ignored under "/" (as
// the kernel does) and refused under a drive (rooted_strict).
std::optional<std::vector<std::string_view>> components(std::string_view rest, bool rooted,
                                                        bool rooted_strict) {
    std::vector<std::string_view> out;
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !is_separator(rest[end])) ++end;
        const std::string_view part = rest.substr(0, end);
        rest.remove_prefix(end < rest.size() ? end + 1 : end);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!out.empty() && out.back() != "..") {
                out.pop_back();
            } else if (rooted_strict) {
                return std::nullopt;
            } else if (!rooted) {
                out.push_back(part);
            }
            continue;
        }
        out.push_back(part);
    }
    return out;
}

// Characters a path may not hold: controls, and ':' anywhere but right after
// a drive letter (there is no such file name on the system's media, and
// a prefix like "pkcs11:" must never become a disk file by accident).
bool acceptable(std::string_view path) {
    if (path.empty() || path.size() >= kMaxPath) return false;
    const std::size_t colon_ok = path_drive(path) != 0 ? 1 : std::string_view::npos;
    for (std::size_t i = 0; i < path.size(); ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7F) return false;
        if (c == ':' && i != colon_ok) return false;
    }
    return true;
}

std::string join(std::string_view root, const std::vector<std::string_view>& parts, char sep) {
    std::string out(root);
    for (const std::string_view part : parts) {
        if (!out.empty() && out.back() != sep) out += sep;
        out.append(part);
    }
    return out;
}

}  // namespace

std::string path_normalise(std::string_view path) {
    std::string out(path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

char path_drive(std::string_view path) {
    if (path.size() < 2 || path[1] != ':') return 0;
    const auto c = static_cast<unsigned char>(path[0]);
    if (!std::isalpha(c) || c > 0x7F) return 0;
    return static_cast<char>(std::tolower(c));
}

std::string drive_directory(char letter) {
    std::string mapped;
    if (drive_mapped_by_env(letter, &mapped)) return mapped;
    const std::string data = data_directory();
    if (data.empty()) return {};
    return data + "/cadb/drives/" +
           static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
}

std::string lock_directory() {
    // Chosen from the password database alone, never from the environment,
    // so that every process of the user (a desktop session, cron, sudo,
    // ssh) meets in one folder, whether or not a login session is open; and
    // in the user's home, where no other user can make it first. The runtime
    // folder serves only a user the password database gives no home: a
    // folder that fails once must not send one process elsewhere than the
    // others.
    const uid_t uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    int error = 0;
    // An entry larger than the room is read again in a larger one; any other
    // failure, or no entry at all, may be passing, and names no folder
    // rather than one the other processes do not use.
    constexpr std::size_t kEntryMax = std::size_t{1} << 24;
    while ((error = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < kEntryMax)
        buffer.resize(buffer.size() * 2);
    if (error != 0 || found == nullptr) return {};
    if (found->pw_dir != nullptr && found->pw_dir[0] == '/') {
        const std::string state = std::string(found->pw_dir) + "/.local/state";
        const std::string dir = state + "/cadb-locks";
        return make_private_dirs(state) && private_directory(dir) ? dir : std::string();
    }
    struct stat st {};
    const std::string runtime = "/run/user/" + std::to_string(uid);
    if (::lstat(runtime.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == uid &&
        (st.st_mode & 077) == 0 && private_directory(runtime + "/cadb"))
        return runtime + "/cadb";
    return {};
}

bool drive_present(char letter) {
    std::string mapped;
    if (!drive_mapped_by_env(letter, &mapped)) return !drive_directory(letter).empty();
    struct stat st {};
    return ::stat(mapped.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<char> drive_letters() {
    std::vector<char> letters;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        std::string mapped;
        const bool by_env = drive_mapped_by_env(letter, &mapped);
        const std::string folder = by_env ? mapped : drive_directory(letter);
        struct stat st {};
        const bool exists =
            !folder.empty() && ::stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        if (exists || (letter == 'a' && !by_env && !folder.empty())) letters.push_back(letter);
    }
    return letters;
}

std::optional<OsPath> path_to_os(std::string_view system_path, PathIntent intent) {
    if (!acceptable(system_path)) return std::nullopt;
    if (const char letter = path_drive(system_path); letter != 0) {
        const auto parts = components(system_path.substr(2), true, true);
        if (!parts) return std::nullopt;
        std::string root = drive_directory(letter);
        if (root.empty()) return std::nullopt;
        std::string ignored;
        if (intent == PathIntent::create && !drive_mapped_by_env(letter, &ignored) &&
            !make_private_dirs(root))
            return std::nullopt;
        while (root.size() > 1 && root.back() == '/') root.pop_back();
        const std::size_t root_len = root.size();
        return OsPath{join(root, *parts, '/'), root_len};
    }
    if (is_separator(system_path.front())) {
        const auto parts = components(system_path, true, false);
        if (!parts) return std::nullopt;
        return OsPath{join("/", *parts, '/'), 1};
    }
    const auto parts = components(system_path, false, false);
    if (!parts) return std::nullopt;
    if (parts->empty()) return OsPath{".", 0};
    return OsPath{join("", *parts, '/'), 0};
}

std::string path_from_os(std::string_view os_path) {
    std::string out(os_path);
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
}

std::optional<std::string> path_full(std::string_view system_path) {
    if (!acceptable(system_path)) return std::nullopt;
    if (path_drive(system_path) != 0) {
        const auto parts = components(system_path.substr(2), true, true);
        if (!parts) return std::nullopt;
        std::string root(system_path.substr(0, 2));
        root += '\\';
        return join(root, *parts, '\\');
    }
    std::string whole;
    if (!is_separator(system_path.front())) {
        std::vector<char> cwd(4096);
        if (::getcwd(cwd.data(), cwd.size()) == nullptr) return std::nullopt;
        whole = cwd.data();
        whole += '/';
    }
    whole.append(system_path);
    const auto parts = components(whole, true, false);
    if (!parts) return std::nullopt;
    return join("\\", *parts, '\\');
}

}  // namespace cadb
