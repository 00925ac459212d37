// Strings of the component layer: a BSTR points at UTF-16 text that is
// preceded by its length in bytes (32 bits) and followed by a zero, so it can
// hold zeros and its length is known without a scan. A null BSTR is the empty
// string. The caller of a method owns the strings it passes in; the method
// owns nothing of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/com/types.h"

namespace cadb::com {

using BSTR = char16_t*;

// A new string copied from text (len characters); null only when out of memory.
CADB_COM_API BSTR SysAllocStringLen(const char16_t* text, std::uint32_t len);
// A new string copied from a zero-terminated text; null for a null text.
CADB_COM_API BSTR SysAllocString(const char16_t* text);
// Frees a string (null is accepted).
CADB_COM_API void SysFreeString(BSTR s);
// Length in characters; 0 for null.
CADB_COM_API std::uint32_t SysStringLen(BSTR s);

CADB_COM_API BSTR bstr_from_utf16(std::u16string_view text);
// Malformed UTF-8 sequences become U+FFFD.
CADB_COM_API BSTR bstr_from_utf8(std::string_view text);
// Text in the system's narrow code page; null when it does not convert.
CADB_COM_API BSTR bstr_from_ansi(std::string_view text);

CADB_COM_API std::u16string_view bstr_view(BSTR s);
// Unpaired surrogates become U+FFFD.
CADB_COM_API std::string bstr_to_utf8(BSTR s);
// The text in the system's narrow code page; nullopt when a character has no
// place in it.
CADB_COM_API std::optional<std::string> bstr_to_ansi(BSTR s);

CADB_COM_API std::u16string utf8_to_utf16(std::string_view text);
CADB_COM_API std::string utf16_to_utf8(std::u16string_view text);

struct BstrFree {
    void operator()(char16_t* s) const { SysFreeString(s); }
};
// An owned string.
using Bstr = std::unique_ptr<char16_t, BstrFree>;

}  // namespace cadb::com
