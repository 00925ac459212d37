#include "crypto/check/ram_check.h"

#include <initializer_list>

#include "crypto/core/err.h"

namespace cadb {

int GOST_ram_check(void* buffer, std::size_t n) {
    if (n == 0) return 1;
    if (buffer == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    // Volatile so that the compiler cannot fold the write and the read-back.
    volatile unsigned char* p = static_cast<volatile unsigned char*>(buffer);
    for (unsigned char pattern : {0xFF, 0xAA, 0x55, 0x00}) {
        for (std::size_t i = 0; i < n; ++i) p[i] = pattern;
        for (std::size_t i = 0; i < n; ++i) {
            if (p[i] != pattern) {
                ERR_set_last_error(ERR_CLASS_INTERNAL);
                return 0;
            }
        }
    }
    return 1;
}

}  // namespace cadb
