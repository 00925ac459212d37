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

using Media = TokenFsMedia<kProfile>;

}  // namespace

int ETOKEN_load() { return Media::load(); }
void ETOKEN_unload() { Media::unload(); }
int ETOKEN_loaded() { return Media::loaded(); }

const BIO_METHOD* BIO_s_etoken() { return Media::method(); }

void ETOKEN_set_passwd_cb(pem_password_cb* cb) { Media::driver().set_passwd_cb(cb); }
pem_password_cb* ETOKEN_get_passwd_cb() { return Media::driver().passwd_cb(); }

TOKEN_FILE_INFO* ETOKEN_FILE_INFO_new() { return token_fs_info_new(kProfile); }
void ETOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info) { token_fs_info_free(info); }

int ETSDK_file_exists(const char* path) { return token_fs_exists(Media::driver(), path); }
int ETSDK_token_present(const char* path) { return token_fs_token_present(Media::driver(), path); }

}  // namespace cadb
