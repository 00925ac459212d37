#include "crypto/pse/pse_crc32.h"

namespace cadb {

// Bit by bit under masks rather than through a 256-entry table: every input
// is key material, and a table indexed by its bytes would let the cache tell
// them. The inputs are a few dozen bytes.
std::uint32_t PSE_crc32(const void* data, std::size_t len) {
    if (data == nullptr || len == 0) return 0xFFFFFFFFu;
    const auto* p = static_cast<const unsigned char*>(data);
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < len; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    // 0 becomes all ones, by mask too.
    const std::uint32_t zero = 0u - static_cast<std::uint32_t>(((crc | (0u - crc)) >> 31) ^ 1u);
    return crc | zero;
}

}  // namespace cadb
