// The memory of a token-file stream: reads and lines from a position, CR LF
// folding where the driver asks for it, growth bounded by the file limit.
#include <gtest/gtest.h>

#include <string>

#include "crypto/bio/held_file_stream.h"

namespace cadb {
namespace {

std::vector<unsigned char> bytes_of(const std::string& s) { return {s.begin(), s.end()}; }

TEST(HeldFile, LinesStopAtTheLineFeedOrTheRoomLeft) {
    const auto bytes = bytes_of("one\r\ntwo\nlong line\n");
    std::size_t pos = 0;
    char out[8];
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, true), 4);
    EXPECT_STREQ(out, "one\n");
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, true), 4);
    EXPECT_STREQ(out, "two\n");
    // Seven characters and the zero; the rest of the line comes next.
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, true), 7);
    EXPECT_STREQ(out, "long li");
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, true), 3);
    EXPECT_STREQ(out, "ne\n");
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, true), 0);
    EXPECT_STREQ(out, "");
    // Room for the zero alone.
    pos = 0;
    EXPECT_EQ(held_gets(bytes, pos, out, 1, true), 0);
    EXPECT_EQ(pos, 0u);
    // Without folding the line comes as stored.
    EXPECT_EQ(held_gets(bytes, pos, out, sizeof out, false), 5);
    EXPECT_STREQ(out, "one\r\n");
}

TEST(HeldFile, ReadsTakeWhatIsLeftFromThePosition) {
    const auto bytes = bytes_of("abcdef");
    std::size_t pos = 4;
    char out[8] = {};
    EXPECT_EQ(held_read(bytes, pos, out, 8), 2);
    EXPECT_EQ(std::string(out, 2), "ef");
    EXPECT_EQ(held_read(bytes, pos, out, 8), 0);
    pos = 99;  // past the end reads nothing
    EXPECT_EQ(held_read(bytes, pos, out, 8), 0);
}

TEST(HeldFile, AppendsGrowWithinTheLimitAndWipeLetsGo) {
    std::vector<unsigned char> bytes;
    const std::string chunk(100, 'x');
    for (int i = 0; i < 5; ++i) held_append(bytes, chunk.data(), chunk.size(), 600);
    EXPECT_EQ(bytes.size(), 500u);
    EXPECT_LE(bytes.capacity(), 600u);
    held_append(bytes, chunk.data(), chunk.size(), 600);
    EXPECT_EQ(bytes.size(), 600u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), std::string(600, 'x'));
    held_wipe(bytes);
    EXPECT_TRUE(bytes.empty());
    EXPECT_EQ(bytes.capacity(), 0u);
}

}  // namespace
}  // namespace cadb
