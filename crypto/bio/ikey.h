// The "iKey" medium driver: paths "iKey[ n]:\DDDD\FFFF" on iKey USB keys,
// at most one directory level of 4-hex-digit identifiers, over the vendor
// library "iKeyAPI.dll". Only the token administration program registers
// it (IKEY_load); until then "iKey" paths are disk paths.
//
// One open device context per key is kept in a process-wide table (context
// i serves device "iKey" followed by i). An iKey stream holds lock 37 from
// its creation to its destruction, so the streams of different threads
// follow one another and the table changes only under the lock.
#pragma once

#include <openssl/bio.h>

#include "platform/vendor/ikey_api.h"

namespace cadb {

// Function codes: under the stream library for every driver failure, and
// under IKSDK for the session record's memory failure.
enum IKSDK_F : int {
    IKSDK_F_LOGIN = 221,
    IKSDK_F_NEW = 222,
    IKSDK_F_FILE_OPEN = 223,
    IKSDK_F_FILE_CREATE = 224,
    IKSDK_F_FILE_WRITE = 225,
    IKSDK_F_FILE_READ = 226,
    IKSDK_F_FILE_DELETE = 227,
    IKSDK_F_FILE_GET_INFO = 228,
    IKSDK_F_DIR_GET_INFO = 229,
    IKSDK_F_ROOT_DIR_OPEN = 230,
    IKSDK_F_DIR_CREATE = 231,
    IKSDK_F_DIR_OPEN = 232,
    IKSDK_F_CHDIR = 233,
    IKSDK_F_TOUCH = 234,
    IKSDK_F_FLUSH = 235,
};

// Reasons beyond the token drivers' own.
inline constexpr int IKSDK_R_SYSTEM_LIB = 2;

// The largest file the driver reads or writes.
inline constexpr std::uint32_t IKEY_FILE_MAX = 0xFFFF;
// The highest device number a path may name.
inline constexpr int IKEY_MAX_DEVICE = 15;

// Loads "iKeyAPI.dll" and registers the driver; 1 on success, 0 when the
// smart-card service or the library or an entry is missing.
int IKEY_load();
// Closes every device context, frees the library and takes the
// registration back.
void IKEY_unload();
int IKEY_loaded();

const BIO_METHOD* BIO_s_ikey();

// 1 when the path names a file or directory on the key.
int IKEY_file_exists(const char* path);

}  // namespace cadb
