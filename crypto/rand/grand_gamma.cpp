// The generator's state and its random method: a counter-mode keystream
// served through an 8 KiB buffer. Before each refill the counter register is
// passed through the pseudo-random function, so every refill depends on a
// fresh time stamp as well as on the seed.
#include <openssl/crypto.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/grand.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

constexpr std::uint32_t kInitialised = 0x1;
constexpr std::size_t kKeySize = 32;
constexpr std::size_t kStartSize = 8;

// Guarded by CRYPTO_LOCK_RAND.
struct GrandState {
    GOSTE cipher;
    std::array<unsigned char, GRAND_BUFFER_SIZE> buffer{};
    std::size_t pos = 0;
    std::size_t unread = 0;
    std::uint32_t flags = 0;
    pid_t owner = 0;  // the process the buffer and the register are of
};

GrandState& state() {
    static GrandState s;
    return s;
}

void wipe(GrandState& s) {
    GOSTE_cleanup(&s.cipher);
    OPENSSL_cleanse(s.buffer.data(), s.buffer.size());
    s.pos = 0;
    s.unread = 0;
    s.flags = 0;
    s.owner = 0;
}

bool start(GrandState& s, const unsigned char* key, const unsigned char* start_value) {
    wipe(s);
    if (!GOSTE_gamma_init(&s.cipher, key, start_value,
                          GOSTE_get_sbox_by_code(GOSTE_SBOX_CODE_CP_A)))
        return false;
    s.flags |= kInitialised;
    s.owner = ::getpid();
    return true;
}

void put32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

std::uint32_t get32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Renews the counter register from itself and a time stamp, then XORs one
// buffer of keystream into the buffer. Any gamma left from the last block is
// dropped: it came from the old register.
bool refill(GrandState& s) {
    unsigned char reg[kStartSize];
    unsigned char renewed[kStartSize];
    put32(reg, s.cipher.N3);
    put32(reg + 4, s.cipher.N4);
    const bool ok = GRAND_prf(reg, sizeof reg, renewed, sizeof renewed) != 0;
    if (ok) {
        s.cipher.N3 = get32(renewed);
        s.cipher.N4 = get32(renewed + 4);
        s.cipher.position = 0;
    }
    OPENSSL_cleanse(reg, sizeof reg);
    OPENSSL_cleanse(renewed, sizeof renewed);
    if (!ok || GOSTE_gamma_update(&s.cipher, s.buffer.data(), s.buffer.data(), GRAND_BUFFER_SIZE) !=
                   GRAND_BUFFER_SIZE)
        return false;
    s.pos = 0;
    s.unread = s.buffer.size();
    return true;
}

// A process forked from the one that seeded the generator holds a copy of
// its buffer and register: it would hand out the very bytes its parent
// hands out (the same signature nonces). The child drops the copied buffer
// and turns its register by its own process id, so that its stream parts
// from its parent's at once, clocks or no clocks.
void part_from_parent(GrandState& s) {
    const pid_t pid = ::getpid();
    if (s.owner == pid) return;
    OPENSSL_cleanse(s.buffer.data(), s.buffer.size());
    s.pos = 0;
    s.unread = 0;
    s.cipher.N3 ^= static_cast<std::uint32_t>(pid);
    s.cipher.N4 ^= static_cast<std::uint32_t>(s.owner);
    s.owner = pid;
}

int fail(int func, int error_class) {
    ERR_set_last_error(error_class);
    CADB_ERR(ERR_LIB_PSE, func, ERR_LIB_RAND_);
    return 0;
}

}  // namespace

int GRAND_gamma_rand_seed(void* seed, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    if (seed == nullptr || len <= 0)
        return fail(GRAND_F_GRAND_GAMMA_RAND_SEED, ERR_CLASS_BAD_ARGUMENT);
    auto* in = static_cast<unsigned char*>(seed);
    const auto n = static_cast<std::size_t>(len);
    auto& s = state();
    if (!(s.flags & kInitialised)) {
        unsigned char key[kKeySize];
        unsigned char start_value[kStartSize];
        const bool ok = GRAND_prf(in, n, key, sizeof key) &&
                        GRAND_prf(in, n, start_value, sizeof start_value) &&
                        start(s, key, start_value) &&
                        GRAND_prf(in, n, s.buffer.data(), s.buffer.size());
        OPENSSL_cleanse(key, sizeof key);
        OPENSSL_cleanse(start_value, sizeof start_value);
        if (!ok) {
            wipe(s);
            return fail(GRAND_F_GRAND_GAMMA_RAND_SEED, ERR_CLASS_RANDOM_GENERATOR);
        }
    }
    // The seed is replaced by output: a key store saves this buffer as its
    // next state, which must never be the state it was started from.
    if (GRAND_rand_bytes(in, len) != len) {
        OPENSSL_cleanse(in, n);
        return fail(GRAND_F_GRAND_GAMMA_RAND_SEED, ERR_CLASS_RANDOM_GENERATOR);
    }
    return 1;
}

int GRAND_rand_bytes(void* buf, int n) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& s = state();
    if (n <= 0) return 0;
    if (buf == nullptr) return fail(GRAND_F_GRAND_RAND_BYTES, ERR_CLASS_BAD_ARGUMENT);
    if (!(s.flags & kInitialised))
        return fail(GRAND_F_GRAND_RAND_BYTES, ERR_CLASS_RANDOM_GENERATOR);
    part_from_parent(s);
    auto* out = static_cast<unsigned char*>(buf);
    std::size_t wanted = static_cast<std::size_t>(n);
    while (wanted > 0) {
        if (s.unread == 0 && !refill(s)) {
            // A generator whose keystream broke is not used again until it
            // is seeded anew.
            wipe(s);
            OPENSSL_cleanse(buf, static_cast<std::size_t>(n));
            return fail(GRAND_F_GRAND_RAND_BYTES, ERR_CLASS_RANDOM_GENERATOR);
        }
        const std::size_t take = std::min(s.unread, wanted);
        unsigned char* src = s.buffer.data() + s.pos;
        std::memcpy(out, src, take);
        // Bytes handed out never stay behind.
        OPENSSL_cleanse(src, take);
        s.pos += take;
        s.unread -= take;
        out += take;
        wanted -= take;
    }
    return n;
}

int GRAND_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    wipe(state());
    return 1;
}

int GRAND_info(void*) { return 1; }

int GRAND_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return (state().flags & kInitialised) ? 1 : 0;
}

}  // namespace cadb
