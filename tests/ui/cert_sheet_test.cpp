#include "ui/cert_sheet.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"
#include "ui/message_kinds.h"

namespace gorget::test {
namespace {

namespace fs = std::filesystem;

class CertSheet : public Scripted {
  protected:
    void SetUp() override {
        Scripted::SetUp();
        dir_ = fs::temp_directory_path() /
               ("gorget-certs-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        fs::remove_all(dir_);
        Scripted::TearDown();
    }
    static std::string read(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    fs::path dir_;
};

TEST_F(CertSheet, OnePagePerTextTitledClientThenCaByNumber) {
    std::string a = cp1251("Субъект: клиент\nСерийный номер: 1"), b = "ca one", c = "ca two";
    char* texts[] = {a.data(), b.data(), c.data()};
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Сертификаты");
        EXPECT_EQ(h.items(12320),
                  (std::vector<std::string>{"Сертификат клиента", "Сертификат УЦ(1)",
                                            "Сертификат УЦ(2)"}));
        EXPECT_EQ(h.text(1004), "Субъект: клиент\r\nСерийный номер: 1");
        h.select(12320, 2);
        EXPECT_EQ(h.text(1004), "ca two");
        EXPECT_TRUE(h.press(1006));  // installs nothing
        EXPECT_FALSE(h.finished());
        h.press(IDOK);
    });
    EXPECT_EQ(acceptPKCS7CBK(texts, 3, nullptr), 0);
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(CertSheet, NoTextsShowNothing) {
    EXPECT_EQ(acceptPKCS7CBK(nullptr, 3, nullptr), 0);
    char* none[] = {nullptr};
    EXPECT_EQ(acceptPKCS7CBK(none, 0, nullptr), 0);
    EXPECT_TRUE(driver::dialogs_seen().empty());
}

TEST_F(CertSheet, SavingAsksBeforeWritingAndWritesTheTextAsGiven) {
    std::string a = "client\nline two", b = "ca";
    char* texts[] = {a.data(), b.data()};
    std::string name_a = "client.cer", name_b = cp1251("уц.cer");
    char* names[] = {name_a.data(), name_b.data()};
    const fs::path target = dir_ / "mine";
    driver::answer_file(target.string());
    driver::answer_box(IDNO);
    driver::answer_file(target.string());
    driver::answer_box(IDYES);
    driver::expect([](DialogHandle& h) {
        h.select(12320, 1);
        h.press(1005);  // refused at the question
        h.select(12320, 0);
        h.press(1005);
        h.close();
    });
    EXPECT_EQ(acceptPKCS7CBK(texts, 2, names), 0);
    const auto asked = driver::files_asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].proposed_name, "уц.cer");
    EXPECT_EQ(asked[0].title, "Файл для сохранения сертификата...");
    EXPECT_EQ(asked[1].proposed_name, "client.cer");
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 2u);
    const std::string full = (dir_ / "mine.cer").string();
    EXPECT_EQ(boxes[0].text, "Сохранить сертификат в файле " + full + "?");
    EXPECT_EQ(boxes[0].caption, "Вопрос");
    EXPECT_EQ(boxes[0].type, MB_ICONQUESTION | MB_YESNO);
    EXPECT_EQ(read(full), "client\nline two");
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(CertSheet, NoAtTheQuestionWritesNothing) {
    std::string a = "client";
    char* texts[] = {a.data()};
    driver::answer_file((dir_ / "x.crt").string());
    driver::answer_box(IDNO);
    driver::expect([](DialogHandle& h) {
        h.press(1005);
        h.press(IDOK);
    });
    acceptPKCS7CBK(texts, 1, nullptr);
    EXPECT_FALSE(fs::exists(dir_ / "x.crt"));
    ASSERT_EQ(driver::files_asked().size(), 1u);
    EXPECT_EQ(driver::files_asked()[0].proposed_name, "");
}

TEST_F(CertSheet, AFailedWriteIsReported) {
    std::string a = "client";
    char* texts[] = {a.data()};
    driver::answer_file((dir_ / "missing" / "x.cer").string());
    driver::answer_box(IDYES);
    driver::answer_box(IDOK);
    driver::expect([](DialogHandle& h) {
        h.press(1005);
        h.press(IDOK);
    });
    acceptPKCS7CBK(texts, 1, nullptr);
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "Ошибка записи файла сертификата");
    EXPECT_EQ(boxes[1].caption, "Ошибка");
    EXPECT_EQ(boxes[1].type, MB_ICONSTOP | MB_OK);
}

TEST(MessageKinds, CaptionsAndButtons) {
    const std::pair<int, unsigned> expected[] = {{34, 0x40}, {16, 0x10},  {16, 0x15},
                                                 {35, 0x24}, {35, 0x124}, {8, 0x30}};
    for (int kind = 0; kind < 6; ++kind) {
        EXPECT_EQ(message_kind_style(kind).caption_id, expected[kind].first) << kind;
        EXPECT_EQ(message_kind_style(kind).type, expected[kind].second) << kind;
    }
}

}  // namespace
}  // namespace gorget::test
