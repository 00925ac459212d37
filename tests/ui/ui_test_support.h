// What the dialog tests share: a fixture that puts the scripted driver in
// charge, and code page 1251 helpers.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ui/driver.h"
#include "ui/text.h"

namespace gorget::test {

inline std::string cp1251(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(to_cp1251(utf8, out));
    return out;
}

class Scripted : public ::testing::Test {
  protected:
    void SetUp() override { driver::use(driver::Mode::models); }
    void TearDown() override { driver::use(driver::Mode::automatic); }
};

}  // namespace gorget::test
