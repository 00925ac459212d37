// The key-container chooser on real GTK windows (run under xvfb-run): the
// device list, the tree listed as it is expanded through its expanders, the
// PIN dialog a token asks for from inside the chooser's window, the answer,
// and pictures of the dialog in the build tree.
#include <gtest/gtest.h>

#include <string>

#include "enrol/device_chooser.h"
#include "enrol/key_container_dialog.h"
#include "tests/enrol/chooser/chooser_fixture.h"
#include "tests/support/pictures.h"
#include "ui/renderer.h"

namespace cadb::enrol::test {
namespace {

namespace driver = gorget::driver;
using D = KeyContainerDialog;
using gorget::DialogHandle;

int item(DialogHandle& h, const std::string& text, int parent) {
    const auto nodes = h.nodes(D::kTree);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        if (nodes[i].text == text && nodes[i].parent == parent) return static_cast<int>(i);
    return -1;
}

class KeyContainerChooserWindow : public ChooserFixture {
  protected:
    void SetUp() override {
        ChooserFixture::SetUp();
        driver::use(driver::Mode::windows);
        driver::set_screenshot_dir(ENROL_SCREENSHOT_DIR);
        ASSERT_NE(gorget::gtk_renderer(), nullptr) << "run under xvfb-run";
    }
    bool pictured(const std::string& name) const { return pictures_.made(name); }

    cadb::test::Pictures pictures_{ENROL_SCREENSHOT_DIR};
};

TEST_F(KeyContainerChooserWindow, ListsTheDrivesFoldersAndFilesAndAnswers) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Выбор файла");
        EXPECT_EQ(h.items(D::kDevices), std::vector<std::string>{"Мой компьютер"});
        EXPECT_EQ(h.selected(D::kDevices), 0);
        EXPECT_EQ(h.text(D::kPath), "b:\\keys");
        const int b = item(h, "b:\\", -1);
        ASSERT_GE(b, 0);
        ASSERT_TRUE(h.expand(D::kTree, b));
        const int keys = item(h, "keys", b);
        ASSERT_GE(keys, 0);
        EXPECT_GE(item(h, "notes.txt", b), 0);
        ASSERT_TRUE(h.expand(D::kTree, keys));
        const int key = item(h, "00000001.key", keys);
        ASSERT_GE(key, 0);
        ASSERT_TRUE(h.select(D::kTree, key));
        EXPECT_EQ(h.selected(D::kTree), key);
        EXPECT_EQ(h.text(D::kPath), "b:\\keys\\00000001.key");
        h.screenshot("key-container-file");
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(ChooseKeyContainer(RunLinked, "b:\\keys", false, false), "b:\\keys\\00000001.key");
    EXPECT_TRUE(pictured("dialog-202"));
    EXPECT_TRUE(pictured("key-container-file"));
}

TEST_F(KeyContainerChooserWindow, ATokenAsksItsPinFromInsideTheWindow) {
    offer_token("rtPKCS11ECP");
    put_objects("mykey", "user-cert", "ca-cert");
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Выбор папки");
        EXPECT_EQ(h.items(D::kDevices),
                  (std::vector<std::string>{"Мой компьютер", "ruToken ECP (slot 0)"}));
        EXPECT_EQ(h.selected(D::kDevices), 1);
        // The PIN dialog opens while the tree lists the token.
        driver::expect([](DialogHandle& pin) {
            EXPECT_EQ(pin.template_id(), 1009);
            pin.type(1008, "1234");
            pin.screenshot("key-container-pin");
            pin.press(gorget::IDOK);
        });
        ASSERT_TRUE(h.expand(D::kTree, 0));
        EXPECT_GE(item(h, "mykey", 0), 0);
        EXPECT_GE(item(h, "ca-cert", 0), 0);
        ASSERT_TRUE(h.select(D::kTree, 0));
        EXPECT_EQ(h.text(D::kPath), "pkcs110:\\rtPKCS11ECP");
        h.screenshot("key-container-token");
        h.press(gorget::IDOK);
    });
    EXPECT_EQ(ChooseKeyContainer(RunLinked, "pkcs110:\\rtPKCS11ECP\\x", true, false),
              "pkcs110:\\rtPKCS11ECP\\");
    EXPECT_TRUE(pictured("key-container-pin"));
}

}  // namespace
}  // namespace cadb::enrol::test
