// The library's numbered locks: a fixed table of recursive mutexes, one per
// lock number, so that code which must agree on a lock only agrees on its
// number.
#pragma once

#include <mutex>

namespace cadb {

constexpr int CRYPTO_NUM_LOCKS = 38;

// The numbers the library's own code uses.
enum LockId : int {
    CRYPTO_LOCK_X509 = 3,
    CRYPTO_LOCK_PKEY = 5,
    CRYPTO_LOCK_CRL = 6,
    CRYPTO_LOCK_CRMF = 7,
    CRYPTO_LOCK_EVP_PKEY = 10,
    CRYPTO_LOCK_CERT_STORE = 11,
    CRYPTO_LOCK_RAND = 17,
    CRYPTO_LOCK_INIT_COUNT = 18,
    CRYPTO_LOCK_GOSTS = 24,
    CRYPTO_LOCK_PSE = 25,
    CRYPTO_LOCK_MASK = 26,
    CRYPTO_LOCK_ECURVE = 27,
    CRYPTO_LOCK_CMC = 28,
    CRYPTO_LOCK_SBOX = 29,
    CRYPTO_LOCK_DECODE_COPY = 30,
    CRYPTO_LOCK_ETOKEN_IO = 31,
    CRYPTO_LOCK_SELF_TEST = 33,
    CRYPTO_LOCK_RUTOKEN_IO = 35,
    CRYPTO_LOCK_PKCS11 = 36,
    CRYPTO_LOCK_IKEY = 37,
};

// Lock request modes, combined as lock|write (9) and unlock|write (10).
constexpr int CRYPTO_MODE_LOCK = 1;
constexpr int CRYPTO_MODE_UNLOCK = 2;
constexpr int CRYPTO_MODE_READ = 4;
constexpr int CRYPTO_MODE_WRITE = 8;

// The locking callback: bit 0 of mode locks, otherwise unlocks. Numbers
// outside the table do nothing.
void CRYPTO_lock(int mode, int n, const char* file, int line);

std::recursive_mutex& CRYPTO_get_lock(int n);

// Lock n taken for as long as an object lives (an iKey stream, from its
// creation to its release) rather than for one call. The object may be
// released on another thread than the one that made it, so any thread may
// give a hold back; the thread whose holds are current may take more. These
// holds are apart from the mutex above, which guards short sections.
void CRYPTO_hold_lock(int n);
void CRYPTO_release_lock_hold(int n);

// A hold on lock n for the lifetime of the guard: waits while other
// threads' objects hold it.
class LockHold {
public:
    explicit LockHold(int n) : n_(n) { CRYPTO_hold_lock(n); }
    ~LockHold() { CRYPTO_release_lock_hold(n_); }
    LockHold(const LockHold&) = delete;
    LockHold& operator=(const LockHold&) = delete;

private:
    int n_;
};

// Holds lock n for the lifetime of the guard.
class LockGuard {
public:
    explicit LockGuard(int n) : guard_(CRYPTO_get_lock(n)) {}

private:
    std::lock_guard<std::recursive_mutex> guard_;
};

}  // namespace cadb
