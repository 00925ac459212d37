#include "enrol/strings.h"

#include "platform/codepage.h"

namespace cadb::enrol {

const char* QuillonStringUtf8(int id) {
    switch (id) {
        case IDS_PSE_PASSWORD: return "Пароль хранилища секретных ключей";
        case IDS_SIGNER_PSE_PASSWORD: return "Пароль хранилища ключей подписи";
        case IDS_WRONG_PASSWORD: return "Введен неправильный пароль";
        case IDS_ERROR_CAPTION: return "Ошибка";
        case IDS_KEY_PASSWORD: return "Пароль ключа [%s]";
        case IDS_KEY_SAVE_FALLBACK:
            return "   Ошибка сохранения секретного ключа в файле '%s'.\n"
                   "Выполнено сохранение в файл '%s'.";
        case IDS_WARNING_CAPTION: return "Внимание!";
        case IDS_NEW_KEY_PASSWORD: return "Пароль для секретного ключа";
        default: return "";
    }
}

std::optional<std::string> Utf8ToAnsi(std::string_view text) {
    if (text.empty()) return std::string();
    // Every character of code page 1251 is one byte: the UTF-8 length is room.
    std::string out(text.size(), '\0');
    const long n = codepage_convert(
        kUtf8, kLocalCodePage, {reinterpret_cast<const unsigned char*>(text.data()), text.size()},
        {reinterpret_cast<unsigned char*>(out.data()), out.size()});
    if (n < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string QuillonString(int id) { return Utf8ToAnsi(QuillonStringUtf8(id)).value_or(""); }

}  // namespace cadb::enrol
