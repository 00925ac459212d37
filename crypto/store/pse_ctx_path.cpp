// Names of a key store's files on each medium, and the paths built from them.
#include <cstdio>
#include <cstring>

#include "crypto/bio/media_prefix.h"
#include "crypto/store/pse_ctx.h"

namespace cadb {
namespace {

// Columns: disk (and every medium without its own names), touch-memory
// button, USB tokens. The button names keep their blanks: the button's file
// system has fixed-width names.
constexpr const char* kFileNames[3][6] = {
    {"mk.db3", "masks.db3", "kek.opq", "rand.opq", "keys", "store.pfx"},
    {"mk  .001", "mask.001", "kek .001", "rand.001", "keys", "stor.001"},
    {"a001", "b001", "c001", "d001", "aaaa", "e001"},
};
enum NameColumn { kDisk = 0, kButton = 1, kToken = 2 };

NameColumn column_of(const char* store_path) {
    switch (BIO_media_kind(store_path)) {
        case BIO_MEDIUM_IBUTTON:
            return kButton;
        case BIO_MEDIUM_ETR2:
        case BIO_MEDIUM_ETOKEN:
        case BIO_MEDIUM_RUTOKEN:
        case BIO_MEDIUM_IKEY:
            return kToken;
        default:
            return kDisk;
    }
}

}  // namespace

char* PSE_CTX_file_path(char* out, const char* store_path, int kind) {
    if (out == nullptr || store_path == nullptr || kind < PSE_FILE_MKEY || kind > PSE_FILE_PKCS12 ||
        std::strlen(store_path) > PSE_CTX_MAX_PATH)
        return nullptr;
    return BuildFilePath(out, store_path, kFileNames[column_of(store_path)][kind], nullptr);
}

char* CADB_key_file_path(const char* store_path, int n, char* out) {
    char dir[260];
    if (out == nullptr || PSE_CTX_file_path(dir, store_path, PSE_FILE_KEYS_DIR) == nullptr)
        return nullptr;
    char name[32];
    switch (column_of(store_path)) {
        case kToken:
            std::snprintf(name, sizeof name, "%04d", n);
            break;
        case kButton:
            std::snprintf(name, sizeof name, "key .%03d", n);
            break;
        default:
            std::snprintf(name, sizeof name, "%08X.key", static_cast<unsigned>(n));
            break;
    }
    return BuildFilePath(out, dir, name, nullptr);
}

char* CADB_key_file_path_1(const char* store_path, char* out) {
    return CADB_key_file_path(store_path, 1, out);
}

}  // namespace cadb
