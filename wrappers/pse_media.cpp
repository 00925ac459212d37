#include "wrappers/pse_media.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "crypto/store/media_io.h"

namespace cadb {

const std::array<PSEMediaRow, 5> kPSEMediaTable{{
    {PSE_MEDIA_FILE, "File System", "a:", ""},
    {PSE_MEDIA_IBUTTON, "iButton(Dallas Semiconductors)", "ibutton:", "iButton"},
    {PSE_MEDIA_ETOKEN, "eToken(Aladdin Knowledge)", "etoken:", "eToken"},
    {PSE_MEDIA_RUTOKEN, "ruToken(Activ Knowledge)", "rutoken:", "ruToken"},
    {PSE_MEDIA_PKCS11, "pkcs11(Knowledge)", "pkcs11:", "pkcs11"},
}};

namespace {

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// Columns: disk, touch-memory button, USB tokens.
constexpr const char* kNames[3][STORE_FILE_COUNT] = {
    {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "para.par"},
    {"mk  .001", "mask.001", "kek .001", "rand.001", "para.001"},
    {"a001", "b001", "c001", "d001", "e001"},
};

}  // namespace

std::int32_t GetPSEMediaType(const char* path) {
    if (path == nullptr) return PSE_MEDIA_FILE;
    const std::string p = upper(path);
    for (const PSEMediaRow& row : kPSEMediaTable) {
        if (row.shortName[0] == '\0') continue;
        if (p.find(upper(row.shortName)) != std::string::npos) return row.type;
    }
    return PSE_MEDIA_FILE;
}

bool BuildStoreFileNames(const char* path, std::int32_t type, StoreFileNames& names, int count) {
    names = {};
    int column = 0;
    switch (type) {
        case PSE_MEDIA_FILE: column = 0; break;
        case PSE_MEDIA_IBUTTON: column = 1; break;
        case PSE_MEDIA_ETOKEN:
        case PSE_MEDIA_RUTOKEN: column = 2; break;
        default: return false;
    }
    if (path == nullptr) return false;
    for (int i = 0; i < std::min(count, STORE_FILE_COUNT); ++i) {
        char out[260];
        if (BuildFilePath(out, path, kNames[column][i], nullptr) == nullptr) {
            names = {};
            return false;
        }
        names[static_cast<std::size_t>(i)] = out;
    }
    return true;
}

}  // namespace cadb
