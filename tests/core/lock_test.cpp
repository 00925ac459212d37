#include "crypto/core/lock.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace cadb {
namespace {

TEST(LockTable, RecursiveForTheOwningThread) {
    CRYPTO_lock(CRYPTO_MODE_LOCK | CRYPTO_MODE_WRITE, CRYPTO_LOCK_SBOX, __FILE__, __LINE__);
    { LockGuard again(CRYPTO_LOCK_SBOX); }
    CRYPTO_lock(CRYPTO_MODE_UNLOCK | CRYPTO_MODE_WRITE, CRYPTO_LOCK_SBOX, __FILE__, __LINE__);
    // Numbers outside the table are ignored rather than crashing.
    CRYPTO_lock(9, -1, __FILE__, __LINE__);
    CRYPTO_lock(9, CRYPTO_NUM_LOCKS, __FILE__, __LINE__);
}

TEST(LockTable, SerialisesWriters) {
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&counter] {
            for (int i = 0; i < 20000; ++i) {
                LockGuard g(CRYPTO_LOCK_RAND);
                long v = counter;
                counter = v + 1;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(counter, 8 * 20000);
}

}  // namespace
}  // namespace cadb
