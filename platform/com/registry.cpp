#include "platform/com/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace cadb::com {

namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 'a' - 'A') : c; }

bool same_text(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Whether key lies below parent ("A\B\C" below "a\b").
bool below(std::string_view key, std::string_view parent) {
    return key.size() > parent.size() + 1 && key[parent.size()] == '\\' &&
           same_text(key.substr(0, parent.size()), parent);
}

// Characters that would break a line of the file are written as %HH.
std::string escape(std::string_view text) {
    std::string out;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || c == '%' || c == '=' || c == '[' || c == ']' || c == '@') {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> unescape(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        unsigned value = 0;
        for (int k = 1; k <= 2; ++k) {
            char c = text[i + k];
            int d = c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (d < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(d);
        }
        out += static_cast<char>(value);
        i += 2;
    }
    return out;
}

std::string parent_of(std::string_view key) {
    std::size_t cut = key.rfind('\\');
    return cut == std::string_view::npos ? std::string() : std::string(key.substr(0, cut));
}

bool write_all(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool make_folders(const std::string& dir) {
    if (dir.empty()) return true;
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    std::size_t cut = dir.rfind('/');
    if (cut != std::string::npos && cut > 0 && !make_folders(dir.substr(0, cut))) return false;
    return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

}  // namespace

bool Registry::NoCase::operator()(std::string_view a, std::string_view b) const {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        char x = lower(a[i]);
        char y = lower(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    return a.size() < b.size();
}

std::string registry_path() {
    if (const char* path = std::getenv(kRegistryEnv); path && *path) return path;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config == '/')
        return std::string(config) + "/cadb/registry";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config/cadb/registry";
    return {};
}

std::optional<Registry> Registry::read(const std::string& path) {
    if (path.empty()) return std::nullopt;
    // Opened without blocking, so that a named pipe cannot hang the reader,
    // and kept only when it is a regular file of a sane size: a device such
    // as /dev/zero would never end.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return Registry();
        return std::nullopt;
    }
    std::string text;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxRegistrySize;
    // The file may grow after the look: one byte past the limit is enough to
    // tell.
    char chunk[4096];
    while (ok) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
        ok = text.size() <= static_cast<std::size_t>(kMaxRegistrySize);
    }
    ::close(fd);
    if (!ok) return std::nullopt;
    return parse(text);
}

std::optional<Registry> Registry::parse(std::string_view text) {
    Registry reg;
    std::string current;
    bool in_key = false;
    while (!text.empty()) {
        std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
        if (line.empty() || line[0] == '#') continue;
        if (line.front() == '[') {
            if (line.back() != ']') return std::nullopt;
            auto key = unescape(line.substr(1, line.size() - 2));
            if (!key || key->empty()) return std::nullopt;
            current = *key;
            reg.create_key(current);
            in_key = true;
            continue;
        }
        std::size_t eq = line.find('=');
        if (!in_key || eq == std::string_view::npos) return std::nullopt;
        std::string_view raw_name = line.substr(0, eq);
        std::optional<std::string> name =
            raw_name == "@" ? std::optional<std::string>("") : unescape(raw_name);
        auto data = unescape(line.substr(eq + 1));
        if (!name || !data || (name->empty() && raw_name != "@")) return std::nullopt;
        reg.set_value(current, *name, *data);
    }
    return reg;
}

std::string Registry::serialise() const {
    std::string out = "# registry of in-process servers and component categories\n";
    for (const auto& [key, values] : keys_) {
        out += "[" + escape(key) + "]\n";
        for (const auto& [name, data] : values)
            out += (name.empty() ? std::string("@") : escape(name)) + "=" + escape(data) + "\n";
    }
    return out;
}

bool Registry::key_exists(std::string_view key) const { return keys_.find(key) != keys_.end(); }

std::optional<std::string> Registry::value(std::string_view key, std::string_view name) const {
    auto k = keys_.find(key);
    if (k == keys_.end()) return std::nullopt;
    auto v = k->second.find(name);
    if (v == k->second.end()) return std::nullopt;
    return v->second;
}

bool Registry::has_values(std::string_view key) const {
    auto k = keys_.find(key);
    return k != keys_.end() && !k->second.empty();
}

std::vector<std::string> Registry::subkeys(std::string_view key) const {
    std::vector<std::string> out;
    for (const auto& entry : keys_) {
        if (!below(entry.first, key)) continue;
        std::string_view rest = std::string_view(entry.first).substr(key.size() + 1);
        if (rest.find('\\') == std::string_view::npos) out.emplace_back(rest);
    }
    return out;
}

void Registry::create_key(std::string_view key) {
    for (std::string k(key); !k.empty(); k = parent_of(k)) {
        if (keys_.find(k) != keys_.end()) break;
        keys_.emplace(k, Values());
    }
}

void Registry::set_value(std::string_view key, std::string_view name, std::string_view data) {
    create_key(key);
    keys_.find(key)->second[std::string(name)] = std::string(data);
}

void Registry::remove_value(std::string_view key, std::string_view name) {
    auto k = keys_.find(key);
    if (k == keys_.end()) return;
    auto v = k->second.find(name);
    if (v != k->second.end()) k->second.erase(v);
}

void Registry::remove_key(std::string_view key) {
    for (auto it = keys_.begin(); it != keys_.end();)
        it = below(it->first, key) || same_text(it->first, key) ? keys_.erase(it) : std::next(it);
}

bool registry_update(const std::function<bool(Registry&)>& edit, const std::string& path) {
    if (path.empty()) return false;
    std::size_t cut = path.rfind('/');
    const std::string dir = cut == std::string::npos ? "." : cut == 0 ? "/" : path.substr(0, cut);
    if (!make_folders(dir)) return false;
    int dir_fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir_fd < 0) return false;
    bool ok = false;
    if (::flock(dir_fd, LOCK_EX) == 0) {
        std::optional<Registry> reg = Registry::read(path);
        if (reg && edit(*reg)) {
            const std::string temp = path + ".new." + std::to_string(::getpid());
            int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            if (fd >= 0) {
                ok = write_all(fd, reg->serialise()) && ::fsync(fd) == 0;
                ok = ::close(fd) == 0 && ok;
                ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
                if (!ok) ::unlink(temp.c_str());
                if (ok) ::fsync(dir_fd);
            }
        }
        ::flock(dir_fd, LOCK_UN);
    }
    ::close(dir_fd);
    return ok;
}

int registry_read_machine_text(const char* key, const char* name, char* out, int size) {
    if (key == nullptr || name == nullptr || out == nullptr || size <= 0) return 0;
    try {
        const auto registry = Registry::read(registry_path());
        if (!registry) return 0;
        const auto text = registry->value(std::string(kLocalMachine) + "\\" + key, name);
        if (!text || text->size() >= static_cast<std::size_t>(size)) return 0;
        std::memcpy(out, text->c_str(), text->size() + 1);
        return 1;
    } catch (...) {
        return 0;
    }
}

}  // namespace cadb::com
