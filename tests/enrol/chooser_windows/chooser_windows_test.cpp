// The key-container chooser on real GTK windows (run under xvfb-run): the
// same answer as on the models, and a picture of the dialog in the build tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "enrol/device_chooser.h"
#include "tests/enrol/chooser/gorget_ui.h"
#include "ui/chooser.h"
#include "ui/driver.h"
#include "ui/renderer.h"

namespace cadb::enrol::test {
namespace {

namespace driver = gorget::driver;

TEST(KeyContainerChooserWindow, ShowsTheStartPathAndAnswers) {
    driver::use(driver::Mode::windows);
    driver::set_screenshot_dir(ENROL_SCREENSHOT_DIR);
    ASSERT_NE(gorget::gtk_renderer(), nullptr) << "run under xvfb-run";
    driver::expect([](gorget::DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Выбор папки");
        EXPECT_EQ(h.text(gorget::ChooserDialog::kPath), "a:\\keys");
        h.screenshot("browse-devuces-start");
        h.replace(gorget::ChooserDialog::kPath, "a:\\store");
        h.screenshot("browse-devuces-answer");
        h.press(gorget::IDOK);
    });
    LinkedGorgetUI ui;
    EXPECT_EQ(ChooseKeyContainer(ui, "a:\\keys", true, false), "a:\\store\\");
    EXPECT_EQ(driver::failures(), 0);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(ENROL_SCREENSHOT_DIR) /
                                        "browse-devuces-start.png"));
}

}  // namespace
}  // namespace cadb::enrol::test
