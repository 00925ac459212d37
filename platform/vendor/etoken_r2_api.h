// The calling contract of the eToken vendor library "etapi.dll", which keeps
// the token state itself: every entry takes a session record that the
// driver allocates zero-filled and the library fills, and a file's
// identifier string (its 4-hex-digit identifiers run together, such as
// "3f00e007a001"). Shared by the "eToken R2" driver and the stand-in the
// tests build.
//
// Entries return nonzero for success and 0 for a failure, whose details the
// library leaves in the session record (function code, reason, source file,
// line). The session keeps the field order of the Windows record; pointer
// fields have the width of the platform's pointers.
#pragma once

#include <cstdint>

namespace cadb::vendor {

// A file or directory as the library reports it; also the entry type of
// directory listings, which the driver constructs and the library fills.
struct ETOKEN_FILE_INFO {
    char name[8];  // zero-terminated, at most 7 characters
    std::int32_t is_file;
    std::int32_t is_directory;
    std::uint32_t attributes;
    std::uint32_t reserved;
    std::uint32_t size;  // in bytes
};
static_assert(sizeof(ETOKEN_FILE_INFO) == 28);

using ETokenPasswdCb = int (*)(char* buf, int size, int rwflag, void* arg);

struct ETR2_SESSION {
    std::uint32_t handle;        // nonzero while the library's session is open
    std::uint32_t mode;          // the stream's open mode flags (2 read, 4 write)
    std::uint32_t create_flags;  // passed to ETOKEN_create_file
    void* buffer;                // the driver's memory buffer
    unsigned char config[36];    // filled by ETOKEN_get_config
    ETOKEN_FILE_INFO info;       // the opened path, filled by ETOKEN_get_file_info
    unsigned char vendor[256];
    ETokenPasswdCb passwd_cb;  // the library asks for the PIN through it
    char* ids;                 // the driver's copy of the identifier string
    std::uint32_t vendor2;
    // The last failure, left by the library; 0 when none.
    std::uint32_t err_func;
    std::uint32_t err_reason;
    const char* err_file;
    std::uint32_t options;  // bit 0: the file was deleted through the stream
    std::uint32_t err_line;
};

// Function codes the library leaves in err_func: the ETOKEN error library's
// names 100-112, as the library itself numbers its entries.
enum ETokenR2Func : std::uint32_t {
    ETR2_F_INIT = 100,
    ETR2_F_GET_CONFIG = 101,
    ETR2_F_GET_FILE_INFO = 102,
    ETR2_F_IS_FILE_EXIST = 103,
    ETR2_F_LOGIN = 104,
    ETR2_F_LOGOUT = 105,
    ETR2_F_CHANGE_PASSWORD = 106,
    ETR2_F_CREATE_DIRECTORY = 107,
    ETR2_F_CREATE_FILE = 108,
    ETR2_F_DELETE = 109,
    ETR2_F_WRITE = 110,
    ETR2_F_READ = 111,
    ETR2_F_FILE_INFO_NEW = 112,
};

// Reasons the library leaves in err_reason.
enum ETokenR2Reason : std::uint32_t {
    ETR2_R_NO_TOKEN = 140,
    ETR2_R_NOT_FOUND = 141,
    ETR2_R_EXISTS = 142,
    ETR2_R_LOGIN_FAILED = 143,
    ETR2_R_NO_SPACE = 144,
    ETR2_R_BAD_ARGUMENT = 145,
};

using ETokenEntryNew = ETOKEN_FILE_INFO* (*)();
using ETokenEntryPush = int (*)(void* list, ETOKEN_FILE_INFO* entry);

using ETOKEN_init_t = int (*)(ETR2_SESSION* s, const char* reader);
using ETOKEN_close_t = void (*)(ETR2_SESSION* s);
using ETOKEN_login_t = int (*)(ETR2_SESSION* s, const char* pin);
using ETOKEN_logout_t = int (*)(ETR2_SESSION* s);
using ETOKEN_change_password_t = int (*)(ETR2_SESSION* s, const char* old_pin, const char* new_pin);
using ETOKEN_create_directory_t = int (*)(ETR2_SESSION* s, const char* ids, std::uint32_t flags);
using ETOKEN_create_file_t = int (*)(ETR2_SESSION* s, const char* ids, std::uint32_t size,
                                     std::uint32_t flags);
using ETOKEN_delete_t = int (*)(ETR2_SESSION* s, const char* ids);
using ETOKEN_write_t = int (*)(ETR2_SESSION* s, const char* ids, const void* data,
                               std::uint32_t offset, std::uint32_t length);
using ETOKEN_read_t = int (*)(ETR2_SESSION* s, const char* ids, void* buffer, std::uint32_t offset,
                              std::uint32_t length);
using ETOKEN_is_file_exist_t = int (*)(ETR2_SESSION* s, const char* ids, std::int32_t* exists);
using ETOKEN_get_file_info_t = int (*)(ETR2_SESSION* s, const char* ids, ETOKEN_FILE_INFO* out);
using ETOKEN_get_config_t = int (*)(ETR2_SESSION* s, unsigned char* config);
using ETOKEN_list_files_t = int (*)(ETR2_SESSION* s, const char* ids, void* list,
                                    ETokenEntryNew entry_new, ETokenEntryPush push);

// In the order the driver resolves them.
#define CADB_ETOKEN_R2_ENTRIES(X) \
    X(ETOKEN_init)                \
    X(ETOKEN_close)               \
    X(ETOKEN_login)               \
    X(ETOKEN_logout)              \
    X(ETOKEN_change_password)     \
    X(ETOKEN_create_directory)    \
    X(ETOKEN_create_file)         \
    X(ETOKEN_delete)              \
    X(ETOKEN_write)               \
    X(ETOKEN_read)                \
    X(ETOKEN_is_file_exist)       \
    X(ETOKEN_get_file_info)       \
    X(ETOKEN_get_config)          \
    X(ETOKEN_list_files)

}  // namespace cadb::vendor
