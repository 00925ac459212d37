// What the generic key layer does with GOST R 34.10-94 keys.
#include <openssl/evp.h>

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

int R3410_pkey_generate_pubkey(EVP_PKEY* pkey) {
    GOSTS* k = key_of(pkey);
    if (k == nullptr || !k->x || k->has_check) return 0;
    return k->y ? 1 : R3410_generate_pubkey(k);
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
