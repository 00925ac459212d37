// What every harness shares: the kernel's random source behind the library's
// random layer (masking and blinding draw from it), and a reader that splits
// the fuzzer's bytes into choices and a remainder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "crypto/core/err.h"
#include "tests/support/kernel_random.h"

namespace cadb::fuzz {

inline void use_kernel_random() {
    static const bool done = [] {
        RAND_set_rand_method(&testing::kKernelSource);
        return true;
    }();
    (void)done;
}

// Drops whatever a refused input left on the library's queue, so that a long
// run does not grow it.
inline void clear_errors() { ERR_clear_error(); }

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : p_(data), n_(size) {}

    std::uint8_t byte() {
        if (n_ == 0) return 0;
        --n_;
        return *p_++;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | byte() << 8); }
    // Up to n bytes, zero-padded when the input runs out.
    std::vector<unsigned char> bytes(std::size_t n) {
        std::vector<unsigned char> out(n, 0);
        const std::size_t take = std::min(n, n_);
        std::copy(p_, p_ + take, out.begin());
        p_ += take;
        n_ -= take;
        return out;
    }
    std::vector<unsigned char> rest() { return bytes(n_); }

  private:
    const std::uint8_t* p_;
    std::size_t n_;
};

}  // namespace cadb::fuzz
