// The random method layer: every random byte of the library comes from one
// switchable source, the current RAND_METHOD, optionally through a pool whose
// every block has passed the FIPS 140-2 statistical tests.
//
// libcrypto exports the same names at global scope; these live in namespace
// cadb. OpenSSL's own draws (BN_rand, prime generation) are routed here by the
// adapter that RAND_install_openssl_adapter installs.
#pragma once

#include <openssl/rand.h>

#include <cstddef>
#include <cstdint>

// libcrypto defines RAND_cleanup as a function-like macro; this library has a
// function of that name. Including libcrypto's header first keeps its include
// guard from bringing the macro back.
#undef RAND_cleanup

namespace cadb {

// Function codes of library 69 (RAND). A trailing underscore marks a name
// that libcrypto already defines as a macro.
enum RandFunc : int {
    RAND_F_RAND_CLEANUP = 100,
    RAND_F_RAND_BYTES_ = 101,
    RAND_F_RAND_SEED = 102,
    RAND_F_RAND_INIT = 103,
    RAND_F_RAND_OPERATIONAL_CHECK = 121,
    // The kernel's random source, offered as one more board.
    RAND_F_OS_RAND_BYTES = 122,
    RAND_F_OS_RAND_INIT = 123,
};

// Reasons of library 69 (RAND).
enum RandReason : int {
    RAND_R_METHOD_NOT_SET = 100,
    RAND_R_FIFO_REQUIRED = 101,
    RAND_R_OPERATIONAL_CHECK_FAILED = 102,
};

// Method flags.
constexpr std::uint32_t RAND_FLAG_UNUSABLE = 0x1;

// Size of a block the statistical tests judge: 20,000 bits.
constexpr int RAND_STAT_BLOCK_SIZE = 2500;

// A random source. Any slot may be null except bytes.
struct RAND_METHOD {
    // Mixes len bytes into the source; nonzero on success. A source may
    // replace the bytes with its own output (the software generator does, and
    // the key store saves them as its next state), so the buffer is writable.
    int (*seed)(void* buf, int len);
    // Writes up to len bytes; returns the number written.
    int (*bytes)(void* buf, int len);
    // Releases the source; nonzero when it agrees to be released.
    int (*cleanup)();
    // Starts the source from a seed source or an argument record; out, when
    // the source uses it, receives the seed it settled on.
    int (*init)(void* out, void* arg);
    // Describes the source; out may be null. Nonzero on success.
    int (*info)(void* out);
    // 1 when the source can deliver bytes now (seeded, board open), else 0.
    // A null slot means the source is always ready.
    int (*status)();
    std::uint32_t flags;
};

// Makes m current (null: none). A different current method is cleaned up
// first; the check pool is wiped and the power-up check is due again.
void RAND_set_rand_method(const RAND_METHOD* m);
const RAND_METHOD* RAND_get_rand_method();

// 1 when the current method was released (it agreed, or has no cleanup
// slot): the pool is wiped and no method is current. 0 when there is none or
// it refused.
int RAND_cleanup();

// Forward to the current method. A null seed slot succeeds, a null init slot
// fails. With no method current: error class 4, reason "method not set".
int RAND_seed(void* buf, int len);
int RAND_init(void* out, void* arg);

// 1 when a method is current, usable and ready, else 0.
int RAND_status();

// Check mode: every byte handed out comes from a block that passed the
// statistical tests. Off after start-up.
void RAND_set_operational_check(int on);

// Writes n random bytes; returns n, or 0 on any failure, in which case the
// buffer is wiped: a short count is never handed out as if it were random.
// Asking for 0 bytes returns 0 and reports nothing.
int RAND_bytes(void* buf, int n);

// The power-up check of a freshly current method: draws blocks from it until
// one passes the statistical tests, at most 10. 1 on a pass. RAND_bytes runs
// it once per method, the first time the method reports ready outside check
// mode (in check mode every block is tested anyway).
int RAND_operational_check();

// The four FIPS 140-2 tests (monobit, poker, runs, long run) over one
// RAND_STAT_BLOCK_SIZE-byte block; 1 when it passes all four. With verbose set
// the statistics are printed on standard output.
int RAND_statistical_test(const unsigned char* block, int verbose);

// Sends libcrypto's own draws through the current method of this layer, so
// that they fail when none is current. Idempotent; RAND_set_rand_method calls
// it, start-up may call it earlier.
void RAND_install_openssl_adapter();

}  // namespace cadb
