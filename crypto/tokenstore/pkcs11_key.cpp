// "PKEY_CTX pkcs11 method": key pairs generated inside a token, read back by
// their CKA_ID, named, and software keys imported onto a token.
#include "crypto/tokenstore/pkcs11_key.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <strings.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_key_local.h"
#include "crypto/tokenstore/token_lock.h"

namespace cadb {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Where a key lives: the token path and the object name (its CKA_ID). A key
// path with a module part names both; a bare name lies on the key store's
// token.
struct KeyPlace {
    std::string token;
    std::string name;
};

bool place_of(PKEY_CTX* ctx, KeyPlace* out) {
    const char* path = reinterpret_cast<const char*>(ctx->key_path->data);
    std::string module_part;
    ERR_set_mark();
    char* label = PKCS11_path_get_label(path, &module_part);
    if (label == nullptr && ctx->store != nullptr) {
        module_part = ctx->store->path;
        label = PKCS11_path_get_label(path, nullptr);
    }
    ERR_pop_to_mark();
    if (label == nullptr) return false;
    out->token = module_part;
    out->name = label;
    OPENSSL_clear_free(label, out->name.size() + 1);
    return !out->name.empty();
}

bool has_paths(PKEY_CTX* ctx, bool key_path) {
    return ctx->store != nullptr && !ctx->store->path.empty() &&
           (!key_path || (ctx->key_path && ctx->key_path->data != nullptr &&
                          ctx->key_path->length > 0));
}

// An open context on a token path with the context's PIN argument.
PKCS11_OBJ_ptr open_on(const std::string& path, void* pin_arg) {
    PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
    if (!obj || !PKCS11_OBJ_set_path(obj.get(), path.c_str()) ||
        (pin_arg != nullptr && !PKCS11_OBJ_set_pin_arg(obj.get(), pin_arg)) ||
        !PKCS11_OBJ_open(obj.get()))
        return nullptr;
    return obj;
}

const PKEY_TOKEN_METHOD* method_of(PKCS11_OBJ* obj, int* flags) {
    const bool wrap = PKCS11_OBJ_has_mechanism(obj, CKM_GOSTR3410_KEY_WRAP) == 1;
    const bool derive = PKCS11_OBJ_has_mechanism(obj, CKM_GOSTR3410_DERIVE) == 1;
    const bool hashes = PKCS11_OBJ_has_mechanism(obj, CKM_GOSTR3411) == 1;
    *flags = (!wrap && !derive ? PKEY_TOKEN_SIGN_ONLY : 0) | (hashes ? 0 : PKEY_TOKEN_NO_DIGEST);
    return PKCS11_key_method_for(wrap, derive);
}

// Makes pkey, which carries obj from now on, the context's key.
bool adopt(PKEY_CTX* ctx, EVP_PKEY* pkey, PKCS11_OBJ_ptr obj) {
    int flags = 0;
    const PKEY_TOKEN_METHOD* m = method_of(obj.get(), &flags);
    if (!EVP_PKEY_set_token(pkey, m, obj.get(), flags)) return false;
    obj.release();
    PKEY* key = PKEY_split(pkey);
    if (key == nullptr) return false;
    key->type = NID_ECR3410_CP;
    PKEY_free(ctx->key);
    ctx->key = key;
    return true;
}

// Destroys every key of that class carrying the label. Bounded: a module
// that keeps finding what it was told to destroy cannot hold the loop.
bool destroy_labelled(PKCS11_OBJ* obj, bool private_key, const char* label) {
    for (int i = 0; i < 1024; ++i) {
        const int found = pkcs11::find_by_status(
            obj, private_key ? PKCS11_TEMPLATE_private_keys : PKCS11_TEMPLATE_public_keys, nullptr,
            label, PKCS11_F_PKCS11_KEY_REMOVE_TEMPORARY);
        if (found == 0) return true;
        if (found < 0 || !PKCS11_OBJ_destroy(obj)) return false;
    }
    return false;
}

bool read_text(PKCS11_OBJ* obj, CK_ATTRIBUTE_TYPE type, std::string* out) {
    std::vector<unsigned char> v;
    ERR_set_mark();
    const bool ok = pkcs11::read_attribute(obj, type, &v);
    ERR_pop_to_mark();
    if (!ok) return false;
    out->assign(v.begin(), v.end());
    return true;
}

int fail(int func, int reason) {
    PKCS11_ERR(func, reason);
    return 0;
}

// Clears the way for a key named name on the token obj is logged in to,
// with the token's lock held: the keys bearing the name are destroyed, or,
// for a write that takes only a free name, the write fails when any is there.
bool make_room(const PKEY_CTX* ctx, PKCS11_OBJ* obj, const std::string& name, int func) {
    if ((ctx->flags & PKEY_CTX_FLAG_NEW_NAME) == 0) {
        if (PKCS11_OBJ_destroy_keys(obj, name.c_str()) == 1) return true;
        PKCS11_ERR(func, ERR_R_INTERNAL);
        return false;
    }
    for (auto base : {PKCS11_TEMPLATE_private_keys, PKCS11_TEMPLATE_public_keys}) {
        const int found = pkcs11::find_by_status(obj, base, name.c_str(), nullptr, func);
        if (found < 0) {
            PKCS11_ERR(func, ERR_R_INTERNAL);
            return false;
        }
        if (found > 0) {
            PKCS11_ERR(func, ERR_R_INTERNAL);
            CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_CTX_WRITE, CADB_R_KEY_NAME_TAKEN);
            return false;
        }
    }
    return true;
}

