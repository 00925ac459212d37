// The kernel's random source as a board, so that a headless machine gets its
// first seed without the seed dialog. CADB_NO_OS_RANDOM keeps it from
// starting.
#include <sys/random.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/boards.h"

namespace cadb {
namespace {

// Guarded by CRYPTO_LOCK_RAND.
bool& ready() {
    static bool r = false;
    return r;
}

bool switched_off() {
    const char* v = std::getenv(kNoOsRandomEnv);
    return v != nullptr && v[0] != '\0' && std::strcmp(v, "0") != 0;
}

void fail(int func) {
    ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
    CADB_ERR(ERR_LIB_RAND_, func, ERR_R_INTERNAL);
}

// Fills the whole buffer; false when the kernel refuses.
bool kernel_random(unsigned char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = getrandom(p, n, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

int os_init(void*, void*) {
    LockGuard g(CRYPTO_LOCK_RAND);
    unsigned char probe;
    if (switched_off() || !kernel_random(&probe, 1)) {
        ready() = false;
        fail(RAND_F_OS_RAND_INIT);
        return 0;
    }
    ready() = true;
    return 1;
}

int os_bytes(void* buf, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (!ready() || buf == nullptr || len < 0 ||
        !kernel_random(static_cast<unsigned char*>(buf), static_cast<std::size_t>(len))) {
        fail(RAND_F_OS_RAND_BYTES);
        return 0;
    }
    return len;
}

int os_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    ready() = false;
    return 1;
}

int os_info(void* out) {
    if (out != nullptr) *static_cast<RAND_BOARD_INFO*>(out) = {RAND_BOARD_OS, 0, 0};
    return 1;
}

int os_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return ready() ? 1 : 0;
}

const RAND_METHOD kOs{nullptr, os_bytes, os_cleanup, os_init, os_info, os_status, 0};

}  // namespace

const RAND_METHOD* OS_get_rand_method() { return &kOs; }

}  // namespace cadb
