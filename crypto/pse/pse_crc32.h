// Check value of clear key material, used to catch a damaged or wrongly
// unmasked key before it is used.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cadb {

// CRC-32 over the reflected IEEE 802.3 polynomial, register preset to all
// ones and not inverted at the end. A result of 0 is returned as 0xFFFFFFFF,
// so 0 never stands for a valid check value; an empty input gives 0xFFFFFFFF.
std::uint32_t PSE_crc32(const void* data, std::size_t len);

}  // namespace cadb
