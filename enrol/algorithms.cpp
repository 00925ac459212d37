#include "enrol/algorithms.h"

namespace cadb::enrol {

namespace {

constexpr std::int32_t range(std::int32_t min, std::int32_t max) {
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(max) << 16) |
                                     static_cast<std::uint32_t>(min));
}

// The library's string resources that name algorithms.
struct StringResource {
    std::int32_t id;
    const char* text;
};
constexpr StringResource kAlgorithmStrings[] = {
    {119, "ГОСТ Р 34.10-2001"},    {120, "ГОСТ Р 34.10-94"}, {121, "ГОСТ Р 34.10-2001 CP"},
    {122, "ГОСТ Р 34.10-94   CP"}, {123, "ГОСТ Р 34.11-94"},
};

}  // namespace

const AlgorithmRow AlgorithmTable[kAlgorithmRows] = {
    {0, kAlgClassSignature, "ГОСТ Р 34.10-2001 CP", 271, range(256, 256), 121},
    {1, kAlgClassSignature, "ГОСТ Р 34.10-94   CP", 272, range(1024, 1024), 122},
    {2, kAlgClassSignature, "ГОСТ Р 34.10-2001", 181, range(256, 256), 119},
    {3, kAlgClassSignature, "ГОСТ Р 34.10-94", 177, range(1024, 1024), 120},
    {4, kAlgClassSignature, "RSA", 19, range(512, 2048), -1},
    {5, kAlgClassSignature, "DSA", 116, range(1024, 1024), -1},
    {6, kAlgClassHash, "ГОСТ Р 34.11-94", 176, 0, 123},
    {7, kAlgClassHash, "ГОСТ Р 34.11-94", 288, 0, 123},
    {8, kAlgClassHash, "MD5", 4, 0, -1},
    {9, kAlgClassHash, "SHA1", 64, 0, -1},
};

std::string_view algorithm_display_name(const AlgorithmRow& row) {
    if (row.string_id > 0)
        for (const StringResource& s : kAlgorithmStrings)
            if (s.id == row.string_id) return s.text;
    return row.name;
}

}  // namespace cadb::enrol
