#include "platform/com/bstr.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/codepage.h"

namespace cadb::com {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

std::uint32_t* header(BSTR s) { return reinterpret_cast<std::uint32_t*>(s) - 1; }

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

BSTR SysAllocStringLen(const char16_t* text, std::uint32_t len) {
    if (len > (UINT32_MAX - 8) / 2) return nullptr;
    auto* block = static_cast<std::uint32_t*>(std::malloc(4 + (std::size_t{len} + 1) * 2));
    if (!block) return nullptr;
    block[0] = len * 2;
    auto* s = reinterpret_cast<char16_t*>(block + 1);
    if (text)
        std::memcpy(s, text, std::size_t{len} * 2);
    else
        std::memset(s, 0, std::size_t{len} * 2);
    s[len] = 0;
    return s;
}

BSTR SysAllocString(const char16_t* text) {
    if (!text) return nullptr;
    return SysAllocStringLen(text,
                             static_cast<std::uint32_t>(std::char_traits<char16_t>::length(text)));
}

void SysFreeString(BSTR s) {
    if (s) std::free(header(s));
}

std::uint32_t SysStringLen(BSTR s) { return s ? *header(s) / 2 : 0; }

BSTR bstr_from_utf16(std::u16string_view text) {
    return SysAllocStringLen(text.data(), static_cast<std::uint32_t>(text.size()));
}

BSTR bstr_from_utf8(std::string_view text) { return bstr_from_utf16(utf8_to_utf16(text)); }

BSTR bstr_from_ansi(std::string_view text) {
    if (text.empty()) return SysAllocStringLen(nullptr, 0);
    std::vector<unsigned char> utf8(text.size() * 3);
    long n =
        codepage_convert(kLocalCodePage, kUtf8,
                         {reinterpret_cast<const unsigned char*>(text.data()), text.size()}, utf8);
    if (n < 0) return nullptr;
    return bstr_from_utf8(
        {reinterpret_cast<const char*>(utf8.data()), static_cast<std::size_t>(n)});
}

std::u16string_view bstr_view(BSTR s) { return s ? std::u16string_view(s, SysStringLen(s)) : u""; }

std::string bstr_to_utf8(BSTR s) { return utf16_to_utf8(bstr_view(s)); }

std::optional<std::string> bstr_to_ansi(BSTR s) {
    std::string utf8 = bstr_to_utf8(s);
    if (utf8.empty()) return std::string();
    std::string out(utf8.size(), '\0');
    long n = codepage_convert(kUtf8, kLocalCodePage,
                              {reinterpret_cast<const unsigned char*>(utf8.data()), utf8.size()},
                              {reinterpret_cast<unsigned char*>(out.data()), out.size()});
    if (n < 0) return std::nullopt;
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char b = static_cast<unsigned char>(text[i]);
        int extra = b < 0x80             ? 0
                    : (b & 0xE0) == 0xC0 ? 1
                    : (b & 0xF0) == 0xE0 ? 2
                    : (b & 0xF8) == 0xF0 ? 3
                                         : -1;
        char32_t c = b & (0x7F >> (extra > 0 ? extra + 1 : 0));
        bool ok = extra >= 0;
        for (int k = 1; ok && k <= extra; ++k) {
            if (i + k >= text.size()) {
                ok = false;
                break;
            }
            unsigned char cont = static_cast<unsigned char>(text[i + k]);
            if ((cont & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (cont & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (ok && (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            out += kReplacement;
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 | (c >> 10));
            out += static_cast<char16_t>(0xDC00 | (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
        i += static_cast<std::size_t>(extra) + 1;
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = kReplacement;
        }
        append_utf8(out, c);
    }
    return out;
}

}  // namespace cadb::com
