#include "ui/progress.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"

namespace gorget::test {
namespace {

class Progress : public Scripted {
  protected:
    void TearDown() override {
        Free();
        Scripted::TearDown();
    }
    static void settle() { current_progress()->settle(); }
};

TEST_F(Progress, CallsWithoutInitDoNothing) {
    EXPECT_EQ(getProgressCBK(0, 0, 0), 0);
    EXPECT_EQ(Free(), 0);
    EXPECT_TRUE(driver::dialogs_seen().empty());
}

TEST_F(Progress, AThreadNeverResumedEndsWithoutAWindow) {
    EXPECT_EQ(Init(), 0);
    EXPECT_FALSE(current_progress()->started());
    EXPECT_EQ(Free(), 0);
    EXPECT_EQ(current_progress(), nullptr);
    EXPECT_TRUE(driver::dialogs_seen().empty());
}

TEST_F(Progress, FirstCallStartsTheWindowAndNothingPostedIsLost) {
    ASSERT_EQ(Init(), 0);
    getProgressCBK(0, 0, 0);
    EXPECT_TRUE(current_progress()->started());
    settle();
    DialogHandle* w = driver::modeless();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->template_id(), 1003);
    EXPECT_EQ(w->caption(), "Выполнение операции");
    EXPECT_EQ(w->max(1625), 100);
    EXPECT_EQ(w->value(1625), 1);
    EXPECT_EQ(w->text(1626), "Шаг 1");
    EXPECT_EQ(Free(), 0);
    EXPECT_EQ(driver::modeless(), nullptr);
    EXPECT_EQ(driver::dialogs_seen(), std::vector<int>{1003});
}

TEST_F(Progress, AFullBarStartsTheNextStep) {
    ASSERT_EQ(Init(), 0);
    for (int i = 0; i < 99; ++i) getProgressCBK(0, 0, 0);
    settle();
    EXPECT_EQ(driver::modeless()->value(1625), 99);
    EXPECT_EQ(driver::modeless()->text(1626), "Шаг 1");
    getProgressCBK(0, 0, 0);
    settle();
    EXPECT_EQ(driver::modeless()->value(1625), 0);
    EXPECT_EQ(driver::modeless()->text(1626), "Шаг 2");
}

TEST_F(Progress, ANewInitEndsThePreviousWindow) {
    ASSERT_EQ(Init(), 0);
    getProgressCBK(0, 0, 0);
    ASSERT_EQ(Init(), 0);
    EXPECT_EQ(driver::modeless(), nullptr);
    getProgressCBK(0, 0, 0);
    settle();
    EXPECT_EQ(driver::modeless()->value(1625), 1);
    EXPECT_EQ(driver::dialogs_seen().size(), 2u);
}

TEST_F(Progress, AnsweringNoToTheQuitQuestionGoesOn) {
    ASSERT_EQ(Init(), 0);
    getProgressCBK(0, 0, 0);
    settle();
    driver::answer_box(IDNO);
    EXPECT_TRUE(driver::modeless()->press(IDCANCEL));
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Вы действительно хотите завершить программу?");
    EXPECT_EQ(boxes[0].caption, "Предупреждение");
    getProgressCBK(0, 0, 0);
    settle();
    EXPECT_EQ(driver::modeless()->value(1625), 2);
}

TEST_F(Progress, TitleAndNoteMessagesReachTheCaption) {
    ASSERT_EQ(Init(), 0);
    getProgressCBK(0, 0, 0);
    current_progress()->post(PM_TITLE, 0, 0, "RSA");
    current_progress()->post(PM_NOTE, 0, 0, "1024");
    settle();
    EXPECT_EQ(driver::modeless()->caption(), "RSA [1024]");
}

TEST(ProgressDialogModel, TitleAndNotes) {
    ProgressDialog d;
    d.note("ключ");
    EXPECT_EQ(d.caption(), "Выполняется операция [ключ]");
    d.set_title("RSA");
    EXPECT_EQ(d.caption(), "RSA");
    d.note("2048");
    EXPECT_EQ(d.caption(), "RSA [2048]");
    d.set_title("");
    EXPECT_EQ(d.caption(), "Выполняется операция []");
    d.set_range(10);
    for (int i = 0; i < 25; ++i) d.advance(1);
    EXPECT_EQ(d.step(), 3);
    EXPECT_EQ(d.find(ProgressDialog::kBar)->value, 5);
}

// Yes ends the process with code 3, and what the host had buffered in its
// log reaches the file first.
void quit_from_the_progress_window(const std::string& log_path) {
    driver::use(driver::Mode::models);
    FILE* log = std::fopen(log_path.c_str(), "w");
    static char buffer[4096];
    std::setvbuf(log, buffer, _IOFBF, sizeof buffer);
    std::fputs("generating a key\n", log);
    Init();
    getProgressCBK(0, 0, 0);
    current_progress()->settle();
    driver::answer_box(IDYES);
    driver::modeless()->press(IDCANCEL);
    std::_Exit(0);  // not reached
}

TEST(ProgressQuit, YesEndsTheProcessWithCode3AfterFlushingTheLog) {
    // The child runs this body again: the path must not depend on the process.
    const std::string log_path =
        (std::filesystem::canonical("/proc/self/exe").parent_path() / "progress-quit.log").string();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(quit_from_the_progress_window(log_path), ::testing::ExitedWithCode(3), "");
    std::ifstream in(log_path);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "generating a key\n");
    std::filesystem::remove(log_path);
}

}  // namespace
}  // namespace gorget::test
