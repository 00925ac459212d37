// Text at the library's edges: callers hand over and receive code page 1251,
// the dialogs hold UTF-8. Entry fields count characters, and a character the
// caller's code page cannot carry is refused as it is typed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gorget {

// Code page 1251 to UTF-8; bytes the code page leaves undefined become '?'.
std::string from_cp1251(std::string_view text);
// UTF-8 to code page 1251; false when a character has no place there.
bool to_cp1251(std::string_view utf8, std::string& out);

// Characters of a UTF-8 text.
std::size_t utf8_length(std::string_view utf8);
// The characters of a UTF-8 text, one string each.
std::vector<std::string> utf8_chars(std::string_view utf8);

// printf-style formatting into a std::string.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace gorget
