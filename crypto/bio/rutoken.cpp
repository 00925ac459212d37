#include "crypto/bio/rutoken.h"

#include <cctype>
#include <string>

#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"

namespace cadb {
namespace {

constexpr const char* kEntries[] = {
#define CADB_RUTOKEN_NAME(role, type, ru, et) #ru,
    CADB_TOKEN_FS_ENTRIES(CADB_RUTOKEN_NAME)
#undef CADB_RUTOKEN_NAME
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kTokenFsEntryCount);

constexpr const char* kPrefixes[] = {"Aktiv Co. ruToken", "ruToken", nullptr};
constexpr std::string_view kReaderName = "Aktiv Co. ruToken ";

bool login_needed(vendor::TokenRv rv) { return rv == vendor::kRuTokenLoginNeeded; }

bool iequal(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool reader_matches(std::string_view reader, std::string_view number) {
    return number.empty() || iequal(reader, std::string(kReaderName) + std::string(number));
}

std::string rebase_ids(std::string ids) {
    if (ids.rfind("0000f001", 0) == 0) ids.erase(0, 8);
    return ids;
}

const TokenFsProfile kProfile = {
    "ruToken",
    BIO_MEDIUM_RUTOKEN,
    "rtapilt.dll",
    kEntries,
    ERR_LIB_BIO_,
    ERR_LIB_RUTOKEN,
    {RUTOKEN_F_BIND, RUTOKEN_F_LOGIN, RUTOKEN_F_OPEN, RUTOKEN_F_READ, RUTOKEN_F_WRITE,
     RUTOKEN_F_WRITE_BACK, RUTOKEN_F_LOAD, RUTOKEN_F_LIST, RUTOKEN_F_DELETE,
     RUTOKEN_F_FILE_INFO_NEW},
    CRYPTO_LOCK_RUTOKEN_IO,
    login_needed,
    reader_matches,
    kPrefixes,
    rebase_ids,
    false,
};

TokenFsDriver& driver() {
    static TokenFsDriver d(kProfile);
    return d;
}

int create(BIO* bio) { return token_fs_create(bio, driver()); }
const BIO_METHOD* method() { return driver().method(create); }
int ready(const char*) { return driver().loaded() ? 1 : 0; }
int present(const char* path) { return token_fs_token_present(driver(), path); }
int exists(const char* path) { return token_fs_exists(driver(), path); }
int is_directory(const char* path) { return token_fs_is_directory(driver(), path); }
int list_dir(const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg) {
    return token_fs_list_dir(driver(), path, cb, arg);
}

const BIO_MEDIA_DRIVER kDriver = {
    "ruToken",
    method,
    ready,
    present,
    exists,
    is_directory,
    token_fs_open_size,
    nullptr,
    token_fs_delete_open,
    list_dir,
};

}  // namespace

int RUTOKEN_load() {
    if (!driver().load() || method() == nullptr) return 0;
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &kDriver);
    return 1;
}

void RUTOKEN_unload() {
    if (BIO_media_driver(BIO_MEDIUM_RUTOKEN) == &kDriver)
        BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, nullptr);
    driver().unload();
}

int RUTOKEN_loaded() { return driver().loaded() ? 1 : 0; }

const BIO_METHOD* BIO_s_rutoken() { return method(); }

void RUTOKEN_set_passwd_cb(pem_password_cb* cb) { driver().set_passwd_cb(cb); }

TOKEN_FILE_INFO* RUTOKEN_FILE_INFO_new() { return token_fs_info_new(kProfile); }
void RUTOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info) { token_fs_info_free(info); }

}  // namespace cadb
