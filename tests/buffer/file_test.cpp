// Whole files through BUFFER on disk paths: round trips, empty files,
// refused paths and missing files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "crypto/cadb/buffer.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

class BufferFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-buffer-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::filesystem::remove_all(dir_);
        ERR_clear_error();
    }
    std::string path(const char* name) const { return dir_ + "/" + name; }
    std::string dir_;
};

TEST_F(BufferFile, RoundTripsBinaryContent) {
    std::string bytes(100000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 31);
    BufferPtr b(BUFFER_fill(bytes.data(), static_cast<int>(bytes.size())));
    const std::string p = path("sub/data.bin");
    EXPECT_EQ(BUFFER_save_file(p.c_str(), b.get()), b->length);
    BufferPtr back(BUFFER_load_file(p.c_str()));
    ASSERT_TRUE(back);
    ASSERT_EQ(back->length, b->length);
    EXPECT_EQ(std::memcmp(back->data, b->data, bytes.size()), 0);
    EXPECT_EQ(back->data[back->length], 0);
}

TEST_F(BufferFile, EmptyFileIsAnEmptyBufferWithItsZero) {
    BufferPtr empty(BUFFER_new());
    const std::string p = path("empty");
    EXPECT_EQ(BUFFER_save_file(p.c_str(), empty.get()), 0);
    ASSERT_TRUE(std::filesystem::exists(p));
    BufferPtr back(BUFFER_read_file(p.c_str(), nullptr, nullptr));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->length, 0);
    ASSERT_NE(back->data, nullptr);
    EXPECT_EQ(back->data[0], 0);
}

TEST_F(BufferFile, RefusedPathsAndMissingFiles) {
    BufferPtr b(BUFFER_fill("x", -1));
    EXPECT_EQ(BUFFER_save_file(nullptr, b.get()), -1);
    EXPECT_EQ(BUFFER_save_file(path("x").c_str(), nullptr), -1);
    EXPECT_EQ(BUFFER_load_file(nullptr), nullptr);
    // 260 bytes or more: refused before the medium is touched.
    const std::string long_path = dir_ + "/" + std::string(300, 'a');
    ERR_clear_error();
    EXPECT_EQ(BUFFER_load_file(long_path.c_str()), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_get_error()), ERR_LIB_BUF_);
    EXPECT_EQ(BUFFER_load_file(path("missing").c_str()), nullptr);
    EXPECT_EQ(BUFFER_load_file(dir_.c_str()), nullptr);
}

}  // namespace
}  // namespace cadb
