#include "ui/text.h"

#include <cstdarg>
#include <cstdio>
#include <span>

#include "platform/codepage.h"

namespace gorget {

std::string from_cp1251(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    // One byte at a time, so an undefined byte (0x98) costs only itself.
    for (unsigned char c : text) {
        unsigned char buf[4];
        const long n = cadb::codepage_convert(cadb::kLocalCodePage, cadb::kUtf8,
                                              std::span<const unsigned char>(&c, 1), buf);
        if (n <= 0)
            out.push_back('?');
        else
            out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
    }
    return out;
}

bool to_cp1251(std::string_view utf8, std::string& out) {
    out.assign(utf8.size(), '\0');
    const long n = cadb::codepage_convert(
        cadb::kUtf8, cadb::kLocalCodePage,
        std::span<const unsigned char>(reinterpret_cast<const unsigned char*>(utf8.data()),
                                       utf8.size()),
        std::span<unsigned char>(reinterpret_cast<unsigned char*>(out.data()), out.size()));
    if (n < 0) {
        out.clear();
        return false;
    }
    out.resize(static_cast<std::size_t>(n));
    return true;
}

std::size_t utf8_length(std::string_view utf8) {
    std::size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

std::vector<std::string> utf8_chars(std::string_view utf8) {
    std::vector<std::string> chars;
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t j = i + 1;
        while (j < utf8.size() && (static_cast<unsigned char>(utf8[j]) & 0xC0) == 0x80) ++j;
        chars.emplace_back(utf8.substr(i, j - i));
        i = j;
    }
    return chars;
}

std::string format(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    va_list copy;
    va_copy(copy, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, copy);
    va_end(copy);
    std::string out;
    if (n > 0) {
        out.resize(static_cast<std::size_t>(n) + 1);
        std::vsnprintf(out.data(), out.size(), fmt, ap);
        out.resize(static_cast<std::size_t>(n));
    }
    va_end(ap);
    return out;
}

}  // namespace gorget
