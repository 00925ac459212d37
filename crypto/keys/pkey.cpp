// The PKEY record: reference counting, wrapping a key object, labels and
// signature digests by key type.
#include "crypto/keys/pkey.h"

#include <openssl/bn.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/keys/pkey_local.h"
#include "crypto/r3410/r3410.h"

namespace cadb {
namespace {

// A GOST R 34.10-94 key read from storage whose private number is zero: a
// public key kept in the private-key form.
bool r3410_without_private(EVP_PKEY* pkey) {
    if (!pkey_is_r3410(EVP_PKEY_nid(pkey))) return false;
    const auto* key = static_cast<const GOSTS*>(EVP_PKEY_get0(pkey));
    if (key == nullptr || !key->x || !key->x->set) return true;
    if (key->has_check) return false;
    BnPtr x(BN_unmask_dup(key->x.get()));
    return x && BN_is_zero(x.get());
}

// The PKEY around one more reference to pkey, its type checked.
PKEY* wrap(EVP_PKEY* pkey, int func) {
    const int nid = EVP_PKEY_nid(pkey);
    const int type = nid == EVP_PKEY_RSA ? NID_rsa : nid;
    if (!pkey_type_known(type)) {
        CADB_ERR(ERR_LIB_CADB, func, CADB_R_UNKNOWN_ALGORITHM);
        return nullptr;
    }
    PKEY* key = PKEY_new();
    if (key == nullptr) return nullptr;
    EVP_PKEY_up_ref(pkey);
    key->key = pkey;
    key->type = type;
    key->size = EVP_PKEY_get_bits(pkey);
    return key;
}

}  // namespace

bool pkey_is_gost(int type) { return pkey_is_ecgost(type) || pkey_is_r3410(type); }
bool pkey_is_ecgost(int type) { return type == NID_ECR3410 || type == NID_ECR3410_CP; }
bool pkey_is_r3410(int type) { return type == NID_R3410 || type == NID_R3410_CP; }
bool pkey_type_known(int type) {
    return type == EVP_PKEY_RSA || type == NID_rsa || type == EVP_PKEY_DSA || pkey_is_gost(type);
}

PKEY* PKEY_new() {
    auto* key = static_cast<PKEY*>(OPENSSL_zalloc(sizeof(PKEY)));
    if (key == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    key->references = 1;
    return key;
}

void PKEY_clear(PKEY* key) {
    if (key == nullptr) return;
    EVP_PKEY_free(key->key);
    BUFFER_free(key->fingerprint);
    const int references = key->references;
    OPENSSL_cleanse(key, sizeof(PKEY));
    key->references = references;
}

void PKEY_free(PKEY* key) {
    if (key == nullptr) return;
    {
        LockGuard lock(CRYPTO_LOCK_PKEY);
        if (--key->references > 0) return;
    }
    PKEY_clear(key);
    OPENSSL_free(key);
}

PKEY* PKEY_up_ref(PKEY* key) {
    if (key == nullptr) return nullptr;
    LockGuard lock(CRYPTO_LOCK_PKEY);
    ++key->references;
    return key;
}

PKEY* PKEY_split(EVP_PKEY* pkey) {
    if (pkey == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_SPLIT, ERR_R_INTERNAL);
        return nullptr;
    }
    return wrap(pkey, CADB_F_PKEY_SPLIT);
}

PKEY* PKEY_from_EVP(EVP_PKEY* pkey, PSE* store) {
    if (pkey == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_SPLIT, ERR_R_INTERNAL);
        return nullptr;
    }
    const int nid = EVP_PKEY_nid(pkey);
    const bool no_private = r3410_without_private(pkey);
    // The key stays unwrapped from here on: it is wrapped again only inside
    // an encoding under a key store.
    if (pkey_is_gost(nid) && !no_private &&
        (!EVP_PKEY_decrypt_opaque(pkey, store) || !EVP_PKEY_generate_pubkey(pkey, store))) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_SPLIT, ERR_LIB_CADB);
        return nullptr;
    }
    PKEY* key = wrap(pkey, CADB_F_PKEY_SPLIT);
    if (key == nullptr) return nullptr;
    // The fingerprint goes through a SubjectPublicKeyInfo, which proves that
    // the key encodes with its parameters.
    key->fingerprint = FINGER_PRINT_get(pkey);
    if (key->fingerprint == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_SPLIT, ERR_LIB_CADB);
        PKEY_free(key);
        return nullptr;
    }
    if (no_private) key->state = PKEY_STATE_NO_PRIVATE;
    return key;
}

const char* PKEY_pem_name(int type) {
    switch (type) {
        case EVP_PKEY_RSA:
        case NID_rsa:
            return "RSA PRIVATE KEY";
        case EVP_PKEY_DSA:
            return "DSA PRIVATE KEY";
        case NID_R3410:
            return "R3410 PRIVATE KEY";
        case NID_ECR3410:
            return "ECGOST PRIVATE KEY";
        case NID_ECR3410_CP:
        case NID_R3410_CP:
            return "ANY PRIVATE KEY";
        default:
            return nullptr;
    }
}

int PKEY_sign_md(const PKEY* key, int md_nid) {
    if (key == nullptr) return md_nid;
    switch (key->type) {
        case EVP_PKEY_RSA:
        case NID_rsa:
            return md_nid != 0 ? md_nid : NID_sha1;
        case EVP_PKEY_DSA:
            return EVP_PKEY_DSA;
        case NID_R3410:
            return NID_R3410_R3411;
        case NID_ECR3410:
            return NID_ECR3410_R3411;
        case NID_ECR3410_CP:
            return NID_R3411_WITH_ECR3410_CP;
        case NID_R3410_CP:
            return NID_R3411_WITH_R3410_CP;
        default:
            return md_nid;
    }
}

}  // namespace cadb
