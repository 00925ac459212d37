#include "crypto/core/lock.h"

#include <array>

namespace cadb {
namespace {

std::array<std::recursive_mutex, CRYPTO_NUM_LOCKS>& lock_table() {
    static std::array<std::recursive_mutex, CRYPTO_NUM_LOCKS> table;
    return table;
}

}  // namespace

std::recursive_mutex& CRYPTO_get_lock(int n) {
    return lock_table().at(static_cast<std::size_t>(n));
}

void CRYPTO_lock(int mode, int n, const char*, int) {
    if (n < 0 || n >= CRYPTO_NUM_LOCKS) return;
    if (mode & CRYPTO_MODE_LOCK)
        lock_table()[n].lock();
    else
        lock_table()[n].unlock();
}

}  // namespace cadb
