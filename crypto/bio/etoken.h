// The eToken medium driver: paths "eToken[ n]:", "AKS ifdh[ n]:" and
// "Aladdin Token JC[ n]:" followed by 4-hex-digit file identifiers below
// 3f00\e007, over the vendor library "etsdk.dll". ETOKEN_load registers it
// with the media layer once the library loads; until then every eToken path
// fails cleanly.
#pragma once

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "crypto/bio/rutoken_fs.h"

namespace cadb {

// Function codes under the ETOKEN library. The eToken R2 vendor library
// numbers its own entries 100-112 there, so this driver's functions lie
// above them; its entry constructor is the one that library names at 112.
enum ETOKEN_F : int {
    ETOKEN_F_FILE_INFO_NEW = 112,
    ETOKEN_F_BIND = 120,
    ETOKEN_F_LOGIN = 121,
    ETOKEN_F_OPEN = 122,
    ETOKEN_F_READ = 123,
    ETOKEN_F_WRITE = 124,
    ETOKEN_F_WRITE_BACK = 125,
    ETOKEN_F_LOAD = 126,
    ETOKEN_F_LIST = 127,
    ETOKEN_F_DELETE = 128,
};

int ETOKEN_load();
void ETOKEN_unload();
int ETOKEN_loaded();

const BIO_METHOD* BIO_s_etoken();

// The password callback of every eToken stream without one of its own.
void ETOKEN_set_passwd_cb(pem_password_cb* cb);
pem_password_cb* ETOKEN_get_passwd_cb();

TOKEN_FILE_INFO* ETOKEN_FILE_INFO_new();
void ETOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info);

// Helpers for eToken-prefixed paths, shared with the other eToken driver.
int ETSDK_file_exists(const char* path);
int ETSDK_token_present(const char* path);

}  // namespace cadb
