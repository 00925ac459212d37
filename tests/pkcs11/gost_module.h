// The control surface of cadbgostp11, the tests' own PKCS#11 module with the
// GOST R 34.10-2001 mechanisms (key-pair generation, signing, agreement,
// key transport unwrap, GOST R 34.11-94 hashing). Its objects live in
// memory for as long as the module is loaded; it has two slots, two tokens
// that can be swapped in, and user PIN "1234".
#pragma once

#include "crypto/pkcs11/cryptoki.h"

namespace cadb::testing {

struct GostModuleControl {
    int offer_derive = 1;    // CKM_GOSTR3410_DERIVE in the mechanism list
    int offer_wrap = 1;      // CKM_GOSTR3410_KEY_WRAP in the mechanism list
    int offer_digest = 1;    // CKM_GOSTR3411 in the mechanism list
    int token_slot = 0;      // index of the slot holding the token (0 or 1)
    int token = 0;           // which of the two tokens is inserted (0 or 1)
    int pull = 0;            // pull the token out and put it back (sessions and login lost)
    CK_ULONG lie_sign_len = 0;  // C_Sign into a buffer answers CKR_BUFFER_TOO_SMALL with this
    CK_ULONG lie_digest_len = 0;  // C_Digest reports this much more than it has
    int full = 0;                 // C_CreateObject answers kGostFullTokenRv
    int refuse_find = 0;          // C_FindObjectsInit answers kGostRefusedSearchRv
};

}  // namespace cadb::testing

// What C_CreateObject answers on a full token: CKR_DEVICE_MEMORY.
inline constexpr cadb::CK_RV kGostFullTokenRv = 0x031;
// What C_FindObjectsInit answers when searches are refused: CKR_DEVICE_ERROR.
inline constexpr cadb::CK_RV kGostRefusedSearchRv = 0x030;

// Entry names the tests look up in the module.
inline constexpr const char* kGostModule = "cadbgostp11";
inline constexpr const char* kGostControl = "cadb_gost_control";  // applies a control record
inline constexpr const char* kGostReset = "cadb_gost_reset";      // empties both tokens
inline constexpr const char* kGostCount = "cadb_gost_count";      // objects of a class, any kind
inline constexpr const char* kGostDigests = "cadb_gost_digests";  // hashes made since the reset
using GostControlFn = void (*)(const cadb::testing::GostModuleControl*);
using GostResetFn = void (*)();
using GostCountFn = int (*)(cadb::CK_OBJECT_CLASS cls);
using GostDigestsFn = int (*)();
