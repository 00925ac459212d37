// The password, PIN, share-parameter and insert-the-medium exports.
#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "ui/exports.h"
#include "ui/log.h"
#include "ui/password_dialogs.h"
#include "ui/renderer.h"
#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {
namespace {

std::string prompt_text(const char* prompt) {
    return prompt == nullptr ? std::string() : from_cp1251(prompt);
}

// Runs a dialog whose entry field goes to the caller's buffer: the length
// copied on OK, cancelled otherwise. The dialog refuses every character past
// size, so the copy always fits.
std::int32_t ask_secret(Dialog& d, int field, char* buffer, std::int32_t size,
                        std::int32_t cancelled) {
    renderer().run(d);
    std::int32_t result = cancelled;
    if (d.result() == IDOK) {
        std::string narrow;
        if (to_cp1251(d.find(field)->text, narrow) && narrow.size() <= std::size_t(size)) {
            std::memcpy(buffer, narrow.data(), narrow.size());
            result = static_cast<std::int32_t>(narrow.size());
        }
        OPENSSL_cleanse(narrow.data(), narrow.size());
    }
    d.wipe_entries();
    return result;
}

bool usable_buffer(const char* who, const char* buffer, std::int32_t size) {
    if (buffer != nullptr && size > 0) return true;
    log_line(std::string(who) + ": no room in the caller's buffer, nothing asked");
    return false;
}

std::int32_t token_pin(TokenPinDialog::Token token, const char* who, char* buffer,
                       std::int32_t size) {
    if (!usable_buffer(who, buffer, size)) return 0;
    TokenPinDialog d(token, static_cast<std::size_t>(size));
    return ask_secret(d, d.field(), buffer, size, 0);
}

}  // namespace
}  // namespace gorget

using namespace gorget;

GORGET_EXPORT std::int32_t getPassCBK(char* buffer, std::int32_t size, std::int32_t,
                                      const char* prompt) {
    if (!usable_buffer("getPassCBK", buffer, size)) return 0;
    GetPasswordDialog d(prompt_text(prompt), static_cast<std::size_t>(size));
    return ask_secret(d, GetPasswordDialog::kField, buffer, size, 0);
}

GORGET_EXPORT std::int32_t putPassCBK(char* buffer, std::int32_t size, std::int32_t,
                                      const char* prompt) {
    if (!usable_buffer("putPassCBK", buffer, size)) return -1;
    NewPasswordDialog d(prompt_text(prompt), static_cast<std::size_t>(size));
    return ask_secret(d, NewPasswordDialog::kFirst, buffer, size, -1);
}

GORGET_EXPORT std::int32_t getPass_eTokenCBK(char* buffer, std::int32_t size, std::int32_t, void*) {
    return token_pin(TokenPinDialog::Token::etoken, "getPass_eTokenCBK", buffer, size);
}

GORGET_EXPORT std::int32_t getPass_ruTokenCBK(char* buffer, std::int32_t size, std::int32_t,
                                              void*) {
    return token_pin(TokenPinDialog::Token::rutoken, "getPass_ruTokenCBK", buffer, size);
}

GORGET_EXPORT std::int32_t getPass_pkcs11CBK(char* buffer, std::int32_t size, std::int32_t, void*) {
    return token_pin(TokenPinDialog::Token::pkcs11, "getPass_pkcs11CBK", buffer, size);
}

GORGET_EXPORT std::int32_t getSShareCBK(std::int32_t, std::int32_t* threshold,
                                        std::int32_t* number) {
    ShareParamsDialog d;
    renderer().run(d);
    if (d.result() == IDOK) {
        if (threshold != nullptr) *threshold = d.threshold();
        if (number != nullptr) *number = d.number();
    }
    return 0;
}

GORGET_EXPORT std::int32_t devReqReady(const char* path, std::int32_t) {
    const std::string text =
        format(ui_string(IDS_INSERT_MEDIUM).c_str(), prompt_text(path).c_str());
    return renderer().message_box(text, ui_string(IDS_ERROR), MB_YESNO | MB_ICONEXCLAMATION) ==
                   IDYES
               ? 1
               : 0;
}

GORGET_EXPORT std::int32_t GorgetLoadString(std::uint32_t id, char* buffer, std::int32_t size) {
    if (buffer == nullptr || size <= 0 || id > 0xFFFF) return 0;
    std::string narrow;
    if (!to_cp1251(ui_string(static_cast<int>(id)), narrow)) narrow.clear();
    const std::size_t n = std::min(narrow.size(), static_cast<std::size_t>(size) - 1);
    std::memcpy(buffer, narrow.data(), n);
    buffer[n] = '\0';
    return static_cast<std::int32_t>(n);
}
