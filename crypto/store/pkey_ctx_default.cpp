// The default private-key method: keys generated in memory or inside the
// attached key store, read from bytes, a key file or the store's first key
// file, and written whole as a key file on any medium.
#include <array>
#include <mutex>

#include "crypto/core/err.h"
#include "crypto/store/pkey_ctx.h"
#include "crypto/store/pse_ctx.h"

namespace cadb {
namespace {

constexpr std::size_t kPathRoom = 260;

const PKEY_CTX_METHOD kDefaultMethod = {"PKEY_CTX default method", PKEY_CTX_default_generate,
                                        PKEY_CTX_default_read, PKEY_CTX_default_write};

int fail(int func) {
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
    return 0;
}

const char* text_of(const BufferPtr& b) {
    return b && b->data != nullptr ? reinterpret_cast<const char*>(b->data) : nullptr;
}

// No callback, or password bytes set: the bytes (possibly none) decide.
bool uses_password_bytes(const PKEY_CTX* ctx) {
    return ctx->passwd_cb == nullptr || ctx->password != nullptr;
}

}  // namespace

const PKEY_CTX_METHOD* PKEY_CTX_default_method() { return &kDefaultMethod; }

int PKEY_CTX_default_generate(PKEY_CTX* ctx, int type, int n) {
    if (ctx == nullptr) return fail(CADB_F_PKEY_CTX_GENERATE);
    PKEY_PROGRESS_CB progress;
    PSE* store;
    {
        std::lock_guard g(ctx->mutex);
        progress = ctx->progress_cb;
        store = PSE_up_ref(ctx->store);
    }
    // Generation can take long: it runs without the context's mutex.
    PKEY* key = PKEY_generate(type, n, progress, nullptr, store);
    PSE_free(store);
    if (key == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_GENERATE, ERR_LIB_CADB);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    PKEY_free(ctx->key);
    ctx->key = key;
    return 1;
}

int PKEY_CTX_default_read(PKEY_CTX* ctx) {
    if (ctx == nullptr) return fail(CADB_F_PKEY_CTX_READ);
    std::lock_guard g(ctx->mutex);
    BufferPtr file;
    const BUFFER* encoded = ctx->key_bytes.get();
    if (encoded == nullptr && ctx->key_path) {
        file.reset(BUFFER_load_file(text_of(ctx->key_path)));
        encoded = file.get();
    } else if (encoded == nullptr && ctx->store != nullptr && !ctx->store->path.empty()) {
        std::array<char, kPathRoom> path{};
        if (CADB_key_file_path_1(ctx->store->path.c_str(), path.data()) != nullptr) {
            file.reset(BUFFER_load_file(path.data()));
            encoded = file.get();
        }
    }
    if (encoded == nullptr || encoded->data == nullptr) return fail(CADB_F_PKEY_CTX_READ);
    PKEY* key = uses_password_bytes(ctx)
                    ? PKEY_read_buffer_passwd(encoded->data, encoded->length, ctx->store,
                                              text_of(ctx->password),
                                              ctx->password ? ctx->password->length : 0)
                    : PKEY_read_buffer(encoded->data, encoded->length, ctx->store, ctx->passwd_cb,
                                       ctx->passwd_arg);
    // A failed read keeps the key the context held.
    if (key == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_READ, ERR_LIB_CADB);
        return 0;
    }
    PKEY_free(ctx->key);
    ctx->key = key;
    return 1;
}

int PKEY_CTX_default_write(PKEY_CTX* ctx, int format, int form) {
    if (ctx == nullptr) return fail(CADB_F_PKEY_CTX_WRITE);
    std::lock_guard g(ctx->mutex);
    if (!ctx->key_path || ctx->key == nullptr) return fail(CADB_F_PKEY_CTX_WRITE);
    BufferPtr encoded(
        uses_password_bytes(ctx)
            ? PKEY_get_passwd(ctx->key, format, form, ctx->store, text_of(ctx->password),
                              ctx->password ? ctx->password->length : 0)
            : PKEY_get(ctx->key, format, form, ctx->store, ctx->passwd_cb, ctx->passwd_arg));
    if (!encoded || BUFFER_save_file(text_of(ctx->key_path), encoded.get()) <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_WRITE, ERR_LIB_CADB);
        return 0;
    }
    return 1;
}

}  // namespace cadb
