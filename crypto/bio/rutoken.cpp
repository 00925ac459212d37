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

using Media = TokenFsMedia<kProfile>;

}  // namespace

int RUTOKEN_load() { return Media::load(); }
void RUTOKEN_unload() { Media::unload(); }
int RUTOKEN_loaded() { return Media::loaded(); }

const BIO_METHOD* BIO_s_rutoken() { return Media::method(); }

void RUTOKEN_set_passwd_cb(pem_password_cb* cb) { Media::driver().set_passwd_cb(cb); }

TOKEN_FILE_INFO* RUTOKEN_FILE_INFO_new() { return token_fs_info_new(kProfile); }
void RUTOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info) { token_fs_info_free(info); }

}  // namespace cadb
