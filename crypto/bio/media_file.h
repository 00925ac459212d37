// The stream factory: opens a file on any medium as a BIO. The path's prefix
// picks the stream: the registered driver of its medium (media_driver.h) for
// touch-memory, eToken R2, eToken and ruToken paths, the disk file stream
// (disk_file.h) for everything else, PKCS#11 paths included (they name token
// objects, not files, so the open fails on the disk).
#pragma once

#include <openssl/bio.h>
#include <openssl/pem.h>

#include <cstdint>

namespace cadb {

// The factory's failures carry no function code of their own: its callers
// add theirs.
inline constexpr int BIO_F_BIO_NEW_MEDIA_FILE = 0;

// mode: "r"/"rb" read; "w"/"wb" write; "r+", "rb+", "r+b", "wb+", "w+b" read
// and write; anything else is refused. flags and credential are the media
// words, handed to the driver while it opens the file. Returns the open
// stream, or null with nothing left open.
BIO* BIO_new_media_file_ex(const char* path, const char* mode, std::uint32_t flags,
                           const void* credential);
BIO* BIO_new_media_file(const char* path, const char* mode);
// As BIO_new_media_file_ex; a token stream asks for its PIN through cb with
// arg (null cb: the driver's process-wide callback), already during the open.
BIO* BIO_new_media_file_cb(const char* path, const char* mode, std::uint32_t flags,
                           const void* credential, pem_password_cb* cb, void* arg);

// The stream flags of a mode text (1 close, 2 read, 4 write), or 0 when the
// text is refused.
int BIO_media_mode_flags(const char* mode);

}  // namespace cadb
