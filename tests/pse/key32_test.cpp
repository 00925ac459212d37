#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pse/mask_fill.h"
#include "crypto/pse/pse_crc32.h"
#include "crypto/pse/pse_key32.h"

namespace cadb {
namespace {

const unsigned char kKey[32] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef, 0xfe, 0xdc, 0xba,
                                0x98, 0x76, 0x54, 0x32, 0x10, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66,
                                0x77, 0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x00};

// True when any 4-byte window of the clear key shows up in the record.
bool holds_clear_fragment(const PSE_KEY32& k) {
    const auto* raw = reinterpret_cast<const unsigned char*>(&k);
    for (int i = 0; i + 4 <= 32; i += 4)
        if (std::search(raw, raw + sizeof k, kKey + i, kKey + i + 4) != raw + sizeof k) return true;
    return false;
}

TEST(Crc32, CheckValueRules) {
    // The standard CRC-32 check string without the final inversion.
    EXPECT_EQ(PSE_crc32("123456789", 9), ~0xCBF43926u);
    EXPECT_EQ(PSE_crc32("x", 0), 0xFFFFFFFFu);
    EXPECT_EQ(PSE_crc32(nullptr, 4), 0xFFFFFFFFu);
    // Four bytes that drive the register to zero are reported as all ones.
    unsigned char zeroing[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(PSE_crc32(zeroing, 4), 0xFFFFFFFFu);
}

// Against zlib's CRC-32, which inverts at the end: every length of key
// material, every byte value.
TEST(Crc32, AgreesWithZlib) {
    std::vector<unsigned char> bytes(256);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i * 167 + 13);
    for (std::size_t n = 1; n <= bytes.size(); ++n) {
        const auto inverted = static_cast<std::uint32_t>(~crc32(0, bytes.data(), static_cast<uInt>(n)));
        EXPECT_EQ(PSE_crc32(bytes.data(), n), inverted == 0 ? 0xFFFFFFFFu : inverted) << n;
    }
}

TEST(Key32, MaskUnmaskRoundTripLeavesNoClearKey) {
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, kKey), 1);
    EXPECT_TRUE(k.flags & PSE_KEY32_MASKED);
    EXPECT_FALSE(holds_clear_fragment(k));
    EXPECT_EQ(PSE_key32_check(&k), 1);

    // Masking twice masks once.
    ASSERT_EQ(PSE_key32_mask(&k), 1);
    ASSERT_EQ(PSE_key32_unmask(&k), 1);
    EXPECT_EQ(std::memcmp(k.key, kKey, 32), 0);
    ASSERT_EQ(PSE_key32_mask(&k), 1);
    EXPECT_FALSE(holds_clear_fragment(k));

    PSE_key32_wipe(&k);
    const PSE_KEY32 zero{};
    EXPECT_EQ(std::memcmp(&k, &zero, sizeof k), 0);
}

TEST(Key32, AlteredWhileMaskedFailsUnmask) {
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, kKey), 1);
    k.key[17] ^= 0x40;
    ERR_set_last_error(0);
    EXPECT_EQ(PSE_key32_unmask(&k), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
    EXPECT_FALSE(k.flags & PSE_KEY32_MASKED);
    EXPECT_EQ(PSE_key32_check(&k), 0);
}

TEST(Key32, MaskRedrawnOnlyAfterMoreThanASecond) {
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, kKey), 1);
    unsigned char first[32];
    std::memcpy(first, k.mask, 32);
    ASSERT_EQ(PSE_key32_unmask(&k), 1);
    k.mask_time = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_EQ(PSE_key32_mask(&k), 1);
    EXPECT_EQ(std::memcmp(first, k.mask, 32), 0);

    ASSERT_EQ(PSE_key32_unmask(&k), 1);
    k.mask_time -= 3;
    ASSERT_EQ(PSE_key32_mask(&k), 1);
    EXPECT_NE(std::memcmp(first, k.mask, 32), 0);
    ASSERT_EQ(PSE_key32_unmask(&k), 1);
    EXPECT_EQ(std::memcmp(k.key, kKey, 32), 0);
}

TEST(Key32, MaskingDisabledIsANoOp) {
    PSE_KEY32 k{};
    k.flags = PSE_KEY32_NO_MASK;
    ASSERT_EQ(PSE_key32_load(&k, kKey), 1);
    EXPECT_EQ(std::memcmp(k.key, kKey, 32), 0);
    EXPECT_EQ(PSE_key32_unmask(&k), 1);
    EXPECT_EQ(std::memcmp(k.key, kKey, 32), 0);
}

TEST(Key32, NullArguments) {
    ERR_set_last_error(0);
    EXPECT_EQ(PSE_key32_mask(nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
    ERR_set_last_error(0);
    EXPECT_EQ(PSE_key32_unmask(nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
    ERR_set_last_error(0);
    EXPECT_EQ(PSE_key32_mask_checked(nullptr), 0);
    EXPECT_EQ(PSE_key32_unmask_checked(nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), 0);
    EXPECT_EQ(PSE_key32_check(nullptr), 0);
    PSE_key32_set_crc(nullptr);
    PSE_key32_wipe(nullptr);
    // An empty record has no valid key.
    PSE_KEY32 empty{};
    EXPECT_EQ(PSE_key32_unmask(&empty), 0);
}

TEST(MaskFill, ForkedChildDrawsOtherBytesThanItsParent) {
    unsigned char warm[8];
    ASSERT_EQ(PSE_mask_fill(warm, sizeof warm), 1);  // the pool now holds unused bytes
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        unsigned char child[32];
        const int ok = PSE_mask_fill(child, sizeof child);
        const bool written = ::write(fds[1], child, sizeof child) == sizeof child;
        ::_exit(ok && written ? 0 : 1);
    }
    unsigned char parent[32], child[32];
    ASSERT_EQ(PSE_mask_fill(parent, sizeof parent), 1);
    ASSERT_EQ(::read(fds[0], child, sizeof child), static_cast<ssize_t>(sizeof child));
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(fds[0]);
    ::close(fds[1]);
    EXPECT_EQ(status, 0);
    EXPECT_NE(std::memcmp(parent, child, sizeof parent), 0);
}

}  // namespace
}  // namespace cadb
