// "PSE_CTX pkcs11 method": the four files of a key store (master key,
// masks, key-encryption key, random state) kept on a token as CKO_DATA
// objects labelled with the file names, holding exactly the bytes the
// default method keeps in its files. On a token that signs GOST R 34.10-2001
// itself the objects are optional: the store then mainly carries the token
// path for the token key method.
#include <openssl/crypto.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/tokenstore/pkcs11_cert.h"
#include "crypto/tokenstore/pkcs11_key_local.h"
#include "crypto/tokenstore/token_lock.h"

namespace cadb {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr const char* kLabels[4] = {"mk.db3", "masks.db3", "kek.opq", "rand.opq"};
constexpr int kKinds = 4;

struct PsePtrFree {
    void operator()(PSE* p) const { PSE_free(p); }
};
using PseOwner = std::unique_ptr<PSE, PsePtrFree>;

struct Secret {
    std::vector<unsigned char> v;
    ~Secret() { OPENSSL_cleanse(v.data(), v.size()); }
};

const char* path_of(const PSE_CTX* ctx) {
    return ctx->path && ctx->path->data != nullptr ? reinterpret_cast<const char*>(ctx->path->data)
                                                   : nullptr;
}

PKCS11_OBJ_ptr context_on(PSE_CTX* ctx) {
    PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
    if (!obj || !PKCS11_OBJ_set_path(obj.get(), path_of(ctx)) ||
        (ctx->passwd_arg != nullptr && !PKCS11_OBJ_set_pin_arg(obj.get(), ctx->passwd_arg)))
        return nullptr;
    return obj;
}

PKCS11_TEMPLATE_ptr kind_template(int kind) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_data());
    if (!t || !PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, kLabels[kind]) ||
        (kind == PSE_FILE_MKEY && !PKCS11_TEMPLATE_add_bool(t.get(), CKA_PRIVATE, true)))
        return nullptr;
    return t;
}

// The value of kind's object: 1 read, 0 no such object, -1 failure.
int read_kind(PKCS11_OBJ* obj, int kind, Secret* out) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_READ_OBJECT;
    PKCS11_TEMPLATE_ptr t = kind_template(kind);
    if (!t) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return -1;
    }
    const int found = pkcs11::find_first_status(obj, t.get());
    if (found <= 0) return found;
    if (!pkcs11::read_attribute(obj, CKA_VALUE, &out->v) || out->v.empty() ||
        out->v.size() > 0x7FFFFFFF) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return -1;
    }
    return 1;
}

// Destroys every object of kind. Bounded against a module that keeps
// finding what it destroyed.
bool erase_kind(PKCS11_OBJ* obj, int kind) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_ERASE_OBJECT;
    PKCS11_TEMPLATE_ptr t = kind_template(kind);
    if (!t) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    for (int i = 0; i < 1024; ++i) {
        const int found = pkcs11::find_first_status(obj, t.get());
        if (found == 0) return true;
        if (found < 0 || !PKCS11_OBJ_destroy(obj)) break;
    }
    PKCS11_ERR(F, ERR_R_INTERNAL);
    return false;
}

// Replaces kind's object by one holding value.
bool write_kind(PKCS11_OBJ* obj, int kind, const std::vector<unsigned char>& value) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE_OBJECT;
    PKCS11_TEMPLATE_ptr t = kind_template(kind);
    if (!t || !PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, value.data(), value.size())) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    if (!erase_kind(obj, kind) || !PKCS11_OBJ_create(obj, t.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return false;
    }
    return true;
}

enum class Found { nothing, remnant, whole, unknown };

// What a new store would be written over. A store is whole with its master
// key, masks and key-encryption key; every writer holds the token's lock,
// so some of them without the rest, found under it, is what a writer that
// died left behind, and no read can open it.
Found store_found(PKCS11_OBJ* obj) {
    int there = 0;
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_KEK; ++kind) {
        PKCS11_TEMPLATE_ptr t = kind_template(kind);
        const int found = t ? pkcs11::find_first_status(obj, t.get()) : -1;
        if (found < 0) return Found::unknown;
        there += found;
    }
    if (there == 0) return Found::nothing;
    return there == PSE_FILE_KEK + 1 ? Found::whole : Found::remnant;
}

// A failed write or erase after the login: a token that signs itself keeps
// its store only as an extra, so there it is no failure.
int failed_after_login(bool signs, int func) {
    if (signs) {
        ERR_clear_error();
        return 1;
    }
    PKCS11_ERR(func, ERR_R_INTERNAL);
    return 0;
}

