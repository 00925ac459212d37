#include "crypto/pkcs11/pkcs11_obj.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>
#include <vector>

#include "crypto/pkcs11/pkcs11_local.h"

namespace cadb {
namespace {

std::atomic<PKCS11_PASSWD_CB> g_passwd_cb{nullptr};

using Lock = std::lock_guard<std::recursive_mutex>;

int set_text(PKCS11_OBJ* ctx, std::string PKCS11_OBJ::*field, const char* text, int func) {
    if (ctx == nullptr || text == nullptr) {
        PKCS11_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    try {
        ctx->*field = text;
    } catch (const std::exception&) {
        PKCS11_ERR(func, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

// A context ready for object calls: a module and a session, and for calls on
// the current object that object too.
bool ready(const PKCS11_OBJ* ctx, int func, bool needs_object) {
    if (ctx == nullptr || !ctx->module) {
        PKCS11_ERR(func, ERR_R_NULL_PARAMETER);
        return false;
    }
    if (ctx->session == 0 || (needs_object && ctx->object == 0)) {
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return false;
    }
    return true;
}

int found(int status) { return status > 0 ? 1 : 0; }

}  // namespace

void PKCS11_set_passwd_cb(PKCS11_PASSWD_CB cb) { g_passwd_cb.store(cb); }

PKCS11_OBJ* PKCS11_OBJ_new() {
    auto* ctx = new (std::nothrow) PKCS11_OBJ;
    if (ctx == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    ctx->pin_cb = g_passwd_cb.load();
    return ctx;
}

void PKCS11_OBJ_free(PKCS11_OBJ* ctx) {
    if (ctx == nullptr) return;
    {
        Lock lock(ctx->mutex);
        if (ctx->session != 0 && ctx->module) ctx->module->functions->C_CloseSession(ctx->session);
        ctx->session = 0;
        ctx->module.reset();
    }
    delete ctx;
}

int PKCS11_OBJ_set_path(PKCS11_OBJ* ctx, const char* path) {
    return set_text(ctx, &PKCS11_OBJ::path, path, PKCS11_F_PKCS11_OBJ_SET_PATH);
}

int PKCS11_OBJ_set_id(PKCS11_OBJ* ctx, const char* id) {
    return set_text(ctx, &PKCS11_OBJ::object_id, id, PKCS11_F_PKCS11_OBJ_SET_ID);
}

int PKCS11_OBJ_set_pin_arg(PKCS11_OBJ* ctx, void* arg) {
    if (ctx == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_SET_PIN_ARG, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    ctx->pin_arg = arg;
    return 1;
}

int PKCS11_OBJ_open(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_OPEN;
    ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (ctx->path.empty()) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (!ctx->module) {
        std::string name;
        if (!PKCS11_path_parse(ctx->path.c_str(), &name, nullptr)) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
        ctx->module.reset(PKCS11_MODULE_get_by_name(name.c_str()));
        if (!ctx->module) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
    }
    CK_FUNCTION_LIST* f = ctx->module->functions;
    if (ctx->session != 0) {
        f->C_CloseSession(ctx->session);
        ctx->session = 0;
        ctx->object = 0;
    }
    if (!PKCS11_get_slot(ctx->path.c_str(), &ctx->slot)) {
        PKCS11_ERR(F, PKCS11_R_TOKEN_NOT_PRESENT);
        return 0;
    }
    CK_RV rv = f->C_GetTokenInfo(ctx->slot, &ctx->token_info);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, PKCS11_R_GET_TOKEN_INFO_ERROR, rv);
        return 0;
    }
    if (ctx->token_info.ulMaxPinLen == 0) ctx->token_info.ulMaxPinLen = PKCS11_DEFAULT_MAX_PIN;
    rv = f->C_OpenSession(ctx->slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                          &ctx->session);
    if (rv != CKR_OK) {
        ctx->session = 0;
        PKCS11_RV_ERR(F, PKCS11_R_OPEN_SESSION_ERROR, rv);
        return 0;
    }
    return 1;
}

int PKCS11_OBJ_create(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_CREATE;
    if (t == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, false)) return 0;
    CK_OBJECT_HANDLE h = 0;
    const CK_RV rv =
        ctx->module->functions->C_CreateObject(ctx->session, t->data(), t->count(), &h);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    ctx->object = h;
    return 1;
}

int PKCS11_OBJ_find_init(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_INIT;
    if (t == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, false)) return 0;
    const CK_RV rv = ctx->module->functions->C_FindObjectsInit(ctx->session, t->data(), t->count());
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return 1;
}

int PKCS11_OBJ_find_next(PKCS11_OBJ* ctx) { return found(pkcs11::find_next_status(ctx)); }

int PKCS11_OBJ_find_final(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_FINAL;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, false)) return 0;
    const CK_RV rv = ctx->module->functions->C_FindObjectsFinal(ctx->session);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return 1;
}

namespace pkcs11 {

int find_next_status(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_NEXT;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return -1;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, false)) return -1;
    CK_OBJECT_HANDLE h = 0;
    CK_ULONG count = 0;
    const CK_RV rv = ctx->module->functions->C_FindObjects(ctx->session, &h, 1, &count);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return -1;
    }
    if (count == 0) return 0;
    ctx->object = h;
    return 1;
}

