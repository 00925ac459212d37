// SplitMix64: a small deterministic stream that passes the statistical tests,
// shared by the fake sources of the tests and the stand-in board libraries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cadb::fake {

inline std::uint64_t next_word(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// Fills out with the next n bytes of the stream; n a multiple of 8 keeps
// consecutive fills equal to one long fill.
inline void fill_good(std::uint64_t& x, unsigned char* out, std::size_t n) {
    for (std::size_t i = 0; i < n; i += 8) {
        const std::uint64_t w = next_word(x);
        for (std::size_t k = 0; k < 8 && i + k < n; ++k)
            out[i + k] = static_cast<unsigned char>(w >> (8 * k));
    }
}

}  // namespace cadb::fake
