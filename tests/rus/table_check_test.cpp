#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

TEST(TableCheck, PassesRepeatedlyAndCatchesOneChangedByte) {
    EXPECT_EQ(GOSTE_check_tables(), 1);
    EXPECT_EQ(GOSTE_check_tables(), 1);

    // The shared tables are process-wide: change one byte, check, put it back.
    auto* table = const_cast<GOSTE_TABLE*>(GOSTE_static_table(GOSTE_get_cp_sbox_C()));
    auto* byte = reinterpret_cast<unsigned char*>(table->mid) + 1234;
    *byte ^= 0x20;
    ERR_clear_error();
    const int broken = GOSTE_check_tables();
    *byte ^= 0x20;
    EXPECT_EQ(broken, 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_GOSTE, 115, ERR_R_INTERNAL));
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_INTERNAL);
    EXPECT_EQ(GOSTE_check_tables(), 1);

    // A changed built-in set is caught too (the table of the test set is not
    // covered, so changing it passes).
    auto* test_table = const_cast<GOSTE_TABLE*>(GOSTE_static_table(GOSTE_get_test_sbox()));
    test_table->hi[7] ^= 1;
    EXPECT_EQ(GOSTE_check_tables(), 1);
    test_table->hi[7] ^= 1;
}

TEST(TableCheck, ConcurrentChecksAgree) {
    std::vector<int> results(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&results, t] { results[t] = GOSTE_check_tables(); });
    for (auto& t : threads) t.join();
    for (int r : results) EXPECT_EQ(r, 1);
}

}  // namespace
}  // namespace cadb
