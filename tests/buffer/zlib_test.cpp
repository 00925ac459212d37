// zlib compression of byte strings: round trips, growth of the output room,
// and damaged or oversized streams.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

std::vector<unsigned char> pattern(std::size_t n) {
    std::vector<unsigned char> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<unsigned char>((i * 7919) >> 3);
    return v;
}

TEST(Zlib, RoundTripsAtEveryLevelAndHint) {
    for (std::size_t n : {0u, 1u, 100u, 65536u}) {
        const auto data = pattern(n);
        for (int level : {-7, 0, 1, 9, 42}) {
            const unsigned char* in =
                n > 0 ? data.data() : reinterpret_cast<const unsigned char*>("");
            BufferPtr z(BUFFER_compress(in, static_cast<int>(n), level));
            ASSERT_TRUE(z) << n << " " << level;
            for (int hint : {-1, 0, 1, 100}) {
                BufferPtr back(BUFFER_uncompress(z->data, z->length, hint));
                ASSERT_TRUE(back) << n << " " << hint;
                ASSERT_EQ(back->length, static_cast<int>(n));
                if (n > 0) {
                    EXPECT_EQ(std::memcmp(back->data, data.data(), n), 0);
                }
                EXPECT_EQ(back->data[n], 0);
            }
        }
    }
}

TEST(Zlib, IncompressibleInputGrowsTheRoom) {
    std::vector<unsigned char> noise(5000);
    unsigned x = 12345;
    for (auto& c : noise) c = static_cast<unsigned char>((x = x * 1103515245 + 12345) >> 16);
    BufferPtr z(BUFFER_compress(noise.data(), static_cast<int>(noise.size()), 9));
    ASSERT_TRUE(z);
    BufferPtr back(BUFFER_uncompress(z->data, z->length, 1));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::memcmp(back->data, noise.data(), noise.size()), 0);
}

TEST(Zlib, DamagedAndOversizedStreamsFail) {
    const std::vector<unsigned char> data(100000, 'a');
    BufferPtr z(BUFFER_compress(data.data(), static_cast<int>(data.size()), 9));
    ASSERT_TRUE(z);
    ERR_clear_error();
    // A stream cut short ends in failure, not in an ever-growing room.
    for (int n : {1, 2, z->length / 2, z->length - 1})
        EXPECT_FALSE(BufferPtr(BUFFER_uncompress(z->data, n, 0))) << n;
    std::vector<unsigned char> flipped(z->data, z->data + z->length);
    flipped[z->length / 2] ^= 0x55;
    flipped[z->length - 2] ^= 0x55;
    EXPECT_FALSE(BufferPtr(BUFFER_uncompress(flipped.data(), z->length, 0)));
    EXPECT_FALSE(BufferPtr(BUFFER_uncompress("not zlib", 8, 0)));
    // A ceiling on the output stops a small stream that inflates hugely.
    EXPECT_FALSE(BufferPtr(BUFFER_uncompress(z->data, z->length, 0, 50000)));
    EXPECT_TRUE(BufferPtr(BUFFER_uncompress(z->data, z->length, 0, 100000)));
    EXPECT_FALSE(BufferPtr(BUFFER_compress(nullptr, 3, 1)));
    EXPECT_FALSE(BufferPtr(BUFFER_uncompress(nullptr, 3, 1)));
    EXPECT_EQ(ERR_code_lib(ERR_peek_error()), ERR_LIB_BUF_);
    ERR_clear_error();
}

// Caps the address space a little above what the process maps now: a room
// near the 2 GiB limit cannot be had under the cap.
void cap_address_space() {
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlimit cap{};
    getrlimit(RLIMIT_AS, &cap);
    cap.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) +
                   (rlim_t{256} << 20);
    setrlimit(RLIMIT_AS, &cap);
}

TEST(ZlibDeathTest, TheRoomFollowsTheOutputAndMissingMemoryIsAnError) {
    const std::vector<unsigned char> data(1000, 'a');
    BufferPtr z(BUFFER_compress(data.data(), static_cast<int>(data.size()), 9));
    ASSERT_TRUE(z);
    ASSERT_GT(z->length, 8);
    EXPECT_EXIT(
        {
            cap_address_space();
            ERR_clear_error();
            // Its first eight bytes inflate to some hundred before the stream
            // breaks off: refused as damaged, in a room of about that size.
            const bool cut = !BufferPtr(BUFFER_uncompress(z->data, 8, 0)) &&
                             ERR_code_reason(ERR_peek_error()) == ERR_R_INTERNAL;
            ERR_clear_error();
            bool refused = true;
#if !defined(__SANITIZE_ADDRESS__)
            // A hint asking for more room than there is: an allocation error
            // on the queue. (The sanitizer's allocator ends the process on a
            // refused allocation instead of answering null.)
            refused = !BufferPtr(BUFFER_uncompress(z->data, z->length, INT_MAX)) &&
                      ERR_code_reason(ERR_peek_error()) == ERR_R_MALLOC;
#endif
            std::_Exit(cut && refused ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace cadb
