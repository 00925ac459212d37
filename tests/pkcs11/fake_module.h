// The control surface of cadbfakep11, a PKCS#11 module of the tests' own
// whose answers a test sets: how initialisation answers, how many slots it
// has, and the ways a faulty module lies about lengths and counts.
#pragma once

#include "crypto/pkcs11/cryptoki.h"

namespace cadb::testing {

struct FakeConfig {
    CK_RV initialize_rv = 0;      // what C_Initialize answers
    CK_ULONG slot_count = 1;      // every slot holds a token
    int grow_slots_once = 0;      // the first fetch finds one slot more than the size query
    int overstate_slots = 0;      // the fetch reports more slots than it was given room for
    CK_FLAGS token_flags = 0;     // CKF_LOGIN_REQUIRED or not
    CK_ULONG max_pin_len = 0;     // as the token reports it
    int overstate_attribute = 0;  // an attribute read reports more bytes than the room given
    int unavailable_attribute = 0;
    int repeat_find = 0;  // C_FindObjects keeps giving the same handle
    int refuse_find = 0;  // C_FindObjectsInit fails
};

struct FakeCounters {
    int initialize = 0;
    int finalize = 0;
    int login = 0;
    CK_ULONG last_pin_len = 0;
    int open_sessions = 0;  // opened and not yet closed
};

}  // namespace cadb::testing

// Entry names the tests look up in the module.
inline constexpr const char* kFakeConfigure = "cadb_fake_configure";
inline constexpr const char* kFakeCounters = "cadb_fake_counters";
using FakeConfigureFn = void (*)(const cadb::testing::FakeConfig*);
using FakeCountersFn = cadb::testing::FakeCounters* (*)();
