// The key-container chooser played by the dialog library's scripted driver:
// captions by mode, the start path, the answer's form, Cancel, and media the
// chooser may not offer.
#include <gtest/gtest.h>

#include <string>

#include "enrol/device_chooser.h"
#include "tests/enrol/chooser/gorget_ui.h"
#include "ui/chooser.h"
#include "ui/driver.h"

namespace cadb::enrol::test {
namespace {

using gorget::ChooserDialog;
using gorget::DialogHandle;
namespace driver = gorget::driver;

class KeyContainerChooser : public ::testing::Test {
  protected:
    void SetUp() override { driver::use(driver::Mode::models); }
    void TearDown() override { EXPECT_EQ(driver::failures(), 0); }
    // Plays the dialog: checks what it starts with, answers path (or
    // cancels when path is null).
    std::string choose(const std::string& start, bool folder_only, bool fs_only,
                       const char* answer, const std::string& expected_caption = "",
                       const std::string& expected_start = "") {
        driver::expect([&](DialogHandle& h) {
            if (!expected_caption.empty()) {
                EXPECT_EQ(h.caption(), expected_caption);
            }
            EXPECT_EQ(h.text(ChooserDialog::kPath), expected_start);
            if (answer == nullptr) {
                h.press(gorget::IDCANCEL);
                return;
            }
            h.replace(ChooserDialog::kPath, answer);
            h.press(gorget::IDOK);
        });
        return ChooseKeyContainer(ui_, start, folder_only, fs_only);
    }
    LinkedGorgetUI ui_;
};

TEST_F(KeyContainerChooser, FolderModeEndsTheAnswerWithABackslash) {
    EXPECT_EQ(choose("a:\\keys", true, false, "a:\\store", "Выбор папки", "a:\\keys"),
              "a:\\store\\");
    EXPECT_EQ(choose("a:\\keys", true, false, "a:\\keys\\", "", "a:\\keys"), "a:\\keys\\");
}

TEST_F(KeyContainerChooser, FileModeKeepsTheAnswer) {
    EXPECT_EQ(choose("", false, true, "a:\\keys\\00000001.key", "Выбор файла", ""),
              "a:\\keys\\00000001.key");
}

TEST_F(KeyContainerChooser, CancelGivesTheStartPath) {
    EXPECT_EQ(choose("a:\\keys", true, false, nullptr, "", "a:\\keys"), "a:\\keys");
    EXPECT_EQ(choose("", false, false, nullptr), "");
}

TEST_F(KeyContainerChooser, AShorterAnswerIsNotMixedWithTheStartPath) {
    EXPECT_EQ(choose("a:\\a-rather-long-folder-name", true, false, "b:", "",
                     "a:\\a-rather-long-folder-name"),
              "b:\\");
}

TEST_F(KeyContainerChooser, AStartPathTooLongForTheRecordStartsEmpty) {
    const std::string start = "a:\\" + std::string(300, 'k');
    EXPECT_EQ(choose(start, true, false, nullptr, "", ""), start);
    EXPECT_EQ(choose(start, true, false, "a:\\k", "", ""), "a:\\k\\");
}

TEST_F(KeyContainerChooser, DevicesTheChooserMayNotOffer) {
    // With the file system only, a device path is no answer.
    EXPECT_EQ(choose("a:\\", true, true, "etoken0:\\keys", "", "a:\\"), "a:\\");
    // A token that is not inserted is not offered either.
    EXPECT_EQ(choose("a:\\", true, false, "pkcs11:\\no-such-module\\x", "", "a:\\"), "a:\\");
    EXPECT_TRUE(DeviceOffered("a:\\keys", true));
    EXPECT_TRUE(DeviceOffered("/tmp/keys", true));
    EXPECT_FALSE(DeviceOffered("rutoken0:\\0001", true));
}

TEST_F(KeyContainerChooser, NoDialogGivesTheStartPath) {
    // No script: the driver closes the dialog and counts it; the caller gets
    // the start path back.
    driver::use(driver::Mode::automatic);
    EXPECT_EQ(ChooseKeyContainer(ui_, "a:\\keys", true, false), "a:\\keys");
}

}  // namespace
}  // namespace cadb::enrol::test
