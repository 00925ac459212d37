// The subject text of a request: pairs keyword=value separated by a
// separator (";" on the request roads), a value optionally in quotes with its
// inner quotes doubled.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace cadb::enrol {

// The keywords a value may be followed by; a separator followed by one of
// them and "=" ends the value before it.
inline constexpr std::array<std::string_view, 16> kDNKeywords = {
    "C",   "SP",        "L",         "O",   "OU",     "T",         "CN",
    "Email", "E",       "pseudonym", "postalAddress", "unstructuredName",
    "INN", "serialNumber", "rnsFSS", "kpFSS"};

// The value of keyword in text: found where "keyword=" starts the text or
// follows the separator; empty when absent. Without a following keyword the
// value is the rest without its last character (the closing separator of the
// last pair). A value both begun and ended by quote (quote not 0) loses those
// two characters; then every doubled double-quote becomes one.
std::string GetDNValue(std::string_view text, std::string_view keyword,
                       std::string_view separator, char quote);

}  // namespace cadb::enrol
