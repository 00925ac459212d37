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
        case IDS_FILTER_DER: return "Файлы *.der|*.der|Все файлы (*.*)|*.*||";
        case IDS_SAVE_CERT_TITLE: return "Сохранить сертификат в файле...";
        case IDS_FILTER_CERT_ANY:
            return "Файлы *.der|*.der|Файлы *.pem|*.pem|Файлы *.cer|*.cer|Файлы *.crt|*.crt|"
                   "Все файлы (*.*)|*.*||";
        case IDS_FILTER_CRL: return "Файлы *.pem|*.pem|Файлы *.crl|*.crl|Все файлы (*.*)|*.*||";
        case IDS_SAVE_CRL_TITLE: return "Сохранить Список Отозванных Сертификатов в файле...";
        case IDS_FILTER_PEM:
            return "Файлы *.pem|*.pem|Файлы *.cer|*.cer|Файлы *.crt|*.crt|Все файлы (*.*)|*.*||";
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
