// Code pages. The system's narrow text is Windows code page 1251, as on the
// original system, so that stored names and passwords stay byte for byte the
// same; conversions to and from Unicode go through iconv.
#pragma once

#include <cstddef>
#include <span>

namespace cadb {

inline constexpr const char* kLocalCodePage = "CP1251";
inline constexpr const char* kUtf8 = "UTF-8";

// Converts in from one iconv encoding to another into out. The number of
// bytes written, or -1 when the conversion is refused or out is too small.
// Nothing but out is written, so callers holding secrets wipe only out.
long codepage_convert(const char* from, const char* to, std::span<const unsigned char> in,
                      std::span<unsigned char> out);

}  // namespace cadb
