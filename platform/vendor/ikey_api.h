// The calling contract of the iKey vendor library "iKeyAPI.dll": USB keys
// with a small file system of 16-bit identifiers, at most one directory
// level deep. Shared by the "iKey" driver and the stand-in the tests build.
//
// Every entry returns 0 for success; the other results the driver relies on
// are named below. A device context is the library's handle.
#pragma once

#include <cstdint>

namespace cadb::vendor {

using IKeyRv = std::uint32_t;
inline constexpr IKeyRv kIKeyOk = 0;
inline constexpr IKeyRv kIKeyPinNeeded = 4;
inline constexpr IKeyRv kIKeyNoDevice = 6;
inline constexpr IKeyRv kIKeyMissing = 10;
inline constexpr IKeyRv kIKeyExists = 15;
inline constexpr IKeyRv kIKeyBusy = 21;
inline constexpr IKeyRv kIKeyBadArgument = 22;
inline constexpr IKeyRv kIKeyNoSpace = 23;
inline constexpr IKeyRv kIKeyPinRefused = 24;

// Open access of ikey_OpenFile.
inline constexpr std::uint32_t kIKeyAccessRead = 0x10;
inline constexpr std::uint32_t kIKeyAccessWrite = 0x20;
inline constexpr std::uint32_t kIKeyAccessCheck = 0x30;
// ikey_ChangeDir, ikey_GetFileInfo: the identifier names a directory.
inline constexpr std::uint32_t kIKeyDirectoryFlag = 0x100;
// ikey_GetCurrentDir's types.
inline constexpr std::uint32_t kIKeyRootType = 1;
inline constexpr std::uint32_t kIKeyDirType = 2;
// ikey_GetProperty's properties: presence (8-byte answer) and free space
// (32-byte answer, its second 32-bit word).
inline constexpr std::uint32_t kIKeyPropPresent = 7;
inline constexpr std::uint32_t kIKeyPropSpace = 12;

// The file information block (44 bytes).
struct IKeyFileInfo {
    std::uint32_t id;
    std::uint32_t vendor0;
    std::uint32_t size;
    std::uint8_t type;    // 2 for every file the driver creates
    std::uint8_t access[2];  // 1 and 1 for protected files
    std::uint8_t zero;
    std::uint8_t vendor[28];
};
static_assert(sizeof(IKeyFileInfo) == 44);

// The record of a new directory (48 bytes).
struct IKeyDirRecord {
    std::uint32_t id;
    std::uint32_t zero;
    std::uint32_t size;
    std::uint32_t kind;  // 0x10
    std::uint8_t rest[32];
};
static_assert(sizeof(IKeyDirRecord) == 48);

using ikey_CreateContext_t = IKeyRv (*)(void** ctx, std::uint32_t flags, std::uint32_t version);
using ikey_DeleteContext_t = IKeyRv (*)(void* ctx);
using ikey_OpenDevice_t = IKeyRv (*)(void* ctx, std::uint32_t flags, void* reserved);
using ikey_CloseDevice_t = IKeyRv (*)(void* ctx);
using ikey_ChangeDir_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t id,
                                    void* reserved);
using ikey_GetCurrentDir_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t* id,
                                        std::uint32_t levels, std::uint32_t* type);
using ikey_OpenFile_t = IKeyRv (*)(void* ctx, std::uint32_t access, std::uint32_t id,
                                   IKeyFileInfo* info, std::uint32_t info_len);
using ikey_CloseFile_t = IKeyRv (*)(void* ctx);
using ikey_Directory_t = IKeyRv (*)(void* ctx, std::uint32_t flags, void* out,
                                    std::uint32_t len);
using ikey_GetFileInfo_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t id,
                                      std::uint32_t reserved, IKeyFileInfo* info,
                                      std::uint32_t info_len);
using ikey_Read_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t offset, void* buffer,
                               std::uint32_t length, std::uint32_t* count);
using ikey_Write_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t offset,
                                const void* buffer, std::uint32_t length, std::uint32_t* count);
using ikey_CreateDir_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t a,
                                    std::uint32_t b, IKeyDirRecord* record,
                                    std::uint32_t record_len);
using ikey_DeleteDir_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t id);
using ikey_CreateFile_t = IKeyRv (*)(void* ctx, std::uint32_t flags, IKeyFileInfo* info,
                                     std::uint32_t info_len);
using ikey_DeleteFile_t = IKeyRv (*)(void* ctx, std::uint32_t flags, std::uint32_t id);
// kind 1: a PIN text; kind 0: 4 PIN bytes.
using ikey_Verify_t = IKeyRv (*)(void* ctx, std::uint32_t kind, const void* pin,
                                 std::uint32_t length);
using ikey_ResetSecurityState_t = IKeyRv (*)(void* ctx, std::uint32_t flags);
using ikey_Cleanup_t = IKeyRv (*)();
using ikey_GetProperty_t = IKeyRv (*)(void* ctx, std::uint32_t property, void* reserved,
                                      void* out, std::uint32_t out_len);

// In the order the driver resolves them.
#define CADB_IKEY_ENTRIES(X)    \
    X(ikey_CreateContext)       \
    X(ikey_DeleteContext)       \
    X(ikey_OpenDevice)          \
    X(ikey_CloseDevice)         \
    X(ikey_ChangeDir)           \
    X(ikey_GetCurrentDir)       \
    X(ikey_OpenFile)            \
    X(ikey_CloseFile)           \
    X(ikey_Directory)           \
    X(ikey_GetFileInfo)         \
    X(ikey_Read)                \
    X(ikey_Write)               \
    X(ikey_CreateDir)           \
    X(ikey_DeleteDir)           \
    X(ikey_CreateFile)          \
    X(ikey_DeleteFile)          \
    X(ikey_Verify)              \
    X(ikey_ResetSecurityState)  \
    X(ikey_Cleanup)             \
    X(ikey_GetProperty)

}  // namespace cadb::vendor
