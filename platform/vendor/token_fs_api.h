// The calling contract of the USB-token vendor libraries that give a token a
// file system of its own: "rtapilt.dll" (ruToken) and "etsdk.dll" (eToken).
// The two libraries are entry for entry the same; only the names differ.
// Shared by the token drivers and by the stand-ins the tests load.
//
// Every entry returns a 32-bit code: 0 is success, a value with the top bit
// set a failure. Handles are opaque pointers owned by the library.
#pragma once

#include <cstdint>

namespace cadb::vendor {

using TokenRv = std::uint32_t;

inline constexpr TokenRv kTokenOk = 0;
// The end of an enumeration: no error.
inline constexpr TokenRv kTokenNoMoreItems = 0x80070103;
inline constexpr TokenRv kTokenNotFound = 0x80070002;
inline constexpr TokenRv kTokenBadArgument = 0x80070057;
inline constexpr TokenRv kTokenExists = 0x80070050;
inline constexpr TokenRv kTokenNoSpace = 0x80070070;
inline constexpr TokenRv kTokenGeneral = 0x80004005;
// Access denied until a login: the ruToken code, and the eToken status word
// (any code whose low 16 bits are 0x6982).
inline constexpr TokenRv kRuTokenLoginNeeded = 0x81116982;
inline constexpr TokenRv kETokenLoginNeeded = 0xA0106982;
inline constexpr TokenRv kTokenPinRefused = 0x811163C0;

constexpr bool token_failed(TokenRv rv) { return (rv & 0x80000000U) != 0; }

// A directory or file as the enumerations and info calls report it.
struct TokenFsInfo {
    std::uint16_t id;
    std::uint16_t is_directory;
    std::uint32_t attributes;
    std::uint32_t size;
};

// Entry types, by the role they play.
using OpenReadersEnum_t = TokenRv (*)(void** readers);
// Copies the next reader's zero-terminated name (at most size bytes with the
// zero) and whether a token sits in it.
using GetNextReader_t = TokenRv (*)(void* readers, char* name, std::uint32_t size, int* has_token);
using CloseReadersEnum_t = TokenRv (*)(void* readers);
using BindToken_t = TokenRv (*)(const char* reader, void** token);
using UnbindToken_t = TokenRv (*)(void* token);
using LoginToken_t = TokenRv (*)(void* token, const char* pin);
using LogoutToken_t = TokenRv (*)(void* token);
using ChangeTokenPin_t = TokenRv (*)(void* token, const char* old_pin, const char* new_pin);
using GetTokenPinLength_t = TokenRv (*)(void* token, std::uint32_t* length);
using GetTokenText_t = TokenRv (*)(void* token, char* text, std::uint32_t size);
using OpenRootDir_t = TokenRv (*)(void* token, void** dir);
using OpenChildDir_t = TokenRv (*)(void* dir, std::uint16_t id, void** child);
using GetInfo_t = TokenRv (*)(void* handle, TokenFsInfo* info);
using DeleteDir_t = TokenRv (*)(void* dir, std::uint16_t id);
using CloseHandle_t = TokenRv (*)(void* handle);
using OpenEnum_t = TokenRv (*)(void* dir, void** items);
using GetNextItem_t = TokenRv (*)(void* items, TokenFsInfo* info);
using OpenFile_t = TokenRv (*)(void* dir, std::uint16_t id, void** file);
using CreateFile_t = TokenRv (*)(void* dir, std::uint16_t id, std::uint32_t size,
                                 std::uint32_t flags, void** file);
// Reads up to length bytes at offset; *done gets the count read.
using ReadFile_t = TokenRv (*)(void* file, std::uint32_t offset, void* buffer, std::uint32_t length,
                               std::uint32_t* done);
using WriteFile_t = TokenRv (*)(void* file, std::uint32_t offset, const void* buffer,
                                std::uint32_t length);
// Deletes the open file; the handle still needs closing.
using DeleteFile_t = TokenRv (*)(void* file);

// role, type, ruToken entry, eToken entry; in the order the drivers resolve
// them.
#define CADB_TOKEN_FS_ENTRIES(X)                                                       \
    X(OpenReadersEnum, OpenReadersEnum_t, rtlOpenReadersEnum, ETReadersEnumOpen)       \
    X(GetNextReader, GetNextReader_t, rtlGetNextReader_A, ETReadersEnumNext)           \
    X(CloseReadersEnum, CloseReadersEnum_t, rtlCloseReadersEnum, ETReadersEnumClose)   \
    X(BindToken, BindToken_t, rtlBindToken_A, ETTokenBind)                             \
    X(UnbindToken, UnbindToken_t, rtlUnbindToken, ETTokenUnbind)                       \
    X(LoginToken, LoginToken_t, rtlLoginToken_A, ETTokenLogin)                         \
    X(LogoutToken, LogoutToken_t, rtlLogoutToken, ETTokenLogout)                       \
    X(ChangeTokenPin, ChangeTokenPin_t, rtlChangeTokenPin_A, ETTokenPinChange)         \
    X(GetPinMaxLength, GetTokenPinLength_t, rtlGetTokenPinMaxLength, ETTokenMaxPinGet) \
    X(GetPinMinLength, GetTokenPinLength_t, rtlGetTokenPinMinLength, ETTokenMinPinGet) \
    X(GetTokenLabel, GetTokenText_t, rtlGetTokenLabel_A, ETTokenLabelGet)              \
    X(GetTokenId, GetTokenText_t, rtlGetTokenID_A, ETTokenIDGet)                       \
    X(OpenRootDir, OpenRootDir_t, rtlOpenRootDir, ETRootDirOpen)                       \
    X(CreateDir, OpenChildDir_t, rtlCreateDir, ETDirCreate)                            \
    X(OpenDir, OpenChildDir_t, rtlOpenDir, ETDirOpen)                                  \
    X(GetDirInfo, GetInfo_t, rtlGetDirInfo, ETDirGetInfo)                              \
    X(DeleteDir, DeleteDir_t, rtlDeleteDir, ETDirDelete)                               \
    X(CloseDir, CloseHandle_t, rtlCloseDir, ETDirClose)                                \
    X(OpenDirEnum, OpenEnum_t, rtlOpenDirEnum, ETDirEnumOpen)                          \
    X(GetNextDir, GetNextItem_t, rtlGetNextDir, ETDirEnumNext)                         \
    X(CloseDirEnum, CloseHandle_t, rtlCloseDirEnum, ETDirEnumClose)                    \
    X(OpenFilesEnum, OpenEnum_t, rtlOpenFilesEnum, ETFilesEnumOpen)                    \
    X(GetNextFile, GetNextItem_t, rtlGetNextFile, ETFilesEnumNext)                     \
    X(CloseFilesEnum, CloseHandle_t, rtlCloseFilesEnum, ETFilesEnumClose)              \
    X(OpenFile, OpenFile_t, rtlOpenFile, ETFileOpen)                                   \
    X(CreateFile, CreateFile_t, rtlCreateFile, ETFileCreate)                           \
    X(ReadFile, ReadFile_t, rtlReadFile, ETFileRead)                                   \
    X(WriteFile, WriteFile_t, rtlWriteFile, ETFileWrite)                               \
    X(DeleteFile, DeleteFile_t, rtlDeleteFile, ETFileDelete)                           \
    X(GetFileInfo, GetInfo_t, rtlGetFileInfo, ETFileGetInfo)                           \
    X(CloseFile, CloseHandle_t, rtlCloseFile, ETFileClose)

}  // namespace cadb::vendor
