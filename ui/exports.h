// The library's exports, with C linkage, as the enrolment library's binding
// resolves them by name. Every buffer belongs to the caller: the entered
// text is copied without a terminating zero and never past the length the
// binding passes; texts are in code page 1251.
#pragma once

#include <cstdint>

#include "crypto/pse/pse.h"
#include "crypto/rand/grand.h"
#include "ui/model.h"

#define GORGET_EXPORT extern "C" __attribute__((visibility("default")))

namespace gorget {

inline constexpr int kPathRecordSize = 260;

// The chooser's in/out record.
struct MediumRecord {
    char path[kPathRecordSize];
    std::int32_t medium_type;
};

// The seeding routines the two seed exports drive are the generator's:
// rndInitCBK_Vambrace32(GRAND_set_seed_routine, PSE_rand_init) registers the
// event dialog as the seeding routine and starts seeding;
// rndInitCBK(CADB_rand_init_pse) runs a routine that asks for particular
// keys through the key callback.
using KeySeedFn = int (*)(cadb::PSE* store, unsigned char* state36, cadb::GRAND_CHAR_CB key_cb,
                          void* arg);
using RegisterFn = void (*)(cadb::GRAND_SEED_ROUTINE routine);
using EventSeedFn = int (*)(cadb::PSE* store, unsigned char* state36, int* out_len,
                            cadb::GRAND_CHAR_CB key_cb, void* arg);

}  // namespace gorget

GORGET_EXPORT std::int32_t getPassCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                      const char* prompt);
GORGET_EXPORT std::int32_t putPassCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                      const char* prompt);
GORGET_EXPORT std::int32_t getPass_eTokenCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                             void* arg);
GORGET_EXPORT std::int32_t getPass_ruTokenCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                              void* arg);
GORGET_EXPORT std::int32_t getPass_pkcs11CBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                             void* arg);
GORGET_EXPORT std::int32_t getSShareCBK(std::int32_t unused, std::int32_t* threshold,
                                        std::int32_t* number);
GORGET_EXPORT std::int32_t devReqReady(const char* path, std::int32_t unused);
// Copies string id into buffer (at most size - 1 bytes and a zero, in code
// page 1251) and returns the bytes copied; 0 when there is no such string.
GORGET_EXPORT std::int32_t GorgetLoadString(std::uint32_t id, char* buffer, std::int32_t size);
GORGET_EXPORT std::int32_t dirOperationCBK(const char* caption, gorget::MediumRecord* record);
GORGET_EXPORT std::int32_t Init();
GORGET_EXPORT std::int32_t Free();
GORGET_EXPORT std::int32_t getProgressCBK(std::int32_t, std::int32_t, std::int32_t);
GORGET_EXPORT std::int32_t rndInitCBK(gorget::KeySeedFn seed);
GORGET_EXPORT std::int32_t rndInitCBK_Vambrace32(gorget::RegisterFn register_routine,
                                                 gorget::EventSeedFn seed);
GORGET_EXPORT std::int32_t acceptPKCS7CBK(char** texts, std::int32_t count, char** file_names);
// A message box without owner (the owner window is not looked at); the
// button pressed: IDOK, IDCANCEL, IDRETRY, IDYES or IDNO.
GORGET_EXPORT std::int32_t MessageBoxA(void* owner, const char* text, const char* caption,
                                       std::uint32_t type);
// The save-file picker without owner (platform/save_dialog.h, SaveFileEntry).
GORGET_EXPORT std::int32_t GorgetSaveFileA(const char* title, const char* filter,
                                           std::int32_t filter_index,
                                           const char* default_extension, const char* file_name,
                                           std::uint32_t flags, char* path, std::int32_t size);
// A dialog model another library made (built from the same ui/model.h,
// which model_abi, its kDialogModelAbi, vouches for), shown on the library's
// user-interface thread until it ends: its result (IDOK, IDCANCEL ...),
// IDCANCEL at once when no window can be shown, 0 when the model is refused.
GORGET_EXPORT std::int32_t GorgetRunDialog(gorget::Dialog* dialog, std::uint32_t model_abi);