// The public point of a key record, in the token's form (CKA_VALUE).
bool point_of(EVP_PKEY* pkey, std::vector<unsigned char>* out) {
    const auto* key = static_cast<const ECGOST*>(EVP_PKEY_get0(pkey));
    out->assign(64, 0);
    return key != nullptr && key->Q &&
           ECPOINT_point2le(key->Q.get(), out->data(), out->size()) == 64;
}

// Finds, as other's current object, the public half of the pair whose
// private half is being named: the public key under the private key's old
// CKA_ID, or the pair's temporary public object, and in both cases the one
// whose point is this key's. Another key's public half never matches, even
// when it bears the same ID or label.
bool find_own_public(PKCS11_OBJ* other, const std::string* old_id,
                     const std::vector<unsigned char>& point) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_public_keys());
    return t &&
           (old_id != nullptr
                ? PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, old_id->c_str())
                : PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, kTemporaryPublicLabel)) &&
           PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, point.data(), point.size()) &&
           PKCS11_OBJ_find_first(other, t.get()) == 1;
}

// Names a pair generated on the token: both objects get CKA_ID name. What
// the private key bears and which public object is its half are read under
// the token's lock: another writer may have renamed the pair since the key
// was made or read, and a fresh pair's temporary public label is borne by
// every enrolment's unnamed pair.
int name_generated(PKEY_CTX* ctx, const KeyPlace& place, PKCS11_OBJ* key_obj) {
    constexpr int F = PKCS11_F_PKCS11_KEY_WRITE;
    Lock key_lock(key_obj->mutex);
    std::vector<unsigned char> point;
    if (!point_of(ctx->key->key, &point)) return fail(F, ERR_R_INTERNAL);
    PKCS11_OBJ_ptr other = open_on(place.token, ctx->passwd_arg);
    if (!other || !PKCS11_OBJ_login(other.get(), 0)) return fail(F, ERR_R_INTERNAL);
    // The name is looked at and given in one step for every writer.
    TokenLock token;
    if (!token.acquire(other.get(), CADB_F_PKEY_CTX_WRITE)) return 0;
    std::string old_id;
    const bool had_id = read_text(key_obj, CKA_ID, &old_id) && !old_id.empty();
    if (had_id && old_id == place.name) return fail(F, ERR_R_INTERNAL);
    if (!had_id) {
        std::string label;
        if (!read_text(key_obj, CKA_LABEL, &label) ||
            strcasecmp(label.c_str(), kTemporaryPrivateLabel) != 0)
            return fail(F, ERR_R_INTERNAL);
    }
    // The public half is found before anything is destroyed or renamed.
    if (!find_own_public(other.get(), had_id ? &old_id : nullptr, point))
        return fail(F, ERR_R_INTERNAL);
    const CK_OBJECT_HANDLE own_public = other->object;
    if (!make_room(ctx, other.get(), place.name, F)) return 0;
    other->object = own_public;
    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_new()), pub(PKCS11_TEMPLATE_new());
    if (!priv || !pub || !PKCS11_TEMPLATE_add_text(priv.get(), CKA_ID, place.name.c_str()) ||
        !PKCS11_TEMPLATE_add_text(pub.get(), CKA_ID, place.name.c_str()) ||
        (!had_id && (!PKCS11_TEMPLATE_add_text(priv.get(), CKA_LABEL, kStoredPrivateLabel) ||
                     !PKCS11_TEMPLATE_add_text(pub.get(), CKA_LABEL, kStoredPublicLabel))))
        return fail(F, ERR_R_MALLOC);
    if (!PKCS11_OBJ_set_attributes(key_obj, priv.get()) ||
        !PKCS11_OBJ_set_attributes(other.get(), pub.get()) ||
        !PKCS11_OBJ_set_id(key_obj, place.name.c_str()))
        return fail(F, ERR_R_INTERNAL);
    return 1;
}

