// A script's string as the library's narrow text: the local code page, or
// UTF-8 where a character has no place there (base64 bodies, paths and
// names typed in other scripts stay whole either way).
#pragma once

#include <string>

#include "platform/com/bstr.h"

namespace cadb::enrol {

inline std::string ansi_or_utf8(com::BSTR text) {
    if (auto ansi = com::bstr_to_ansi(text)) return *ansi;
    return com::bstr_to_utf8(text);
}

}  // namespace cadb::enrol
