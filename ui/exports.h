// The library's exports, with C linkage, as the enrolment library's binding
// resolves them by name. Every buffer belongs to the caller: the entered
// text is copied without a terminating zero and never past the length the
// binding passes; texts are in code page 1251.
#pragma once

#include <cstdint>

#define GORGET_EXPORT extern "C" __attribute__((visibility("default")))

namespace gorget {

inline constexpr int kPathRecordSize = 260;

// The chooser's in/out record.
struct MediumRecord {
    char path[kPathRecordSize];
    std::int32_t medium_type;
};

// (character, keys done, total keys, unused) -> the character typed, 0 when
// the user cancelled.
using KeyCallback = int (*)(int ch, int done, int total, void* unused);
// A seeding routine asking for particular keys: (0, 0, keyCallback, 0).
using KeySeedFn = int (*)(void* store, unsigned char* state, KeyCallback cb, void* arg);
// The generator's per-event callback.
using EventFn = int (*)(void* user_data);
// A seeding routine of timed events, as the generator calls it.
using EventRoutine = int (*)(void* user_data, int events_needed, KeyCallback unused_cb,
                             void* unused_arg, EventFn event_fn);
using RegisterFn = void (*)(EventRoutine routine);
using EventSeedFn = int (*)(void* store, unsigned char* state, int* out_len, KeyCallback cb,
                            void* arg);

}  // namespace gorget

GORGET_EXPORT std::int32_t getPassCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                      const char* prompt);
GORGET_EXPORT std::int32_t putPassCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                      const char* prompt);
GORGET_EXPORT std::int32_t getPass_eTokenCBK(char* buffer, std::int32_t size, std::int32_t rwflag,
                                             void* arg);
GORGET_EXPORT std::int32_t getPass_ruTokenCBK(char* buffer, std::int32_t size,
                                              std::int32_t rwflag, void* arg);
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
