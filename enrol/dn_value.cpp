#include "enrol/dn_value.h"

namespace cadb::enrol {

namespace {

// Where "keyword=" first stands at the start of text or right after the
// separator; npos when nowhere.
std::size_t find_pair(std::string_view text, std::string_view keyword,
                      std::string_view separator) {
    const std::string key = std::string(keyword) + "=";
    for (std::size_t at = text.find(key); at != std::string_view::npos;
         at = text.find(key, at + 1)) {
        if (at == 0) return at;
        if (!separator.empty() && at >= separator.size() &&
            text.substr(at - separator.size(), separator.size()) == separator)
            return at;
    }
    return std::string_view::npos;
}

// Whether a keyword and "=" stand at pos.
bool keyword_at(std::string_view text, std::size_t pos) {
    for (std::string_view w : kDNKeywords)
        if (text.substr(pos, w.size()) == w && pos + w.size() < text.size() &&
            text[pos + w.size()] == '=')
            return true;
    return false;
}

}  // namespace

std::string GetDNValue(std::string_view text, std::string_view keyword,
                       std::string_view separator, char quote) {
    if (keyword.empty()) return {};
    const std::size_t at = find_pair(text, keyword, separator);
    if (at == std::string_view::npos) return {};
    const std::string_view rest = text.substr(at + keyword.size() + 1);

    std::string_view value;
    std::size_t end = std::string_view::npos;
    if (!separator.empty()) {
        for (std::size_t s = rest.find(separator); s != std::string_view::npos;
             s = rest.find(separator, s + 1)) {
            if (keyword_at(rest, s + separator.size())) {
                end = s;
                break;
            }
        }
    }
    if (end != std::string_view::npos)
        value = rest.substr(0, end);
    else if (!rest.empty())
        value = rest.substr(0, rest.size() - 1);

    // One quote alone is no quoted value: only a pair is taken off.
    if (quote != 0 && value.size() >= 2 && value.front() == quote && value.back() == quote)
        value = value.substr(1, value.size() - 2);

    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        out += value[i];
        if (value[i] == '"' && i + 1 < value.size() && value[i + 1] == '"') ++i;
    }
    return out;
}

}  // namespace cadb::enrol
