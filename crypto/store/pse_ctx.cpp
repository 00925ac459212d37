// The key-store context: life cycle, setters and getters, and the dispatch
// of each operation to the storage method of the store path.
#include "crypto/store/pse_ctx.h"

#include <openssl/crypto.h>
#include <strings.h>

#include <array>
#include <atomic>
#include <cstring>
#include <new>

#include "crypto/core/err.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/buffer_crypt.h"
#include "crypto/store/pse_ctx_local.h"

namespace cadb {
namespace {

std::atomic<const PSE_CTX_METHOD*> g_pkcs11_method{nullptr};

// Token stores are kept by a storage method of their own; until one is
// registered their paths are refused rather than written as disk files.
int refuse_create(PSE_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_CREATE, ERR_R_SHOULD_NOT_CALL);
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return 0;
}
PSE* refuse_read(PSE_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_READ, ERR_R_SHOULD_NOT_CALL);
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return nullptr;
}
int refuse_write(PSE_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, ERR_R_SHOULD_NOT_CALL);
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return 0;
}
int refuse_erase(PSE_CTX*) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_R_SHOULD_NOT_CALL);
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return 0;
}
const PSE_CTX_METHOD kPkcs11Refusal = {"PSE_CTX pkcs11 method", refuse_create, refuse_read,
                                       refuse_write, refuse_erase};

const PSE_CTX_METHOD* method_for_path(const char* path) {
    if (std::strlen(path) >= 6 && strncasecmp(path, "pkcs11", 6) == 0) {
        const PSE_CTX_METHOD* m = g_pkcs11_method.load();
        return m != nullptr ? m : &kPkcs11Refusal;
    }
    return PSE_get_default_method();
}

int bad_argument() {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_SET, ERR_R_INTERNAL);
    ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
    return 0;
}

// Replaces field by a copy of data (len <= 0: strlen); null data clears it.
int set_bytes(PSE_CTX* ctx, BufferPtr PSE_CTX::*field, const void* data, int len, bool text) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    if (data == nullptr) {
        (ctx->*field).reset();
        return 1;
    }
    if (len <= 0) len = text ? static_cast<int>(std::strlen(static_cast<const char*>(data))) : 0;
    BufferPtr copy(BUFFER_fill(data, len));
    if (!copy) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_SET, ERR_R_MALLOC);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return 0;
    }
    ctx->*field = std::move(copy);
    return 1;
}

int set_content(PSE_CTX* ctx, BufferPtr PSE_CTX::*field, const unsigned char* data, int len) {
    if (data == nullptr || len <= 0) return bad_argument();
    return set_bytes(ctx, field, data, len, false);
}

// Copies a cached content out: *len always, the bytes when out is given.
int copy_out(const BUFFER* b, unsigned char* out, int* len) {
    if (b == nullptr || b->data == nullptr || len == nullptr) return bad_argument();
    *len = b->length;
    if (out != nullptr) std::memcpy(out, b->data, static_cast<std::size_t>(b->length));
    return 1;
}

// Waits for the store's medium when the store has a path.
int wait_medium(PSE_CTX* ctx) {
    if (!ctx->path) return 1;
    return CADB_wait_media(pse_ctx_text(ctx->path), ctx->insert_media_cb, ctx->insert_media_arg);
}

}  // namespace

PSE_CTX* PSE_CTX_new() {
    auto* ctx = new (std::nothrow) PSE_CTX;
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_NEW, ERR_R_MALLOC);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return nullptr;
    }
    ctx->method = PSE_get_default_method();
    return ctx;
}

void PSE_CTX_free(PSE_CTX* ctx) {
    if (ctx == nullptr) return;
    PSE_free(ctx->pse);
    ctx->pse = nullptr;
    // The buffers wipe their payloads as they go; the callbacks and their
    // arguments are cleared so that a stale handle points at nothing.
    ctx->seed_arg = ctx->passwd_arg = ctx->insert_media_arg = nullptr;
    delete ctx;
}

