// The key-store context: the handle through which a store (a small set of
// files on one medium holding the split master key, the key-encryption key
// and the saved state of the store's random generator) is created, opened,
// rewritten and erased. The work is done by a storage method chosen from the
// store path: the default method keeps the files on any medium through the
// file layer; "pkcs11" paths go to the token storage method once one is
// registered, and are refused until then.
//
// Every public operation holds the context's own mutex for its whole run, so
// one context may be shared by threads, one operation at a time.
#pragma once

#include <cstdint>
#include <mutex>

#include "crypto/cadb/buffer.h"
#include "crypto/pse/pse.h"
#include "crypto/rand/grand.h"
#include "crypto/store/media_io.h"

namespace cadb {

// Library 66 (CADB) function codes of the key-store context.
enum CadbPseCtxFunc : int {
    CADB_F_PSE_CTX_NEW = 331,
    CADB_F_PSE_CTX_SET = 332,
    CADB_F_PSE_CTX_READ = 333,
    CADB_F_PSE_CTX_WRITE = 334,
    CADB_F_PSE_CTX_CREATE = 335,
    CADB_F_PSE_CTX_ERASE = 377,
};

// Library 66 (CADB) reasons: another process holds the store too long; a
// new store was to be written where one is already; a key was to take a
// name another key bears; a device's writers have no folder to meet in, or
// the device's lock file there cannot be opened or locked; a path names a
// file in a form its medium cannot hold; no device of the medium answers
// (none is there, or one busy elsewhere does not answer now).
enum CadbPseCtxReason : int {
    CADB_R_KEY_STORE_BUSY = 190,
    CADB_R_KEY_STORE_EXISTS = 191,
    CADB_R_KEY_NAME_TAKEN = 192,
    CADB_R_NO_LOCK_FOLDER = 193,
    CADB_R_LOCK_FILE_UNUSABLE = 194,
    CADB_R_NAME_NOT_HELD = 195,
    CADB_R_NO_MEDIUM = 196,
};

// File kinds of a store; their names depend on the medium.
enum PseFileKind : int {
    PSE_FILE_MKEY = 0,
    PSE_FILE_MASKS = 1,
    PSE_FILE_KEK = 2,
    PSE_FILE_RAND = 3,
    PSE_FILE_KEYS_DIR = 4,
    PSE_FILE_PKCS12 = 5,
};

// Flag bits of PSE_CTX_set_flags.
inline constexpr std::uint8_t PSE_CTX_FLAG_NO_RAND_INIT = 1;  // read leaves the generator alone
// A token's store is read even when the generator already runs (without it
// the read only carries the token's path).
inline constexpr std::uint8_t PSE_CTX_FLAG_READ_TOKEN = 2;
// The write makes a new store: it is decided under the store's lock whether
// a store is there already (another process may have made one since this
// one looked), and then nothing is written and the write fails with
// CADB_R_KEY_STORE_EXISTS, so that keys already made under that store are
// never orphaned by a second master key.
inline constexpr std::uint8_t PSE_CTX_FLAG_NEW_STORE = 4;

// Events of the notification callback, around the random-state file.
inline constexpr int PSE_CTX_EVENT_RAND_BEGIN = 13;
inline constexpr int PSE_CTX_EVENT_RAND_END = 14;

inline constexpr int PSE_CTX_DEFAULT_SHARES = 8;
inline constexpr int PSE_CTX_PASSWD_MAX = 1024;
// Longest store path that still leaves room for a file name in 260 bytes.
inline constexpr int PSE_CTX_MAX_PATH = 247;

struct PSE_CTX;
using PSE_CTX_NOTIFY_CB = void (*)(int event);

struct PSE_CTX_METHOD {
    const char* name;
    int (*create)(PSE_CTX* ctx);
    PSE* (*read)(PSE_CTX* ctx);  // a new record, or null
    int (*write)(PSE_CTX* ctx);
    int (*erase)(PSE_CTX* ctx);
};

struct PSE_CTX {
    BufferPtr path;
    BufferPtr mkey_path, masks_path, kek_path, rand_path;  // per-file overrides
    BufferPtr mkey, masks, kek, rand_state;  // contents as last read or made; masks clear
    BufferPtr password;
    GRAND_CHAR_CB seed_cb = nullptr;
    void* seed_arg = nullptr;
    BUFFER_PASSWD_CB passwd_cb = nullptr;
    void* passwd_arg = nullptr;
    CADB_INSERT_MEDIA_CB insert_media_cb = nullptr;  // null: the process-wide one
    void* insert_media_arg = nullptr;
    std::uint8_t shares = PSE_CTX_DEFAULT_SHARES;
    std::uint8_t flags = 0;
    PSE* pse = nullptr;          // one counted reference
    std::recursive_mutex mutex;  // recursive: a storage method calls the setters
    std::int32_t sbox_code = 31;
    std::uint32_t media_flags = 0;
    BufferPtr media_credential;  // its data pointer is the second media word
    PSE_CTX_NOTIFY_CB notify_cb = nullptr;
    const PSE_CTX_METHOD* method = nullptr;
};

// A context with the defaults (8 shares, S-box code 31, default method), or
// null: (66, 331, memory alloc failure), error class 11.
PSE_CTX* PSE_CTX_new();
// Wipes and frees every buffer, drops the PSE reference. Null accepted.
void PSE_CTX_free(PSE_CTX* ctx);

// Byte setters: len <= 0 means strlen(data); null data clears the field.
// The store path must be given and re-selects the storage method.
int PSE_CTX_set_path(PSE_CTX* ctx, const char* path, int len);
int PSE_CTX_set_mkey_path(PSE_CTX* ctx, const char* path, int len);
int PSE_CTX_set_masks_path(PSE_CTX* ctx, const char* path, int len);
int PSE_CTX_set_kek_path(PSE_CTX* ctx, const char* path, int len);
int PSE_CTX_set_rand_path(PSE_CTX* ctx, const char* path, int len);
int PSE_CTX_set_password(PSE_CTX* ctx, const char* password, int len);
// Contents given directly are used instead of reading their files; null
// data is an error. Masks are given clear (32 bytes) or in their stored
// form, which a read decrypts.
int PSE_CTX_set_mkey(PSE_CTX* ctx, const unsigned char* data, int len);
int PSE_CTX_set_masks(PSE_CTX* ctx, const unsigned char* data, int len);
int PSE_CTX_set_kek(PSE_CTX* ctx, const unsigned char* data, int len);
int PSE_CTX_set_rand_state(PSE_CTX* ctx, const unsigned char* data, int len);

int PSE_CTX_set_rand_cb(PSE_CTX* ctx, GRAND_CHAR_CB cb, void* arg = nullptr);
int PSE_CTX_set_passwd_cb(PSE_CTX* ctx, BUFFER_PASSWD_CB cb, void* arg = nullptr);
int PSE_CTX_set_insert_media_cb(PSE_CTX* ctx, CADB_INSERT_MEDIA_CB cb, void* arg = nullptr);
int PSE_CTX_set_notify_cb(PSE_CTX* ctx, PSE_CTX_NOTIFY_CB cb);
// Shares of a new master-key record, 1..8.
int PSE_CTX_set_shares(PSE_CTX* ctx, int shares);
int PSE_CTX_set_flags(PSE_CTX* ctx, int flags);
// S-box code of a new store: 31 default, 32-35 CryptoPro A-D.
int PSE_CTX_set_sbox_code(PSE_CTX* ctx, int code);
// The media words handed to every file operation of the store; null
// credential clears it.
int PSE_CTX_set_media_words(PSE_CTX* ctx, std::uint32_t flags, const void* credential, int len);

// Copies of the cached contents for a token storage method: *len is set,
// out (when not null) receives the bytes. The masks come in their stored
// form (encrypted under the password when one is set). A missing cache fails.
int PSE_CTX_get_mkey(PSE_CTX* ctx, unsigned char* out, int* len);
int PSE_CTX_get_kek(PSE_CTX* ctx, unsigned char* out, int* len);
int PSE_CTX_get_masks(PSE_CTX* ctx, unsigned char* out, int* len);
// *len := 36. Fails when the store's generator is not ready or no store is
// held; a caller's *len below 36 returns 0 (even with null out); null out
// then only asks the size; else out receives a fresh 36-byte state record.
int PSE_CTX_get_rand_state(PSE_CTX* ctx, unsigned char* out, int* len);

// Make a new store in memory (nothing is written), open one, write the held
// one, erase one. Each dispatches to the storage method; a method without
// the operation succeeds at once.
int PSE_CTX_create(PSE_CTX* ctx);
int PSE_CTX_read(PSE_CTX* ctx);
int PSE_CTX_write(PSE_CTX* ctx);
int PSE_CTX_erase(PSE_CTX* ctx);
// The held record (no new reference).
PSE* PSE_CTX_get_pse(PSE_CTX* ctx);

const PSE_CTX_METHOD* PSE_get_default_method();
// Registers the storage method of "pkcs11" store paths (null: refuse them).
// Contexts pick it up when their path is next set.
void PSE_CTX_set_pkcs11_method(const PSE_CTX_METHOD* method);
const PSE_CTX_METHOD* PSE_CTX_get_pkcs11_method();

int PSE_CTX_default_create(PSE_CTX* ctx);
PSE* PSE_CTX_default_read(PSE_CTX* ctx);
int PSE_CTX_default_write(PSE_CTX* ctx);
int PSE_CTX_default_erase(PSE_CTX* ctx);

// out (260 bytes) := store path joined with the name of kind on the store's
// medium; null when out or store_path is null, store_path is longer than 247
// characters or kind is unknown.
char* PSE_CTX_file_path(char* out, const char* store_path, int kind);
// Path of key file n in the store's key directory; null when it cannot be
// built.
char* CADB_key_file_path(const char* store_path, int n, char* out);
char* CADB_key_file_path_1(const char* store_path, char* out);

// The store's generator: ready or not; started from a 36-byte state record
// (refreshed in place when it is already running) or through the seed
// callback; a fresh state record written to out36.
int CADB_rand_status();
int CADB_rand_init_pse(PSE* pse, unsigned char* state36, GRAND_CHAR_CB seed_cb, void* seed_arg);
// 1 when a 36-byte state record opens under the store, so that starting
// from it asks nobody for a seed; 0 otherwise, with nothing on the queue.
int CADB_rand_state_opens(PSE* pse, const unsigned char* state36);
int CADB_rand_save_state(PSE* pse, unsigned char* out36);

}  // namespace cadb