int find_first_status(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_FIRST;
    if (ctx == nullptr || t == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return -1;
    }
    Lock lock(ctx->mutex);
    if (!PKCS11_OBJ_find_init(ctx, t)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return -1;
    }
    // The search is ended whatever the first step gave, so that the session
    // is free for the next operation.
    const int status = find_next_status(ctx);
    if (!PKCS11_OBJ_find_final(ctx) || status < 0) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return -1;
    }
    return status;
}

int find_by_status(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* (*base)(), const char* id, const char* label,
                   int func) {
    if (ctx == nullptr) {
        PKCS11_ERR(func, ERR_R_NULL_PARAMETER);
        return -1;
    }
    PKCS11_TEMPLATE_ptr t(base());
    if (!t || (id != nullptr && !PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id)) ||
        (label != nullptr && !PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, label))) {
        PKCS11_ERR(func, ERR_R_MALLOC);
        return -1;
    }
    return find_first_status(ctx, t.get());
}

bool refresh_view(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_FIRST;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return false;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, false)) return false;
    CK_FUNCTION_LIST* f = ctx->module->functions;
    CK_RV rv = f->C_FindObjectsInit(ctx->session, nullptr, 0);
    if (rv == CKR_OK) {
        CK_OBJECT_HANDLE h = 0;
        CK_ULONG count = 0;
        rv = f->C_FindObjects(ctx->session, &h, 1, &count);
        const CK_RV ended = f->C_FindObjectsFinal(ctx->session);
        if (rv == CKR_OK) rv = ended;
    }
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return false;
    }
    return true;
}

bool find_all(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t, std::vector<CK_OBJECT_HANDLE>* out) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_FIND_NEXT;
    if (ctx == nullptr || t == nullptr || out == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return false;
    }
    Lock lock(ctx->mutex);
    out->clear();
    if (!PKCS11_OBJ_find_init(ctx, t)) return false;
    int status = 0;
    try {
        while ((status = find_next_status(ctx)) > 0) {
            if (std::find(out->begin(), out->end(), ctx->object) != out->end()) {
                status = 0;
                break;
            }
            out->push_back(ctx->object);
        }
    } catch (const std::exception&) {
        PKCS11_OBJ_find_final(ctx);
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    return PKCS11_OBJ_find_final(ctx) != 0 && status >= 0;
}

int destroy_all_but(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* (*base)(), const char* id,
                    CK_OBJECT_HANDLE kept, int func) {
    if (ctx == nullptr || id == nullptr) {
        PKCS11_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    PKCS11_TEMPLATE_ptr t(base());
    if (!t || !PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id)) {
        PKCS11_ERR(func, ERR_R_MALLOC);
        return 0;
    }
    // The matches are collected first and destroyed after the search, so a
    // module that keeps answering with the same object cannot hold the loop;
    // a final search tells whether any other is left.
    std::vector<CK_OBJECT_HANDLE> matches;
    if (!find_all(ctx, t.get(), &matches)) {
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return 0;
    }
    for (CK_OBJECT_HANDLE h : matches) {
        if (h == kept) continue;
        ctx->object = h;
        if (!PKCS11_OBJ_destroy(ctx)) {
            PKCS11_ERR(func, ERR_R_INTERNAL);
            return 0;
        }
    }
    if (!find_all(ctx, t.get(), &matches) ||
        std::any_of(matches.begin(), matches.end(), [kept](auto h) { return h != kept; })) {
        ctx->object = 0;
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return 0;
    }
    ctx->object = kept;
    return 1;
}

}  // namespace pkcs11

int PKCS11_OBJ_find_first(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t) {
    return found(pkcs11::find_first_status(ctx, t));
}

int PKCS11_OBJ_find_private_key(PKCS11_OBJ* ctx, const char* id, const char* label) {
    return found(pkcs11::find_by_status(ctx, PKCS11_TEMPLATE_private_keys, id, label,
                                        PKCS11_F_PKCS11_OBJ_FIND_PRIVATE_KEY));
}

