#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <span>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

// Blocks drawn for one pool fill (or one power-up check) before the source is
// declared broken.
constexpr int kMaxBlockDraws = 10;

struct RandLayer {
    const RAND_METHOD* method = nullptr;
    bool check_mode = false;
    // The power-up check of the current method has run, and its verdict.
    bool check_done = false;
    bool check_failed = false;
    // Check pool: bytes that passed the statistical tests, not yet handed out.
    std::array<unsigned char, RAND_STAT_BLOCK_SIZE> pool{};
    std::size_t pool_pos = 0;
    std::size_t pool_left = 0;
};

// Guarded by CRYPTO_LOCK_RAND.
RandLayer& layer() {
    static RandLayer s;
    return s;
}

void wipe_pool(RandLayer& s) {
    OPENSSL_cleanse(s.pool.data(), s.pool.size());
    s.pool_pos = 0;
    s.pool_left = 0;
}

bool method_ready(const RAND_METHOD* m) {
    if (m->flags & RAND_FLAG_UNUSABLE) return false;
    return m->status == nullptr || m->status() != 0;
}

// Draws one block from the method into out until a block passes the tests.
// False on a short draw or after kMaxBlockDraws failing blocks; out is then
// wiped.
bool draw_tested_block(const RAND_METHOD* m, std::span<unsigned char, RAND_STAT_BLOCK_SIZE> out) {
    for (int draw = 0; draw < kMaxBlockDraws; ++draw) {
        if (m->bytes(out.data(), RAND_STAT_BLOCK_SIZE) != RAND_STAT_BLOCK_SIZE) break;
        if (RAND_statistical_test(out.data(), 0)) return true;
    }
    OPENSSL_cleanse(out.data(), out.size());
    return false;
}

// Check mode: serves n bytes from the pool, refilling it with tested blocks.
bool bytes_from_pool(RandLayer& s, unsigned char* out, std::size_t n) {
    while (n > 0) {
        if (s.pool_left == 0) {
            if (!draw_tested_block(s.method, s.pool)) return false;
            s.pool_pos = 0;
            s.pool_left = s.pool.size();
        }
        const std::size_t take = std::min(s.pool_left, n);
        unsigned char* src = s.pool.data() + s.pool_pos;
        std::memcpy(out, src, take);
        // A byte handed out never stays behind in the pool.
        OPENSSL_cleanse(src, take);
        s.pool_pos += take;
        s.pool_left -= take;
        out += take;
        n -= take;
    }
    return true;
}

void no_method(int func) {
    ERR_set_last_error(ERR_CLASS_NO_RANDOM_METHOD);
    CADB_ERR(ERR_LIB_RAND_, func, RAND_R_METHOD_NOT_SET);
}

}  // namespace

void RAND_set_rand_method(const RAND_METHOD* m) {
    RAND_install_openssl_adapter();
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& s = layer();
    if (s.method != m) RAND_cleanup();
    wipe_pool(s);
    s.method = m;
    s.check_done = false;
    s.check_failed = false;
}

const RAND_METHOD* RAND_get_rand_method() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return layer().method;
}

int RAND_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& s = layer();
    if (s.method == nullptr) return 0;
    if (s.method->cleanup != nullptr && !s.method->cleanup()) return 0;
    wipe_pool(s);
    s.method = nullptr;
    s.check_done = false;
    s.check_failed = false;
    return 1;
}

int RAND_seed(void* buf, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    const RAND_METHOD* m = layer().method;
    if (m == nullptr) {
        no_method(RAND_F_RAND_SEED);
        return 0;
    }
    if (len < 0 || (buf == nullptr && len > 0)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_SEED, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (m->seed == nullptr) return 1;
    return m->seed(buf, len) != 0 ? 1 : 0;
}

int RAND_init(void* out, void* arg) {
    LockGuard g(CRYPTO_LOCK_RAND);
    const RAND_METHOD* m = layer().method;
    if (m == nullptr) {
        no_method(RAND_F_RAND_INIT);
        return 0;
    }
    if (m->init == nullptr) {
        ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_INIT, ERR_R_SHOULD_NOT_CALL);
        return 0;
    }
    return m->init(out, arg) != 0 ? 1 : 0;
}

int RAND_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    const auto& s = layer();
    if (s.method == nullptr || s.check_failed) return 0;
    return method_ready(s.method) ? 1 : 0;
}

void RAND_set_operational_check(int on) {
    LockGuard g(CRYPTO_LOCK_RAND);
    layer().check_mode = on != 0;
}

int RAND_operational_check() {
    LockGuard g(CRYPTO_LOCK_RAND);
    const RAND_METHOD* m = layer().method;
    if (m == nullptr) {
        no_method(RAND_F_RAND_OPERATIONAL_CHECK);
        return 0;
    }
    std::array<unsigned char, RAND_STAT_BLOCK_SIZE> block;
    if (!draw_tested_block(m, block)) {
        ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_OPERATIONAL_CHECK, RAND_R_OPERATIONAL_CHECK_FAILED);
        return 0;
    }
    OPENSSL_cleanse(block.data(), block.size());
    return 1;
}

int RAND_bytes(void* buf, int n) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& s = layer();
    if (s.method == nullptr) {
        no_method(RAND_F_RAND_BYTES_);
        return 0;
    }
    if (n < 0 || (buf == nullptr && n > 0)) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_BYTES_, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (n == 0) return 0;
    if (!s.check_mode && !s.check_done && method_ready(s.method)) {
        s.check_done = true;
        s.check_failed = !RAND_operational_check();
    }
    if ((s.method->flags & RAND_FLAG_UNUSABLE) || s.check_failed) {
        ERR_set_last_error(ERR_CLASS_NO_RANDOM_METHOD);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_BYTES_, RAND_R_OPERATIONAL_CHECK_FAILED);
        return 0;
    }
    auto* out = static_cast<unsigned char*>(buf);
    const bool ok = s.check_mode ? bytes_from_pool(s, out, static_cast<std::size_t>(n))
                                 : s.method->bytes(out, n) == n;
    if (!ok) {
        OPENSSL_cleanse(out, static_cast<std::size_t>(n));
        ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
        CADB_ERR(ERR_LIB_RAND_, RAND_F_RAND_BYTES_, ERR_LIB_RAND_);
        return 0;
    }
    return n;
}

}  // namespace cadb
