// What the generic key layer does with GOST R 34.10-2001 keys.
#include <openssl/evp.h>

#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

ECGOST* key_of(const EVP_PKEY* pkey) { return static_cast<ECGOST*>(EVP_PKEY_get0(pkey)); }

}  // namespace

int ECGOST_pkey_set_pse(EVP_PKEY* pkey, PSE* store) {
    ECGOST* k = key_of(pkey);
    return k != nullptr && ECGOST_set_pse(k, store);
}

int ECGOST_pkey_opaque(EVP_PKEY* pkey, PSE* store, int wrap) {
    ECGOST* k = key_of(pkey);
    if (k == nullptr) return 0;
    return wrap ? ECGOST_encrypt_opaque(k, store) : ECGOST_decrypt_opaque(k, store);
}

int ECGOST_pkey_generate_pubkey(EVP_PKEY* pkey, PSE* store) {
    ECGOST* k = key_of(pkey);
    if (k == nullptr || !k->d) return 0;
    if (k->Q && !ECPOINT_is_infinity(k->Q.get())) return 1;
    // A wrapped key is unwrapped for the computation and wrapped again,
    // under the key lock, so that no one finds it half switched.
    LockGuard lock(CRYPTO_LOCK_ECURVE);
    const bool wrapped = k->check.has_value();
    if (wrapped && !ECGOST_decrypt_opaque(k, store)) return 0;
    const int ok = ECGOST_generate_pubkey(k);
    return (!wrapped || ECGOST_encrypt_opaque(k, store)) && ok;
}

int ECGOST_pkey_check(const EVP_PKEY* pkey, int full) {
    const ECGOST* k = key_of(pkey);
    return k != nullptr && k->Q && ECGOST_is_pubkey_valid(k->Q.get(), full) == 1;
}

EVP_PKEY* ECGOST_pkey_from_private_der(const unsigned char* der, long len) {
    const unsigned char* p = der;
    ECGOST* k = d2i_ECGOSTPrivateKey(nullptr, &p, len);
    if (k == nullptr) return nullptr;
    EVP_PKEY* pkey = p == der + len ? EVP_PKEY_new() : nullptr;
    if (pkey == nullptr || !EVP_PKEY_assign(pkey, OBJ_nid2openssl(NID_ECR3410), k)) {
        ECGOST_free(k);
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}

}  // namespace cadb