int PKCS11_OBJ_find_public_key(PKCS11_OBJ* ctx, const char* id, const char* label) {
    return found(pkcs11::find_by_status(ctx, PKCS11_TEMPLATE_public_keys, id, label,
                                        PKCS11_F_PKCS11_OBJ_FIND_PUBLIC_KEY));
}

int PKCS11_OBJ_find(PKCS11_OBJ* ctx, const char* id, const char* label) {
    return found(pkcs11::find_by_status(ctx, PKCS11_TEMPLATE_certificates, id, label,
                                        PKCS11_F_PKCS11_OBJ_FIND));
}

int PKCS11_OBJ_get_attribute(PKCS11_OBJ* ctx, CK_ATTRIBUTE_TYPE type, void* buf, CK_ULONG* len) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_GET_ATTRIBUTE;
    if (ctx == nullptr || len == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, true)) return 0;
    // The value lands in a buffer of exactly the size the caller offered,
    // wiped afterwards (values may be secret), and reaches the caller only
    // when the length the module reports fits it.
    std::vector<unsigned char> value;
    try {
        if (buf != nullptr) value.assign(*len, 0);
    } catch (const std::exception&) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return 0;
    }
    const CK_ULONG room = value.size();
    CK_ATTRIBUTE a{type, room != 0 ? value.data() : nullptr, room};
    const CK_RV rv = ctx->module->functions->C_GetAttributeValue(ctx->session, ctx->object, &a, 1);
    int ok = 0;
    if (rv == CKR_BUFFER_TOO_SMALL) {
        PKCS11_RV_ERR(F, PKCS11_R_BUFFER_TOO_SMALL, rv);
    } else if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
    } else if (a.ulValueLen == 0 || a.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
    } else if (buf != nullptr && a.ulValueLen > room) {
        PKCS11_ERR(F, PKCS11_R_BUFFER_TOO_SMALL);
    } else {
        if (buf != nullptr) std::memcpy(buf, value.data(), a.ulValueLen);
        *len = a.ulValueLen;
        ok = 1;
    }
    if (!value.empty()) OPENSSL_cleanse(value.data(), value.size());
    return ok;
}

int PKCS11_OBJ_set_attributes(PKCS11_OBJ* ctx, PKCS11_TEMPLATE* t) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_SET_ATTRIBUTES;
    if (ctx == nullptr || t == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, true)) return 0;
    const CK_RV rv = ctx->module->functions->C_SetAttributeValue(ctx->session, ctx->object,
                                                                 t->data(), t->count());
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return 1;
}

int PKCS11_OBJ_has_mechanism(PKCS11_OBJ* ctx, CK_MECHANISM_TYPE mechanism) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_HAS_MECHANISM;
    if (ctx == nullptr || !ctx->module) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    CK_FUNCTION_LIST* f = ctx->module->functions;
    const CK_SLOT_ID slot = ctx->slot;
    std::vector<CK_MECHANISM_TYPE> list;
    const CK_RV rv = pkcs11::fetch_list(
        [f, slot](CK_MECHANISM_TYPE* m, CK_ULONG* n) { return f->C_GetMechanismList(slot, m, n); },
        list);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, rv == CKR_HOST_MEMORY ? ERR_R_MALLOC : ERR_R_INTERNAL, rv);
        return 0;
    }
    return std::find(list.begin(), list.end(), mechanism) != list.end() ? 1 : 0;
}

int PKCS11_OBJ_destroy(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_DESTROY;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (!ready(ctx, F, true)) return 0;
    const CK_RV rv = ctx->module->functions->C_DestroyObject(ctx->session, ctx->object);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    ctx->object = 0;
    return 1;
}

int PKCS11_OBJ_destroy_keys(PKCS11_OBJ* ctx, const char* id) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_DESTROY_KEYS;
    return pkcs11::destroy_all_but(ctx, PKCS11_TEMPLATE_private_keys, id, 0, F) &&
                   pkcs11::destroy_all_but(ctx, PKCS11_TEMPLATE_public_keys, id, 0, F)
               ? 1
               : 0;
}

int PKCS11_OBJ_destroy_certificates(PKCS11_OBJ* ctx, const char* id) {
    return pkcs11::destroy_all_but(ctx, PKCS11_TEMPLATE_certificates, id, 0,
                                   PKCS11_F_PKCS11_OBJ_DESTROY_CERTIFICATES);
}

}  // namespace cadb
