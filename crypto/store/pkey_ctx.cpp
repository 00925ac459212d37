// The private-key context: life cycle, setters, the choice of method from
// the key store's path, and the medium check before reads and writes.
#include "crypto/store/pkey_ctx.h"

#include <openssl/crypto.h>
#include <strings.h>

#include <atomic>
#include <cstring>
#include <new>
#include <string>

#include "crypto/cms/crmf.h"
#include "crypto/core/err.h"
#include "crypto/x509/pkcs10.h"

namespace cadb {
namespace {

std::atomic<const PKEY_CTX_METHOD*> g_pkcs11_method{nullptr};

// Keys on tokens are kept by a method of their own; until one is registered
// they are refused rather than written as disk files.
int refuse_generate(PKEY_CTX*, int, int) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_GENERATE, ERR_R_SHOULD_NOT_CALL);
    return 0;
}
int refuse_read(PKEY_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_READ, ERR_R_SHOULD_NOT_CALL);
    return 0;
}
int refuse_write(PKEY_CTX*, int, int) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_WRITE, ERR_R_SHOULD_NOT_CALL);
    return 0;
}
const PKEY_CTX_METHOD kPkcs11Refusal = {"PKEY_CTX pkcs11 method", refuse_generate, refuse_read,
                                        refuse_write};

bool on_token(const PSE* store) {
    return store != nullptr && store->path.size() >= 6 &&
           strncasecmp(store->path.c_str(), "pkcs11", 6) == 0;
}

const PKEY_CTX_METHOD* token_method() {
    const PKEY_CTX_METHOD* m = g_pkcs11_method.load();
    return m != nullptr ? m : &kPkcs11Refusal;
}

int bad_argument() {
    ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_SET, ERR_R_INTERNAL);
    return 0;
}

// Replaces field by a copy of len bytes (len <= 0: strlen); null clears it.
// A failed copy leaves the field cleared.
int set_bytes(BufferPtr& field, const void* data, int len) {
    field.reset();
    if (data == nullptr) return 1;
    field.reset(BUFFER_fill(data, len > 0 ? len : -1));
    if (!field) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_SET, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

// Waits for the key path's medium unless the key lies in the attached
// store, whose medium is there already. Runs outside the context's mutex.
int medium_ready(PKEY_CTX* ctx, int func) {
    std::string key_path, store_path;
    CADB_INSERT_MEDIA_CB cb;
    void* arg;
    {
        std::lock_guard g(ctx->mutex);
        if (ctx->key_path && ctx->key_path->data != nullptr)
            key_path.assign(reinterpret_cast<const char*>(ctx->key_path->data),
                            static_cast<std::size_t>(ctx->key_path->length));
        if (ctx->store != nullptr) store_path = ctx->store->path;
        cb = ctx->media_cb;
        arg = ctx->media_arg;
    }
    if (key_path.empty()) return 1;
    if (!store_path.empty() && CADB_paths_overlap(key_path.c_str(), store_path.c_str())) return 1;
    if (CADB_wait_media(key_path.c_str(), cb, arg)) return 1;
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
    return 0;
}

const PKEY_CTX_METHOD* method_of(PKEY_CTX* ctx) {
    std::lock_guard g(ctx->mutex);
    return ctx->method;
}

}  // namespace

PKEY_CTX* PKEY_CTX_new() {
    auto* ctx = new (std::nothrow) PKEY_CTX;
    if (ctx == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    ctx->method = PKEY_CTX_default_method();
    return ctx;
}

void PKEY_CTX_free(PKEY_CTX* ctx) {
    if (ctx == nullptr) return;
    PKEY_free(ctx->key);
    PSE_free(ctx->store);
    X509_free(ctx->x509);
    PKCS10_free(ctx->pkcs10);
    CRMF_free(ctx->crmf);
    delete ctx;
}

int PKEY_CTX_set_buffer(PKEY_CTX* ctx, const unsigned char* bytes, int len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->key_path.reset();
    return set_bytes(ctx->key_bytes, bytes, len);
}

int PKEY_CTX_set_path(PKEY_CTX* ctx, const char* path) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->key_bytes.reset();
    if (path == nullptr) {
        ctx->key_path.reset();
        return 1;
    }
    ctx->method = on_token(ctx->store) ? token_method() : PKEY_CTX_default_method();
    return set_bytes(ctx->key_path, path, -1);
}

int PKEY_CTX_set_passwd(PKEY_CTX* ctx, const char* passwd, int len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    return set_bytes(ctx->password, passwd, len);
}

int PKEY_CTX_set_passwd_cb(PKEY_CTX* ctx, BUFFER_PASSWD_CB cb) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->passwd_cb = cb;
    return 1;
}

int PKEY_CTX_set_passwd_cb_arg(PKEY_CTX* ctx, void* arg) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->passwd_arg = arg;
    return 1;
}

int PKEY_CTX_set_PSE(PKEY_CTX* ctx, PSE* store) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    PSE_up_ref(store);
    PSE_free(ctx->store);
    ctx->store = store;
    if (on_token(store)) ctx->method = token_method();
    return 1;
}

int PKEY_CTX_set_progress_cb(PKEY_CTX* ctx, PKEY_PROGRESS_CB cb) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->progress_cb = cb;
    return 1;
}

int PKEY_CTX_set_media_cb(PKEY_CTX* ctx, CADB_INSERT_MEDIA_CB cb, void* arg) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->media_cb = cb;
    ctx->media_arg = arg;
    return 1;
}

int PKEY_CTX_set_flags(PKEY_CTX* ctx, int flags) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->flags = flags;
    return 1;
}

PKEY* PKEY_CTX_get_PKEY(PKEY_CTX* ctx) {
    if (ctx == nullptr) return nullptr;
    std::lock_guard g(ctx->mutex);
    return ctx->key;
}

int PKEY_CTX_generate(PKEY_CTX* ctx, int type, int n) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_GENERATE, ERR_R_INTERNAL);
        return 0;
    }
    const PKEY_CTX_METHOD* m = method_of(ctx);
    return m->generate == nullptr || m->generate(ctx, type, n);
}

int PKEY_CTX_read(PKEY_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_READ, ERR_R_INTERNAL);
        return 0;
    }
    const PKEY_CTX_METHOD* m = method_of(ctx);
    if (m->read == nullptr) return 1;
    return medium_ready(ctx, CADB_F_PKEY_CTX_READ) && m->read(ctx);
}

int PKEY_CTX_write(PKEY_CTX* ctx, int format, int form) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_WRITE, ERR_R_INTERNAL);
        return 0;
    }
    const PKEY_CTX_METHOD* m = method_of(ctx);
    if (m->write == nullptr) return 1;
    return medium_ready(ctx, CADB_F_PKEY_CTX_WRITE) && m->write(ctx, format, form);
}

void PKEY_CTX_set_pkcs11_method(const PKEY_CTX_METHOD* method) { g_pkcs11_method.store(method); }
const PKEY_CTX_METHOD* PKEY_CTX_get_pkcs11_method() { return token_method(); }

}  // namespace cadb
