#include "ui/password_dialogs.h"

#include <algorithm>

#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {
namespace {

Control text_at(int row, std::string text) {
    return Control{.id = kStatic, .kind = Kind::label, .text = std::move(text), .row = row};
}

Control password_at(int row, int id, std::string label, std::size_t limit) {
    return Control{.id = id,
                   .kind = Kind::password,
                   .label = std::move(label),
                   .row = row,
                   .max_chars = limit};
}

Control button(int id, std::string text, bool enabled = true) {
    return Control{
        .id = id, .kind = Kind::button, .text = std::move(text), .row = -1, .enabled = enabled};
}

std::string_view without_trailing_blanks(std::string_view s) {
    const std::size_t end = s.find_last_not_of(' ');
    return end == std::string_view::npos ? std::string_view() : s.substr(0, end + 1);
}

}  // namespace

GetPasswordDialog::GetPasswordDialog(const std::string& prompt, std::size_t limit)
    : Dialog(kTemplate, prompt.empty() ? "Проверка прав доступа" : prompt) {
    add(text_at(0, "Введите пароль"));
    add(password_at(1, kField, "", std::min(limit, kPasswordLimit)));
    add(button(IDOK, "OK"));
    add(button(IDCANCEL, "Отмена"));
}

void GetPasswordDialog::command(int id) { finish(id == IDOK ? IDOK : IDCANCEL); }

NewPasswordDialog::NewPasswordDialog(const std::string& prompt, std::size_t limit)
    : Dialog(kTemplate, prompt.empty() ? "Задать пароль" : prompt) {
    const std::size_t n = std::min(limit, kPasswordLimit);
    add(password_at(0, kFirst, "Введите пароль", n));
    add(password_at(1, kSecond, "Подтвердите ввод", n));
    add(button(IDOK, "OK", false));
    add(button(IDCANCEL, "Отмена"));
}

void NewPasswordDialog::changed(int) {
    // Both conditions at every change: deciding on one field alone would
    // let a confirmation that no longer matches through.
    const std::string& first = find(kFirst)->text;
    const bool long_enough = utf8_length(without_trailing_blanks(first)) >= kMinNewPassword;
    enable(IDOK, long_enough && first == find(kSecond)->text);
}

void NewPasswordDialog::command(int id) { finish(id == IDOK ? IDOK : IDCANCEL); }

namespace {

struct TokenTexts {
    int template_id;
    const char* caption;
    int field;
    const char* label;
};

TokenTexts token_texts(TokenPinDialog::Token token) {
    switch (token) {
        case TokenPinDialog::Token::etoken:
            return {527, "Введите пароль для доступа к eToken", 1595, "Пароль:"};
        case TokenPinDialog::Token::rutoken:
            return {1008, "Введите пароль для доступа к ruToken", 1007, "Пороль:"};
        case TokenPinDialog::Token::pkcs11:
            break;
    }
    return {1009, "Пароль для доступа к устройству PKCS#11", 1008, "Пароль:"};
}

}  // namespace

TokenPinDialog::TokenPinDialog(Token token, std::size_t limit)
    : Dialog(token_texts(token).template_id, token_texts(token).caption),
      field_(token_texts(token).field) {
    add(password_at(0, field_, token_texts(token).label, limit));
    add(button(IDOK, "OK"));
}

void TokenPinDialog::command(int id) { finish(id == IDOK ? IDOK : IDCANCEL); }

ShareParamsDialog::ShareParamsDialog() : Dialog(kTemplate, "Параметры разделения секрета") {
    add(Control{.id = kThreshold,
                .kind = Kind::spin,
                .label = "Пороговое значение ",
                .row = 0,
                .min = 2,
                .max = 32,
                .value = 2});
    add(Control{.id = kNumber,
                .kind = Kind::spin,
                .label = "Число ключевых носителей",
                .row = 1,
                .min = 2,
                .max = 64,
                .value = 2});
    add(button(kAccept, "Принять..."));
    add(button(IDCANCEL, "Отмена"));
}

void ShareParamsDialog::changed(int) { enable(kAccept, number() >= threshold()); }

void ShareParamsDialog::command(int id) {
    if (id != kAccept) {
        finish(IDCANCEL);
        return;
    }
    const int k = threshold(), n = number();
    if (k < 2 || k > 32 || n < 2 || n > 64 || n < k) return;
    const std::string question = format(ui_string(IDS_SHARE_CONFIRM).c_str(), k, n, n, k, n, n);
    if (host().message_box(question, ui_string(IDS_WARNING), MB_YESNO | MB_ICONSTOP) == IDYES)
        finish(IDOK);
}

}  // namespace gorget
