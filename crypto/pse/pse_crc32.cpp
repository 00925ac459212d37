#include "crypto/pse/pse_crc32.h"

#include <array>

namespace cadb {
namespace {

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = make_crc_table();

}  // namespace

std::uint32_t PSE_crc32(const void* data, std::size_t len) {
    if (data == nullptr || len == 0) return 0xFFFFFFFFu;
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < len; ++i) crc = kCrcTable[(crc ^ p[i]) & 0xFF] ^ (crc >> 8);
    return crc == 0 ? 0xFFFFFFFFu : crc;
}

}  // namespace cadb
