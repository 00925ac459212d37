#include "crypto/pse/pse.h"

#include <openssl/crypto.h>

#include <new>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"

namespace cadb {

PSE* PSE_new() {
    PSE* pse = new (std::nothrow) PSE;
    if (pse == nullptr) {
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_NEW, ERR_R_MALLOC);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
    }
    return pse;
}

PSE* PSE_up_ref(PSE* pse) {
    if (pse == nullptr) return nullptr;
    LockGuard g(CRYPTO_LOCK_PSE);
    ++pse->references;
    return pse;
}

int PSE_free(PSE* pse) {
    if (pse == nullptr) return 0;
    LockGuard g(CRYPTO_LOCK_PSE);
    if (--pse->references > 0) return pse->references;
    PSE_key32_wipe(&pse->master_key);
    PSE_key32_wipe(&pse->kek);
    if (!pse->path.empty()) OPENSSL_cleanse(pse->path.data(), pse->path.size());
    OPENSSL_cleanse(pse->sbox, sizeof pse->sbox);
    OPENSSL_cleanse(pse->fingerprint, sizeof pse->fingerprint);
    delete pse;
    return 0;
}

}  // namespace cadb
