// The exports of the dialog library "GorgetA.dll" that the object layer calls,
// by name and type. The library is never linked: each call loads it by the
// module-name rule, resolves the export and unloads it again.
#pragma once

#include <cstdint>

#include "crypto/pse/pse.h"
#include "crypto/rand/grand.h"

namespace cadb {

inline constexpr const char* kUILibraryName = "GorgetA.dll";

// The medium-and-folder record of the folder chooser.
inline constexpr int UI_DIR_PATH_SIZE = 260;
struct UIDirRecord {
    char path[UI_DIR_PATH_SIZE];
    std::int32_t type;  // media type of the chosen path
};

// What the seed export is handed: the generator's registration of a seeding
// routine, and its start through that routine.
using UIRegisterSeedRoutine = void (*)(GRAND_SEED_ROUTINE routine);
using UIStartSeeding = int (*)(PSE* pse, unsigned char* state36, int* out_len,
                               GRAND_CHAR_CB char_cb, void* arg);

extern "C" {
using UI_Init = std::int32_t (*)();
using UI_Free = std::int32_t (*)();
using UI_dirOperationCBK = std::int32_t (*)(const char* caption, UIDirRecord* record);
using UI_getPassCBK = std::int32_t (*)(char* buf, std::int32_t size, std::int32_t rwflag,
                                       const char* prompt);
using UI_getPinCBK = std::int32_t (*)(char* buf, std::int32_t size, std::int32_t rwflag,
                                      void* arg);
using UI_getProgressCBK = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
using UI_rndInitCBK_Vambrace32 = std::int32_t (*)(UIRegisterSeedRoutine reg, UIStartSeeding seed);
using UI_getSShareCBK = std::int32_t (*)(std::int32_t arg, std::int32_t* threshold,
                                         std::int32_t* count);
using UI_putPassCBK = UI_getPassCBK;
using UI_acceptPKCS7CBK = std::int32_t (*)(char** texts, std::int32_t count, char** fileNames);
using UI_devReqReady = std::int32_t (*)(const char* path, std::int32_t arg);
// The library's string table: string id into buf (size bytes, terminated);
// the length, 0 when the id has no string.
using UI_GorgetLoadString = std::int32_t (*)(std::uint32_t id, char* buf, std::int32_t size);
// A message box without owner; the button pressed (IDOK, IDYES, IDNO ...).
using UI_MessageBoxA = std::int32_t (*)(void* owner, const char* text, const char* caption,
                                        std::uint32_t type);
}

// Message-box types and results.
inline constexpr unsigned MB_OK = 0x00;
inline constexpr unsigned MB_YESNO = 0x04;
inline constexpr unsigned MB_ICONSTOP = 0x10;
inline constexpr unsigned MB_ICONQUESTION = 0x20;
inline constexpr unsigned MB_ICONEXCLAMATION = 0x30;
inline constexpr int IDOK = 1;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

}  // namespace cadb
