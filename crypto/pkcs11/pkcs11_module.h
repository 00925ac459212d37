// The registry of PKCS#11 modules. A module (a shared library exporting
// C_GetFunctionList) is loaded and initialised once per process and handed
// out as counted references; each module keeps the table of its slots with
// one shared session per slot, the session that carries the user's login.
//
// Paths name a token and an object on it: "pkcs11" [N] ":\" module
// ["\" object], "pkcs11" matched without regard to case, N an optional slot
// index counted over all slots, "/" accepted in place of "\".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"
#include "platform/module.h"

namespace cadb {

// Function codes of library 81 used by the registry.
enum : int {
    PKCS11_F_PKCS11_MODULE_NEW = 100,
    PKCS11_F_PKCS11_MODULE_GET_BY_NAME = 101,
    PKCS11_F_PKCS11_GET_SLOT = 103,
    PKCS11_F_PKCS11_MODULE_LOAD_SLOTS = 115,
    PKCS11_F_PKCS11_MODULE_SLOT_INDEX = 116,
};

// Reasons of library 81.
enum : int {
    PKCS11_R_MODULE_NOT_FOUND = 100,
    PKCS11_R_FUNCTION_NOT_FOUND = 101,
    PKCS11_R_GET_FUNCTION_LIST_ERROR = 102,
    PKCS11_R_INITIALIZE_ERROR = 103,
    PKCS11_R_BUFFER_TOO_SMALL = 105,
    PKCS11_R_LOGIN_FAILED = 106,
    PKCS11_R_TOKEN_NOT_PRESENT = 107,
    PKCS11_R_GET_TOKEN_INFO_ERROR = 108,
    PKCS11_R_OPEN_SESSION_ERROR = 109,
};

// Paths and names are limited to this many characters.
inline constexpr std::size_t PKCS11_MAX_PATH = 260;

struct PKCS11_SLOT {
    CK_SLOT_ID id = 0;
    CK_SESSION_HANDLE session = 0;  // the shared login session, 0 when none
};

struct PKCS11_MODULE {
    std::string name;  // base name as asked for
    Module library;
    CK_FUNCTION_LIST* functions = nullptr;  // owned by the module's code
    // In the order C_GetSlotList gave them; changed only under lock 36.
    std::vector<PKCS11_SLOT> slots;
    std::int32_t references = 1;  // changed only under lock 36
    // Set when this record's C_Initialize started the module, so that only
    // then does its release call C_Finalize: a module another part of the
    // process initialised stays running for that part.
    bool finalize_on_release = false;
    bool registered = false;  // the registry holds one of the references
};

// Use count of the registry, taken by library start-up and dropped by its
// cleanup; the last cleanup releases every module.
void PKCS11_registry_init();
void PKCS11_registry_cleanup();
// Drops the registry's reference to every module and forgets them all.
void PKCS11_registry_free_all();

// Case-insensitive comparison of two names; a null name compares by pointer.
int PKCS11_name_cmp(const char* a, const char* b);

// A counted reference to the module of that base name, loaded and initialised
// on the first request; null with the error queued. Release with
// PKCS11_MODULE_free.
PKCS11_MODULE* PKCS11_MODULE_get_by_name(const char* name);
// An empty record with one reference; null with (81, 100, 33).
PKCS11_MODULE* PKCS11_MODULE_new();
// Drops one reference; the last finalises and unloads the module. Null is
// ignored.
void PKCS11_MODULE_free(PKCS11_MODULE* module);
struct PKCS11_MODULE_deleter {
    void operator()(PKCS11_MODULE* m) const { PKCS11_MODULE_free(m); }
};
using PKCS11_MODULE_ptr = std::unique_ptr<PKCS11_MODULE, PKCS11_MODULE_deleter>;
// Fills the slot table with every slot, with or without a token.
int PKCS11_MODULE_load_slots(PKCS11_MODULE* module);
// Index of the slot ID in the slot table, -1 when absent or module is null.
int PKCS11_MODULE_slot_index(const PKCS11_MODULE* module, CK_SLOT_ID slot);

// 1 when the module a path names loads. The error queue is empty afterwards
// in either case.
int PKCS11_module_probe(const char* path);

// Splits a path: 1 with the module name and the slot index (-1 when the path
// gives none), each stored only when asked for; 0 when it is not a PKCS#11
// path.
int PKCS11_path_parse(const char* path, std::string* module_out, int* index_out);
// The slot a path designates: the first slot holding a token, or with an
// index only the slot of that index, and only when it holds a token. 0 with
// last token code CKR_TOKEN_NOT_PRESENT when none does; 0 without an error
// when the module has no slots.
int PKCS11_get_slot(const char* path, CK_SLOT_ID* slot_out);
int PKCS11_token_present(const char* path);

}  // namespace cadb
