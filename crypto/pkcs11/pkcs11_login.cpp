#include <openssl/crypto.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "crypto/cadb/passwd.h"
#include "crypto/core/lock.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"

namespace cadb {
namespace {

// A token that claims a larger maximum still gets a PIN buffer of sane size.
constexpr CK_ULONG kPinCap = 1024;

// Holds a PIN as the token gets it; wiped however the login ends.
struct EncodedPin {
    char* text = nullptr;
    int len = 0;
    ~EncodedPin() {
        if (text != nullptr) OPENSSL_clear_free(text, static_cast<std::size_t>(len) + 1);
    }
};

struct WipedBuffer {
    std::vector<char> bytes;
    ~WipedBuffer() {
        if (!bytes.empty()) OPENSSL_cleanse(bytes.data(), bytes.size());
    }
};

// The session the login goes through: the slot's shared session when the
// slot is in the module's table (the login then outlives this context), else
// the context's own. Sets *done when the shared session is already logged in
// and no force was asked. Under lock 36.
bool login_session(PKCS11_OBJ* ctx, bool force, CK_SESSION_HANDLE* out, bool* done) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_LOGIN;
    CK_FUNCTION_LIST* f = ctx->module->functions;
    const int index = PKCS11_MODULE_slot_index(ctx->module.get(), ctx->slot);
    if (index < 0) {
        *out = ctx->session;
        return true;
    }
    PKCS11_SLOT& slot = ctx->module->slots[static_cast<std::size_t>(index)];
    if (slot.session != 0) {
        CK_SESSION_INFO info{};
        if (!force && f->C_GetSessionInfo(slot.session, &info) == CKR_OK &&
            (info.state == CKS_RW_USER_FUNCTIONS || info.state == CKS_RW_SO_FUNCTIONS)) {
            *done = true;
            return true;
        }
        f->C_CloseSession(slot.session);
        slot.session = 0;
    }
    CK_SESSION_HANDLE session = 0;
    const CK_RV rv = f->C_OpenSession(ctx->slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                      nullptr, &session);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return false;
    }
    slot.session = session;
    *out = session;
    return true;
}

}  // namespace

int PKCS11_OBJ_login(PKCS11_OBJ* ctx, int force) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_LOGIN;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    // The context's mutex first, then the registry's: the order every path
    // that holds both takes them in.
    std::lock_guard<std::recursive_mutex> lock(ctx->mutex);
    LockGuard registry(CRYPTO_LOCK_PKCS11);
    if (!ctx->module) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (ctx->session == 0) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    if ((ctx->token_info.flags & (CKF_LOGIN_REQUIRED | CKF_PROTECTED_AUTHENTICATION_PATH)) == 0) {
        return 1;
    }
    CK_SESSION_HANDLE session = 0;
    bool done = false;
    if (!login_session(ctx, force != 0, &session, &done)) return 0;
    if (done) return 1;

    if (ctx->pin_cb == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const CK_ULONG max_pin = std::min(ctx->token_info.ulMaxPinLen, kPinCap);
    WipedBuffer pin;
    try {
        pin.bytes.assign(max_pin + 1, 0);
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    void* arg = ctx->pin_arg != nullptr ? ctx->pin_arg : ctx->path.data();
    const int n = ctx->pin_cb(pin.bytes.data(), static_cast<int>(max_pin), 0, arg);
    if (n < 0 || static_cast<CK_ULONG>(n) > max_pin) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    // No answer (the PIN dialog closed) where the token takes no empty PIN:
    // asking the token anyway would only spend one of its tries.
    if (n == 0 && ctx->token_info.ulMinPinLen > 0) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    EncodedPin encoded;
    encoded.text = PASSWD_encode(pin.bytes.data(), n, &encoded.len);
    if (encoded.text == nullptr) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }

    CK_FUNCTION_LIST* f = ctx->module->functions;
    if (force != 0) {
        const CK_RV rv = f->C_Logout(session);
        if (rv != CKR_OK && rv != CKR_USER_NOT_LOGGED_IN) {
            PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
            return 0;
        }
    }
    const CK_RV rv = f->C_Login(session, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(encoded.text),
                                static_cast<CK_ULONG>(encoded.len));
    if (rv != CKR_OK && rv != CKR_USER_ALREADY_LOGGED_IN) {
        PKCS11_RV_ERR(F, PKCS11_R_LOGIN_FAILED, rv);
        return 0;
    }
    return 1;
}

}  // namespace cadb
