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
// The labels a rewrite's new objects bear until every one of them is on the
// token (see settle).
constexpr const char* kReserveLabels[4] = {"mk.db3.new", "masks.db3.new", "kek.opq.new",
                                           "rand.opq.new"};
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

PKCS11_TEMPLATE_ptr kind_template(int kind, bool reserve = false) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_data());
    if (!t ||
        !PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL,
                                  reserve ? kReserveLabels[kind] : kLabels[kind]) ||
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
bool erase_kind(PKCS11_OBJ* obj, int kind, bool reserve = false) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_ERASE_OBJECT;
    PKCS11_TEMPLATE_ptr t = kind_template(kind, reserve);
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

// Creates an object of kind holding value, under its reserve label when
// asked.
bool create_kind(PKCS11_OBJ* obj, int kind, const std::vector<unsigned char>& value, bool reserve) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE_OBJECT;
    PKCS11_TEMPLATE_ptr t = kind_template(kind, reserve);
    if (!t || !PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, value.data(), value.size())) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    if (!PKCS11_OBJ_create(obj, t.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return false;
    }
    return true;
}

// Replaces kind's object by one holding value.
bool write_kind(PKCS11_OBJ* obj, int kind, const std::vector<unsigned char>& value) {
    if (!erase_kind(obj, kind) || !create_kind(obj, kind, value, false)) {
        PKCS11_ERR(PKCS11_F_PSE_CTX_PKCS11_WRITE_OBJECT, ERR_R_INTERNAL);
        return false;
    }
    return true;
}

// Gives kind's object under the reserve label its own label.
bool rename_kind(PKCS11_OBJ* obj, int kind) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE_OBJECT;
    PKCS11_TEMPLATE_ptr reserve = kind_template(kind, true);
    PKCS11_TEMPLATE_ptr label(PKCS11_TEMPLATE_new());
    if (!reserve || !label || !PKCS11_TEMPLATE_add_text(label.get(), CKA_LABEL, kLabels[kind])) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    if (pkcs11::find_first_status(obj, reserve.get()) != 1 ||
        !PKCS11_OBJ_set_attributes(obj, label.get())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return false;
    }
    return true;
}

// Which kinds have an object under their own label, and which under the
// reserve one.
struct Present {
    std::array<bool, kKinds> plain{};
    std::array<bool, kKinds> reserve{};

    // A store opens with its master key, masks and key-encryption key.
    bool whole() const {
        return plain[PSE_FILE_MKEY] && plain[PSE_FILE_MASKS] && plain[PSE_FILE_KEK];
    }
    bool any(const std::array<bool, kKinds>& set) const {
        return set[0] || set[1] || set[2] || set[3];
    }
};

bool look(PKCS11_OBJ* obj, Present* out) {
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        for (const bool reserve : {false, true}) {
            PKCS11_TEMPLATE_ptr t = kind_template(kind, reserve);
            const int found = t ? pkcs11::find_first_status(obj, t.get()) : -1;
            if (found < 0) return false;
            (reserve ? out->reserve : out->plain)[static_cast<std::size_t>(kind)] = found == 1;
        }
    }
    return true;
}

// The order in which a rewrite creates its objects under the reserve labels
// (the master key last) and the order in which it then renames them (the
// key-encryption key last), after destroying the old objects of the kinds
// it wrote.
constexpr int kCreateOrder[kKinds] = {PSE_FILE_RAND, PSE_FILE_MASKS, PSE_FILE_KEK, PSE_FILE_MKEY};
constexpr int kRenameOrder[kKinds] = {PSE_FILE_MKEY, PSE_FILE_MASKS, PSE_FILE_RAND, PSE_FILE_KEK};

// Ends the rewrite the reserve objects belong to: the old objects of their
// kinds go, then they take their labels.
bool finish_rewrite(PKCS11_OBJ* obj, Present* there) {
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        const auto k = static_cast<std::size_t>(kind);
        if (!there->reserve[k]) continue;
        if (!erase_kind(obj, kind)) return false;
        there->plain[k] = false;
    }
    for (const int kind : kRenameOrder) {
        const auto k = static_cast<std::size_t>(kind);
        if (!there->reserve[k]) continue;
        if (!rename_kind(obj, kind)) return false;
        there->reserve[k] = false;
        there->plain[k] = true;
    }
    return true;
}