// The contents of kind as the key-store context gives them.
bool contents_of(PSE_CTX* ctx, int kind, Secret* out) {
    using Getter = int (*)(PSE_CTX*, unsigned char*, int*);
    static const Getter getters[kKinds] = {PSE_CTX_get_mkey, PSE_CTX_get_masks, PSE_CTX_get_kek,
                                           PSE_CTX_get_rand_state};
    int len = kind == PSE_FILE_RAND ? PSE_RAND_STATE_SIZE : 0;
    if (!getters[kind](ctx, nullptr, &len) || len <= 0) return false;
    out->v.assign(static_cast<std::size_t>(len), 0);
    return getters[kind](ctx, out->v.data(), &len) == 1 &&
           static_cast<std::size_t>(len) == out->v.size();
}

using Setter = int (*)(PSE_CTX*, const unsigned char*, int);
constexpr Setter kSetters[kKinds] = {PSE_CTX_set_mkey, PSE_CTX_set_masks, PSE_CTX_set_kek,
                                     PSE_CTX_set_rand_state};

// A fresh state of the store's generator written as "rand.opq": a state
// that could not be advanced on the token is not used. A store that another
// writer replaced since the read is left alone: the state is encrypted under
// this store's key-encryption key and would not start its successor.
bool save_fresh_state(PSE_CTX* ctx, PSE* pse, PKCS11_OBJ* obj) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE_RAND;
    Secret state;
    state.v.assign(PSE_RAND_STATE_SIZE, 0);
    if (!CADB_rand_save_state(pse, state.v.data())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return false;
    }
    TokenLock lock;
    if (!lock.acquire(obj, CADB_F_PSE_CTX_READ)) return false;
    Secret kek;
    if (read_kind(obj, PSE_FILE_KEK, &kek) != 1 || !ctx->kek ||
        kek.v.size() != static_cast<std::size_t>(ctx->kek->length) ||
        CRYPTO_memcmp(kek.v.data(), ctx->kek->data, kek.v.size()) != 0) {
        ERR_clear_error();
        return true;
    }
    if (ctx->notify_cb != nullptr) ctx->notify_cb(PSE_CTX_EVENT_RAND_BEGIN);
    const bool ok = write_kind(obj, PSE_FILE_RAND, state.v);
    if (ctx->notify_cb != nullptr) ctx->notify_cb(PSE_CTX_EVENT_RAND_END);
    if (!ok) PKCS11_ERR(F, ERR_R_INTERNAL);
    return ok;
}

// Steps of a read that touch the token; the full store, or null.
PSE* read_token(PSE_CTX* ctx, PKCS11_OBJ* obj) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_READ;
    if (!PKCS11_OBJ_login(obj, 0)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    bool have_state = false;
    {
        // Not halfway through another process's write of the objects.
        TokenLock lock;
        if (!lock.acquire(obj, CADB_F_PSE_CTX_READ)) return nullptr;
        for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
            Secret value;
            const int got = read_kind(obj, kind, &value);
            if (got == 0 && kind == PSE_FILE_RAND) break;
            if (got <= 0 ||
                !kSetters[kind](ctx, value.v.data(), static_cast<int>(value.v.size()))) {
                PKCS11_ERR(F, ERR_R_INTERNAL);
                return nullptr;
            }
            have_state = kind == PSE_FILE_RAND;
        }
    }
    const bool usable_before = CADB_rand_status() == 1;
    const bool wants_generator = (ctx->flags & PSE_CTX_FLAG_NO_RAND_INIT) == 0;
    // The default read decodes the store; the generator is started here, so
    // that no state file is looked for on the token's file view.
    Secret state;
    if (have_state && ctx->rand_state) {
        state.v.assign(ctx->rand_state->data, ctx->rand_state->data + ctx->rand_state->length);
        ctx->rand_state.reset();
    }
    const std::uint8_t flags = ctx->flags;
    ctx->flags |= PSE_CTX_FLAG_NO_RAND_INIT;
    PseOwner full(PSE_CTX_default_read(ctx));
    ctx->flags = flags;
    if (!full) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    const bool force = (ctx->flags & PSE_CTX_FLAG_READ_TOKEN) != 0;
    if (wants_generator && (!usable_before || force)) {
        if (state.v.size() != PSE_RAND_STATE_SIZE && !state.v.empty()) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return nullptr;
        }
        // A generator that does not start fails the read, as the default
        // read does.
        if (!CADB_rand_init_pse(full.get(), state.v.empty() ? nullptr : state.v.data(),
                                ctx->seed_cb, ctx->seed_arg)) {
            PSE_rand_cleanup();
            RAND_set_rand_method(nullptr);
            ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return nullptr;
        }
        if (CADB_rand_status() == 1 && !save_fresh_state(ctx, full.get(), obj)) {
            PSE_rand_cleanup();
            RAND_set_rand_method(nullptr);
            PKCS11_ERR(F, ERR_R_INTERNAL);
            ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
            // Marked failed: a GOST token still keeps the decoded store.
            full->path.clear();
            return full.release();
        }
    }
    return full.release();
}

}  // namespace

