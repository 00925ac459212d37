// The printable form of the last request, as P10_PrintableText hands it to a
// page: the request's printed text with its long lines broken at 80
// characters, followed by its PEM form.
#pragma once

#include <string>
#include <string_view>

#include "wrappers/tpkcs10.h"

namespace cadb::enrol {

// The request in one output format (DER, PEM, text) as bytes; empty when it
// cannot be encoded. A terminating zero some encoders count is dropped.
std::string RequestText(TPKCS10& request, int format);

// Breaks text into lines of at most 80 characters: a line that reaches the
// 80th character (its line feed included) is cut after 80 characters and a
// line feed added; shorter lines are kept; whatever is left once 80
// characters or fewer remain is appended unchanged. The first line is always
// looked at, so a short text without a line feed gains one.
std::string BreakPrintableLines(std::string_view text);

// The printable form of request in the local code page (its text form broken
// as above, then its PEM); empty when the object holds no library request.
// The request's output format is left at DER.
std::string PrintableRequestText(TPKCS10& request);

// Replaces printable with the printable form of request (UTF-16, as the
// object keeps its strings); cleared when the object holds no request.
void RefreshPrintableRequest(TPKCS10& request, std::u16string& printable);

}  // namespace cadb::enrol