// Leaves the store as a rewrite that died found it, under the token's lock.
// A writer killed at any instant leaves the old store whole or the new one
// complete, and what is on the token tells which:
// - a master key under the reserve label: every new object was written;
//   the rewrite is finished;
// - other reserve objects beside a master key that lacks its masks or
//   key-encryption key: the renaming had begun (the old objects of those
//   kinds are gone, and the key-encryption key is renamed last); finished;
// - other reserve objects otherwise: the new store was never complete, the
//   old one (or none) stands; they are destroyed.
bool settle(PKCS11_OBJ* obj, Present* there) {
    if (!there->any(there->reserve)) return true;
    const bool renaming = there->plain[PSE_FILE_MKEY] && !there->whole();
    if (there->reserve[PSE_FILE_MKEY] || renaming) return finish_rewrite(obj, there);
    for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
        if (!erase_kind(obj, kind, true)) return false;
        there->reserve[static_cast<std::size_t>(kind)] = false;
    }
    return true;
}

// What is there once a dead writer's rewrite is settled; false when the
// token could not be searched or changed.
bool settled_store(PKCS11_OBJ* obj, Present* there) {
    return look(obj, there) && settle(obj, there);
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

// A fresh state of the store's generator written as "rand.opq", with the
// token's lock held: a state that could not be advanced on the token is
// not used.
bool write_fresh_state(PSE_CTX* ctx, PSE* pse, PKCS11_OBJ* obj) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_WRITE_RAND;
    Secret state;
    state.v.assign(PSE_RAND_STATE_SIZE, 0);
    if (!CADB_rand_save_state(pse, state.v.data())) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return false;
    }
    if (ctx->notify_cb != nullptr) ctx->notify_cb(PSE_CTX_EVENT_RAND_BEGIN);
    const bool ok = write_kind(obj, PSE_FILE_RAND, state.v);
    if (ctx->notify_cb != nullptr) ctx->notify_cb(PSE_CTX_EVENT_RAND_END);
    if (!ok) PKCS11_ERR(F, ERR_R_INTERNAL);
    return ok;
}

// Whether the token's store, looked at under its lock, is still the one
// this read decoded: only a KEK read back and found different tells that
// another writer replaced it. 1 the same, -1 replaced, 0 the store could
// not be read, which fails the start: the state would otherwise stay to
// start a generator again.
int same_store(PSE_CTX* ctx, PKCS11_OBJ* obj) {
    Present there;
    Secret kek;
    if (!settled_store(obj, &there) || read_kind(obj, PSE_FILE_KEK, &kek) < 0) return 0;
    return ctx->kek && kek.v.size() == static_cast<std::size_t>(ctx->kek->length) &&
                   CRYPTO_memcmp(kek.v.data(), ctx->kek->data, kek.v.size()) == 0
               ? 1
               : -1;
}

// Starts the store's generator from the state on the token (or the seed
// callback) and saves its next state, so that a state starts a generator
// only once: the state is read, the generator started from it and the next
// state written in one hold of the token's lock, so that processes opening
// the store at once never start from one state. Seeding, which may ask the
// user, runs outside the hold. 1 started and saved (or nothing to save
// over: another writer replaced the store), 0 not started, -1 started but
// its next state not saved.
int start_on_token(PSE_CTX* ctx, PSE* pse, PKCS11_OBJ* obj) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_READ;
    int same = 0;
    {
        TokenLock lock;
        if (!lock.acquire(obj, CADB_F_PSE_CTX_READ)) return 0;
        same = same_store(ctx, obj);
        if (same == 0) return 0;
        Secret state;
        const int found = same == 1 ? read_kind(obj, PSE_FILE_RAND, &state) : 0;
        if (found < 0 || (found == 1 && state.v.size() != PSE_RAND_STATE_SIZE)) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return 0;
        }
        if (found == 1 && CADB_rand_state_opens(pse, state.v.data()) == 1) {
            if (!CADB_rand_init_pse(pse, state.v.data(), ctx->seed_cb, ctx->seed_arg)) return 0;
            return CADB_rand_status() != 1 || write_fresh_state(ctx, pse, obj) ? 1 : -1;
        }
    }
    if (!CADB_rand_init_pse(pse, nullptr, ctx->seed_cb, ctx->seed_arg)) return 0;
    if (same != 1 || CADB_rand_status() != 1) return 1;
    TokenLock lock;
    if (!lock.acquire(obj, CADB_F_PSE_CTX_READ)) return -1;
    const int still = same_store(ctx, obj);
    if (still != 1) return still < 0 ? 1 : -1;
    return write_fresh_state(ctx, pse, obj) ? 1 : -1;
}

