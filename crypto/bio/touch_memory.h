// The "Touch Memory" medium driver: paths "iButton:\DIR\NAME.EXT" (and, for
// callers that name the port, "COMn:" or "LPTn:") on a touch-memory button,
// over the vendor library "ibfs32.dll". A stream opened for reading reads
// the whole file (at most 8,192 bytes) into memory; a stream opened for
// writing writes its memory back as a new file when it is freed. Every
// operation opens its own session on the port and ends it again.
#pragma once

#include <openssl/bio.h>

#include <cstdint>

#include "platform/vendor/tmex_api.h"

namespace cadb {

// Function codes under the buffer library (7).
enum TM_F : int {
    TM_F_STREAM_NEW = 110,
    TM_F_COMMIT = 115,
    TM_F_OPEN = 118,
};
// Reasons.
inline constexpr int TM_R_SYSTEM_LIB = 2;
inline constexpr int TM_R_NO_BUFFER_DATA = 118;

// Enumeration of a directory: the session stays open from TM_dir_first to
// TM_dir_close, and each entry is read into entry.
struct TM_DIR {
    long session = 0;
    vendor::TmFileEntry entry{};
    void* state = nullptr;  // the session's state buffer
    vendor::TmDirPath dir{};
    short port_number = -1;
    short port_type = -1;
};

int TM_file_exists(const char* path);
int TM_delete_path(const char* path);
// path's last component only fills the entry slot ("*.*"). Returns nonzero
// when an entry was read.
int TM_dir_first(const char* path, TM_DIR* dir);
int TM_dir_next(TM_DIR* dir);
void TM_dir_close(TM_DIR* dir);

const BIO_METHOD* BIO_s_touch_memory();

// Loads the vendor library and registers the driver; 1 or -201 when the
// library or an entry is missing.
int TM_load();
// Called by the library's start-up: always 1.
int TM_init();
void TM_unload();
int TM_loaded();

// Where the port defaults come from: reads the text of a value under the
// local machine's key "Software\Dallas Semiconductor\iButton TMEX\3.00"
// into out (size bytes with the zero); 1 when the value was read. Without
// a reader the defaults are unreadable and the ports are scanned.
using TM_REGISTRY_READER = int (*)(const char* key, const char* name, char* out, int size);
void TM_set_registry_reader(TM_REGISTRY_READER reader);

}  // namespace cadb
