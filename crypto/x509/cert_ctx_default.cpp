#include "crypto/core/err.h"
#include "crypto/x509/cert_ctx.h"

namespace cadb {

int CERT_CTX_default_read(CERT_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_INTERNAL);
        return 0;
    }
    std::lock_guard lock(ctx->mutex);
    CERT_free(ctx->cert);
    ctx->cert = nullptr;
    BufferPtr loaded;
    const BUFFER* bytes = ctx->bytes.get();
    if (bytes == nullptr) {
        if (!ctx->path) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_INTERNAL);
            return 0;
        }
        loaded.reset(BUFFER_load_file(reinterpret_cast<const char*>(ctx->path->data)));
        if (!loaded) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_LIB_CADB);
            return 0;
        }
        bytes = loaded.get();
    }
    ctx->cert = CERT_read_data(bytes->data, bytes->length);
    if (ctx->cert == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

int CERT_CTX_default_write(CERT_CTX* ctx, int form) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_INTERNAL);
        return 0;
    }
    std::lock_guard lock(ctx->mutex);
    if (!ctx->path || ctx->cert == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_R_INTERNAL);
        return 0;
    }
    BufferPtr encoded(CERT_get(ctx->cert, form));
    if (!encoded || BUFFER_save_file(reinterpret_cast<const char*>(ctx->path->data),
                                     encoded.get()) <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_CTX, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

}  // namespace cadb
