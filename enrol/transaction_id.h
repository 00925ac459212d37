// The transaction identifier the enrolment object makes itself (UseInternalTID):
// random bytes carried as local (code page 1251) text in the TID property and
// put back into a CMC message as those same bytes.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace cadb::enrol {

inline constexpr std::size_t kInternalTidBytes = 32;

// A source of n random bytes; nullopt when it cannot give all of them.
using RandomDraw = std::function<std::optional<std::string>(int n)>;

// kInternalTidBytes bytes from draw, every one of them a character of the
// local code page: a zero byte would end the text early (an empty or short
// identifier) and 0x98 has no character in code page 1251 (the text would
// not convert), so such bytes are drawn again. The result is never longer
// than kInternalTidBytes. nullopt when the source fails.
std::optional<std::string> InternalTidBytes(const RandomDraw& draw);

// The same over the library's generator, as the UTF-16 text of the TID
// property. nullopt when the generator gives nothing.
std::optional<std::u16string> MakeInternalTid();

}  // namespace cadb::enrol
