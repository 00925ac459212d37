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
// Nothing but out is written, so callers holding secrets wipe only out. Each
// thread opens a pair's converter once and keeps it.
long codepage_convert(const char* from, const char* to, std::span<const unsigned char> in,
                      std::span<unsigned char> out);

inline constexpr const char* kBmp = "UTF-16BE";

// Converts a whole text into new memory sized for it: OPENSSL_malloc'd
// bytes followed by at least `zeros` zero bytes, *out_len the converted length. Null
// when a byte sequence is not valid in `from`, a character has no place in
// `to`, or memory runs out. The room is wiped before it is given back, so
// secrets may pass through.
unsigned char* codepage_convert_new(const char* from, const char* to,
                                    std::span<const unsigned char> in, int zeros,
                                    std::size_t* out_len);

}  // namespace cadb