// The three parameter identifiers of a key, as DER.
struct KeyParams {
    std::vector<unsigned char> curve, digest, cipher;
};

bool params_of(const ECGOST* key, KeyParams* out) {
    const int cipher = key->cipher_nid != 0 ? key->cipher_nid : NID_GOST28147_A_PARAMSET;
    const int digest = key->hash_nid != 0 ? key->hash_nid : NID_R3411_CP_PARAMSET;
    return pkcs11::der_of_nid(key->nid, &out->curve) &&
           pkcs11::der_of_nid(digest, &out->digest) && pkcs11::der_of_nid(cipher, &out->cipher);
}

bool add_params(PKCS11_TEMPLATE* t, const KeyParams& p) {
    return PKCS11_TEMPLATE_add(t, CKA_GOSTR3410_PARAMS, p.curve.data(), p.curve.size()) &&
           PKCS11_TEMPLATE_add(t, CKA_GOSTR3411_PARAMS, p.digest.data(), p.digest.size()) &&
           PKCS11_TEMPLATE_add(t, CKA_GOST28147_PARAMS, p.cipher.data(), p.cipher.size());
}

// A key wrapped under its key store, unwrapped for as long as the holder
// lives and wrapped again afterwards, as a key being written is.
class Unwrapped {
  public:
    Unwrapped(ECGOST* key, PSE* store) : key_(key), store_(store) {
        wrapped_ = key != nullptr && key->check.has_value();
        ok_ = !wrapped_ || ECGOST_decrypt_opaque(key, store) == 1;
    }
    ~Unwrapped() {
        if (wrapped_ && ok_) ECGOST_encrypt_opaque(key_, store_);
    }
    Unwrapped(const Unwrapped&) = delete;
    Unwrapped& operator=(const Unwrapped&) = delete;
    bool ok() const { return ok_; }

  private:
    ECGOST* key_;
    PSE* store_;
    bool wrapped_ = false;
    bool ok_ = false;
};

// Copies a software key onto the token under the name. Everything is built
// and checked before the keys already there under that name are destroyed.
int import_key(PKEY_CTX* ctx, const KeyPlace& place) {
    constexpr int F = PKCS11_F_PKCS11_KEY_IMPORT;
    EVP_PKEY* pkey = ctx->key->key;
    if (pkey == nullptr || EVP_PKEY_nid(pkey) != NID_ECR3410_CP) return fail(F, ERR_R_INTERNAL);
    auto* key = static_cast<ECGOST*>(EVP_PKEY_get0(pkey));
    const Unwrapped clear(key, ctx->store);
    PKCS11_OBJ_ptr obj = open_on(place.token, ctx->passwd_arg);
    if (!obj || !PKCS11_OBJ_set_id(obj.get(), place.name.c_str()) ||
        !PKCS11_OBJ_login(obj.get(), 0) || key == nullptr || !clear.ok() || !key->Q ||
        PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410) != 1)
        return fail(F, ERR_R_INTERNAL);
    const bool derive = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410_DERIVE) == 1;
    const bool wrap = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410_KEY_WRAP) == 1;

    KeyParams params;
    std::vector<unsigned char> point(64);
    unsigned char d_le[32];
    BnPtr d(ECGOST_get_private(key));
    const bool have = params_of(key, &params) &&
                      ECPOINT_point2le(key->Q.get(), point.data(), point.size()) == 64 && d &&
                      BN_bn2lebinpad(d.get(), d_le, sizeof d_le) == sizeof d_le;
    if (d) BN_clear(d.get());
    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_private_key(PKCS11_KEY_STORED));
    const bool built = have && priv &&
                       PKCS11_TEMPLATE_add_text(priv.get(), CKA_ID, place.name.c_str()) &&
                       add_params(priv.get(), params) &&
                       PKCS11_TEMPLATE_add(priv.get(), CKA_VALUE, d_le, sizeof d_le) &&
                       (!derive || PKCS11_TEMPLATE_add_bool(priv.get(), CKA_DERIVE, true)) &&
                       (!wrap || PKCS11_TEMPLATE_add_bool(priv.get(), CKA_UNWRAP, true));
    OPENSSL_cleanse(d_le, sizeof d_le);
    // The public key the token may hold already: same type, sets and point.
    PKCS11_TEMPLATE_ptr same(PKCS11_TEMPLATE_public_keys());
    PKCS11_TEMPLATE_ptr pub(PKCS11_TEMPLATE_public_key(PKCS11_KEY_STORED));
    if (!built || !same || !pub ||
        !PKCS11_TEMPLATE_add_ulong(same.get(), CKA_KEY_TYPE, CKK_GOSTR3410) ||
        !add_params(same.get(), params) ||
        !PKCS11_TEMPLATE_add(same.get(), CKA_VALUE, point.data(), point.size()) ||
        !PKCS11_TEMPLATE_add_text(pub.get(), CKA_ID, place.name.c_str()) ||
        !add_params(pub.get(), params) ||
        !PKCS11_TEMPLATE_add(pub.get(), CKA_VALUE, point.data(), point.size()))
        return fail(F, ERR_R_INTERNAL);

    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PKEY_CTX_WRITE) ||
        !make_room(ctx, obj.get(), place.name, F))
        return 0;
    if (!PKCS11_OBJ_create(obj.get(), priv.get())) {
        PKCS11_ERR(PKCS11_F_PKCS11_KEY_CREATE_PRIVATE, ERR_R_INTERNAL);
        return fail(F, ERR_R_INTERNAL);
    }
    if (PKCS11_OBJ_find_first(obj.get(), same.get()) == 1) {
        PKCS11_TEMPLATE_ptr rename(PKCS11_TEMPLATE_new());
        if (!rename || !PKCS11_TEMPLATE_add_text(rename.get(), CKA_ID, place.name.c_str()) ||
            !PKCS11_TEMPLATE_add_text(rename.get(), CKA_LABEL, kStoredPublicLabel) ||
            !PKCS11_OBJ_set_attributes(obj.get(), rename.get())) {
            PKCS11_ERR(PKCS11_F_PKCS11_KEY_FIND_SAME_PUBLIC, ERR_R_INTERNAL);
            return fail(F, ERR_R_INTERNAL);
        }
    } else if (!PKCS11_OBJ_create(obj.get(), pub.get())) {
        PKCS11_ERR(PKCS11_F_PKCS11_KEY_CREATE_PUBLIC, ERR_R_INTERNAL);
        return fail(F, ERR_R_INTERNAL);
    }
    ERR_clear_error();
    return 1;
}

}  // namespace

