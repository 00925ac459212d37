// S-box sets and lookups, tables, the context's life, diversification.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rus/cipher_rounds.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

TEST(SboxSets, LookupsByCodeAndNid) {
    EXPECT_EQ(GOSTE_get_sbox_by_code(23), GOSTE_get_test_sbox());
    EXPECT_EQ(GOSTE_get_sbox_by_code(31), GOSTE_get_cipher_sbox());
    EXPECT_EQ(GOSTE_get_sbox_by_code(32), GOSTE_get_cp_sbox_A());
    EXPECT_EQ(GOSTE_get_sbox_by_code(35), GOSTE_get_cp_sbox_D());
    EXPECT_EQ(GOSTE_get_sbox_by_nid(292), GOSTE_get_cp_sbox_B());
    EXPECT_EQ(GOSTE_get_default_sbox(), GOSTE_get_cp_sbox_A());
    for (int bad : {0, 22, 24, 30, 36, 291}) {
        ERR_set_last_error(0);
        EXPECT_EQ(GOSTE_get_sbox_by_code(bad), nullptr);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_CODE);
    }
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_get_sbox_by_nid(290), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_CODE);
    EXPECT_EQ(GOSTE_get_sbox_by_nid(295), nullptr);

    unsigned char copy[64];
    std::memcpy(copy, GOSTE_get_cp_sbox_C(), 64);
    EXPECT_EQ(GOSTE_get_sbox_nid(copy), 293);
    EXPECT_EQ(GOSTE_get_sbox_nid(GOSTE_get_cp_sbox_A()), 291);
    EXPECT_EQ(GOSTE_get_sbox_nid(GOSTE_get_cp_sbox_D()), 294);
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_get_sbox_nid(GOSTE_get_cipher_sbox()), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_CODE);
    EXPECT_EQ(GOSTE_get_sbox_nid(nullptr), 0);
}

TEST(SboxSets, SharedTableForBuiltInPrivateOtherwise) {
    unsigned char copy[64];
    std::memcpy(copy, GOSTH_get_cp_sbox(), 64);
    GOSTE a, b;
    ASSERT_EQ(GOSTE_set_sbox(&a, copy), 1);
    ASSERT_EQ(GOSTE_set_sbox(&b, GOSTH_get_cp_sbox()), 1);
    EXPECT_EQ(a.table, b.table);
    EXPECT_EQ(a.own_table, nullptr);

    copy[0] ^= 0x01;  // one nibble differs
    ASSERT_EQ(GOSTE_set_sbox(&a, copy), 1);
    ASSERT_NE(a.own_table, nullptr);
    EXPECT_EQ(a.table, a.own_table.get());
    GOSTE_cleanup(&a);
    EXPECT_EQ(a.own_table, nullptr);
    EXPECT_EQ(a.table, nullptr);

    // Null means the cipher default set.
    ASSERT_EQ(GOSTE_set_sbox(&a, nullptr), 1);
    EXPECT_EQ(std::memcmp(a.sbox, GOSTE_get_cipher_sbox(), 64), 0);
}

TEST(SboxSets, SharedTablesBuildOnceUnderConcurrentFirstUse) {
    std::vector<const GOSTE_TABLE*> seen(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&seen, t] { seen[t] = GOSTE_static_table(GOSTE_get_cp_sbox_D()); });
    for (auto& t : threads) t.join();
    GOSTE_TABLE fresh;
    GOSTE_expand_sbox(GOSTE_get_cp_sbox_D(), &fresh);
    EXPECT_EQ(GOSTE_static_table(nullptr), nullptr);
    for (const GOSTE_TABLE* s : seen) {
        ASSERT_EQ(s, seen[0]);
        EXPECT_EQ(std::memcmp(s, &fresh, sizeof fresh), 0);
    }
}

