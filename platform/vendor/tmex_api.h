// The calling contract of the touch-memory vendor library "ibfs32.dll": a
// small file system on a button read through a port adapter, with
// directories and files of 4-character names and a numeric extension.
// Shared by the "Touch Memory" driver and the stand-in the tests build.
//
// A session is opened on a port and ended again for every operation; the
// entries that work on the button take the session and a state buffer the
// caller provides. Results are 16-bit: the relied-on values are given per
// entry below, negative values are failures.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cadb::vendor {

// The state buffer every button call takes.
inline constexpr std::size_t kTmStateSize = 15360;
// One read brings at most this much of a file.
inline constexpr int kTmReadMax = 8192;
// Directory levels a path may have.
inline constexpr int kTmMaxDirs = 10;
// The extension that marks a directory entry.
inline constexpr int kTmDirectoryExtension = 127;
// TMDeleteFile of a file that is not there.
inline constexpr short kTmFileNotFound = -6;
// The driver's result for an entry the library lacks.
inline constexpr short kTmMissingEntry = -201;

// Port types.
inline constexpr short kTmPortAuto = 0;
inline constexpr short kTmPortSerial = 1;    // "COM"
inline constexpr short kTmPortParallel = 2;  // "LPT"

#pragma pack(push, 1)
// A directory path: names from the root when ref is '\'.
struct TmDirPath {
    std::uint8_t count;  // 0 to 10
    char ref;
    char names[kTmMaxDirs][4];  // padded with blanks
};
static_assert(sizeof(TmDirPath) == 42);

// A file or directory entry; the library fills the bytes after the
// extension.
struct TmFileEntry {
    char name[4];  // padded with blanks
    std::uint8_t extension;
    std::uint8_t vendor[35];
};
static_assert(sizeof(TmFileEntry) == 40);
#pragma pack(pop)

using TMExtendedStartSession_t = long (*)(short port_num, short port_type, void* reserved);
using TMEndSession_t = short (*)(long session);
using TMFirstFile_t = short (*)(long session, void* state, TmFileEntry* entry);
using TMNextFile_t = short (*)(long session, void* state, TmFileEntry* entry);
using TMOpenFile_t = short (*)(long session, void* state, TmFileEntry* entry);
using TMCreateFile_t = short (*)(long session, void* state, short* max_write, TmFileEntry* entry);
using TMCloseFile_t = short (*)(long session, void* state, short handle);
using TMReadFile_t = short (*)(long session, void* state, short handle, unsigned char* buffer,
                               short max);
using TMWriteFile_t = short (*)(long session, void* state, short handle,
                                const unsigned char* data, short length);
using TMDeleteFile_t = short (*)(long session, void* state, TmFileEntry* entry);
using TMChangeDirectory_t = short (*)(long session, void* state, short operation,
                                      TmDirPath* path);
using TMDirectoryMR_t = short (*)(long session, void* state, short operation,
                                  TmFileEntry* entry);
using TMCreateProgramJob_t = short (*)(long session, void* state);
using TMDoProgramJob_t = short (*)(long session, void* state);
using TMFirst_t = short (*)(long session, void* state);
using TMSetup_t = short (*)(long session);

// In the order the driver resolves them.
#define CADB_TMEX_ENTRIES(X)   \
    X(TMExtendedStartSession)  \
    X(TMEndSession)            \
    X(TMFirstFile)             \
    X(TMNextFile)              \
    X(TMOpenFile)              \
    X(TMCreateFile)            \
    X(TMCloseFile)             \
    X(TMReadFile)              \
    X(TMWriteFile)             \
    X(TMDeleteFile)            \
    X(TMChangeDirectory)       \
    X(TMDirectoryMR)           \
    X(TMCreateProgramJob)      \
    X(TMDoProgramJob)          \
    X(TMFirst)                 \
    X(TMSetup)

}  // namespace cadb::vendor
