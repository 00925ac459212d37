// The working context for one token: a path, the module, the slot, the
// token's information, one read-write session and the object currently
// selected. On it sit the login, object search by class and CKA_ID or
// CKA_LABEL, attribute reads and writes, object creation and destruction and
// the mechanism check. Every operation holds the context's mutex; a context
// is not shared between threads without it.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_template.h"

namespace cadb {

// Function codes of library 81 used by the token objects.
enum : int {
    PKCS11_F_PKCS11_OBJ_NEW = 114,
    PKCS11_F_PKCS11_OBJ_SET_PATH = 121,
    PKCS11_F_PKCS11_OBJ_SET_ID = 122,
    PKCS11_F_PKCS11_OBJ_SET_PIN_ARG = 124,
    PKCS11_F_PKCS11_OBJ_OPEN = 125,
    PKCS11_F_PKCS11_OBJ_LOGIN = 126,
    PKCS11_F_PKCS11_OBJ_FIND_INIT = 127,
    PKCS11_F_PKCS11_OBJ_FIND_NEXT = 128,
    PKCS11_F_PKCS11_OBJ_FIND_FINAL = 129,
    PKCS11_F_PKCS11_OBJ_FIND_FIRST = 130,
    PKCS11_F_PKCS11_OBJ_FIND_PRIVATE_KEY = 131,
    PKCS11_F_PKCS11_OBJ_FIND_PUBLIC_KEY = 132,
    PKCS11_F_PKCS11_OBJ_GET_ATTRIBUTE = 133,
    PKCS11_F_PKCS11_OBJ_SET_ATTRIBUTES = 134,
    PKCS11_F_PKCS11_OBJ_HAS_MECHANISM = 135,
    PKCS11_F_PKCS11_OBJ_DESTROY = 136,
    PKCS11_F_PKCS11_OBJ_DESTROY_KEYS = 137,
    PKCS11_F_PKCS11_WALK_DIR = 143,
    PKCS11_F_PKCS11_FILE_ERASE = 145,
    PKCS11_F_PKCS11_OBJ_CREATE = 148,
    PKCS11_F_PKCS11_OBJ_FIND = 162,
    PKCS11_F_PKCS11_OBJ_DESTROY_CERTIFICATES = 165,
};

// PIN callbacks fill buffer with at most size characters, no terminating
// zero, and return how many; rwflag 1 asks for the security officer's PIN.
using PKCS11_PASSWD_CB = int (*)(char* buffer, int size, int rwflag, void* arg);

// The process-wide PIN callback, copied into every context created after.
void PKCS11_set_passwd_cb(PKCS11_PASSWD_CB cb);

// A maximum PIN length of 0 in the token's information stands for this.
inline constexpr CK_ULONG PKCS11_DEFAULT_MAX_PIN = 16;

struct PKCS11_OBJ {
    std::string path;          // a PKCS#11 path
    std::string object_id;     // CKA_ID of the key this context stands for
    PKCS11_MODULE_ptr module;  // taken at the first open
    CK_SLOT_ID slot = 0;
    CK_TOKEN_INFO token_info{};
    CK_SESSION_HANDLE session = 0;  // the context's own read-write session
    CK_OBJECT_HANDLE object = 0;    // the current object
    PKCS11_PASSWD_CB pin_cb = nullptr;
    void* pin_arg = nullptr;  // null: the callback is given the path
    // A key pair generated through this context: its public half as the
    // generation returned it, and the owner mark its labels carry until it
    // is named (empty for any other key).
    CK_OBJECT_HANDLE generated_public = 0;
    std::string generated_mark;
    std::recursive_mutex mutex;
};

PKCS11_OBJ* PKCS11_OBJ_new();
// Closes the session, releases the module. Null is ignored.
void PKCS11_OBJ_free(PKCS11_OBJ* ctx);
struct PKCS11_OBJ_deleter {
    void operator()(PKCS11_OBJ* ctx) const { PKCS11_OBJ_free(ctx); }
};
using PKCS11_OBJ_ptr = std::unique_ptr<PKCS11_OBJ, PKCS11_OBJ_deleter>;
int PKCS11_OBJ_set_path(PKCS11_OBJ* ctx, const char* path);
int PKCS11_OBJ_set_id(PKCS11_OBJ* ctx, const char* id);
int PKCS11_OBJ_set_pin_arg(PKCS11_OBJ* ctx, void* arg);

// Takes the module, finds the slot, reads the token's information and opens
// a read-write session (closing one left from an earlier open). Resets the
// thread's last token code first.
int PKCS11_OBJ_open(PKCS11_OBJ* ctx);
// Logs the user in on the slot's shared session when the token asks for a
// login. Without force, a slot already logged in asks no PIN; with force the
// user is logged out and in again. The token's refusal stays as the last
// token code (CKR_PIN_INCORRECT, CKR_PIN_LOCKED...).
int PKCS11_OBJ_login(PKCS11_OBJ* ctx, int force);

// Creates an object; it becomes the current object.
int PKCS11_OBJ_create(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t);
int PKCS11_OBJ_find_init(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t);
// 1 with the current object set when one more matched, 0 (nothing queued)
// when none is left.
int PKCS11_OBJ_find_next(PKCS11_OBJ* ctx);
int PKCS11_OBJ_find_final(PKCS11_OBJ* ctx);
// 1 when an object matched; it becomes the current object.
int PKCS11_OBJ_find_first(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t);
// Search by class with CKA_ID and CKA_LABEL, each only when given.
int PKCS11_OBJ_find_private_key(PKCS11_OBJ* ctx, const char* id, const char* label);
int PKCS11_OBJ_find_public_key(PKCS11_OBJ* ctx, const char* id, const char* label);
int PKCS11_OBJ_find(PKCS11_OBJ* ctx, const char* id, const char* label);  // certificates
// Reads one attribute of the current object: with buf null *len receives its
// size; with buf the value is copied when it fits the *len bytes given, and
// *len receives its length. A value larger than the buffer fails with reason
// 105 and writes nothing.
int PKCS11_OBJ_get_attribute(PKCS11_OBJ* ctx, CK_ATTRIBUTE_TYPE type, void* buf, CK_ULONG* len);
int PKCS11_OBJ_set_attributes(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t);
// 1 when the slot's token offers the mechanism.
int PKCS11_OBJ_has_mechanism(PKCS11_OBJ* ctx, CK_MECHANISM_TYPE mechanism);
// Destroys the current object, which becomes 0.
int PKCS11_OBJ_destroy(PKCS11_OBJ* ctx);
// Destroy every private then every public key, or every certificate, with
// that CKA_ID: 1 when none is left.
int PKCS11_OBJ_destroy_keys(PKCS11_OBJ* ctx, const char* id);
int PKCS11_OBJ_destroy_certificates(PKCS11_OBJ* ctx, const char* id);

}  // namespace cadb
