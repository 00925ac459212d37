#include "enrol/printable_request.h"

#include <algorithm>

#include "platform/com/bstr.h"

namespace cadb::enrol {

namespace {

constexpr std::size_t kLineWidth = 80;

}  // namespace

std::string RequestText(TPKCS10& request, int format) {
    if (request.setFormat(format) != 1) return {};
    TBuffer* encoded = request.getEncoded();
    if (encoded == nullptr || encoded->isEmpty()) return {};
    std::string text(reinterpret_cast<const char*>(encoded->getData()),
                     static_cast<std::size_t>(encoded->getLength()));
    // A terminating zero some encoders count is not part of the text.
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

std::string BreakPrintableLines(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / kLineWidth + 1);
    std::string_view rest = text;
    do {
        const std::size_t feed = rest.find('\n');
        if (feed == std::string_view::npos || feed >= kLineWidth - 1) {
            const std::size_t n = std::min(kLineWidth, rest.size());
            out.append(rest.substr(0, n));
            out.push_back('\n');
            rest.remove_prefix(n);
        } else {
            out.append(rest.substr(0, feed + 1));
            rest.remove_prefix(feed + 1);
        }
    } while (rest.size() > kLineWidth);
    out.append(rest);
    return out;
}

std::string PrintableRequestText(TPKCS10& request) {
    if (request.get() == nullptr) return {};
    std::string out = BreakPrintableLines(RequestText(request, TPKCS10::kFormatText));
    out += RequestText(request, TPKCS10::kFormatPEM);
    request.setFormat(TPKCS10::kFormatDER);
    return out;
}

void RefreshPrintableRequest(TPKCS10& request, std::u16string& printable) {
    printable.clear();
    const std::string text = PrintableRequestText(request);
    if (text.empty()) return;
    com::Bstr converted(com::bstr_from_ansi(text));
    if (converted) printable.assign(com::bstr_view(converted.get()));
}

}  // namespace cadb::enrol
