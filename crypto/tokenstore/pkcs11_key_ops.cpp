// The token-side key method: signing, key agreement, key unwrap and hashing
// with a key whose private half stays on a PKCS#11 token, with one retry
// after reconnecting when the token was pulled and put back.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/tokenstore/pair_owner.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/tokenstore/pkcs11_key_local.h"

namespace cadb {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr std::size_t kSecretLen = 32;
constexpr std::size_t kDigestLen = 32;

int fail(int func, int reason) {
    PKCS11_ERR(func, reason);
    return 0;
}

PKCS11_OBJ* token_of(EVP_PKEY* key) {
    return key != nullptr ? static_cast<PKCS11_OBJ*>(EVP_PKEY_token_data(key)) : nullptr;
}

// Answers that a pulled and reinserted token gives to a session or handle of
// before.
bool lost_token(CK_RV rv) {
    return rv == CKR_DEVICE_REMOVED || rv == CKR_OBJECT_HANDLE_INVALID ||
           rv == CKR_SESSION_HANDLE_INVALID || rv == CKR_USER_NOT_LOGGED_IN;
}

bool same_public(EVP_PKEY* a, EVP_PKEY* b) {
    const auto* x = static_cast<const ECGOST*>(EVP_PKEY_get0(a));
    const auto* y = static_cast<const ECGOST*>(EVP_PKEY_get0(b));
    if (x == nullptr || y == nullptr || !x->Q || !y->Q || x->nid != y->nid) return false;
    unsigned char px[64], py[64];
    return ECPOINT_point2le(x->Q.get(), px, sizeof px) == sizeof px &&
           ECPOINT_point2le(y->Q.get(), py, sizeof py) == sizeof py &&
           std::memcmp(px, py, sizeof px) == 0;
}

// Opens the key's context again (its slot searched anew), logs in and finds
// the private key by its ID; the public key under that ID must be the one
// the key record holds, else another token answers with a different key.
bool reconnect(PKCS11_OBJ* obj, EVP_PKEY* key) {
    constexpr int F = PKCS11_F_PKCS11_KEY_RECONNECT;
    if (PKCS11_get_slot(obj->path.c_str(), nullptr) != 1) return fail(F, ERR_R_INTERNAL);
    if (!PKCS11_OBJ_open(obj) || !PKCS11_OBJ_login(obj, 0) ||
        PKCS11_OBJ_find_private_key(obj, obj->object_id.c_str(), nullptr) != 1)
        return fail(F, ERR_R_INTERNAL);
    const CK_OBJECT_HANDLE private_key = obj->object;
    PKCS11_OBJ_ptr other(PKCS11_OBJ_new());
    if (!other || !PKCS11_OBJ_set_path(other.get(), obj->path.c_str()) ||
        (obj->pin_arg != nullptr && !PKCS11_OBJ_set_pin_arg(other.get(), obj->pin_arg)) ||
        !PKCS11_OBJ_open(other.get()) ||
        PKCS11_OBJ_find_public_key(other.get(), obj->object_id.c_str(), nullptr) != 1)
        return fail(F, ERR_R_INTERNAL);
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> found(PKCS11_key_get_public(other.get()),
                                                               EVP_PKEY_free);
    if (!found || !same_public(found.get(), key)) return fail(F, ERR_R_INTERNAL);
    obj->object = private_key;
    return true;
}

// Whether a token call that failed with rv is worth one more attempt: only
// the first, only when the token was pulled, and only once it is back with
// the same key. The reconnection's own errors give way to one line.
bool again_after_reconnect(int attempt, CK_RV rv, PKCS11_OBJ* obj, EVP_PKEY* key) {
    if (attempt > 0 || !lost_token(rv)) return false;
    ERR_set_mark();
    const bool back = reconnect(obj, key);
    ERR_pop_to_mark();
    if (!back) PKCS11_ERR(PKCS11_F_PKCS11_KEY_RECONNECT, ERR_R_INTERNAL);
    return back;
}

// A secret the token made as a session object: its value read out, the
// object destroyed in any case, the private key current again.
int take_secret(PKCS11_OBJ* obj, CK_OBJECT_HANDLE secret, CK_OBJECT_HANDLE private_key,
                unsigned char* out, std::size_t* out_len, int func) {
    obj->object = secret;
    CK_ULONG len = kSecretLen;
    unsigned char value[kSecretLen];
    const bool read = PKCS11_OBJ_get_attribute(obj, CKA_VALUE, value, &len) == 1 &&
                      len == kSecretLen;
    PKCS11_OBJ_destroy(obj);
    obj->object = private_key;
    if (!read) {
        OPENSSL_cleanse(value, sizeof value);
        return fail(func, ERR_R_INTERNAL);
    }
    std::memcpy(out, value, kSecretLen);
    OPENSSL_cleanse(value, sizeof value);
    *out_len = kSecretLen;
    return 1;
}

// The size answer and room check of derive and unwrap: -1 to go on.
int secret_room(unsigned char* out, std::size_t* out_len, int func) {
    if (out_len == nullptr) return fail(func, ERR_R_NULL_PARAMETER);
    if (out == nullptr) {
        *out_len = kSecretLen;
        return 1;
    }
    if (*out_len < kSecretLen) {
        *out_len = kSecretLen;
        return fail(func, PKCS11_R_BUFFER_TOO_SMALL);
    }
    return -1;
}

// An operation given up half way stays active in its session and would
// refuse the next one: the session is replaced (the login belongs to the
// token and stays), the current object kept.
void abandon_operation(PKCS11_OBJ* obj) {
    const CK_OBJECT_HANDLE current = obj->object;
    ERR_set_mark();
    if (PKCS11_OBJ_open(obj)) obj->object = current;
    ERR_pop_to_mark();
}

// A pair this key was generated as and has not named is nobody's once the
// key is gone: this process's next generation removes it.
void free_token_data(void* data) {
    auto* obj = static_cast<PKCS11_OBJ*>(data);
    if (obj != nullptr && !obj->generated_mark.empty()) pair_mark_release(obj->generated_mark);
    PKCS11_OBJ_free(obj);
}

}  // namespace