int PSE_CTX_pkcs11_create(PSE_CTX* ctx) { return PSE_CTX_default_create(ctx); }

PSE* PSE_CTX_pkcs11_read(PSE_CTX* ctx) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_READ;
    if (ctx == nullptr || path_of(ctx) == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    Lock lock(ctx->mutex);
    PseOwner bare(PSE_new());
    if (!bare) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        PKCS11_ERR(F, ERR_R_MALLOC);
        return nullptr;
    }
    bare->path = path_of(ctx);
    PKCS11_OBJ_ptr obj = context_on(ctx);
    if (!obj) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    if (CADB_rand_status() == 1 && (ctx->flags & PSE_CTX_FLAG_READ_TOKEN) == 0)
        return bare.release();
    if (!PKCS11_OBJ_open(obj.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    const bool signs = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410) == 1;
    PseOwner full(read_token(ctx, obj.get()));
    // A store whose generator state could not be advanced came back without
    // its path.
    const bool complete = full && !full->path.empty();
    if (full) full->path = path_of(ctx);
    if (complete) return full.release();
    if (!signs) return nullptr;
    ERR_clear_error();
    return full ? full.release() : bare.release();
}

int PSE_CTX_pkcs11_write(PSE_CTX* ctx) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE;
    if (ctx == nullptr || ctx->pse == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    Lock lock(ctx->mutex);
    if (path_of(ctx) == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    ctx->pse->path = path_of(ctx);
    PKCS11_OBJ_ptr obj = context_on(ctx);
    if (!obj || !PKCS11_OBJ_open(obj.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    const bool signs = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410) == 1;
    if (!PKCS11_OBJ_login(obj.get(), 0)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    // Everything is prepared before the token is touched; a kind the
    // context cannot give (the random state without a generator) ends the
    // write there.
    std::array<Secret, kKinds> values;
    int given = 0;
    while (given < kKinds && contents_of(ctx, given, &values[static_cast<std::size_t>(given)]))
        ++given;
    // Whether a store is there and the four writes are one step for every
    // process of the user: two creators at once end with one store, never
    // with the objects of both mixed. A new store is refused, even on a
    // token that signs, wherever a whole one is or may be there: the caller
    // is to open that one, not go on with a master key no one kept.
    const bool new_store = (ctx->flags & PSE_CTX_FLAG_NEW_STORE) != 0;
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PSE_CTX_WRITE))
        return new_store ? 0 : failed_after_login(signs, F);
    if (new_store) {
        const Found there = store_found(obj.get());
        if (there == Found::unknown) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
        if (there == Found::whole) {
            ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
            CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, CADB_R_KEY_STORE_EXISTS);
            return 0;
        }
        // A remnant goes whole, a random state left with it too: encrypted
        // under another key-encryption key, it would not start the new store.
        if (there == Found::remnant) {
            for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
                if (!erase_kind(obj.get(), kind)) {
                    PKCS11_ERR(F, ERR_R_INTERNAL);
                    return 0;
                }
            }
        }
    }
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        if (kind < given && write_kind(obj.get(), kind, values[static_cast<std::size_t>(kind)].v))
            continue;
        // A new store without its master key, masks or key-encryption key
        // opens nothing and would only turn the next creator away.
        if (new_store && kind <= PSE_FILE_KEK) {
            ERR_set_mark();
            for (int written = PSE_FILE_MKEY; written <= kind; ++written)
                erase_kind(obj.get(), written);
            ERR_pop_to_mark();
        }
        return failed_after_login(signs, F);
    }
    return 1;
}

int PSE_CTX_pkcs11_erase(PSE_CTX* ctx) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_ERASE;
    if (ctx == nullptr || path_of(ctx) == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    Lock lock(ctx->mutex);
    PKCS11_OBJ_ptr obj = context_on(ctx);
    if (!obj || !PKCS11_OBJ_open(obj.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    const bool signs = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410) == 1;
    if (!PKCS11_OBJ_login(obj.get(), 0)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return 0;
    }
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PSE_CTX_ERASE)) return failed_after_login(signs, F);
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind)
        if (!erase_kind(obj.get(), kind)) return failed_after_login(signs, F);
    return 1;
}

const PSE_CTX_METHOD* PSE_CTX_get_pkcs11_method_record() {
    static const PSE_CTX_METHOD method = {"PSE_CTX pkcs11 method", PSE_CTX_pkcs11_create,
                                          PSE_CTX_pkcs11_read, PSE_CTX_pkcs11_write,
                                          PSE_CTX_pkcs11_erase};
    return &method;
}

}  // namespace cadb
