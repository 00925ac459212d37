// The key-usage bits a request asks for, from the purposes (extended key
// usages in dotted form) the page lists, and the algorithm row the key is
// made with.
#pragma once

#include <cstdint>
#include <string_view>

namespace cadb::enrol {

// Bits of the key-usage extension.
enum : std::int32_t {
    KU_DIGITAL_SIGNATURE = 1,
    KU_NON_REPUDIATION = 2,
    KU_KEY_ENCIPHERMENT = 4,
    KU_DATA_ENCIPHERMENT = 8,
    KU_KEY_AGREEMENT = 16,
};

// The mask for the separator-split purposes (each trimmed of blanks) and the
// provider index; -1 when a piece is neither a known purpose nor made only of
// digits and dots. keyUsageCritical is always set; extendedKeyUsageCritical
// only when time stamping is listed.
std::int32_t KeyUsageFromPurposes(std::string_view usage, std::int32_t providerIndex,
                                  bool* keyUsageCritical, bool* extendedKeyUsageCritical,
                                  std::string_view separator = ",");

}  // namespace cadb::enrol
