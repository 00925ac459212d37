#include "crypto/check/self_test.h"

#include <openssl/crypto.h>

#include <array>
#include <atomic>
#include <ctime>
#include <memory>
#include <vector>

#include "crypto/check/self_test_data.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/ecgost/ec.h"
#include "crypto/r3410/r3410.h"
#include "crypto/rus/gosth.h"
#include "crypto/rus/modes.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

struct Pacing {
    std::array<std::time_t, GOST_TEST_COUNT> last_pass{};  // under CRYPTO_LOCK_SELF_TEST
    std::array<std::atomic<long>, GOST_TEST_COUNT> runs{};
};

Pacing& pacing() {
    static Pacing p;
    return p;
}

// A test is due unless it passed within the current second. The time is
// recorded only after a pass, so that a caller never takes a test that
// failed, or is still running on another thread, for a passed one.
bool due(GostSelfTest t, std::time_t now) {
    LockGuard lock(CRYPTO_LOCK_SELF_TEST);
    return pacing().last_pass[t] < now;
}

void passed(GostSelfTest t, std::time_t now) {
    LockGuard lock(CRYPTO_LOCK_SELF_TEST);
    if (pacing().last_pass[t] < now) pacing().last_pass[t] = now;
}

int fail(int lib, int func) {
    ERR_set_last_error(ERR_CLASS_INTERNAL);
    CADB_ERR(lib, func, ERR_R_SELF_TESTING_ERROR);
    return 0;
}

std::vector<unsigned char> input(std::size_t n, std::size_t from = 0) {
    std::vector<unsigned char> in(n);
    for (std::size_t i = 0; i < n; ++i) in[i] = self_test_input(from + i);
    return in;
}

bool same(const std::vector<unsigned char>& got, const unsigned char* want) {
    return CRYPTO_memcmp(got.data(), want, got.size()) == 0;
}

struct GosteFree {
    void operator()(GOSTE* c) const { GOSTE_free(c); }
};
struct GosthFree {
    void operator()(GOSTH* c) const { GOSTH_free(c); }
};

// A fresh context carrying the test's marker, so that the init it goes
// through does not start the test again.
std::unique_ptr<GOSTE, GosteFree> marked_cipher(std::uint32_t marker) {
    std::unique_ptr<GOSTE, GosteFree> ctx(GOSTE_new());
    if (ctx) ctx->marker = marker;
    return ctx;
}

bool run_ss() {
    const auto& d = gost_self_test_data();
    auto ctx = marked_cipher(GOST_MARKER_SS);
    auto block = input(8);
    return ctx && GOSTE_ss_init(ctx.get(), 1, d.key, d.sbox) &&
           GOSTE_ss_process(ctx.get(), block.data(), nullptr, 8) == 8 && same(block, d.ecb);
}

bool run_gamma() {
    const auto& d = gost_self_test_data();
    auto ctx = marked_cipher(GOST_MARKER_GAMMA);
    auto data = input(13);
    return ctx && GOSTE_gamma_init(ctx.get(), d.key, d.iv, d.sbox) &&
           GOSTE_gamma_update(ctx.get(), data.data(), nullptr, 3) == 3 &&
           GOSTE_gamma_update(ctx.get(), data.data() + 3, nullptr, 10) == 10 &&
           same(data, d.counter);
}

bool run_gamma_fb() {
    const auto& d = gost_self_test_data();
    auto ctx = marked_cipher(GOST_MARKER_GAMMA_FB);
    auto data = input(13);
    return ctx && GOSTE_gamma_fb_init(ctx.get(), d.key, d.iv, d.sbox) &&
           GOSTE_gamma_fbe_update(ctx.get(), data.data(), nullptr, 13) == 13 && same(data, d.cfb);
}

bool run_mac() {
    const auto& d = gost_self_test_data();
    auto ctx = marked_cipher(GOST_MARKER_MAC);
    const std::vector<unsigned char> zeros(21, 0);
    std::vector<unsigned char> mac(4);
    return ctx && GOSTE_mac_init(ctx.get(), d.key, d.sbox) &&
           GOSTE_mac_process(ctx.get(), zeros.data(), 21) == 21 &&
           GOSTE_mac_final(ctx.get(), mac.data(), 32) == 4 && same(mac, d.mac);
}

bool run_hash() {
    const auto& d = gost_self_test_data();
    std::unique_ptr<GOSTH, GosthFree> ctx(GOSTH_new());
    if (!ctx) return false;
    ctx->marker = GOST_MARKER_HASH;
    auto one = input(1), rest = input(34, 1);
    std::vector<unsigned char> digest(32);
    return GOSTH_init(ctx.get(), nullptr, d.sbox) && GOSTH_update(ctx.get(), one.data(), 1) == 1 &&
           GOSTH_update(ctx.get(), rest.data(), 34) == 34 &&
           GOSTH_final(ctx.get(), digest.data()) == 32 && same(digest, d.hash);
}

// Set while this thread runs a test: the table check hashes, and the hash
// would otherwise start its own test from inside it.
thread_local bool in_self_test = false;

// The common frame of the paced tests.
int paced(GostSelfTest t, bool skip, int lib, int func, bool (*body)()) {
    if (skip || in_self_test) return 1;
    const std::time_t now = std::time(nullptr);
    if (!due(t, now)) return 1;
    ++pacing().runs[t];
    in_self_test = true;
    const bool ok = GOSTE_check_tables() && body();
    in_self_test = false;
    if (!ok) return fail(lib, func);
    passed(t, now);
    return 1;
}

}  // namespace

int GOSTE_ss_check(const GOSTE* ctx) {
    const bool skip =
        ctx && (ctx->marker == GOST_MARKER_SS || (ctx->options & GOSTE_OPT_NO_SS_CHECK));
    return paced(GOST_TEST_SS, skip, ERR_LIB_GOSTE, GOSTE_F_GOSTE_SS_CHECK, run_ss);
}

int GOSTE_gamma_check(const GOSTE* ctx) {
    return paced(GOST_TEST_GAMMA, ctx && ctx->marker == GOST_MARKER_GAMMA, ERR_LIB_GOSTE,
                 GOSTE_F_GOSTE_GAMMA_CHECK, run_gamma);
}

int GOSTE_gamma_fb_check(const GOSTE* ctx) {
    return paced(GOST_TEST_GAMMA_FB, ctx && ctx->marker == GOST_MARKER_GAMMA_FB, ERR_LIB_GOSTE,
                 GOSTE_F_GOSTE_GAMMA_FB_CHECK, run_gamma_fb);
}

int GOSTE_mac_check(const GOSTE* ctx) {
    return paced(GOST_TEST_MAC, ctx && ctx->marker == GOST_MARKER_MAC, ERR_LIB_GOSTE,
                 GOSTE_F_GOSTE_MAC_CHECK, run_mac);
}

int GOSTH_check(const GOSTH* ctx) {
    return paced(GOST_TEST_HASH, ctx && ctx->marker == GOST_MARKER_HASH, ERR_LIB_GOSTH,
                 GOSTE_F_GOSTH_CHECK, run_hash);
}

int GOST_startup_check() {
    if (!R3410_check_params() || !ECGOST_check_params() || !GOSTE_check_tables()) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOST_STARTUP_CHECK, ERR_R_INTERNAL);
        return 0;
    }
    return 1;
}

long GOST_self_test_runs(GostSelfTest test) { return pacing().runs.at(test).load(); }

void GOST_self_test_reset_times() {
    LockGuard lock(CRYPTO_LOCK_SELF_TEST);
    pacing().last_pass.fill(0);
}

}  // namespace cadb
