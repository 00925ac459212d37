// BUFFER: the byte string through which every encoding passes between the
// layers. Its data, when present, is always one byte longer than its length
// and that byte is 0, so text can be used as a C string; the payload is wiped
// before the memory goes back.
#pragma once

#include <cstdint>
#include <memory>

namespace cadb {

// Library 7 (the buffer library) function codes of the buffer operations.
enum BufFunc : int {
    BUF_F_BUFFER_NEW = 130,
    BUF_F_BUFFER_FILL = 131,
    BUF_F_BUFFER_CAT = 132,
    BUF_F_BUFFER_APPEND = 133,
    BUF_F_BUFFER_READ_FILE = 134,
    BUF_F_BUFFER_RAND = 135,
    BUF_F_BUFFER_COMPRESS = 136,
    BUF_F_BUFFER_UNCOMPRESS = 137,
};

// Library 66 (CADB) function codes of the encoding utilities.
enum CadbBufferFunc : int {
    CADB_F_BUFFER_ENCRYPT = 240,
    CADB_F_BUFFER_DECRYPT = 241,
    CADB_F_X2TEXT = 242,
    CADB_F_X2PEM = 243,
    CADB_F_X2DER = 244,
    CADB_F_X509_NAME_SPLIT = 245,
    CADB_F_X509_ATTRIBUTES_SPLIT = 246,
    CADB_F_ATTRIBUTE_NEW = 247,
    CADB_F_ATTRIBUTE_ADD = 248,
    CADB_F_CADB_OID_NEW = 249,
    CADB_F_FINGER_PRINT_GET = 250,
};

// Library 66 (CADB) reasons of the encoding utilities.
enum CadbBufferReason : int {
    CADB_R_ERROR_ADD_ATTRIBUTE = 100,
    CADB_R_INTEGRITY_CHECK_FAILURE = 126,
    CADB_R_ENCRYPTED_DATA_EXPECTED = 127,
    CADB_R_DIGESTED_DATA_EXPECTED = 128,
    CADB_R_DATA_EXPECTED = 129,
};

struct BUFFER {
    unsigned char* data;  // null when empty, else length + 1 bytes ending in 0
    std::int32_t length;  // payload bytes, the trailing zero not counted
};

BUFFER* BUFFER_new();
// Wipes and frees the data; the record stays, empty. Null accepted.
void BUFFER_clear(BUFFER* b);
// BUFFER_clear, then frees the record. Null accepted.
void BUFFER_free(BUFFER* b);

// New buffer with a copy of len bytes. len < 0: bytes is text and its strlen
// is taken (null bytes is then an error). Null bytes with len >= 0: len zero
// bytes.
BUFFER* BUFFER_fill(const void* bytes, int len);

// New buffer a || b; both inputs are freed on success. A null a returns b, a
// null b returns a. On failure both stay with the caller.
BUFFER* BUFFER_cat(BUFFER* a, BUFFER* b);

// Appends len bytes (len < 0: strlen) in place. Returns the number appended;
// 0 on failure or when nothing was to be appended, the buffer unchanged.
int BUFFER_append(BUFFER* b, const void* bytes, int len);

// Password callback: (buffer, size, rwflag, argument) -> characters written.
using BUFFER_PASSWD_CB = int (*)(char* buf, int size, int rwflag, void* arg);

// The whole content of a file on any medium (a path of 260 bytes or more is
// refused before any medium is touched). Token media that need a PIN ask
// through cb with arg, or the driver's process-wide callback when cb is null.
BUFFER* BUFFER_read_file(const char* path, BUFFER_PASSWD_CB cb, void* arg);
BUFFER* BUFFER_load_file(const char* path);

// Writes the whole buffer as the file (CADB_write_file, a token's PIN asked
// through cb as above): -1 when path or b is null, else that write's result
// (the length, or 0 on failure).
int BUFFER_write_file(const char* path, const BUFFER* b, BUFFER_PASSWD_CB cb, void* arg);
int BUFFER_save_file(const char* path, const BUFFER* b);

// Replaces the contents by their base64 encoding (RFC 4648 alphabet, '='
// padding, no line breaks). Returns b, or null with b unchanged.
BUFFER* BUFFER_to_base64(BUFFER* b);

// n bytes from the library's random generator; null unless all n came.
BUFFER* BUFFER_rand(int n);

// True when no password was given at all; an empty password is a password.
int PASSWD_is_absent(const void* passwd, int len);

// Password callbacks serving a password kept in the BUFFER passed as their
// argument: copy its bytes, the _str form stopping at a zero byte. The count
// copied; 0 when out or the argument is null; -1, nothing copied, when the
// password is longer than size (a cut password would be a wrong one).
int BUFFER_passwd_cb(char* out, int size, int rwflag, void* buffer);
int BUFFER_passwd_cb_str(char* out, int size, int rwflag, void* buffer);

struct BufferDeleter {
    void operator()(BUFFER* b) const { BUFFER_free(b); }
};
using BufferPtr = std::unique_ptr<BUFFER, BufferDeleter>;

}  // namespace cadb
