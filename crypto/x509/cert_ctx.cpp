#include "crypto/x509/cert_ctx.h"

#include <strings.h>

#include <atomic>
#include <new>

#include "crypto/core/err.h"

namespace cadb {
namespace {

std::atomic<const CERT_CTX_METHOD*> g_pkcs11_method{nullptr};

// Certificates on tokens are kept by a method of their own; until one is
// registered such paths are refused rather than read as disk files.
int refuse_read(CERT_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_SHOULD_NOT_CALL);
    return 0;
}
int refuse_write(CERT_CTX*, int) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_SHOULD_NOT_CALL);
    return 0;
}
const CERT_CTX_METHOD kPkcs11Refusal = {"certificate pkcs11 method", refuse_read, refuse_write};

const CERT_CTX_METHOD kDefault = {"CERT_CTX default method", CERT_CTX_default_read,
                                  CERT_CTX_default_write};

int null_context() {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_INTERNAL);
    return 0;
}

// Replaces field by a copy of len bytes (len <= 0: strlen).
int set_bytes(BufferPtr& field, const void* data, int len) {
    if (data == nullptr) {
        field.reset();
        return 1;
    }
    field.reset(BUFFER_fill(data, len <= 0 ? -1 : len));
    if (!field) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_MALLOC);
        return 0;
    }
    return 1;
}

}  // namespace

CERT_CTX* CERT_CTX_new() {
    auto* ctx = new (std::nothrow) CERT_CTX;
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_MALLOC);
        return nullptr;
    }
    ctx->method = &kDefault;
    return ctx;
}

void CERT_CTX_free(CERT_CTX* ctx) {
    if (ctx == nullptr) return;
    CERT_free(ctx->cert);
    delete ctx;
}

int CERT_CTX_set_buffer(CERT_CTX* ctx, const unsigned char* bytes, int len) {
    if (ctx == nullptr) return null_context();
    std::lock_guard lock(ctx->mutex);
    ctx->path.reset();
    return set_bytes(ctx->bytes, bytes, len);
}

int CERT_CTX_set_path(CERT_CTX* ctx, const char* path) {
    if (ctx == nullptr) return null_context();
    std::lock_guard lock(ctx->mutex);
    ctx->bytes.reset();
    if (!set_bytes(ctx->path, path, -1)) return 0;
    const bool token = path != nullptr && strncasecmp(path, "pkcs11", 6) == 0;
    ctx->method = token ? CERT_CTX_get_pkcs11_method() : &kDefault;
    return 1;
}

int CERT_CTX_set_category(CERT_CTX* ctx, unsigned long category) {
    if (ctx == nullptr) return null_context();
    std::lock_guard lock(ctx->mutex);
    ctx->category = category;
    return 1;
}

int CERT_CTX_read(CERT_CTX* ctx) {
    if (ctx == nullptr) return null_context();
    std::lock_guard lock(ctx->mutex);
    if (ctx->method == nullptr || ctx->method->read == nullptr) return 1;
    return ctx->method->read(ctx);
}

int CERT_CTX_write(CERT_CTX* ctx, int form) {
    if (ctx == nullptr) return null_context();
    std::lock_guard lock(ctx->mutex);
    if (ctx->method == nullptr || ctx->method->write == nullptr) return 1;
    return ctx->method->write(ctx, form);
}

CERT* CERT_CTX_get_CERT(CERT_CTX* ctx) {
    if (ctx == nullptr) return nullptr;
    std::lock_guard lock(ctx->mutex);
    return ctx->cert;
}

const CERT_CTX_METHOD* CERT_CTX_default_method() { return &kDefault; }

void CERT_CTX_set_pkcs11_method(const CERT_CTX_METHOD* method) { g_pkcs11_method.store(method); }

const CERT_CTX_METHOD* CERT_CTX_get_pkcs11_method() {
    const CERT_CTX_METHOD* m = g_pkcs11_method.load();
    return m != nullptr ? m : &kPkcs11Refusal;
}

}  // namespace cadb
