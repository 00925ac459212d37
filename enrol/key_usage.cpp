#include "enrol/key_usage.h"

#include <string>
#include <vector>

namespace cadb::enrol {

namespace {

std::string_view trim_blanks(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool digits_and_dots(std::string_view s) {
    for (char c : s)
        if (!(c == '.' || (c >= '0' && c <= '9'))) return false;
    return true;
}

}  // namespace

std::int32_t KeyUsageFromPurposes(std::string_view usage, std::int32_t p, bool* keyUsageCritical,
                                  bool* extendedKeyUsageCritical, std::string_view separator) {
    if (keyUsageCritical) *keyUsageCritical = true;
    if (extendedKeyUsageCritical) *extendedKeyUsageCritical = false;
    std::int32_t mask = KU_DIGITAL_SIGNATURE;
    const bool gost_cp = p == 0 || p == 1;
    const bool rsa = p == 4;

    // An empty text is one empty piece.
    std::vector<std::string_view> pieces;
    if (separator.empty()) {
        pieces.push_back(usage);
    } else {
        for (std::size_t from = 0;;) {
            const std::size_t at = usage.find(separator, from);
            pieces.push_back(usage.substr(from, at == std::string_view::npos ? at : at - from));
            if (at == std::string_view::npos) break;
            from = at + separator.size();
        }
    }
    for (std::string_view raw : pieces) {
        const std::string_view piece = trim_blanks(raw);
        if (piece == "1.3.6.1.5.5.7.3.1") {  // server authentication
            if (gost_cp) mask |= 12;
            else if (rsa) mask |= 4;
        } else if (piece == "1.3.6.1.5.5.7.3.2") {  // client authentication
            if (gost_cp) mask |= 13;
        } else if (piece == "1.3.6.1.5.5.7.3.3") {  // code signing
            mask |= 3;
        } else if (piece == "1.3.6.1.5.5.7.3.4") {  // e-mail protection
            mask |= 19;
            if (rsa) mask = (mask & ~KU_KEY_AGREEMENT) | KU_KEY_ENCIPHERMENT;
            else if (gost_cp) mask |= 12;
        } else if (piece == "1.3.6.1.5.5.7.3.8") {  // time stamping
            mask |= 3;
            if (extendedKeyUsageCritical) *extendedKeyUsageCritical = true;
        } else if (digits_and_dots(piece)) {
            mask |= 19;
            if (rsa) mask = (mask & ~KU_KEY_AGREEMENT) | KU_KEY_ENCIPHERMENT;
        } else {
            return -1;
        }
    }
    return mask;
}

}  // namespace cadb::enrol
