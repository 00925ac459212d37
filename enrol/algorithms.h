// The algorithm table of the enrolment object: the signature rows a key can
// be generated for (the provider index of the object is a row 0..5) and the
// hash rows requests can be signed with.
#pragma once

#include <cstdint>
#include <string_view>

namespace cadb::enrol {

inline constexpr std::int32_t kAlgClassSignature = 0x2000;
inline constexpr std::int32_t kAlgClassHash = 0x8000;

struct AlgorithmRow {
    std::int32_t index;
    std::int32_t alg_class;
    const char* name;  // UTF-8 in the source; the system kept it in code page 1251
    std::int32_t nid;
    std::int32_t key_lengths;  // minimum in the low 16 bits, maximum in the high
    std::int32_t string_id;    // of the display name, -1 for none
};

inline constexpr int kAlgorithmRows = 10;
extern const AlgorithmRow AlgorithmTable[kAlgorithmRows];

// The name shown for a row: its string resource when it has one, else its
// table name.
std::string_view algorithm_display_name(const AlgorithmRow& row);

inline std::int32_t key_length_min(const AlgorithmRow& row) {
    return static_cast<std::int16_t>(row.key_lengths & 0xFFFF);
}
inline std::int32_t key_length_max(const AlgorithmRow& row) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(row.key_lengths) >> 16) & 0xFFFF);
}

// Whether a key made on the row takes the key length: an RSA modulus and
// DSA parameters do; the GOST rows make their keys on the row's own curve or
// group, whatever length is set.
inline bool key_length_is_used(const AlgorithmRow& row) { return row.nid == 19 || row.nid == 116; }

}  // namespace cadb::enrol
