#include "crypto/bio/media_prefix.h"

#include "crypto/bio/media_driver.h"

#include <strings.h>

#include <cctype>
#include <cstring>
#include <initializer_list>

namespace cadb {

bool iequal_prefix(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    return true;
}

namespace {

bool begins_with_any(const char* path, std::initializer_list<const char*> prefixes) {
    if (path == nullptr) return false;
    for (const char* prefix : prefixes) {
        if (strncasecmp(path, prefix, std::strlen(prefix)) == 0) return true;
    }
    return false;
}

}  // namespace

int BIO_media_is_iButton(const char* path) { return begins_with_any(path, {"iButton"}); }

int BIO_media_is_eTR2(const char* path) { return begins_with_any(path, {"eTR2"}); }

int BIO_media_is_eToken(const char* path) {
    return begins_with_any(path, {"eToken", "AKS ifdh", "Aladdin Token JC"});
}

int BIO_media_is_ruToken(const char* path) {
    return begins_with_any(path, {"ruToken", "Aktiv Co. ruToken"});
}

int BIO_media_is_pkcs11(const char* path) { return begins_with_any(path, {"pkcs11"}); }

int BIO_media_is_iKey(const char* path) { return begins_with_any(path, {"iKey"}); }

int BIO_media_kind(const char* path) {
    if (BIO_media_is_eToken(path)) return BIO_MEDIUM_ETOKEN;
    if (BIO_media_is_eTR2(path)) return BIO_MEDIUM_ETR2;
    if (BIO_media_is_ruToken(path)) return BIO_MEDIUM_RUTOKEN;
    if (BIO_media_is_iButton(path)) return BIO_MEDIUM_IBUTTON;
    if (BIO_media_is_pkcs11(path)) return BIO_MEDIUM_PKCS11;
    if (BIO_media_is_iKey(path) && BIO_media_driver(BIO_MEDIUM_IKEY) != nullptr)
        return BIO_MEDIUM_IKEY;
    return BIO_MEDIUM_DISK;
}

}  // namespace cadb
