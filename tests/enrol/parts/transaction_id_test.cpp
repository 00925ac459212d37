// The bytes of the identifier the enrolment object makes itself: always the
// full count, none that would cut or break the local text.
#include "enrol/transaction_id.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cadb::enrol {
namespace {

// A source that hands out the scripted bytes in order.
RandomDraw scripted(std::string bytes, std::vector<int>* asked = nullptr) {
    auto pos = std::make_shared<std::size_t>(0);
    return [bytes = std::move(bytes), pos, asked](int n) -> std::optional<std::string> {
        if (asked) asked->push_back(n);
        if (*pos + static_cast<std::size_t>(n) > bytes.size()) return std::nullopt;
        std::string out = bytes.substr(*pos, static_cast<std::size_t>(n));
        *pos += static_cast<std::size_t>(n);
        return out;
    };
}

TEST(InternalTid, ZeroAndUnmappedBytesAreDrawnAgain) {
    std::string first(32, 'a');
    first[0] = '\0';    // would make an empty text
    first[5] = '\x98';  // has no character in code page 1251
    first[31] = '\0';
    const std::string second = "\xC0\x98Z";  // one more refused byte
    std::vector<int> asked;
    const auto tid = InternalTidBytes(scripted(first + second + "Q", &asked));
    ASSERT_TRUE(tid);
    EXPECT_EQ(tid->size(), kInternalTidBytes);
    EXPECT_EQ(tid->find('\0'), std::string::npos);
    EXPECT_EQ(tid->find('\x98'), std::string::npos);
    EXPECT_EQ(tid->substr(29), "\xC0ZQ");
    EXPECT_EQ(asked, (std::vector<int>{32, 3, 1}));
}

TEST(InternalTid, AFailingOrShortSourceGivesNothing) {
    EXPECT_FALSE(InternalTidBytes(scripted("")));
    EXPECT_FALSE(InternalTidBytes(
        [](int n) { return std::optional<std::string>(std::string(n - 1, 'x')); }));
    // A source that only ever gives refused bytes does not loop for ever.
    EXPECT_FALSE(
        InternalTidBytes([](int n) { return std::optional<std::string>(std::string(n, '\0')); }));
}

}  // namespace
}  // namespace cadb::enrol
