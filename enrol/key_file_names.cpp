#include "enrol/key_file_names.h"

#include <cctype>
#include <cstdio>

#include "crypto/store/media_io.h"

namespace cadb::enrol {

namespace {

// The largest number each medium's form writes.
std::uint32_t largest_number(std::int32_t mediaType) {
    switch (mediaType) {
        case 0: return 0xFFFFFFFFu;
        case 1: return 999;
        case 2:
        case 3: return 9999;
        case 4: return 99999999;
        default: return 0;
    }
}

std::string_view last_component(std::string_view path) {
    const std::size_t at = path.find_last_of("\\/");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

// The whole of digits read in base 10 or 16; -1 when empty, not all digits
// or beyond 32 bits.
long read_number(std::string_view digits, int base) {
    if (digits.empty()) return -1;
    unsigned long long value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
            d = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        else
            return -1;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(d);
        if (value > 0xFFFFFFFFull) return -1;
    }
    return static_cast<long>(value);
}

bool ends_with_key(std::string_view name) {
    if (name.size() < 4) return false;
    const std::string_view ext = name.substr(name.size() - 4);
    return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'k' &&
           std::tolower(static_cast<unsigned char>(ext[2])) == 'e' &&
           std::tolower(static_cast<unsigned char>(ext[3])) == 'y';
}

}  // namespace

std::string KeyFileName(std::int32_t mediaType, std::uint32_t n) {
    if (n > largest_number(mediaType)) return {};
    char name[32];
    switch (mediaType) {
        case 0: std::snprintf(name, sizeof name, "%08X.key", n); break;
        case 1: std::snprintf(name, sizeof name, "key .%03u", n); break;
        case 2:
        case 3: std::snprintf(name, sizeof name, "%04u", n); break;
        case 4: std::snprintf(name, sizeof name, "%08u.key", n); break;
        default: return {};
    }
    return name;
}

std::string DefaultKeyFileName(std::int32_t mediaType) {
    return KeyFileName(mediaType >= 0 && mediaType <= 4 ? mediaType : 0, 1);
}

long KeyFileNumber(std::int32_t mediaType, std::string_view path) {
    const std::string_view name = last_component(path);
    switch (mediaType) {
        case 0:
            if (name.size() > 12 || !ends_with_key(name)) return -1;
            return read_number(name.substr(0, name.size() - 4), 16);
        case 1: {
            if (name.size() > 8) return -1;
            const std::size_t dot = name.find('.');
            if (dot == std::string_view::npos) return -1;
            return read_number(name.substr(dot + 1), 10);
        }
        case 2:
        case 3: return read_number(name, 10);
        case 4: return read_number(name.substr(0, name.find('.')), 10);
        default: return -1;
    }
}

namespace {

struct Walk {
    std::int32_t mediaType;
    long largest = 0;
};

int note_entry(const char* name, void* user) {
    auto* walk = static_cast<Walk*>(user);
    const long n = KeyFileNumber(walk->mediaType, name);
    if (n > walk->largest) walk->largest = n;
    return 1;
}

}  // namespace

std::optional<std::uint32_t> NextKeyFileNumber(const std::string& folder, std::int32_t mediaType,
                                               int walkFlags) {
    Walk walk{mediaType};
    // A folder that does not exist yet holds no key file; one that may be
    // there (the medium cannot tell) is not taken for empty.
    if (CADB_walk_dir(folder.c_str(), walkFlags, note_entry, &walk) != 1 &&
        media_path_state(folder.c_str()) != 0)
        return std::nullopt;
    if (static_cast<unsigned long>(walk.largest) >= largest_number(mediaType)) return std::nullopt;
    return static_cast<std::uint32_t>(walk.largest + 1);
}

std::string WithTrailingSeparator(std::string path) {
    if (path.empty() || (path.back() != '\\' && path.back() != '/')) path += '\\';
    return path;
}

bool NamesNoFolder(std::string_view path) {
    return path.find_first_not_of("\\/ \t") == std::string_view::npos;
}

}  // namespace cadb::enrol
