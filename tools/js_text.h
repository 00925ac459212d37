// Text between the script engine and the component layer. The engine keeps
// strings as CESU-8 (UTF-8 in which a character beyond the first plane is a
// pair of encoded surrogates); BSTRs are UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace cadb::host {

std::u16string cesu8_to_utf16(std::string_view text);
std::string utf16_to_cesu8(std::u16string_view text);

}  // namespace cadb::host
