// The five kinds of key media the object layer names, the kind of a key-store
// path, and the names of a store's files on each kind.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace cadb {

enum PSEMediaType : std::int32_t {
    PSE_MEDIA_FILE = 0,
    PSE_MEDIA_IBUTTON = 1,
    PSE_MEDIA_ETOKEN = 2,
    PSE_MEDIA_RUTOKEN = 3,
    PSE_MEDIA_PKCS11 = 4,
};

struct PSEMediaRow {
    std::int32_t type;
    char description[64];
    char prefix[32];
    char shortName[36];
};
// The dialog library keeps the same rows in the same order.
extern const std::array<PSEMediaRow, 5> kPSEMediaTable;

// The type of the first row whose short name occurs anywhere in the path,
// compared without case; 0 when none does.
std::int32_t GetPSEMediaType(const char* path);

// The store's files, in this order.
enum StoreFile : int {
    STORE_MKEY = 0,
    STORE_MASKS = 1,
    STORE_KEK = 2,
    STORE_RAND = 3,
    STORE_PARAMS = 4,
};
inline constexpr int STORE_FILE_COUNT = 5;
using StoreFileNames = std::array<std::string, STORE_FILE_COUNT>;

// The paths of the store's files under path for a media type (the first
// `count` of them). False, names cleared, for type 4 (the store lives in
// token objects), an unknown type, or a path too long for its file names.
bool BuildStoreFileNames(const char* path, std::int32_t type, StoreFileNames& names,
                         int count = STORE_FILE_COUNT);

}  // namespace cadb
