#include <cstring>
#include <string>
#include <vector>

#include "tests/ui/scripts.h"
#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"
#include "ui/password_dialogs.h"

namespace gorget::test {
namespace {

using Passwords = Scripted;

TEST_F(Passwords, EnteredPasswordIsCopiedWithoutTerminatingZero) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 176);
        EXPECT_EQ(h.caption(), "Проверка прав доступа");
        EXPECT_TRUE(h.type(218, "secret"));
        EXPECT_TRUE(h.press(IDOK));
    });
    std::vector<char> buf(64, 'X');
    EXPECT_EQ(getPassCBK(buf.data(), 64, 0, nullptr), 6);
    EXPECT_EQ(std::string(buf.data(), 6), "secret");
    for (std::size_t i = 6; i < buf.size(); ++i) ASSERT_EQ(buf[i], 'X') << i;
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(Passwords, PromptBecomesTheCaptionAndTextsCrossInCodePage1251) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.caption(), "Пароль ключа [x]");
        EXPECT_TRUE(h.type(218, "пароль"));
        EXPECT_FALSE(h.type(218, "中"));  // no place for it in the code page
        h.press(IDOK);
    });
    char buf[32] = {};
    const std::string prompt = cp1251("Пароль ключа [x]");
    ASSERT_EQ(getPassCBK(buf, sizeof buf, 0, prompt.c_str()), 6);
    EXPECT_EQ(std::string(buf, 6), cp1251("пароль"));
}

TEST_F(Passwords, CancelLeavesTheBufferAlone) {
    driver::expect([](DialogHandle& h) {
        h.type(218, "typed");
        h.press(IDCANCEL);
    });
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(getPassCBK(buf, sizeof buf, 0, ""), 0);
    EXPECT_EQ(std::string(buf, 8), "ZZZZZZZZ");
    driver::expect([](DialogHandle& h) { h.close(); });
    EXPECT_EQ(putPassCBK(buf, sizeof buf, 0, nullptr), -1);
    EXPECT_EQ(std::string(buf, 8), "ZZZZZZZZ");
}

TEST_F(Passwords, ThousandTwentyFourCharactersAndNotOneMore) {
    driver::expect([](DialogHandle& h) {
        EXPECT_TRUE(h.type(218, std::string(1024, 'a')));
        EXPECT_FALSE(h.type(218, "b"));
        EXPECT_EQ(h.text(218).size(), 1024u);
        h.press(IDOK);
    });
    std::vector<char> buf(2048, 'X');
    EXPECT_EQ(getPassCBK(buf.data(), 2048, 0, nullptr), 1024);
    EXPECT_EQ(buf[1023], 'a');
    EXPECT_EQ(buf[1024], 'X');
}

TEST_F(Passwords, EntryIsBoundedByTheCallersBuffer) {
    driver::expect([](DialogHandle& h) {
        EXPECT_FALSE(h.type(218, "123456789"));
        EXPECT_EQ(h.text(218), "12345678");
        h.press(IDOK);
    });
    char buf[12];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(getPassCBK(buf, 8, 0, nullptr), 8);
    EXPECT_EQ(std::string(buf, 12), "12345678XXXX");
}

TEST_F(Passwords, NoBufferAsksNothing) {
    EXPECT_EQ(getPassCBK(nullptr, 10, 0, nullptr), 0);
    char c = 'X';
    EXPECT_EQ(putPassCBK(&c, 0, 0, nullptr), -1);
    EXPECT_EQ(getPass_ruTokenCBK(&c, -5, 0, nullptr), 0);
    EXPECT_TRUE(driver::dialogs_seen().empty());
}

TEST_F(Passwords, NewPasswordNeedsSixCharactersAndAMatchingConfirmation) {
    driver::expect(scripts::new_password_rules());
    char buf[16] = {};
    EXPECT_EQ(putPassCBK(buf, sizeof buf, 1, nullptr), 6);
    EXPECT_EQ(std::string(buf), "abcdef");
}

TEST_F(Passwords, TrailingBlanksDoNotCountTowardsTheMinimum) {
    driver::expect([](DialogHandle& h) {
        h.type(1413, "abcde  ");
        h.type(1414, "abcde  ");
        EXPECT_FALSE(h.enabled(IDOK));
        h.replace(1413, "abc def ");
        h.replace(1414, "abc def ");
        EXPECT_TRUE(h.enabled(IDOK));
        h.press(IDOK);
    });
    char buf[16] = {};
    EXPECT_EQ(putPassCBK(buf, sizeof buf, 1, cp1251("Новый").c_str()), 8);
    EXPECT_EQ(std::string(buf), "abc def ");
}

struct TokenCase {
    std::int32_t (*fn)(char*, std::int32_t, std::int32_t, void*);
    int template_id;
    int field;
    const char* caption;
};