int PKCS11_key_generate(PKEY_CTX* ctx, int type, int param) {
    constexpr int F = PKCS11_F_PKCS11_KEY_GENERATE;
    if (ctx == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    Lock lock(ctx->mutex);
    if (!has_paths(ctx, false)) return fail(F, ERR_R_NULL_PARAMETER);
    PKCS11_OBJ_ptr obj = open_on(ctx->store->path, ctx->passwd_arg);
    if (!obj) return fail(F, ERR_R_INTERNAL);
    if (type != NID_ECR3410_CP || PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410_KEY_PAIR_GEN) != 1 ||
        PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410) != 1)
        return fail(F, ERR_R_INTERNAL);
    const bool derive = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410_DERIVE) == 1;
    const bool wrap = PKCS11_OBJ_has_mechanism(obj.get(), CKM_GOSTR3410_KEY_WRAP) == 1;
    PKCS11_TEMPLATE_ptr pub(PKCS11_TEMPLATE_public_key(PKCS11_KEY_GENERATION));
    PKCS11_TEMPLATE_ptr priv(PKCS11_TEMPLATE_private_key(PKCS11_KEY_GENERATION));
    if (!pub || !priv ||
        (param != 0 && param != NID_R3410_2001_A_PARAMSET &&
         !PKCS11_TEMPLATE_add_gost_params(pub.get(), param)) ||
        (derive && !PKCS11_TEMPLATE_add_bool(priv.get(), CKA_DERIVE, true)) ||
        (wrap && !PKCS11_TEMPLATE_add_bool(priv.get(), CKA_UNWRAP, true)))
        return fail(F, ERR_R_MALLOC);
    if (!PKCS11_OBJ_login(obj.get(), 0)) return fail(F, ERR_R_INTERNAL);
    // Leftovers are looked for and the pair made in one hold of the token's
    // lock, from a fresh view of what other processes made.
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PKEY_CTX_GENERATE) ||
        !destroy_labelled(obj.get(), true, kTemporaryPrivateLabel) ||
        !destroy_labelled(obj.get(), false, kTemporaryPublicLabel))
        return fail(F, ERR_R_INTERNAL);
    CK_MECHANISM m{CKM_GOSTR3410_KEY_PAIR_GEN, nullptr, 0};
    CK_OBJECT_HANDLE pub_handle = 0, priv_handle = 0;
    const CK_RV rv = obj->module->functions->C_GenerateKeyPair(
        obj->session, &m, pub->data(), pub->count(), priv->data(), priv->count(), &pub_handle,
        &priv_handle);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    obj->object = pub_handle;
    EVP_PKEY* pkey = PKCS11_key_get_public(obj.get());
    if (pkey == nullptr) return fail(F, ERR_R_INTERNAL);
    obj->object = priv_handle;
    const bool ok = adopt(ctx, pkey, std::move(obj));
    EVP_PKEY_free(pkey);
    if (!ok) return fail(F, ERR_R_INTERNAL);
    ERR_clear_error();
    return 1;
}

