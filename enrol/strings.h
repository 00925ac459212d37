// The enrolment library's own string table (language 1049): the prompts for
// key-store and key passwords and the texts of its message boxes, in code
// page 1251 as the dialog library shows them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cadb::enrol {

enum QuillonStringId : int {
    IDS_PSE_PASSWORD = 101,     // key-store password
    IDS_SIGNER_PSE_PASSWORD = 102,  // password of the signer's key store
    IDS_WRONG_PASSWORD = 103,   // message box text
    IDS_ERROR_CAPTION = 104,
    IDS_KEY_PASSWORD = 107,     // key password, "%s" the key file path
    IDS_KEY_SAVE_FALLBACK = 108,  // "%s" the wanted path, "%s" the path saved to
    IDS_WARNING_CAPTION = 109,
    IDS_NEW_KEY_PASSWORD = 111,  // new password for the private key
    IDS_FILTER_DER = 113,        // save-dialog filter lists ("Name|pattern|...||")
    IDS_SAVE_CERT_TITLE = 114,
    IDS_FILTER_CERT_ANY = 115,
    IDS_FILTER_CRL = 116,
    IDS_SAVE_CRL_TITLE = 117,
    IDS_FILTER_PEM = 118,
};

// The text of id in code page 1251; empty for an id the table does not hold.
std::string QuillonString(int id);

// UTF-8 text in code page 1251; nullopt when a character has no place there.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// The same text as UTF-8 (for logs and tests).
const char* QuillonStringUtf8(int id);

}  // namespace cadb::enrol