TEST_F(Passwords, TokenPinDialogs) {
    const TokenCase cases[] = {
        {getPass_eTokenCBK, 527, 1595, "Введите пароль для доступа к eToken"},
        {getPass_ruTokenCBK, 1008, 1007, "Введите пароль для доступа к ruToken"},
        {getPass_pkcs11CBK, 1009, 1008, "Пароль для доступа к устройству PKCS#11"},
    };
    for (const TokenCase& c : cases) {
        driver::expect([&](DialogHandle& h) {
            EXPECT_EQ(h.template_id(), c.template_id);
            EXPECT_EQ(h.caption(), c.caption);
            EXPECT_FALSE(h.type(c.field, "1234567"));  // the caller's buffer holds 6
            h.press(IDOK);
        });
        char buf[8] = "XXXXXXX";
        EXPECT_EQ(c.fn(buf, 6, 0, nullptr), 6) << c.caption;
        EXPECT_EQ(std::string(buf), "123456X");
        driver::expect([](DialogHandle& h) { h.close(); });
        EXPECT_EQ(c.fn(buf, 6, 0, nullptr), 0);
    }
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(Passwords, RuTokenFieldKeepsItsLabel) {
    TokenPinDialog d(TokenPinDialog::Token::rutoken, 16);
    EXPECT_EQ(d.find(1007)->label, "Пороль:");
    TokenPinDialog e(TokenPinDialog::Token::etoken, 16);
    EXPECT_EQ(e.find(1595)->label, "Пароль:");
}

TEST_F(Passwords, ShareParametersRefuseAThresholdAboveTheNumber) {
    driver::expect(scripts::share_five_of_three_then_cancel());
    std::int32_t k = -7, n = -9;
    EXPECT_EQ(getSShareCBK(0, &k, &n), 0);
    EXPECT_EQ(k, -7);
    EXPECT_EQ(n, -9);
    EXPECT_TRUE(driver::boxes_seen().empty());
}

TEST_F(Passwords, ShareParametersAreConfirmedBeforeTheyAreKept) {
    driver::expect([](DialogHandle& h) {
        h.set_value(1659, 40);  // above the range: held at 32
        EXPECT_EQ(h.value(1659), 32);
        h.set_value(1659, 3);
        h.set_value(1657, 5);
        h.press(IDOK);  // answered No: the dialog stays
        EXPECT_FALSE(h.finished());
        h.press(IDOK);
    });
    driver::answer_box(IDNO);
    driver::answer_box(IDYES);
    std::int32_t k = 0, n = 0;
    EXPECT_EQ(getSShareCBK(0, &k, &n), 0);
    EXPECT_EQ(k, 3);
    EXPECT_EQ(n, 5);
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].caption, "Предупреждение");
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONSTOP);
    EXPECT_EQ(boxes[0].text.rfind("Вы выбрали параметры '3/5':\n- общее количество носителей - 5\n"
                                  "- необходимое для запуска Bascinet количество носителей - 3 "
                                  "(любые из 5).\nПожалуйста, подготовьте чистые ключевые "
                                  "носители (5 шт.).",
                                  0),
              0u);
}

TEST_F(Passwords, InsertTheMediumAsksYesOrNo) {
    driver::answer_box(IDYES);
    driver::answer_box(IDNO);
    const std::string path = cp1251("a:\\ключи");
    EXPECT_EQ(devReqReady(path.c_str(), 0), 1);
    EXPECT_EQ(devReqReady(path.c_str(), 0), 0);
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text,
              "Ключевой носитель для пути a:\\ключи не обнаружен. Установите ключевой носитель.");
    EXPECT_EQ(boxes[0].caption, "Ошибка");
    EXPECT_EQ(boxes[0].type, MB_YESNO | MB_ICONEXCLAMATION);
}

TEST(StringTable, ServedByIdInCodePage1251) {
    char buf[256];
    const std::int32_t n = GorgetLoadString(38, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), cp1251("Ошибка инициализации ГСЧ"));
    EXPECT_EQ(buf[n], '\0');
    EXPECT_EQ(GorgetLoadString(21, buf, sizeof buf), 0);
    EXPECT_EQ(buf[0], '\0');
    EXPECT_EQ(GorgetLoadString(16, buf, 4), 3);
    EXPECT_EQ(std::string(buf), cp1251("Ошибка").substr(0, 3));
    EXPECT_EQ(GorgetLoadString(16, nullptr, 4), 0);
    EXPECT_EQ(GorgetLoadString(4, buf, sizeof buf), 25);
    EXPECT_EQ(from_cp1251(buf), "Контейнер СКЗИ \"Vambrace\"");
}

}  // namespace
}  // namespace gorget::test