int PKCS11_key_sign(int nid, const unsigned char* dgst, int dlen, unsigned char* sig,
                    unsigned int* sig_len, EVP_PKEY* key) {
    constexpr int F = PKCS11_F_PKCS11_KEY_SIGN;
    PKCS11_OBJ* obj = token_of(key);
    if (obj == nullptr || dgst == nullptr || dlen <= 0 || sig == nullptr || sig_len == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    Lock lock(obj->mutex);
    if (nid != NID_R3411_WITH_ECR3410_CP) return fail(F, ERR_R_INTERNAL);
    // The token takes the digest least significant byte first: reversed in
    // a copy, the caller's digest stays as it was.
    std::vector<unsigned char> le(dgst, dgst + dlen);
    std::reverse(le.begin(), le.end());
    CK_RV rv = CKR_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        CK_FUNCTION_LIST* f = obj->module->functions;
        CK_MECHANISM m{CKM_GOSTR3410, nullptr, 0};
        CK_ULONG len = *sig_len;
        rv = f->C_SignInit(obj->session, &m, obj->object);
        if (rv == CKR_OK) rv = f->C_Sign(obj->session, le.data(), le.size(), sig, &len);
        if (rv == CKR_BUFFER_TOO_SMALL) {
            // The length the token asks for must fit the caller's room.
            if (len > *sig_len || len == 0) {
                abandon_operation(obj);
                ERR_set_last_rv(rv, TOKEN_CODE_PKCS11);
                return fail(F, PKCS11_R_BUFFER_TOO_SMALL);
            }
            rv = f->C_Sign(obj->session, le.data(), le.size(), sig, &len);
        }
        if (rv == CKR_BUFFER_TOO_SMALL) abandon_operation(obj);
        if (rv == CKR_OK) {
            if (len > *sig_len) return fail(F, PKCS11_R_BUFFER_TOO_SMALL);
            *sig_len = static_cast<unsigned int>(len);
            return 1;
        }
        if (!again_after_reconnect(attempt, rv, obj, key)) break;
    }
    PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
    return 0;
}