TEST(Context, NewCleanupCopyFree) {
    GOSTE* ctx = GOSTE_new();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->mode, 0u);
    EXPECT_EQ(ctx->table, nullptr);
    const Bytes key(32, 0x5A), iv(8, 1);
    ASSERT_EQ(GOSTE_gamma_fb_init(ctx, key.data(), iv.data(), nullptr), 1);

    GOSTE copy;
    ASSERT_EQ(GOSTE_copy(&copy, ctx), 1);
    Bytes data(40, 7), a(40), b(40);
    ctx->direction = copy.direction = 1;
    ASSERT_EQ(GOSTE_process(ctx, data.data(), a.data(), 40), 40);
    ASSERT_EQ(GOSTE_process(&copy, data.data(), b.data(), 40), 40);
    EXPECT_EQ(a, b);

    GOSTE_cleanup(ctx);
    const PSE_KEY32 zero{};
    EXPECT_EQ(std::memcmp(&ctx->key, &zero, sizeof zero), 0);
    EXPECT_EQ(ctx->N1 | ctx->N2 | ctx->N3 | ctx->N4 | ctx->mode, 0u);
    GOSTE_free(ctx);
    GOSTE_free(nullptr);
    GOSTE_cleanup(nullptr);
    EXPECT_EQ(GOSTE_copy(nullptr, &copy), 0);
}

TEST(Context, SetKeyArguments) {
    GOSTE ctx;
    const Bytes key(32, 9);
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_set_key(&ctx, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(GOSTE_set_key(nullptr, key.data()), 0);
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_set_key_checked(nullptr, key.data()), 0);
    EXPECT_EQ(GOSTE_set_key_checked(&ctx, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), 0);
    EXPECT_EQ(GOSTE_set_key_checked(&ctx, key.data()), 1);
    EXPECT_TRUE(ctx.key.flags & PSE_KEY32_MASKED);
}

TEST(Diversify, ZeroUkmUsesTheWholeKeySumEveryStep) {
    Bytes key(32);
    for (int i = 0; i < 32; ++i) key[i] = static_cast<unsigned char>(i * 7 + 1);
    const Bytes ukm(8, 0);
    unsigned char out[32];
    ASSERT_EQ(GOSTE_key_diversify(ukm.data(), key.data(), out, nullptr), out);

    // The same by hand through CFB: S1 = 0, S2 = sum of the eight words.
    Bytes k(key.rbegin(), key.rend());
    for (int step = 0; step < 8; ++step) {
        std::uint32_t sum = 0;
        for (int j = 0; j < 8; ++j) sum += gost::load32(k.data() + 4 * j);
        unsigned char iv[8];
        gost::store32(iv, 0);
        gost::store32(iv + 4, sum);
        GOSTE ctx;
        ASSERT_EQ(GOSTE_gamma_fb_init(&ctx, k.data(), iv, nullptr), 1);
        ASSERT_EQ(GOSTE_gamma_fbe_update(&ctx, k.data(), nullptr, 32), 32);
    }
    EXPECT_EQ(std::memcmp(out, k.data(), 32), 0);

    // Different UKMs and sets give different keys.
    unsigned char other[32];
    const Bytes ukm2 = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_NE(GOSTE_key_diversify(ukm2.data(), key.data(), other, nullptr), nullptr);
    EXPECT_NE(std::memcmp(out, other, 32), 0);
    ASSERT_NE(GOSTE_key_diversify(ukm.data(), key.data(), other, GOSTE_get_cp_sbox_A()), nullptr);
    EXPECT_NE(std::memcmp(out, other, 32), 0);

    ERR_set_last_error(0);
    EXPECT_EQ(GOSTE_key_diversify(nullptr, key.data(), out, nullptr), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(GOSTE_key_diversify(ukm.data(), nullptr, out, nullptr), nullptr);
    EXPECT_EQ(GOSTE_key_diversify(ukm.data(), key.data(), nullptr, nullptr), nullptr);
}

}  // namespace
}  // namespace cadb
