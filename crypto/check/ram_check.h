// Memory pattern test run on every new cipher, hash and key record and on
// every produced digest or MAC buffer before use.
#pragma once

#include <cstddef>

namespace cadb {

// Writes and reads back 0xFF, 0xAA, 0x55 and 0x00 over the buffer; 1 when
// every byte held, else 0 with error class 12. The buffer ends zeroed.
int GOST_ram_check(void* buffer, std::size_t n);

}  // namespace cadb
