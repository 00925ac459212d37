#include "crypto/check/ram_check.h"

#include <gtest/gtest.h>

#include "crypto/core/err.h"

namespace cadb {
namespace {

TEST(RamCheck, LeavesBufferZeroed) {
    unsigned char buf[64];
    for (auto& b : buf) b = 0x5A;
    EXPECT_EQ(GOST_ram_check(buf, sizeof buf), 1);
    for (auto b : buf) EXPECT_EQ(b, 0);
}

TEST(RamCheck, EmptyBufferPassesUntouched) {
    unsigned char b = 0x77;
    EXPECT_EQ(GOST_ram_check(&b, 0), 1);
    EXPECT_EQ(b, 0x77);
    EXPECT_EQ(GOST_ram_check(nullptr, 0), 1);
    ERR_set_last_error(0);
    EXPECT_EQ(GOST_ram_check(nullptr, 4), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
}

}  // namespace
}  // namespace cadb
