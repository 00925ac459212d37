#include "crypto/init/init.h"

#include <algorithm>
#include <cstdint>

#include "crypto/bio/etoken.h"
#include "crypto/bio/etoken_r2.h"
#include "crypto/bio/rutoken.h"
#include "crypto/bio/touch_memory.h"
#include "crypto/cadb/err_str.h"
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/core/lock.h"
#include "crypto/engine/engine.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/x509v3/ext_print.h"

namespace cadb {
namespace {

// Guarded by CRYPTO_LOCK_INIT_COUNT, which is held across every start and
// stop: that lock alone orders them, so the one-time steps need no flag of
// their own.
std::int32_t g_users = 0;

bool start() {
    // No source until a board or a key store seeds the generator.
    RAND_set_rand_method(nullptr);
    // The token drivers whose vendor library is installed; a missing one
    // leaves its driver off, which is no failure.
    ERR_set_mark();
    TM_init();
    ETR2_load();
    ETOKEN_load();
    RUTOKEN_load();
    ERR_pop_to_mark();
    PKCS11_registry_init();
    // Keys, certificates and key stores on token paths go to the token methods.
    PKCS11_methods_register();
    ERR_load_cadb_strings();
    if (!ENGINE_load_cadb()) return false;
    // libcrypto's own certificate printing then shows the extensions it has
    // no method for (biometric information, subject directory attributes).
    if (!X509V3_add_cadb_extensions()) return false;
    RAND_set_operational_check(0);
    // Without a board the generator stays unseeded until a key store or the
    // user seeds it; that leaves nothing to report.
    const int error_class = ERR_get_last_error();
    if (!PSE_rand_init_device(nullptr)) ERR_set_last_error(error_class);
    return GOST_startup_check() == 1;
}

void unload_token_drivers() {
    RUTOKEN_unload();
    ETOKEN_unload();
    ETR2_unload();
    TM_unload();
}

}  // namespace

int CADB_init() {
    // Held for the whole start, so that a second caller returns only once the
    // library runs.
    LockGuard g(CRYPTO_LOCK_INIT_COUNT);
    if (g_users > 0) {
        ++g_users;
        return 1;
    }
    if (!start()) {
        // The reasons and their texts stay for the caller to print.
        PSE_rand_cleanup();
        PKCS11_registry_cleanup();
        unload_token_drivers();
        return 0;
    }
    g_users = 1;
    return 1;
}

void CADB_cleanup() {
    LockGuard g(CRYPTO_LOCK_INIT_COUNT);
    if (g_users == 0) return;
    if (--g_users != 0) return;
    ERR_remove_state();
    ERR_free_strings();
    PSE_rand_cleanup();
    PKCS11_registry_cleanup();
    unload_token_drivers();
}

int CADB_use_count() {
    LockGuard g(CRYPTO_LOCK_INIT_COUNT);
    return g_users;
}

unsigned char* bytes_reverse(unsigned char* buf, int len) {
    if (buf != nullptr && len > 0) std::reverse(buf, buf + len);
    return buf;
}

}  // namespace cadb