int PSE_CTX_set_path(PSE_CTX* ctx, const char* path, int len) {
    if (ctx == nullptr || path == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    if (!set_bytes(ctx, &PSE_CTX::path, path, len, true)) return 0;
    ctx->method = method_for_path(pse_ctx_text(ctx->path));
    return 1;
}
int PSE_CTX_set_mkey_path(PSE_CTX* ctx, const char* path, int len) {
    return set_bytes(ctx, &PSE_CTX::mkey_path, path, len, true);
}
int PSE_CTX_set_masks_path(PSE_CTX* ctx, const char* path, int len) {
    return set_bytes(ctx, &PSE_CTX::masks_path, path, len, true);
}
int PSE_CTX_set_kek_path(PSE_CTX* ctx, const char* path, int len) {
    return set_bytes(ctx, &PSE_CTX::kek_path, path, len, true);
}
int PSE_CTX_set_rand_path(PSE_CTX* ctx, const char* path, int len) {
    return set_bytes(ctx, &PSE_CTX::rand_path, path, len, true);
}
int PSE_CTX_set_password(PSE_CTX* ctx, const char* password, int len) {
    return set_bytes(ctx, &PSE_CTX::password, password, len, true);
}
int PSE_CTX_set_mkey(PSE_CTX* ctx, const unsigned char* data, int len) {
    return set_content(ctx, &PSE_CTX::mkey, data, len);
}
int PSE_CTX_set_masks(PSE_CTX* ctx, const unsigned char* data, int len) {
    return set_content(ctx, &PSE_CTX::masks, data, len);
}
int PSE_CTX_set_kek(PSE_CTX* ctx, const unsigned char* data, int len) {
    return set_content(ctx, &PSE_CTX::kek, data, len);
}
int PSE_CTX_set_rand_state(PSE_CTX* ctx, const unsigned char* data, int len) {
    return set_content(ctx, &PSE_CTX::rand_state, data, len);
}

int PSE_CTX_set_rand_cb(PSE_CTX* ctx, GRAND_CHAR_CB cb, void* arg) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->seed_cb = cb;
    ctx->seed_arg = arg;
    return 1;
}
int PSE_CTX_set_passwd_cb(PSE_CTX* ctx, BUFFER_PASSWD_CB cb, void* arg) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->passwd_cb = cb;
    ctx->passwd_arg = arg;
    return 1;
}
int PSE_CTX_set_insert_media_cb(PSE_CTX* ctx, CADB_INSERT_MEDIA_CB cb, void* arg) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->insert_media_cb = cb;
    ctx->insert_media_arg = arg;
    return 1;
}
int PSE_CTX_set_notify_cb(PSE_CTX* ctx, PSE_CTX_NOTIFY_CB cb) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->notify_cb = cb;
    return 1;
}
int PSE_CTX_set_shares(PSE_CTX* ctx, int shares) {
    if (ctx == nullptr || shares < 1 || shares > PSE_MKEY_MAX_SHARES) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->shares = static_cast<std::uint8_t>(shares);
    return 1;
}
int PSE_CTX_set_flags(PSE_CTX* ctx, int flags) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->flags = static_cast<std::uint8_t>(flags);
    return 1;
}
int PSE_CTX_set_sbox_code(PSE_CTX* ctx, int code) {
    if (ctx == nullptr || code < kPseSboxCodeFirst || code > kPseSboxCodeLast)
        return bad_argument();
    std::lock_guard g(ctx->mutex);
    ctx->sbox_code = code;
    return 1;
}
int PSE_CTX_set_media_words(PSE_CTX* ctx, std::uint32_t flags, const void* credential, int len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    if (credential != nullptr && len <= 0) return bad_argument();
    if (!set_bytes(ctx, &PSE_CTX::media_credential, credential, len, false)) return 0;
    ctx->media_flags = flags;
    return 1;
}

