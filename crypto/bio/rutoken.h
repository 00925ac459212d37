// The ruToken medium driver: paths "ruToken[ n]:" and "Aktiv Co. ruToken[
// n]:" followed by 4-hex-digit file identifiers, over the vendor library
// "rtapilt.dll". RUTOKEN_load registers it with the media layer once the
// library loads; until then every ruToken path fails cleanly.
#pragma once

#include <openssl/bio.h>
#include <openssl/pem.h>

#include "crypto/bio/rutoken_fs.h"

namespace cadb {

// Function codes under the stream library.
enum RUTOKEN_F : int {
    RUTOKEN_F_LOAD = 121,
    RUTOKEN_F_OPEN = 122,
    RUTOKEN_F_READ = 123,
    RUTOKEN_F_WRITE = 124,
    RUTOKEN_F_WRITE_BACK = 125,
    RUTOKEN_F_LOGIN = 126,
    RUTOKEN_F_LIST = 127,
    RUTOKEN_F_DELETE = 128,
    RUTOKEN_F_BIND = 134,
};
// Function code under the RUTOKEN library.
inline constexpr int RUTOKEN_F_FILE_INFO_NEW = 112;

// Loads the vendor library and registers the driver; 1 on success. Safe to
// call again.
int RUTOKEN_load();
// Takes the registration back and releases the library.
void RUTOKEN_unload();
int RUTOKEN_loaded();

const BIO_METHOD* BIO_s_rutoken();

// The password callback of every ruToken stream without one of its own.
void RUTOKEN_set_passwd_cb(pem_password_cb* cb);

TOKEN_FILE_INFO* RUTOKEN_FILE_INFO_new();
void RUTOKEN_FILE_INFO_free(TOKEN_FILE_INFO* info);

}  // namespace cadb
