#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <string>

#include "crypto/rand/rand.h"
#include "tests/rand/fake_source.h"

namespace cadb {
namespace {

using Block = std::array<unsigned char, RAND_STAT_BLOCK_SIZE>;

Block good_block() {
    Block b;
    std::uint64_t x = 2026;
    fake::fill_good(x, b.data(), RAND_STAT_BLOCK_SIZE);
    return b;
}

Block repeated(std::initializer_list<unsigned char> pattern) {
    Block b;
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = pattern.begin()[i % pattern.size()];
    return b;
}

long ones(const Block& b) {
    long n = 0;
    for (unsigned char c : b) n += std::popcount(c);
    return n;
}

// Runs the tests verbosely and returns what they printed.
std::string report(const Block& b, int* result = nullptr) {
    ::testing::internal::CaptureStdout();
    const int r = RAND_statistical_test(b.data(), 1);
    if (result) *result = r;
    return ::testing::internal::GetCapturedStdout();
}

bool has(const std::string& text, const std::string& line) {
    return text.find(line) != std::string::npos;
}

TEST(StatisticalTest, GoodBlockPassesAllFour) {
    const Block b = good_block();
    EXPECT_EQ(RAND_statistical_test(b.data(), 0), 1);
    int r = 0;
    const std::string out = report(b, &r);
    EXPECT_EQ(r, 1);
    EXPECT_FALSE(has(out, "failed"));
    for (const char* done : {"test 1 done\n", "test 2 done\n", "test 3 done\n", "test 4 done\n"})
        EXPECT_TRUE(has(out, done)) << done;
    EXPECT_TRUE(has(out, "test 1, X=" + std::to_string(ones(b)) + "\n"));
    // Every bit and run length is reported.
    EXPECT_TRUE(has(out, "test 3, bit=1 run=26 num=0\n"));
    EXPECT_TRUE(has(out, "test 3, bit=0 run=1 num="));
}

TEST(StatisticalTest, NullBlockFails) { EXPECT_EQ(RAND_statistical_test(nullptr, 0), 0); }

// Sets zero bits to one (or one bits to zero) from the start of the block
// until it holds exactly `target` one bits.
Block with_ones(long target) {
    Block b = good_block();
    long n = ones(b);
    for (std::size_t i = 0; i < b.size() && n != target; ++i) {
        for (int k = 0; k < 8 && n != target; ++k) {
            const unsigned char m = static_cast<unsigned char>(1u << k);
            if (n < target && !(b[i] & m)) b[i] |= m, ++n;
            if (n > target && (b[i] & m)) b[i] &= static_cast<unsigned char>(~m), --n;
        }
    }
    return b;
}

TEST(StatisticalTest, MonobitBoundsAreInclusive) {
    for (long x : {9726L, 10274L}) {
        const std::string out = report(with_ones(x));
        EXPECT_TRUE(has(out, "test 1, X=" + std::to_string(x) + "\n"));
        EXPECT_FALSE(has(out, "test 1 failed")) << x;
    }
    for (long x : {9725L, 10275L}) {
        int r = 1;
        const std::string out = report(with_ones(x), &r);
        EXPECT_TRUE(has(out, "test 1 failed, X=" + std::to_string(x) + "\n")) << x;
        EXPECT_EQ(r, 0);
    }
}

TEST(StatisticalTest, PokerRejectsSkewedAndTooEvenNibbles) {
    // Only nibbles 0 and F: X = 16 * 2 * 2500^2 / 5000 - 5000 = 35000.
    int r = 1;
    std::string out = report(repeated({0x0F}), &r);
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(has(out, "test 1 failed"));
    EXPECT_TRUE(has(out, "test 2 failed, X=35000.00\n"));

    // Every nibble equally often (312 or 313 times): X = 0.01, below 2.16.
    out = report(repeated({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}), &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(has(out, "test 2 failed, X=0.01\n"));
}

TEST(StatisticalTest, AlternatingBitsFailTheRunsTest) {
    int r = 1;
    const std::string out = report(repeated({0x55}), &r);
    EXPECT_EQ(r, 0);
    EXPECT_FALSE(has(out, "test 1 failed"));
    // 10,000 runs of length 1 for each bit value.
    EXPECT_TRUE(has(out, "test 3 failed, bit=0 run=1 num=10000\n"));
    EXPECT_TRUE(has(out, "test 3 failed, bit=1 run=1 num=10000\n"));
    EXPECT_FALSE(has(out, "test 4 failed"));
}

// Puts a run of exactly `len` zero bits (20 < len < 32) ending at the first
// bit of byte 103, bounded by one bits.
Block with_zero_run(int len) {
    Block b = good_block();
    b[100] = b[101] = b[102] = 0;
    b[103] |= 0x01;
    const int from_99 = len - 24;  // the top bits of byte 99 that are zero
    b[99] = static_cast<unsigned char>((b[99] & (0xFF >> (from_99 + 1))) | (0x80 >> from_99));
    return b;
}

TEST(StatisticalTest, LongRunStartsAtTwentySix) {
    std::string out = report(with_zero_run(25));
    EXPECT_TRUE(has(out, "test 3, bit=0 run=25 num=1\n"));
    EXPECT_FALSE(has(out, "test 4 failed"));

    int r = 1;
    out = report(with_zero_run(26), &r);
    EXPECT_EQ(r, 0);
    EXPECT_TRUE(has(out, "test 4 failed, bit=0 run=26 num=1\n"));

    // Longer runs are counted as 26.
    Block b;
    for (std::size_t i = 0; i < b.size(); ++i) b[i] = (i / 4) % 2 ? 0xFF : 0x00;
    out = report(b, &r);
    EXPECT_TRUE(has(out, "test 4 failed, bit=0 run=26 num=313\n"));
    EXPECT_TRUE(has(out, "test 4 failed, bit=1 run=26 num=312\n"));
}

TEST(StatisticalTest, RunsAreCountedAcrossByteBoundaries) {
    // 0xF0 0x0F ...: runs of eight equal bits, each spanning two bytes.
    const std::string out = report(repeated({0xF0, 0x0F}));
    EXPECT_TRUE(has(out, "test 3, bit=1 run=8 num=1250\n"));
    EXPECT_TRUE(has(out, "test 3, bit=0 run=8 num=1249\n"));
    EXPECT_TRUE(has(out, "test 3, bit=0 run=4 num=2\n"));
}

// Run counts taken bit by bit, the plain way, to hold the word-wise counting
// to: every bit value and length as the verbose report prints them.
std::string plain_run_lines(const Block& b) {
    long runs[2][27] = {};
    int value = b[0] & 1, len = 0;
    for (int i = 0; i < RAND_STAT_BLOCK_SIZE * 8; ++i) {
        const int v = (b[i / 8] >> (i % 8)) & 1;
        if (v == value) {
            ++len;
            continue;
        }
        ++runs[value][std::min(len, 26)];
        value = v;
        len = 1;
    }
    ++runs[value][std::min(len, 26)];
    std::string out;
    for (int bit = 0; bit < 2; ++bit) {
        for (int l = 1; l <= 26; ++l)
            out += "test 3, bit=" + std::to_string(bit) + " run=" + std::to_string(l) +
                   " num=" + std::to_string(runs[bit][l]) + "\n";
    }
    return out;
}

std::string reported_run_lines(const Block& b) {
    std::string out;
    const std::string text = report(b);
    for (std::size_t pos = 0; (pos = text.find("test 3, ", pos)) != std::string::npos;) {
        const std::size_t end = text.find('\n', pos) + 1;
        out += text.substr(pos, end - pos);
        pos = end;
    }
    return out;
}

TEST(StatisticalTest, RunCountsMatchABitByBitCount) {
    std::uint64_t x = 7;
    for (int i = 0; i < 20; ++i) {
        Block b;
        fake::fill_good(x, b.data(), b.size());
        // Every other block gets long stretches, including at both ends.
        if (i % 2) {
            std::fill(b.begin(), b.begin() + 9, 0x00);
            std::fill(b.begin() + 1000, b.begin() + 1017, 0xFF);
            std::fill(b.end() - 5, b.end(), 0xFF);
        }
        EXPECT_EQ(reported_run_lines(b), plain_run_lines(b)) << i;
    }
    for (const Block& b : {repeated({0x00}), repeated({0xFF}), repeated({0x01}), repeated({0x80})})
        EXPECT_EQ(reported_run_lines(b), plain_run_lines(b));
}

}  // namespace
}  // namespace cadb
