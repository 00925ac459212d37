// Every path names its medium by its first characters. These tests compare
// those characters without regard to case; a null path matches nothing.
#pragma once

#include <string_view>

namespace cadb {

// The media a path can name, in the order drivers register under.
enum BIO_MEDIUM : int {
    BIO_MEDIUM_DISK = 0,
    BIO_MEDIUM_IBUTTON = 1,  // touch-memory button, "Touch Memory"
    BIO_MEDIUM_ETR2 = 2,     // eToken over the first vendor library, "eToken R2"
    BIO_MEDIUM_ETOKEN = 3,   // eToken over the second vendor library, "eToken"
    BIO_MEDIUM_RUTOKEN = 4,  // "ruToken"
    BIO_MEDIUM_PKCS11 = 5,   // PKCS#11 token data objects
    // iKey USB keys: known only once their driver is registered (the token
    // administration program registers it); until then "iKey" paths are
    // disk paths.
    BIO_MEDIUM_IKEY = 6,
    BIO_MEDIUM_COUNT = 7,
};

int BIO_media_is_iButton(const char* path);
int BIO_media_is_eTR2(const char* path);
// "eToken", and the reader names "AKS ifdh" and "Aladdin Token JC" that the
// vendor library reports, which a path may begin with.
int BIO_media_is_eToken(const char* path);
// "ruToken" and the reader name "Aktiv Co. ruToken".
int BIO_media_is_ruToken(const char* path);
int BIO_media_is_pkcs11(const char* path);
int BIO_media_is_iKey(const char* path);

// Whether text begins with prefix, letters compared without regard to case:
// the drivers' own path parts (reader names, ports, directories) too.
bool iequal_prefix(std::string_view text, std::string_view prefix);

// The medium of a path; BIO_MEDIUM_DISK for anything without a medium prefix.
int BIO_media_kind(const char* path);

}  // namespace cadb
