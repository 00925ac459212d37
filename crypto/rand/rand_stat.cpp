// The four statistical tests of FIPS 140-2 over one 20,000-bit block. Bits are
// taken byte by byte, each byte from its least significant bit; runs continue
// across byte boundaries.
#include <algorithm>
#include <array>
#include <bit>
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

BlockStats collect(const unsigned char* block) {
    BlockStats st;
    int bit_value = block[0] & 1;
    int run = 0;
    for (int i = 0; i < RAND_STAT_BLOCK_SIZE; ++i) {
        const unsigned b = block[i];
        st.ones += std::popcount(b);
        ++st.nibbles[b & 0x0F];
        ++st.nibbles[b >> 4];
        for (int k = 0; k < 8; ++k) {
            const int v = (b >> k) & 1;
            if (v == bit_value) {
                ++run;
                continue;
            }
            ++st.runs[bit_value][std::min(run, kLongRun)];
            bit_value = v;
            run = 1;
        }
    }
    ++st.runs[bit_value][std::min(run, kLongRun)];
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