int PKCS11_key_derive(EVP_PKEY* key, EVP_PKEY* peer, const unsigned char* ukm,
                      unsigned char* out, std::size_t* out_len) {
    constexpr int F = PKCS11_F_PKCS11_KEY_DERIVE;
    PKCS11_OBJ* obj = token_of(key);
    if (obj == nullptr || peer == nullptr || ukm == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (EVP_PKEY_nid(key) != NID_ECR3410_CP || EVP_PKEY_nid(peer) != NID_ECR3410_CP)
        return fail(F, ERR_R_INTERNAL);
    const int room = secret_room(out, out_len, F);
    if (room >= 0) return room;
    const auto* theirs = static_cast<const ECGOST*>(EVP_PKEY_get0(peer));
    if (theirs == nullptr || !theirs->Q) return fail(F, ERR_R_INTERNAL);
    Lock lock(obj->mutex);
    std::unique_ptr<CK_MECHANISM, decltype(&PKCS11_MECHANISM_free)> m(
        PKCS11_MECHANISM_new(CKM_GOSTR3410_DERIVE), PKCS11_MECHANISM_free);
    if (!m) return 0;
    auto* p = PKCS11_DERIVE_PARAMS_new();
    if (p == nullptr) return 0;
    m->pParameter = p;
    m->ulParameterLen = sizeof *p;
    p->kdf = CKD_NULL;
    p->pPublicData = new (std::nothrow) CK_BYTE[64];
    p->pUKM = new (std::nothrow) CK_BYTE[8];
    if (p->pPublicData == nullptr || p->pUKM == nullptr) return fail(F, ERR_R_MALLOC);
    p->ulPublicDataLen = 64;
    p->ulUKMLen = 8;
    std::memcpy(p->pUKM, ukm, 8);
    if (ECPOINT_point2le(theirs->Q.get(), p->pPublicData, 64) != 64) return fail(F, ERR_R_INTERNAL);
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_derived_key());
    if (!t) return fail(F, ERR_R_MALLOC);
    const CK_OBJECT_HANDLE private_key = obj->object;
    CK_OBJECT_HANDLE secret = 0;
    const CK_RV rv = obj->module->functions->C_DeriveKey(obj->session, m.get(), private_key,
                                                         t->data(), t->count(), &secret);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return take_secret(obj, secret, private_key, out, out_len, F);
}

int PKCS11_key_unwrap(EVP_PKEY* key, EVP_PKEY*, const unsigned char* wrapped, std::size_t len,
                      void*, unsigned char* out, std::size_t* out_len) {
    constexpr int F = PKCS11_F_PKCS11_KEY_UNWRAP;
    PKCS11_OBJ* obj = token_of(key);
    if (obj == nullptr || wrapped == nullptr || len == 0) return fail(F, ERR_R_NULL_PARAMETER);
    if (EVP_PKEY_nid(key) != NID_ECR3410_CP) return fail(F, ERR_R_INTERNAL);
    const int room = secret_room(out, out_len, F);
    if (room >= 0) return room;
    Lock lock(obj->mutex);
    std::unique_ptr<CK_MECHANISM, decltype(&PKCS11_MECHANISM_free)> m(
        PKCS11_MECHANISM_new(CKM_GOSTR3410_KEY_WRAP), PKCS11_MECHANISM_free);
    if (!m) return 0;
    auto* p = PKCS11_WRAP_PARAMS_new();
    if (p == nullptr) return 0;
    m->pParameter = p;
    m->ulParameterLen = sizeof *p;
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_unwrapped_key());
    if (!t) return fail(F, ERR_R_MALLOC);
    std::vector<unsigned char> copy(wrapped, wrapped + len);
    const CK_OBJECT_HANDLE private_key = obj->object;
    CK_OBJECT_HANDLE secret = 0;
    const CK_RV rv = obj->module->functions->C_UnwrapKey(
        obj->session, m.get(), private_key, copy.data(), copy.size(), t->data(), t->count(),
        &secret);
    if (rv != CKR_OK) {
        PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
        return 0;
    }
    return take_secret(obj, secret, private_key, out, out_len, F);
}

