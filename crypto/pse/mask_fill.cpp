#include "crypto/pse/mask_fill.h"

#include <openssl/crypto.h>
#include <pthread.h>
#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"

namespace cadb {
namespace {

// A mask is not a key, but a predictable one (as the C runtime's generator
// seeded with the time would give) would let anyone who reads the memory
// strip it. The kernel's generator is not predictable; the pool only keeps
// the number of system calls down.
struct MaskPool {
    unsigned char bytes[512];
    std::size_t left = 0;  // unused bytes at the end of `bytes`
};

// A forked child must not hand out the same mask bytes as its parent: it
// drops what the pool held at the fork.
void forget_after_fork();

MaskPool& pool() {
    static MaskPool p;
    static std::once_flag fork_hook;
    std::call_once(fork_hook, [] { ::pthread_atfork(nullptr, nullptr, forget_after_fork); });
    return p;
}

void forget_after_fork() {
    MaskPool& p = pool();
    OPENSSL_cleanse(p.bytes, sizeof p.bytes);
    p.left = 0;
}

bool refill(MaskPool& p) {
    std::size_t got = 0;
    while (got < sizeof p.bytes) {
        ssize_t r = ::getrandom(p.bytes + got, sizeof p.bytes - got, 0);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        got += static_cast<std::size_t>(r);
    }
    p.left = sizeof p.bytes;
    return true;
}

}  // namespace

int PSE_mask_fill(unsigned char* buf, std::size_t n) {
    LockGuard g(CRYPTO_LOCK_MASK);
    MaskPool& p = pool();
    while (n > 0) {
        if (p.left == 0 && !refill(p)) {
            ERR_set_last_error(ERR_CLASS_INTERNAL);
            return 0;
        }
        std::size_t take = n < p.left ? n : p.left;
        unsigned char* src = p.bytes + (sizeof p.bytes - p.left);
        std::memcpy(buf, src, take);
        // Bytes once handed out never serve a second mask.
        OPENSSL_cleanse(src, take);
        p.left -= take;
        buf += take;
        n -= take;
    }
    return 1;
}

}  // namespace cadb
