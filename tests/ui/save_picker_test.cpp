// The save-file picker without owner, as the platform's save question asks
// it: the offered name shown with the default extension on it, the chosen
// path handed back with the default extension added when it has none, and
// a cancel or a path the caller cannot hold answered as nothing.
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"

namespace gorget::test {
namespace {

class SavePicker : public Scripted {
  protected:
    std::int32_t ask(const std::string& offered, const std::string& ext = "cer",
                     std::int32_t size = 260) {
        buf_.assign(static_cast<std::size_t>(size > 0 ? size : 1), 'x');
        const std::string title = cp1251("Сохранить сертификат в файле...");
        const std::string filter =
            cp1251("Файлы *.pem|*.pem|Файлы *.cer|*.cer|Все файлы (*.*)|*.*||");
        return GorgetSaveFileA(title.c_str(), filter.c_str(), 1, ext.c_str(), offered.c_str(),
                               0x6, buf_.data(), size);
    }
    std::string answer(std::int32_t n) { return n > 0 ? std::string(buf_.data(), n) : ""; }
    std::string buf_;
};

TEST_F(SavePicker, OfferedNameCarriesTheDefaultExtensionAndTheAnswerGetsItWhenBare) {
    driver::answer_file("/tmp/out/Ivanov.cer");
    driver::answer_file("/tmp/out/typed");
    driver::answer_file("/tmp/out.d/notes.txt");
    EXPECT_EQ(answer(ask(cp1251("Иванов"))), "/tmp/out/Ivanov.cer");
    EXPECT_EQ(buf_[19], '\0');
    EXPECT_EQ(answer(ask("example.com")), "/tmp/out/typed.cer");
    EXPECT_EQ(answer(ask("list.pem")), "/tmp/out.d/notes.txt");
    const auto asked = driver::files_asked();
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].title, "Сохранить сертификат в файле...");
    EXPECT_EQ(asked[0].proposed_name, "Иванов.cer");
    EXPECT_EQ(asked[1].proposed_name, "example.com.cer");
    EXPECT_EQ(asked[2].proposed_name, "list.pem");
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(SavePicker, CancelAndPathsTooLongAnswerNothing) {
    driver::answer_file(std::nullopt);
    EXPECT_EQ(ask("a"), 0);
    EXPECT_EQ(buf_[0], '\0');
    driver::answer_file("/tmp/" + std::string(300, 'n'));
    EXPECT_EQ(ask("a"), 0);
    EXPECT_EQ(buf_[0], '\0');
    driver::answer_file("/tmp/abc.cer");
    EXPECT_EQ(ask("a", "cer", 12), 0);
    driver::answer_file("/tmp/abc.cer");
    EXPECT_EQ(ask("a", "cer", 13), 12);
    EXPECT_EQ(GorgetSaveFileA(nullptr, nullptr, 0, nullptr, nullptr, 0, nullptr, 260), 0);
    EXPECT_EQ(driver::failures(), 0);
}

}  // namespace
}  // namespace gorget::test
