// The four statistical tests of FIPS 140-2 over one 20,000-bit block. Bits are
// taken byte by byte, each byte from its least significant bit; runs continue
// across byte boundaries.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstdio>

#include "crypto/core/err.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

// Runs of this length or longer are counted together; one is a long run.
constexpr int kLongRun = 26;

struct BlockStats {
    long ones = 0;
    std::array<long, 16> nibbles{};
    // runs[bit][len] for len 1..kLongRun; kLongRun holds every longer run too.
    std::array<std::array<long, kLongRun + 1>, 2> runs{};
};

constexpr std::size_t kBits = RAND_STAT_BLOCK_SIZE * 8;
constexpr std::size_t kWords = (RAND_STAT_BLOCK_SIZE + 7) / 8;

// The block as 64-bit words, stream bit i being bit i % 64 of word i / 64
// (little-endian loading keeps each byte's least significant bit first).
std::array<std::uint64_t, kWords> load_words(const unsigned char* block) {
    std::array<std::uint64_t, kWords> w{};
    for (std::size_t i = 0; i < RAND_STAT_BLOCK_SIZE; ++i)
        w[i / 8] |= std::uint64_t{block[i]} << (8 * (i % 8));
    return w;
}

BlockStats collect(const unsigned char* block) {
    BlockStats st;
    for (int i = 0; i < RAND_STAT_BLOCK_SIZE; ++i) {
        ++st.nibbles[block[i] & 0x0F];
        ++st.nibbles[block[i] >> 4];
    }
    const auto w = load_words(block);
    // A run ends at bit p when bit p + 1 differs, and at the last bit. The
    // ends are found a word at a time from the XOR of the stream with itself
    // shifted by one, so the work follows the number of runs, not of bits.
    std::size_t run_start = 0;
    auto end_run = [&](std::size_t p, int value) {
        const std::size_t len = p - run_start + 1;
        ++st.runs[value][std::min<std::size_t>(len, kLongRun)];
        run_start = p + 1;
    };
    for (std::size_t k = 0; k < kWords; ++k) {
        st.ones += std::popcount(w[k]);
        const std::uint64_t next_first = k + 1 < kWords ? (w[k + 1] & 1) : 0;
        std::uint64_t ends = w[k] ^ ((w[k] >> 1) | (next_first << 63));
        if (k == kWords - 1) {
            // Only positions before the last bit can end a run this way.
            const std::size_t valid = kBits - 1 - 64 * k;
            ends &= (std::uint64_t{1} << valid) - 1;
        }
        while (ends != 0) {
            const int j = std::countr_zero(ends);
            end_run(64 * k + static_cast<std::size_t>(j), static_cast<int>((w[k] >> j) & 1));
            ends &= ends - 1;
        }
    }
    end_run(kBits - 1, static_cast<int>((w[kWords - 1] >> ((kBits - 1) % 64)) & 1));
    return st;
}

bool monobit(const BlockStats& st, bool verbose) {
    const long x = st.ones;
    const bool pass = x >= 9726 && x <= 10274;
    if (verbose) {
        std::printf("test 1, X=%ld\n", x);
        if (!pass) std::printf("test 1 failed, X=%ld\n", x);
        std::printf("test 1 done\n");
    }
    return pass;
}

bool poker(const BlockStats& st, bool verbose) {
    long sum_sq = 0;
    for (long f : st.nibbles) sum_sq += f * f;
    // X = (16 / 5000) * sum f^2 - 5000, kept in hundredths.
    const long x100 = 16 * sum_sq / 50 - 500000;
    const bool pass = x100 > 216 && x100 < 4617;
    if (verbose) {
        std::printf("test 2, X=%ld.%02ld\n", x100 / 100, x100 % 100);
        if (!pass) std::printf("test 2 failed, X=%ld.%02ld\n", x100 / 100, x100 % 100);
        std::printf("test 2 done\n");
    }
    return pass;
}

bool runs(const BlockStats& st, bool verbose) {
    // Inclusive bounds for runs of length 1..5 and of 6 or more.
    constexpr std::array<std::array<long, 2>, 6> kBounds{{
        {2316, 2684},
        {1115, 1385},
        {528, 722},
        {241, 383},
        {104, 208},
        {104, 208},
    }};
    bool pass = true;
    for (int bit = 0; bit < 2; ++bit) {
        if (verbose) {
            for (int len = 1; len <= kLongRun; ++len)
                std::printf("test 3, bit=%d run=%d num=%ld\n", bit, len, st.runs[bit][len]);
        }
        for (int len = 1; len <= 6; ++len) {
            long num = st.runs[bit][len];
            if (len == 6) {
                for (int longer = 7; longer <= kLongRun; ++longer) num += st.runs[bit][longer];
            }
            const auto [lo, hi] = kBounds[len - 1];
            if (num < lo || num > hi) {
                pass = false;
                if (verbose) std::printf("test 3 failed, bit=%d run=%d num=%ld\n", bit, len, num);
            }
        }
    }
    if (verbose) std::printf("test 3 done\n");
    return pass;
}

bool long_run(const BlockStats& st, bool verbose) {
    bool pass = true;
    for (int bit = 0; bit < 2; ++bit) {
        const long num = st.runs[bit][kLongRun];
        if (num != 0) {
            pass = false;
            if (verbose) std::printf("test 4 failed, bit=%d run=%d num=%ld\n", bit, kLongRun, num);
        }
    }
    if (verbose) std::printf("test 4 done\n");
    return pass;
}

}  // namespace

int RAND_statistical_test(const unsigned char* block, int verbose) {
    if (block == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    const BlockStats st = collect(block);
    const bool v = verbose != 0;
    // Every test runs, so that a verbose report is complete.
    const bool m = monobit(st, v);
    const bool p = poker(st, v);
    const bool r = runs(st, v);
    const bool l = long_run(st, v);
    return m && p && r && l ? 1 : 0;
}

}  // namespace cadb