int PKCS11_key_read(PKEY_CTX* ctx) {
    constexpr int F = PKCS11_F_PKCS11_KEY_READ;
    if (ctx == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    Lock lock(ctx->mutex);
    if (!has_paths(ctx, true)) return fail(F, ERR_R_NULL_PARAMETER);
    PKEY_free(ctx->key);
    ctx->key = nullptr;
    KeyPlace place;
    if (!place_of(ctx, &place)) return fail(F, ERR_R_INTERNAL);
    PKCS11_OBJ_ptr obj = open_on(place.token, ctx->passwd_arg);
    if (!obj || !PKCS11_OBJ_login(obj.get(), (ctx->flags & PKEY_CTX_FLAG_FORCE_LOGIN) != 0))
        return fail(F, ERR_R_INTERNAL);
    // Both halves are found in one hold of the token's lock, from a fresh
    // view: a saver renaming keys meanwhile would otherwise hand this reader
    // one key's private half with another's public half.
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_PKEY_CTX_READ) ||
        PKCS11_OBJ_find_private_key(obj.get(), place.name.c_str(), nullptr) != 1)
        return fail(F, ERR_R_INTERNAL);
    PKCS11_OBJ_ptr other = open_on(place.token, ctx->passwd_arg);
    if (!other || PKCS11_OBJ_find_public_key(other.get(), place.name.c_str(), nullptr) != 1)
        return fail(F, ERR_R_INTERNAL);
    EVP_PKEY* pkey = PKCS11_key_get_public(other.get());
    if (pkey == nullptr || !PKCS11_OBJ_set_id(obj.get(), place.name.c_str())) {
        EVP_PKEY_free(pkey);
        return fail(F, ERR_R_INTERNAL);
    }
    const bool ok = adopt(ctx, pkey, std::move(obj));
    EVP_PKEY_free(pkey);
    if (!ok) return fail(F, ERR_R_INTERNAL);
    ERR_clear_error();
    return 1;
}

int PKCS11_key_write(PKEY_CTX* ctx, int, int) {
    constexpr int F = PKCS11_F_PKCS11_KEY_WRITE;
    if (ctx == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    Lock lock(ctx->mutex);
    if (!has_paths(ctx, true) || ctx->key == nullptr || ctx->key->key == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    KeyPlace place;
    if (!place_of(ctx, &place)) return fail(F, ERR_R_INTERNAL);
    auto* key_obj = static_cast<PKCS11_OBJ*>(EVP_PKEY_token_data(ctx->key->key));
    if (key_obj != nullptr) return name_generated(ctx, place, key_obj);
    return import_key(ctx, place);
}

int PKCS11_key_lock_token(PKEY_CTX* ctx, TokenLock* lock) {
    constexpr int F = PKCS11_F_PKCS11_KEY_WRITE;
    if (ctx == nullptr || lock == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    KeyPlace place;
    void* pin_arg = nullptr;
    {
        Lock guard(ctx->mutex);
        if (!ctx->key_path || ctx->key_path->data == nullptr || ctx->key_path->length <= 0 ||
            !place_of(ctx, &place) || place.token.empty())
            return fail(F, ERR_R_NULL_PARAMETER);
        pin_arg = ctx->passwd_arg;
    }
    // The context is not held while the lock is waited for. The login (and
    // the PIN it may ask) comes first: what runs under the hold finds the
    // token logged in, and no one waits for the lock while a person is
    // asked.
    PKCS11_OBJ_ptr obj = open_on(place.token, pin_arg);
    if (!obj || !PKCS11_OBJ_login(obj.get(), 0)) return fail(F, ERR_R_INTERNAL);
    return lock->acquire(obj.get(), CADB_F_PKEY_CTX_WRITE) ? 1 : 0;
}

const PKEY_CTX_METHOD* PKEY_CTX_get_pkcs11_method_record() {
    static const PKEY_CTX_METHOD method = {"PKEY_CTX pkcs11 method", PKCS11_key_generate,
                                           PKCS11_key_read, PKCS11_key_write};
    return &method;
}

}  // namespace cadb