// Steps of a read that touch the token; the full store, or null.
PSE* read_token(PSE_CTX* ctx, PKCS11_OBJ* obj) {
    constexpr int F = PKCS11_F_PSE_CTX_PKCS11_READ;
    if (!PKCS11_OBJ_login(obj, 0)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    {
        // Not halfway through another process's write of the objects.
        TokenLock lock;
        if (!lock.acquire(obj, CADB_F_PSE_CTX_READ)) return nullptr;
        Present there;
        if (!settled_store(obj, &there)) {
            PKCS11_ERR(F, ERR_R_INTERNAL);
            return nullptr;
        }
        // The random state is read when the generator starts.
        for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_KEK; ++kind) {
            Secret value;
            if (read_kind(obj, kind, &value) <= 0 ||
                !kSetters[kind](ctx, value.v.data(), static_cast<int>(value.v.size()))) {
                PKCS11_ERR(F, ERR_R_INTERNAL);
                return nullptr;
            }
        }
    }
    const bool usable_before = CADB_rand_status() == 1;
    const bool wants_generator = (ctx->flags & PSE_CTX_FLAG_NO_RAND_INIT) == 0;
    // The default read decodes the store; the generator is started here, so
    // that no state file is looked for on the token's file view.
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
        const int started = start_on_token(ctx, full.get(), obj);
        if (started != 1) {
            PSE_rand_cleanup();
            RAND_set_rand_method(nullptr);
            ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
            PKCS11_ERR(F, ERR_R_INTERNAL);
            // A generator that does not start fails the read, as the default
            // read does; one whose state was not saved marks the store
            // failed, which a GOST token still keeps decoded.
            if (started == 0) return nullptr;
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
    // write there. Without a master key, masks and key-encryption key there
    // is no store to write, and nothing is.
    std::array<Secret, kKinds> values;
    int given = 0;
    while (given < kKinds && contents_of(ctx, given, &values[static_cast<std::size_t>(given)]))
        ++given;
    if (given <= PSE_FILE_KEK) return failed_after_login(signs, F);
    // Whether a store is there and the writes are one step for every
    // process of the user: two creators at once end with one store, never
    // with the objects of both mixed. A new store is refused, even on a
    // token that signs, wherever a whole one is or may be there: the caller
    // is to open that one, not go on with a master key no one kept.
    const bool new_store = (ctx->flags & PSE_CTX_FLAG_NEW_STORE) != 0;
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PSE_CTX_WRITE))
        return new_store ? 0 : failed_after_login(signs, F);
    Present there;
    if (!settled_store(obj.get(), &there)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return new_store ? 0 : failed_after_login(signs, F);
    }
    if (new_store && there.whole()) {
        ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PSE_CTX_WRITE, CADB_R_KEY_STORE_EXISTS);
        return 0;
    }
    // A remnant opens nothing and goes whole, a random state left with it
    // too: encrypted under another key-encryption key, it would not start
    // the new store. Only a store that is whole or not there at all may
    // stand beside reserve objects, which is what lets settle tell the two
    // halves of a rewrite apart.
    if (!there.whole() && there.any(there.plain)) {
        for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind) {
            if (!erase_kind(obj.get(), kind)) {
                PKCS11_ERR(F, ERR_R_INTERNAL);
                return new_store ? 0 : failed_after_login(signs, F);
            }
            there.plain[static_cast<std::size_t>(kind)] = false;
        }
    }
    // The new objects are written whole under the reserve labels before an
    // old one goes; a write that fails there leaves the old store as it was.
    for (const int kind : kCreateOrder) {
        if (kind >= given) continue;
        if (create_kind(obj.get(), kind, values[static_cast<std::size_t>(kind)].v, true)) {
            there.reserve[static_cast<std::size_t>(kind)] = true;
            continue;
        }
        ERR_set_mark();
        for (int written = PSE_FILE_MKEY; written <= PSE_FILE_RAND; ++written)
            erase_kind(obj.get(), written, true);
        ERR_pop_to_mark();
        return failed_after_login(signs, F);
    }
    // From here the new store is the one: a failure leaves it to the next
    // holder of the lock to finish.
    if (!finish_rewrite(obj.get(), &there)) return failed_after_login(signs, F);
    return given == kKinds ? 1 : failed_after_login(signs, F);
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
    // A rewrite's reserve objects first, so that an erase cut short leaves
    // a store that was there or a remnant, never one settled into being.
    for (const bool reserve : {true, false})
        for (int kind = PSE_FILE_MKEY; kind <= PSE_FILE_RAND; ++kind)
            if (!erase_kind(obj.get(), kind, reserve)) return failed_after_login(signs, F);
    return 1;
}

const PSE_CTX_METHOD* PSE_CTX_get_pkcs11_method_record() {
    static const PSE_CTX_METHOD method = {"PSE_CTX pkcs11 method", PSE_CTX_pkcs11_create,
                                          PSE_CTX_pkcs11_read, PSE_CTX_pkcs11_write,
                                          PSE_CTX_pkcs11_erase};
    return &method;
}

}  // namespace cadb
