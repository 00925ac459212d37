#include "crypto/bio/etoken.h"

#include <cctype>
#include <string>

#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"

namespace cadb {
namespace {

constexpr const char* kEntries[] = {
#define CADB_ETOKEN_NAME(role, type, ru, et) #et,
    CADB_TOKEN_FS_ENTRIES(CADB_ETOKEN_NAME)
#undef CADB_ETOKEN_NAME
};
static_assert(sizeof(kEntries) / sizeof(kEntries[0]) == kTokenFsEntryCount);

constexpr const char* kPrefixes[] = {"Aladdin Token JC", "AKS ifdh", "eToken", nullptr};
constexpr std::string_view kReaderFamilies[] = {"AKS ifdh", "Aladdin Token JC"};

bool login_needed(vendor::TokenRv rv) {
    return vendor::token_failed(rv) && (rv & 0xFFFF) == 0x6982;
}

// The reader family by prefix; a reader number by the text after the last
// blank.
bool reader_matches(std::string_view reader, std::string_view number) {
    bool family = false;
    for (std::string_view f : kReaderFamilies) family = family || iequal_prefix(reader, f);
    if (!family) return false;
    if (number.empty()) return true;
    const std::size_t blank = reader.rfind(' ');
    const std::string_view last =
        blank == std::string_view::npos ? reader : reader.substr(blank + 1);
    return last.size() == number.size() && iequal_prefix(last, number);
}

// Files live below 3f00\e007 unless the path starts at the master file.
std::string rebase_ids(std::string ids) {
    if (ids.rfind("3f00", 0) != 0) ids.insert(0, "3f00e007");
    if (ids.rfind("3f00e007", 0) == 0)
        ids.erase(0, 8);
    else if (ids.rfind("3f006666e007", 0) == 0)
        ids.erase(0, 12);
    return ids;
}

const TokenFsProfile kProfile = {
    "eToken",
    BIO_MEDIUM_ETOKEN,
    "etsdk.dll",
    kEntries,
    ERR_LIB_ETOKEN,
    ERR_LIB_ETOKEN,
    {ETOKEN_F_BIND, ETOKEN_F_LOGIN, ETOKEN_F_OPEN, ETOKEN_F_READ, ETOKEN_F_WRITE,
     ETOKEN_F_WRITE_BACK, ETOKEN_F_LOAD, ETOKEN_F_LIST, ETOKEN_F_DELETE, ETOKEN_F_FILE_INFO_NEW},
    CRYPTO_LOCK_ETOKEN_IO,
    login_needed,
    reader_matches,
    kPrefixes,
    rebase_ids,
    true,
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
    "eToken",
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

int ETOKEN_load() {
    if (!driver().load() || method() == nullptr) return 0;
    BIO_media_register_driver(BIO_MEDIUM_ETOKEN, &kDriver);
    return 1;
}

void ETOKEN_unload() {
    if (BIO_media_driver(BIO_MEDIUM_ETOKEN) == &kDriver)
        BIO_media_register_driver(BIO_MEDIUM_ETOKEN, nullptr);
    driver().unload();
}

int ETOKEN_loaded() { return driver().loaded() ? 1 : 0; }

const BIO_METHOD* BIO_s_etoken() { return method(); }

void ETOKEN_set_passwd_cb(pem_password_cb* cb) { driver().set_passwd_cb(cb); }
pem_password_cb* ETOKEN_get_passwd_cb() { return driver().passwd_cb(); }

TOKEN_FILE_INFO* ETOKEN_FILE_INFO_new() { return token_fs_info_new(kProfile); }
void ETOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info) { token_fs_info_free(info); }

int ETSDK_file_exists(const char* path) { return token_fs_exists(driver(), path); }
int ETSDK_token_present(const char* path) { return token_fs_token_present(driver(), path); }

}  // namespace cadb
