// What the generic key layer does with GOST R 34.10-94 keys.
#include <openssl/evp.h>

#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"

namespace cadb {
namespace {

GOSTS* key_of(const EVP_PKEY* pkey) { return static_cast<GOSTS*>(EVP_PKEY_get0(pkey)); }

}  // namespace

int R3410_pkey_set_pse(EVP_PKEY* pkey, PSE* store) {
    GOSTS* k = key_of(pkey);
    return k != nullptr && R3410_set_pse(k, store);
}

int R3410_pkey_opaque(EVP_PKEY* pkey, PSE* store, int wrap) {
    GOSTS* k = key_of(pkey);
    if (k == nullptr) return 0;
    return wrap ? R3410_encrypt_opaque(k, store) : R3410_decrypt_opaque(k, store);
}

int R3410_pkey_generate_pubkey(EVP_PKEY* pkey, PSE* store) {
    GOSTS* k = key_of(pkey);
    if (k == nullptr || !k->x) return 0;
    if (k->y) return 1;
    // A wrapped key is unwrapped for the computation and wrapped again,
    // under the key lock, so that no one finds it half switched.
    LockGuard lock(CRYPTO_LOCK_GOSTS);
    const bool wrapped = k->has_check;
    if (wrapped && !R3410_decrypt_opaque(k, store)) return 0;
    const int ok = R3410_generate_pubkey(k);
    return (!wrapped || R3410_encrypt_opaque(k, store)) && ok;
}

int R3410_pkey_check(const EVP_PKEY* pkey, int full) {
    return R3410_check_pubkey(key_of(pkey), full);
}

EVP_PKEY* R3410_pkey_from_private_der(const unsigned char* der, long len) {
    const unsigned char* p = der;
    GOSTS* k = d2i_R3410PrivateKey(nullptr, &p, len);
    if (k == nullptr) return nullptr;
    EVP_PKEY* pkey = p == der + len ? EVP_PKEY_new() : nullptr;
    if (pkey == nullptr || !EVP_PKEY_assign(pkey, OBJ_nid2openssl(NID_R3410), k)) {
        GOSTS_free(k);
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}

}  // namespace cadb
