// The board walk: the key store's generator takes its first seed from the
// first random board that starts.
#include <openssl/crypto.h>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/boards.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/pse_rand_local.h"

namespace cadb {
namespace {

// Guarded by CRYPTO_LOCK_RAND.
int g_board = 0;

bool board_serves(int code, unsigned char* out, int len) {
    const RAND_METHOD* m = RAND_get_board_method(code);
    if (m == nullptr) return false;
    CRYPTON_INIT_ARG crypton{0, CRYPTON_DEFAULT_FLAGS};
    ErrorScope errors;
    RAND_set_rand_method(m);
    if (RAND_init(nullptr, code == RAND_BOARD_CRYPTON ? &crypton : nullptr) &&
        RAND_bytes(out, len) == len && RAND_status())
        return true;
    pse_rand_unset_method();
    errors.discard();
    return false;
}

}  // namespace

void pse_rand_unset_method() {
    RAND_cleanup();
    RAND_set_rand_method(nullptr);
}

int PSE_rand_is_ready() {
    if (RAND_status()) return 1;
    ERR_set_last_error(ERR_CLASS_NO_RANDOM_METHOD);
    return 0;
}

int PSE_rand_device(const int* list, unsigned char* out, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (out == nullptr || len <= 0) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_DEVICE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    // A caller asking for bytes gets them from the ready source too.
    if (RAND_status()) {
        if (RAND_bytes(out, len) == len) return 1;
        CADB_ERR(ERR_LIB_PSE, PSE_F_PSE_RAND_DEVICE, ERR_LIB_PSE);
        return 0;
    }
    for (const int* code = list != nullptr ? list : RAND_default_board_list; *code != 0; ++code) {
        if (board_serves(*code, out, len)) {
            g_board = *code;
            return 1;
        }
    }
    OPENSSL_cleanse(out, static_cast<std::size_t>(len));
    RAND_set_rand_method(nullptr);
    ERR_set_last_error(ERR_CLASS_NO_RANDOM_METHOD);
    return 0;
}

int PSE_rand_init_device(const int* list) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (RAND_status()) return 1;
    Secret32 seed;
    if (!PSE_rand_device(list, seed.b, sizeof seed.b)) return 0;
    RAND_cleanup();
    RAND_set_rand_method(GRAND_get_method());
    if (!RAND_seed(seed.b, sizeof seed.b)) {
        pse_rand_unset_method();
        return 0;
    }
    return 1;
}

void PSE_rand_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    pse_rand_unset_method();
    g_board = 0;
}

int PSE_rand_board() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return g_board;
}

}  // namespace cadb
