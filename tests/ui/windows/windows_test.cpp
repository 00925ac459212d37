// The driver's scripts on real GTK windows (run under xvfb-run): each dialog
// opens as a window, the same entry gives the same result, and a picture of
// each dialog is left in the build tree.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/support/pictures.h"
#include "tests/ui/scripts.h"
#include "ui/exports.h"
#include "ui/progress.h"
#include "ui/renderer.h"
#include "ui/seed_dialogs.h"

namespace gorget::test {
namespace {

class Windows : public ::testing::Test {
  protected:
    void SetUp() override {
        driver::use(driver::Mode::windows);
        driver::set_screenshot_dir(GORGET_SCREENSHOT_DIR);
        ASSERT_NE(gtk_renderer(), nullptr) << "run under xvfb-run";
    }
    void TearDown() override { EXPECT_EQ(driver::failures(), 0); }
    bool shot(const std::string& name) const { return pictures_.made(name); }

    cadb::test::Pictures pictures_{GORGET_SCREENSHOT_DIR};
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

TEST_F(Windows, Chooser) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.selected(1551), 3);
        h.screenshot("chooser-rutoken");
        h.select(1551, 4);
        EXPECT_EQ(h.text(1549), "pkcs11:");
        EXPECT_FALSE(h.enabled(1550));
        h.replace(1549, "");
        EXPECT_FALSE(h.enabled(IDOK));
        h.select(1551, 0);
        EXPECT_TRUE(h.enabled(1550));
        h.press(IDOK);
    });
    MediumRecord r{};
    std::memcpy(r.path, "rutoken:\\0", 11);
    EXPECT_EQ(dirOperationCBK("x", &r), 2);
    EXPECT_EQ(std::string(r.path, 2), "a:");
    EXPECT_EQ(r.medium_type, 0);
    EXPECT_TRUE(shot("dialog-1000"));
}

TEST_F(Windows, ProgressWindowFollowsTheCalls) {
    ASSERT_EQ(Init(), 0);
    for (int i = 0; i < 130; ++i) getProgressCBK(0, 0, 0);
    current_progress()->settle();
    DialogHandle* w = driver::modeless();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->text(1626), "Шаг 2");
    EXPECT_EQ(w->value(1625), 30);
    w->screenshot("progress-step-2");
    EXPECT_EQ(Free(), 0);
    EXPECT_EQ(driver::modeless(), nullptr);
    EXPECT_TRUE(shot("progress-step-2"));
}

std::vector<int> g_answers;
int ask_abc(cadb::PSE*, unsigned char*, cadb::GRAND_CHAR_CB cb, void*) {
    for (int i = 0; i < 3; ++i) {
        const int r = cb("abc"[i], i, 3, nullptr);
        g_answers.push_back(r);
        if (r == 0) return 0;
    }
    return 1;
}

TEST_F(Windows, SeedKeyDialogTakesTypedKeys) {
    g_answers.clear();
    driver::expect([](DialogHandle& h) {
        int question = 0;
        while (!h.finished()) {
            if (!h.active()) {
                h.tick();
                continue;
            }
            if (question == 1) {
                EXPECT_TRUE(h.enabled(1005));
                h.screenshot("seed-keys");
            }
            h.type(1588, question++ == 1 ? "x" : h.text(1589));
        }
    });
    EXPECT_EQ(rndInitCBK(ask_abc), 1);
    EXPECT_EQ(g_answers, (std::vector<int>{'a', 'b', 'c'}));
    EXPECT_TRUE(shot("seed-keys"));
}

TEST_F(Windows, SeedEventDialogCountsSynthesisedEvents) {
    int events = 0;
    driver::expect([](DialogHandle& h) {
        std::uint32_t t = 5000;
        h.key('a', t);
        h.key('a', t += 300);  // held down
        h.mouse_button(t += 300);
        for (int m = 0; m < 9; ++m) h.mouse_move(t += 300);
        EXPECT_EQ(h.value(1003), 3);
        h.screenshot("seed-events");
        h.key('b', t += 300);
    });
    SeedEventsDialog d(4, [&] { ++events; });
    renderer().run(d);
    EXPECT_EQ(d.result(), IDOK);
    EXPECT_EQ(events, 4);
    EXPECT_TRUE(shot("seed-events"));
}

TEST_F(Windows, CertificateSheet) {
    std::string a = "Certificate:\n    Subject: CN=client\n",
                b = "Certificate:\n    Subject: CN=CA\n";
    char* texts[] = {a.data(), b.data()};
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Сертификаты");
        EXPECT_EQ(h.selected(12320), 0);
        EXPECT_EQ(h.text(1004), "Certificate:\r\n    Subject: CN=client\r\n");
        h.select(12320, 1);
        EXPECT_EQ(h.text(1004), "Certificate:\r\n    Subject: CN=CA\r\n");
        h.screenshot("certificates-ca");
        h.close();
    });
    EXPECT_EQ(acceptPKCS7CBK(texts, 2, nullptr), 0);
    EXPECT_TRUE(shot("dialog-1005"));
}

}  // namespace
}  // namespace gorget::test
