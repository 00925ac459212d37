// The "eToken R2" medium driver: paths "eTR2[ n]:" (or "eTR2\reader name:")
// followed by 4-hex-digit file identifiers rooted at 3f00, over the vendor
// library "etapi.dll", which keeps the token state and asks for the PIN
// itself. A stream reads the whole token file into memory when it opens and
// writes the memory back as a new file when it is flushed, reset or freed.
// ETR2_load registers the driver with the media layer once the library
// loads; until then every eTR2 path fails cleanly.
#pragma once

#include <openssl/bio.h>

#include "crypto/bio/rutoken_fs.h"
#include "platform/vendor/etoken_r2_api.h"

namespace cadb {

// What ETOKEN_file_mode reports.
inline constexpr int ETOKEN_MODE_DIRECTORY = 0x4000;
inline constexpr int ETOKEN_MODE_FILE = 0x8000;

// Function codes of the stream library the driver reports under.
enum ETR2_BIO_F : int {
    BIO_F_BIO_CTRL_ = 103,
    BIO_F_BIO_WRITE_ = 115,
};

// Loads "etapi.dll" once and registers the driver; 1 on success.
int ETR2_load();
void ETR2_unload();
int ETR2_driver_loaded();

const BIO_METHOD* BIO_s_etoken_r2();

// 0x4000 for a directory, 0x8000 for a file, 0 when the path is absent.
// Paths of the other eToken driver are asked of it (1 or 0).
int ETOKEN_file_mode(const char* path);
// 1 when a token answers for the path's reader at its root directory.
int ETR2_media_present(const char* path);
// Writes the open stream's file back, then deletes it; the stream then
// writes nothing when it is freed.
int ETR2_delete(BIO* bio);
// Pushes one entry (ETOKEN_FILE_INFO_new) per member of the directory at
// path; 1/0.
int ETR2_list_dir(const char* path, void* list, vendor::ETokenEntryPush push);
// The file information of the path; 1/0.
int ETR2_file_info(const char* path, TOKEN_FILE_INFO* out);

}  // namespace cadb
