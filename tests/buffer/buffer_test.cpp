// The BUFFER record: the trailing zero, ownership of cat, in-place append
// and base64, the password callbacks and random buffers.
#include "crypto/cadb/buffer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/core/err.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

std::string text(const BUFFER* b) {
    return std::string(reinterpret_cast<const char*>(b->data), static_cast<std::size_t>(b->length));
}

TEST(Buffer, NewIsEmptyAndClearAcceptsNull) {
    BufferPtr b(BUFFER_new());
    ASSERT_TRUE(b);
    EXPECT_EQ(b->data, nullptr);
    EXPECT_EQ(b->length, 0);
    BUFFER_clear(nullptr);
    BUFFER_free(nullptr);
    BUFFER_clear(b.get());
    EXPECT_EQ(b->data, nullptr);
}

TEST(Buffer, FillKeepsTrailingZero) {
    BufferPtr zeros(BUFFER_fill(nullptr, 5));
    ASSERT_TRUE(zeros);
    ASSERT_EQ(zeros->length, 5);
    for (int i = 0; i <= 5; ++i) EXPECT_EQ(zeros->data[i], 0) << i;

    BufferPtr abc(BUFFER_fill("abc", -1));
    ASSERT_TRUE(abc);
    EXPECT_EQ(abc->length, 3);
    EXPECT_STREQ(reinterpret_cast<char*>(abc->data), "abc");

    const unsigned char raw[] = {1, 0, 2};
    BufferPtr bytes(BUFFER_fill(raw, 3));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::memcmp(bytes->data, raw, 3), 0);
    EXPECT_EQ(bytes->data[3], 0);

    BufferPtr empty(BUFFER_fill("", -1));
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->length, 0);
    ASSERT_NE(empty->data, nullptr);
    EXPECT_EQ(empty->data[0], 0);

    ERR_clear_error();
    EXPECT_EQ(BUFFER_fill(nullptr, -1), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_get_error()), ERR_LIB_BUF_);
}

TEST(Buffer, CatConsumesBothOrReturnsTheOther) {
    BUFFER* a = BUFFER_fill("ab", -1);
    EXPECT_EQ(BUFFER_cat(a, nullptr), a);
    EXPECT_EQ(BUFFER_cat(nullptr, a), a);
    BufferPtr joined(BUFFER_cat(a, BUFFER_fill("cde", -1)));
    ASSERT_TRUE(joined);
    EXPECT_EQ(text(joined.get()), "abcde");
    EXPECT_EQ(joined->data[5], 0);
    EXPECT_EQ(BUFFER_cat(nullptr, nullptr), nullptr);
}

TEST(Buffer, AppendInPlace) {
    BufferPtr b(BUFFER_new());
    EXPECT_EQ(BUFFER_append(b.get(), "xy", -1), 2);
    EXPECT_EQ(BUFFER_append(b.get(), "z\0w", 3), 3);
    ASSERT_EQ(b->length, 5);
    EXPECT_EQ(std::memcmp(b->data, "xyz\0w", 5), 0);
    EXPECT_EQ(b->data[5], 0);
    // Nothing to append and bad arguments leave the buffer as it was.
    EXPECT_EQ(BUFFER_append(b.get(), "q", 0), 0);
    EXPECT_EQ(BUFFER_append(b.get(), nullptr, 4), 0);
    EXPECT_EQ(BUFFER_append(nullptr, "q", 1), 0);
    EXPECT_EQ(b->length, 5);
    // The source may be the buffer's own bytes.
    EXPECT_EQ(BUFFER_append(b.get(), b->data, 2), 2);
    EXPECT_EQ(std::memcmp(b->data, "xyz\0wxy", 7), 0);
}

TEST(Buffer, Base64InPlace) {
    // RFC 4648, section 10.
    const char* cases[][2] = {{"", ""},
                              {"f", "Zg=="},
                              {"fo", "Zm8="},
                              {"foo", "Zm9v"},
                              {"foob", "Zm9vYg=="},
                              {"fooba", "Zm9vYmE="},
                              {"foobar", "Zm9vYmFy"}};
    for (auto& c : cases) {
        BufferPtr b(BUFFER_fill(c[0], -1));
        ASSERT_EQ(BUFFER_to_base64(b.get()), b.get());
        EXPECT_EQ(text(b.get()), c[1]);
        EXPECT_EQ(b->data[b->length], 0);
    }
    // Long input: no line breaks.
    BufferPtr big(BUFFER_fill(nullptr, 3000));
    ASSERT_TRUE(BUFFER_to_base64(big.get()));
    EXPECT_EQ(big->length, 4000);
    EXPECT_EQ(std::memchr(big->data, '\n', 4000), nullptr);
    EXPECT_EQ(BUFFER_to_base64(nullptr), nullptr);
}

TEST(Buffer, PasswordCallbacks) {
    BufferPtr pw(BUFFER_fill("se\0cret", 7));
    char out[16] = {};
    EXPECT_EQ(BUFFER_passwd_cb(out, sizeof out, 0, pw.get()), 7);
    EXPECT_EQ(std::memcmp(out, "se\0cret", 7), 0);
    EXPECT_EQ(BUFFER_passwd_cb_str(out, sizeof out, 0, pw.get()), 2);
    // Too long for the caller's room: refused, not cut.
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(BUFFER_passwd_cb(out, 3, 0, pw.get()), -1);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(BUFFER_passwd_cb_str(out, 2, 0, pw.get()), 2);
    EXPECT_EQ(BUFFER_passwd_cb(nullptr, 3, 0, pw.get()), 0);
    EXPECT_EQ(BUFFER_passwd_cb(out, 3, 0, nullptr), 0);
    EXPECT_EQ(BUFFER_passwd_cb(out, -1, 0, pw.get()), 0);
    EXPECT_TRUE(PASSWD_is_absent(nullptr, 5));
    EXPECT_FALSE(PASSWD_is_absent("", 0));
}

TEST(Buffer, RandDeliversAllOrNothing) {
    {
        testing::KernelRandom source;
        BufferPtr r(BUFFER_rand(64));
        ASSERT_TRUE(r);
        EXPECT_EQ(r->length, 64);
        EXPECT_EQ(r->data[64], 0);
    }
    const RAND_METHOD* previous = RAND_get_rand_method();
    RAND_set_rand_method(nullptr);
    ERR_clear_error();
    EXPECT_EQ(BUFFER_rand(16), nullptr);
    EXPECT_NE(ERR_peek_error(), 0u);
    RAND_set_rand_method(previous);
}

}  // namespace
}  // namespace cadb
