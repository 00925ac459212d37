#include "crypto/pse/pse.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "crypto/core/err.h"

namespace cadb {
namespace {

TEST(PseRecord, ReferencesAndFinalWipe) {
    PSE* pse = PSE_new();
    ASSERT_NE(pse, nullptr);
    EXPECT_EQ(pse->references, 1);
    EXPECT_EQ(PSE_up_ref(pse), pse);
    EXPECT_EQ(PSE_free(pse), 1);
    EXPECT_EQ(pse->references, 1);
    EXPECT_EQ(PSE_free(pse), 0);
    EXPECT_EQ(PSE_up_ref(nullptr), nullptr);
    EXPECT_EQ(PSE_free(nullptr), 0);
    EXPECT_EQ(PSE_free_checked(nullptr), 0);
    EXPECT_EQ(PSE_free_or_null(nullptr), 0);
}

TEST(PseRecord, ConcurrentReferencesBalance) {
    PSE* pse = PSE_new();
    ASSERT_NE(pse, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([pse] {
            for (int i = 0; i < 5000; ++i) {
                PSE_up_ref(pse);
                PSE_free(pse);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(pse->references, 1);
    EXPECT_EQ(PSE_free(pse), 0);
}

}  // namespace
}  // namespace cadb