int PKCS11_key_digest(EVP_PKEY* key, const unsigned char* data, std::size_t len,
                      unsigned char* out, std::size_t* out_len) {
    constexpr int F = PKCS11_F_PKCS11_KEY_DIGEST;
    PKCS11_OBJ* obj = token_of(key);
    if (obj == nullptr || (data == nullptr && len > 0) || (out != nullptr && out_len == nullptr))
        return fail(F, ERR_R_NULL_PARAMETER);
    if (EVP_PKEY_nid(key) != NID_ECR3410_CP) return fail(F, ERR_R_INTERNAL);
    Lock lock(obj->mutex);
    std::vector<unsigned char> in(data, data + len);
    CK_RV rv = CKR_OK;
    for (int attempt = 0; attempt < 2; ++attempt) {
        CK_FUNCTION_LIST* f = obj->module->functions;
        CK_MECHANISM m{CKM_GOSTR3411, nullptr, 0};
        CK_ULONG n = 0;
        std::vector<unsigned char> result;
        rv = f->C_DigestInit(obj->session, &m);
        if (rv == CKR_OK) rv = f->C_Digest(obj->session, in.data(), in.size(), nullptr, &n);
        if (rv == CKR_OK) {
            // A hash of this kind has 32 bytes; a token claiming more gets
            // room for what it claims and no more is trusted.
            if (n == 0 || n > 1024) {
                abandon_operation(obj);
                return fail(F, ERR_R_INTERNAL);
            }
            result.assign(n, 0);
            CK_ULONG got = n;
            rv = f->C_Digest(obj->session, in.data(), in.size(), result.data(), &got);
            if (rv == CKR_BUFFER_TOO_SMALL) abandon_operation(obj);
            if (rv == CKR_OK && got > n) return fail(F, ERR_R_INTERNAL);
            if (rv == CKR_OK) result.resize(got);
        }
        if (rv == CKR_OK) {
            std::reverse(result.begin(), result.end());
            if (out != nullptr) {
                if (result.size() > *out_len) {
                    *out_len = result.size();
                    return fail(F, PKCS11_R_BUFFER_TOO_SMALL);
                }
                std::memcpy(out, result.data(), result.size());
            }
            if (out_len != nullptr) *out_len = result.size();
            return 1;
        }
        if (!again_after_reconnect(attempt, rv, obj, key)) break;
    }
    PKCS11_RV_ERR(F, ERR_R_INTERNAL, rv);
    return 0;
}

int PKCS11_key_release(EVP_PKEY* key) {
    if (token_of(key) == nullptr) return fail(PKCS11_F_PKCS11_KEY_RELEASE, ERR_R_INTERNAL);
    return EVP_PKEY_set_token(key, nullptr, nullptr, 0);
}

const PKEY_TOKEN_METHOD* PKCS11_key_method_for(bool wrap, bool derive) {
    static const PKEY_TOKEN_METHOD sign_only = {
        "EVP_PKEY_METHOD only pkcs11 sign", PKCS11_key_sign, nullptr, nullptr, nullptr, nullptr,
        PKCS11_key_digest, PKCS11_key_release, free_token_data};
    static const PKEY_TOKEN_METHOD sign_kek = {
        "EVP_PKEY_METHOD pkcs11 sign and kek", PKCS11_key_sign, nullptr, PKCS11_key_derive,
        nullptr, nullptr, PKCS11_key_digest, PKCS11_key_release, free_token_data};
    static const PKEY_TOKEN_METHOD sign_cek = {
        "EVP_PKEY_METHOD pkcs11 sign and cek", PKCS11_key_sign, nullptr, nullptr, nullptr,
        PKCS11_key_unwrap, PKCS11_key_digest, PKCS11_key_release, free_token_data};
    static const PKEY_TOKEN_METHOD all = {
        "EVP_PKEY_METHOD pkcs11 sign, kek and cek", PKCS11_key_sign, nullptr, PKCS11_key_derive,
        nullptr, PKCS11_key_unwrap, PKCS11_key_digest, PKCS11_key_release, free_token_data};
    if (wrap && derive) return &all;
    if (wrap) return &sign_cek;
    if (derive) return &sign_kek;
    return &sign_only;
}

}  // namespace cadb
