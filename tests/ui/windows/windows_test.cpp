// The driver's scripts on real GTK windows (run under xvfb-run): each dialog
// opens as a window, the same entry gives the same result, and a picture of
// each dialog is left in the build tree.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "tests/ui/scripts.h"
#include "ui/exports.h"
#include "ui/renderer.h"

namespace gorget::test {
namespace {

namespace fs = std::filesystem;

class Windows : public ::testing::Test {
  protected:
    void SetUp() override {
        driver::use(driver::Mode::windows);
        driver::set_screenshot_dir(GORGET_SCREENSHOT_DIR);
        ASSERT_NE(gtk_renderer(), nullptr) << "run under xvfb-run";
    }
    void TearDown() override { EXPECT_EQ(driver::failures(), 0); }
    static bool shot(const std::string& name) {
        return fs::exists(fs::path(GORGET_SCREENSHOT_DIR) / (name + ".png"));
    }
};

TEST_F(Windows, PasswordDialog) {
    driver::expect(scripts::type_and_press(218, "secret"));
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(getPassCBK(buf, 8, 0, nullptr), 6);
    EXPECT_EQ(std::string(buf, 8), "secretXX");
    EXPECT_TRUE(shot("dialog-176"));
    EXPECT_TRUE(shot("typed-176"));
}

TEST_F(Windows, PasswordLimitHoldsInTheWidget) {
    driver::expect([](DialogHandle& h) {
        EXPECT_FALSE(h.type(218, "123456789"));
        EXPECT_EQ(h.text(218), "12345678");
        h.press(IDOK);
    });
    char buf[8];
    EXPECT_EQ(getPassCBK(buf, 8, 0, nullptr), 8);
}

TEST_F(Windows, NewPasswordRules) {
    driver::expect(scripts::new_password_rules());
    char buf[16] = {};
    EXPECT_EQ(putPassCBK(buf, sizeof buf, 1, nullptr), 6);
    EXPECT_EQ(std::string(buf), "abcdef");
    EXPECT_TRUE(shot("dialog-1004"));
}

TEST_F(Windows, TokenPinDialogsCloseAsCancel) {
    for (auto fn : {getPass_eTokenCBK, getPass_ruTokenCBK, getPass_pkcs11CBK}) {
        driver::expect([](DialogHandle& h) {
            h.screenshot("token-" + std::to_string(h.template_id()));
            h.close();
        });
        char buf[8] = {};
        EXPECT_EQ(fn(buf, 8, 0, nullptr), 0);
    }
    EXPECT_TRUE(shot("token-1008"));
}

TEST_F(Windows, ShareParameters) {
    driver::expect(scripts::share_five_of_three_then_cancel());
    std::int32_t k = -1, n = -1;
    EXPECT_EQ(getSShareCBK(0, &k, &n), 0);
    EXPECT_EQ(k, -1);
    EXPECT_TRUE(shot("dialog-576"));
}

TEST_F(Windows, InsertTheMedium) {
    driver::answer_box(IDYES);
    EXPECT_EQ(devReqReady("a:\\", 0), 1);
}

}  // namespace
}  // namespace gorget::test
