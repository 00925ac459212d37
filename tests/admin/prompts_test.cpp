// The console prompts in process, with standard input a pipe: bounds, Escape,
// and the text's way from the terminal's encoding into the library's.

#include <gtest/gtest.h>
#include <unistd.h>

#include <clocale>
#include <cstring>
#include <string>

#include "admin/tasset.h"

namespace cadb {
namespace {

// Standard input reads the text for the life of the feeder.
class Feed {
  public:
    explicit Feed(const std::string& text) {
        int p[2];
        EXPECT_EQ(pipe(p), 0);
        EXPECT_EQ(write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
        close(p[1]);
        saved_ = dup(0);
        dup2(p[0], 0);
        close(p[0]);
    }
    ~Feed() {
        dup2(saved_, 0);
        close(saved_);
    }

  private:
    int saved_ = -1;
};

class Prompts : public ::testing::Test {
  protected:
    void SetUp() override {
        if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
    }
    void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_F(Prompts, PinIsBoundedAndHasNoTerminator) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    {
        Feed feed("1234\n");
        EXPECT_EQ(Tasset_get_pin(buf, 4, 0, nullptr), 4);
    }
    EXPECT_EQ(std::string(buf, 5), "1234Z");
    {
        Feed feed("12\n");
        EXPECT_EQ(Tasset_get_pin(buf, 4, 1, nullptr), 2);
    }
    EXPECT_EQ(std::string(buf, 2), "12");
}

// A PIN longer than its field is refused whole, and its tail is not the next
// answer: the next prompt reads the next line.
TEST_F(Prompts, ALongPinIsRefusedWithTheRestOfItsLine) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    Feed feed("123456789\n56\n");
    EXPECT_EQ(Tasset_get_pin(buf, 4, 1, nullptr), -1);
    EXPECT_EQ(std::string(buf, 4), "ZZZZ");
    EXPECT_EQ(Tasset_get_pin(buf, 4, 0, nullptr), 2);
    EXPECT_EQ(std::string(buf, 2), "56");
}

// Lines ended the DOS way, as a script written elsewhere pipes them: each
// answer is its own line, never an empty one made of the line feed.
TEST_F(Prompts, LinesEndedByCarriageReturnAndLineFeed) {
    char buf[8];
    char label[TASSET_LABEL_SIZE + 1];
    Feed feed("1234\r\n56\r\nmy token\r\n");
    EXPECT_EQ(Tasset_get_pin(buf, 4, 1, nullptr), 4);
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_EQ(Tasset_get_pin(buf, 4, 0, nullptr), 2);
    EXPECT_EQ(std::string(buf, 2), "56");
    ASSERT_EQ(Tasset_get_label(label), 1);
    EXPECT_STREQ(label, "my token");
}

TEST_F(Prompts, EscapeAndEndOfInput) {
    char buf[16];
    {
        Feed feed("12\x1b" "34\n");
        EXPECT_EQ(Tasset_get_pin(buf, 16, 0, nullptr), 0);
    }
    {
        Feed feed("");
        EXPECT_EQ(Tasset_get_pin(buf, 16, 0, nullptr), 0);
    }
    {
        Feed feed("\r");
        EXPECT_EQ(Tasset_get_pin(buf, 16, 0, nullptr), 0);
    }
    EXPECT_EQ(Tasset_get_pin(nullptr, 16, 0, nullptr), -1);
}

TEST_F(Prompts, CyrillicPinReachesTheLibraryInItsCodePage) {
    // "пароль" typed on a UTF-8 terminal: six characters, twelve bytes; the
    // library takes code page 1251, one byte each.
    char buf[16];
    {
        Feed feed("пароль\n");
        ASSERT_EQ(Tasset_get_pin(buf, 16, 0, nullptr), 6);
    }
    EXPECT_EQ(std::string(buf, 6), "\xEF\xE0\xF0\xEE\xEB\xFC");
    // The bound counts characters, not bytes.
    {
        Feed feed("пароль\n");
        ASSERT_EQ(Tasset_get_pin(buf, 6, 0, nullptr), 6);
        EXPECT_EQ(Tasset_get_pin(buf, 5, 0, nullptr), 0);  // input ended
    }
    {
        Feed feed("пароль\n");
        EXPECT_EQ(Tasset_get_pin(buf, 5, 0, nullptr), -1);
    }
    // A character code page 1251 lacks cannot be a PIN.
    {
        Feed feed("\xE2\x82\xAC\xE2\x98\x83\n");  // euro sign is in 1251, the snowman is not
        EXPECT_EQ(Tasset_get_pin(buf, 16, 0, nullptr), -1);
    }
}

TEST_F(Prompts, LabelIsUtf8CutToWholeCharacters) {
    char label[TASSET_LABEL_SIZE + 1];
    {
        Feed feed("Токен\n");
        ASSERT_EQ(Tasset_get_label(label), 1);
    }
    EXPECT_STREQ(label, "Токен");
    // 16 Cyrillic characters fill the 32 bytes of the field; 17 do not fit
    // and are refused, not cut.
    {
        Feed feed(std::string("ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ") + "\n");
        ASSERT_EQ(Tasset_get_label(label), 1);
    }
    EXPECT_STREQ(label, "ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ");
    {
        Feed feed(std::string("ЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖЖ") + "\n");
        EXPECT_EQ(Tasset_get_label(label), 0);
    }
    // Over 32 characters: refused, and the rest of the line goes with it.
    {
        Feed feed(std::string(33, 'x') + "\nnext\n");
        EXPECT_EQ(Tasset_get_label(label), 0);
        ASSERT_EQ(Tasset_get_label(label), 1);
        EXPECT_STREQ(label, "next");
    }
    {
        Feed feed("ab\x1b");
        EXPECT_EQ(Tasset_get_label(label), 0);
    }
    EXPECT_STREQ(label, "");
}

}  // namespace
}  // namespace cadb
