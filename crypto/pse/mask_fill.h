// Source of the masks that hide keys in memory.
#pragma once

#include <cstddef>

namespace cadb {

// Fills buf with n unpredictable bytes for masking. Draws from the kernel's
// random source through a small pool guarded by the masking lock, so that
// frequent re-masking does not cost one system call each. 1 on success, 0
// when the kernel gives nothing (error class 12).
int PSE_mask_fill(unsigned char* buf, std::size_t n);

}  // namespace cadb
