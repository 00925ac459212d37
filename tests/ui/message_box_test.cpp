// MessageBoxA as the other libraries call it: code page 1251 in, the box
// shown as the user sees it (UTF-8, the type's buttons and icon), the
// button pressed back.
#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"
#include "ui/model.h"

namespace gorget::test {
namespace {

using MessageBoxExport = Scripted;

TEST_F(MessageBoxExport, ShowsTheTextUnderItsCaptionAndReturnsTheButton) {
    driver::answer_box(IDYES);
    driver::answer_box(IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, cp1251("Сохранить ключ?").c_str(), cp1251("Вопрос").c_str(),
                          MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2),
              IDYES);
    EXPECT_EQ(MessageBoxA(nullptr, "", nullptr, MB_RETRYCANCEL | MB_ICONSTOP), IDCANCEL);
    const std::vector<driver::BoxSeen> seen = driver::boxes_seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "Сохранить ключ?");
    EXPECT_EQ(seen[0].caption, "Вопрос");
    EXPECT_EQ(seen[0].type, 0x124u);
    EXPECT_EQ(seen[1].text, "");
    EXPECT_EQ(seen[1].caption, "");
    EXPECT_EQ(seen[1].type, 0x15u);
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(MessageBoxExport, ABoxNobodyAnswersIsRefused) {
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_OKCANCEL), IDCANCEL);
    EXPECT_EQ(MessageBoxA(nullptr, "x", "y", MB_OK), IDOK);
    EXPECT_EQ(driver::failures(), 3);
}

}  // namespace
}  // namespace gorget::test