int PSE_CTX_get_mkey(PSE_CTX* ctx, unsigned char* out, int* len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    return copy_out(ctx->mkey.get(), out, len);
}
int PSE_CTX_get_kek(PSE_CTX* ctx, unsigned char* out, int* len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    return copy_out(ctx->kek.get(), out, len);
}
int PSE_CTX_get_masks(PSE_CTX* ctx, unsigned char* out, int* len) {
    if (ctx == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    BufferPtr stored = pse_ctx_stored_masks(ctx, CADB_F_PSE_CTX_SET);
    return stored ? copy_out(stored.get(), out, len) : 0;
}
int PSE_CTX_get_rand_state(PSE_CTX* ctx, unsigned char* out, int* len) {
    if (ctx == nullptr || len == nullptr) return bad_argument();
    std::lock_guard g(ctx->mutex);
    const int room = *len;
    *len = PSE_RAND_STATE_SIZE;
    if (ctx->pse == nullptr) return bad_argument();
    if (!CADB_rand_status()) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_SET, ERR_R_INTERNAL);
        return 0;  // error class 4 stays
    }
    if (room < PSE_RAND_STATE_SIZE) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_SET, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (out == nullptr) return 1;
    return CADB_rand_save_state(ctx->pse, out);
}

int PSE_CTX_create(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_CREATE, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    if (ctx->method->create == nullptr) return 1;
    if (ctx->method->create(ctx)) return 1;
    CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_CREATE, ERR_LIB_CADB);
    return 0;
}

int PSE_CTX_read(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_READ, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    PSE_free(ctx->pse);
    ctx->pse = nullptr;
    if (ctx->method->read == nullptr) return 1;
    if (!wait_medium(ctx)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_READ, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        return 0;
    }
    const RAND_METHOD* before = RAND_get_rand_method();
    ctx->pse = ctx->method->read(ctx);
    if (ctx->pse != nullptr) return 1;
    // A failed start of the store's generator leaves no method; the one the
    // caller had goes back.
    if (RAND_get_rand_method() == nullptr && before != nullptr) RAND_set_rand_method(before);
    return 0;
}

int PSE_CTX_write(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    if (ctx->pse == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (ctx->method->write == nullptr) return 1;
    if (!wait_medium(ctx)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        return 0;
    }
    return ctx->method->write(ctx);
}

int PSE_CTX_erase(PSE_CTX* ctx) {
    if (ctx == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    std::lock_guard g(ctx->mutex);
    if (ctx->method->erase == nullptr) return 1;
    return ctx->method->erase(ctx);
}

PSE* PSE_CTX_get_pse(PSE_CTX* ctx) {
    if (ctx == nullptr) return nullptr;
    std::lock_guard g(ctx->mutex);
    return ctx->pse;
}

void PSE_CTX_set_pkcs11_method(const PSE_CTX_METHOD* method) { g_pkcs11_method.store(method); }
const PSE_CTX_METHOD* PSE_CTX_get_pkcs11_method() {
    const PSE_CTX_METHOD* m = g_pkcs11_method.load();
    return m != nullptr ? m : &kPkcs11Refusal;
}

int CADB_rand_status() { return PSE_rand_is_ready(); }

int CADB_rand_init_pse(PSE* pse, unsigned char* state36, GRAND_CHAR_CB seed_cb, void* seed_arg) {
    if (!RAND_status()) {
        int out_len = 0;
        return PSE_rand_init(pse, state36, state36 != nullptr ? &out_len : nullptr, seed_cb,
                             seed_arg);
    }
    return state36 == nullptr || PSE_rand_save_state(pse, state36);
}

int CADB_rand_save_state(PSE* pse, unsigned char* out36) { return PSE_rand_save_state(pse, out36); }

int CADB_rand_state_opens(PSE* pse, const unsigned char* state36) {
    if (pse == nullptr || state36 == nullptr) return 0;
    std::array<unsigned char, 32> clear{};
    ERR_set_mark();
    const bool opens = PSE_read_opaque(pse, state36, clear.data()) != nullptr;
    ERR_pop_to_mark();
    OPENSSL_cleanse(clear.data(), clear.size());
    return opens ? 1 : 0;
}

}  // namespace cadb
