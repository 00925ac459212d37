// Random sources for tests that need the library's generator: the kernel's
// source, and a counting source whose output is known in advance.
#pragma once

#include <sys/random.h>

#include <cstddef>

#include "crypto/rand/rand.h"

namespace cadb::testing {

inline int kernel_bytes(void* buf, int len) {
    auto* p = static_cast<unsigned char*>(buf);
    int done = 0;
    while (done < len) {
        const ssize_t got = getrandom(p + done, static_cast<std::size_t>(len - done), 0);
        if (got <= 0) return done;
        done += static_cast<int>(got);
    }
    return done;
}

inline const RAND_METHOD kKernelSource = {nullptr, kernel_bytes, nullptr, nullptr,
                                          nullptr, nullptr,      0};

// Makes the kernel's source current for the lifetime of the guard. Once
// any method has been set, libcrypto's own draws (BN_rand, BN_rand_range) go
// through the library's layer too, so tests that use them hold a guard.
class KernelRandom {
  public:
    KernelRandom() : previous_(RAND_get_rand_method()) { RAND_set_rand_method(&kKernelSource); }
    ~KernelRandom() { RAND_set_rand_method(previous_); }
    KernelRandom(const KernelRandom&) = delete;
    KernelRandom& operator=(const KernelRandom&) = delete;

  private:
    const RAND_METHOD* previous_;
};

}  // namespace cadb::testing
