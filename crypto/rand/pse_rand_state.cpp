// The key store's saved random state: a 36-byte block under the store's
// key-encryption key that starts the generator once and is then replaced.
#include <openssl/crypto.h>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/pse_rand_local.h"

namespace cadb {

int PSE_rand_init(PSE* pse, unsigned char* state36, int* out_len, GRAND_CHAR_CB seed_cb,
                  void* seed_arg) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (out_len != nullptr) *out_len = 0;
    if (RAND_status()) return 1;
    RAND_set_rand_method(GRAND_get_method());

    Secret32 seed;
    bool ok;
    ErrorScope errors;
    if (pse != nullptr && state36 != nullptr && PSE_read_opaque(pse, state36, seed.b) != nullptr) {
        // The seed buffer comes back holding generator output: the next state.
        ok = RAND_seed(seed.b, sizeof seed.b) != 0;
    } else if (seed_cb != nullptr) {
        errors.discard();
        GRAND_SEED_SOURCE source{seed_cb, seed_arg};
        ok = RAND_init(seed.b, &source) != 0;
    } else {
        if (ERR_get_last_error() == ERR_CLASS_NONE) ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_R_INTERNAL);
        ok = false;
    }
    if (ok && pse != nullptr && state36 != nullptr && out_len != nullptr) {
        ok = PSE_write_opaque(pse, seed.b, state36) != nullptr;
        if (ok) *out_len = PSE_RAND_STATE_SIZE;
    }
    if (!ok) {
        pse_rand_unset_method();
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_LIB_PSE);
        return 0;
    }
    return 1;
}

int PSE_rand_save_state(PSE* pse, unsigned char* out36) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (pse == nullptr || out36 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_SAVE_STATE, ERR_LIB_PSE);
        return 0;
    }
    Secret32 next;
    if (RAND_bytes(next.b, sizeof next.b) != sizeof next.b ||
        PSE_write_opaque(pse, next.b, out36) == nullptr) {
        OPENSSL_cleanse(out36, PSE_RAND_STATE_SIZE);
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_SAVE_STATE, ERR_LIB_PSE);
        return 0;
    }
    return 1;
}

}  // namespace cadb
