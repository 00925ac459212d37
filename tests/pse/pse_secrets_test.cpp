#include "crypto/pse/pse_secrets.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rus/sbox.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes key_bytes(unsigned char seed) {
    Bytes k(32);
    for (int i = 0; i < 32; ++i) k[i] = static_cast<unsigned char>(seed + 7 * i);
    return k;
}

bool key_equals(PSE_KEY32* rec, const Bytes& want) {
    if (!PSE_key32_unmask(rec)) return false;
    bool same = std::memcmp(rec->key, want.data(), 32) == 0;
    PSE_key32_mask(rec);
    return same;
}

class PseSecrets : public ::testing::Test {
  protected:
    testing::KernelRandom random_;
    const unsigned char* sbox_ = GOSTE_get_cp_sbox_A();
};

TEST_F(PseSecrets, MasterKeySplitsAndLoadsForEveryShareCount) {
    const Bytes key = key_bytes(1);
    for (int n = 1; n <= PSE_MKEY_MAX_SHARES; ++n) {
        int len = 0;
        ASSERT_EQ(PSE_save_mkey(key.data(), n, nullptr, &len, sbox_), 1);
        ASSERT_EQ(len, 6 + 32 * n);
        Bytes rec(len);
        ASSERT_EQ(PSE_save_mkey(key.data(), n, rec.data(), &len, sbox_), 1);
        EXPECT_EQ(rec[0], 0x22);
        EXPECT_EQ(rec[1], n);
        if (n == 1) {
            EXPECT_TRUE(std::equal(key.begin(), key.end(), rec.begin() + 6));
        }
        PSE_KEY32 loaded{};
        ASSERT_EQ(PSE_load_mkey(&loaded, rec.data(), rec.size(), sbox_), 1) << n;
        EXPECT_TRUE(loaded.flags & PSE_KEY32_MASKED);
        EXPECT_TRUE(key_equals(&loaded, key));
        PSE_key32_wipe(&loaded);
    }
}

TEST_F(PseSecrets, SizeQueryForEightShares) {
    const Bytes key = key_bytes(2);
    int len = 0;
    EXPECT_EQ(PSE_save_mkey(key.data(), 8, nullptr, &len, sbox_), 1);
    EXPECT_EQ(len, 262);
}

TEST_F(PseSecrets, ShareCountsOutsideOneToEightAreRefused) {
    const Bytes key = key_bytes(3);
    Bytes out(6 + 32 * 10);
    int len = 0;
    EXPECT_EQ(PSE_save_mkey(key.data(), 0, out.data(), &len, sbox_), 0);
    EXPECT_EQ(PSE_save_mkey(key.data(), 9, out.data(), &len, sbox_), 0);
    EXPECT_EQ(PSE_save_mkey(key.data(), -1, out.data(), &len, sbox_), 0);
    EXPECT_EQ(PSE_save_mkey(nullptr, 8, out.data(), &len, sbox_), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_LIB_PSE);
    ERR_clear_error();
}

TEST_F(PseSecrets, ChangedByteFailsTheCheckAndWipesTheRecord) {
    const Bytes key = key_bytes(4);
    int len = 0;
    Bytes rec(6 + 32 * 3);
    ASSERT_EQ(PSE_save_mkey(key.data(), 3, rec.data(), &len, sbox_), 1);
    for (std::size_t i = 2; i < rec.size(); i += 13) {
        Bytes bad = rec;
        bad[i] ^= 0x10;
        PSE_KEY32 loaded{};
        ERR_clear_error();
        EXPECT_EQ(PSE_load_mkey(&loaded, bad.data(), bad.size(), sbox_), 0) << i;
        EXPECT_EQ(ERR_code_reason(ERR_get_error()), PSE_R_INVALID_MAC);
        const PSE_KEY32 zero{};
        EXPECT_EQ(std::memcmp(&loaded, &zero, sizeof zero), 0);
    }
}

TEST_F(PseSecrets, WrongLengthsAndTagsAreRefused) {
    const Bytes key = key_bytes(5);
    int len = 0;
    Bytes rec(6 + 32 * 2);
    ASSERT_EQ(PSE_save_mkey(key.data(), 2, rec.data(), &len, sbox_), 1);
    PSE_KEY32 loaded{};
    EXPECT_EQ(PSE_load_mkey(&loaded, rec.data(), rec.size() - 1, sbox_), 0);
    Bytes longer = rec;
    longer.push_back(0);
    EXPECT_EQ(PSE_load_mkey(&loaded, longer.data(), longer.size(), sbox_), 0);
    Bytes many = rec;
    many[1] = 200;  // a share count that would read far past the record
    EXPECT_EQ(PSE_load_mkey(&loaded, many.data(), many.size(), sbox_), 0);
    Bytes none = rec;
    none[1] = 0;
    EXPECT_EQ(PSE_load_mkey(&loaded, none.data(), 6, sbox_), 0);
    Bytes tag = rec;
    tag[0] = 0x21;
    EXPECT_EQ(PSE_load_mkey(&loaded, tag.data(), tag.size(), sbox_), 0);
    EXPECT_EQ(PSE_load_mkey(&loaded, nullptr, 70, sbox_), 0);
    EXPECT_EQ(PSE_load_mkey(&loaded, rec.data(), 3, sbox_), 0);
    ERR_clear_error();
}

TEST_F(PseSecrets, CheckValueIdentifiesTheStoresSbox) {
    const Bytes key = key_bytes(6);
    const unsigned char* candidates[] = {GOSTE_get_test_sbox(), GOSTE_get_cipher_sbox(),
                                         GOSTE_get_cp_sbox_A(), GOSTE_get_cp_sbox_B(),
                                         GOSTE_get_cp_sbox_C(), GOSTE_get_cp_sbox_D()};
    for (const unsigned char* written_with : candidates) {
        int len = 0;
        Bytes rec(6 + 32 * 8);
        ASSERT_EQ(PSE_save_mkey(key.data(), 8, rec.data(), &len, written_with), 1);
        int accepted = 0;
        for (const unsigned char* tried : candidates) {
            PSE_KEY32 k{};
            if (PSE_load_mkey(&k, rec.data(), rec.size(), tried)) {
                ++accepted;
                EXPECT_EQ(tried, written_with);
            }
            PSE_key32_wipe(&k);
        }
        EXPECT_EQ(accepted, 1);
    }
    ERR_clear_error();
}

TEST_F(PseSecrets, BlockRoundTripAndEveryFlippedBitFails) {
    const Bytes key = key_bytes(7);
    const Bytes secret = key_bytes(99);
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, key.data()), 1);
    unsigned char block[36];
    ASSERT_EQ(PSE_encrypt32(secret.data(), block, &k, sbox_), 1);
    EXPECT_NE(std::memcmp(block, secret.data(), 32), 0);
    EXPECT_TRUE(k.flags & PSE_KEY32_MASKED);

    unsigned char out[32];
    ASSERT_EQ(PSE_decrypt32(block, out, &k, sbox_), 1);
    EXPECT_EQ(std::memcmp(out, secret.data(), 32), 0);
    EXPECT_TRUE(k.flags & PSE_KEY32_MASKED);

    for (int bit = 0; bit < 36 * 8; bit += 5) {
        unsigned char bad[36];
        std::memcpy(bad, block, sizeof bad);
        bad[bit / 8] ^= static_cast<unsigned char>(1 << (bit % 8));
        std::memset(out, 0xEE, sizeof out);
        ERR_clear_error();
        ERR_set_last_error(0);
        EXPECT_EQ(PSE_decrypt32(bad, out, &k, sbox_), 0) << bit;
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_MAC_MISMATCH);
        EXPECT_EQ(ERR_get_error(),
                  ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_DECRYPT32, PSE_R_INVALID_MAC));
        for (unsigned char b : out) ASSERT_EQ(b, 0xEE);  // nothing unauthenticated written
    }
    PSE_key32_wipe(&k);
    ERR_clear_error();
}

TEST_F(PseSecrets, BlockUnderAnotherSboxFails) {
    const Bytes key = key_bytes(8);
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, key.data()), 1);
    unsigned char block[36], out[32];
    ASSERT_EQ(PSE_encrypt32(key.data(), block, &k, GOSTE_get_cp_sbox_A()), 1);
    EXPECT_EQ(PSE_decrypt32(block, out, &k, GOSTE_get_cp_sbox_B()), 0);
    PSE_key32_wipe(&k);
    ERR_clear_error();
}

TEST_F(PseSecrets, DamagedKeyRecordIsRefusedAndWiped) {
    const Bytes key = key_bytes(9);
    PSE_KEY32 k{};
    ASSERT_EQ(PSE_key32_load(&k, key.data()), 1);
    k.key[3] ^= 1;
    unsigned char block[36];
    EXPECT_EQ(PSE_encrypt32(key.data(), block, &k, sbox_), 0);
    const PSE_KEY32 zero{};
    EXPECT_EQ(std::memcmp(&k, &zero, sizeof zero), 0);
    ERR_clear_error();
}

TEST_F(PseSecrets, KekGeneratedThenLoadedGivesSameKeyAndFingerprint) {
    PSE* store = PSE_new();
    ASSERT_NE(store, nullptr);
    std::memcpy(store->sbox, sbox_, 64);
    const Bytes master = key_bytes(10);
    ASSERT_EQ(PSE_key32_load(&store->master_key, master.data()), 1);
    unsigned char block[36];
    ASSERT_EQ(PSE_generate_kek(store, block), 1);

    PSE* again = PSE_new();
    std::memcpy(again->sbox, sbox_, 64);
    ASSERT_EQ(PSE_key32_load(&again->master_key, master.data()), 1);
    ASSERT_EQ(PSE_load_kek(again, block), 1);
    EXPECT_EQ(std::memcmp(store->fingerprint, again->fingerprint, 32), 0);

    // Opaque data written under one store's KEK reads back under the other's.
    const Bytes secret = key_bytes(55);
    unsigned char opaque[36], back[32];
    ASSERT_EQ(PSE_write_opaque(store, secret.data(), opaque), opaque);
    ASSERT_EQ(PSE_read_opaque(again, opaque, back), back);
    EXPECT_EQ(std::memcmp(back, secret.data(), 32), 0);

    block[35] ^= 1;
    EXPECT_EQ(PSE_load_kek(again, block), 0);
    const PSE_KEY32 zero{};
    EXPECT_EQ(std::memcmp(&again->kek, &zero, sizeof zero), 0);
    PSE_free(store);
    PSE_free(again);
    ERR_clear_error();
}

// Reloading the KEK and recomputing the fingerprint while other threads
// read and write opaque blocks under the same store: every call succeeds and
// every block reads back.
TEST_F(PseSecrets, KekReloadRacesNoReaderOrWriter) {
    PSE* store = PSE_new();
    ASSERT_NE(store, nullptr);
    std::memcpy(store->sbox, sbox_, 64);
    const Bytes master = key_bytes(10);
    ASSERT_EQ(PSE_key32_load(&store->master_key, master.data()), 1);
    unsigned char kek_block[36];
    ASSERT_EQ(PSE_generate_kek(store, kek_block), 1);
    const Bytes secret = key_bytes(55);
    unsigned char opaque[36];
    ASSERT_EQ(PSE_write_opaque(store, secret.data(), opaque), opaque);

    constexpr int kRounds = 300;
    std::atomic<int> failures{0};
    std::thread reloader([&] {
        for (int i = 0; i < kRounds; ++i)
            if (PSE_load_kek(store, kek_block) != 1 || PSE_finger_print(store) != 1) ++failures;
    });
    std::vector<std::thread> users;
    for (int t = 0; t < 3; ++t)
        users.emplace_back([&] {
            for (int i = 0; i < kRounds; ++i) {
                unsigned char back[32], block[36];
                if (PSE_read_opaque(store, opaque, back) != back ||
                    std::memcmp(back, secret.data(), 32) != 0 ||
                    PSE_write_opaque(store, secret.data(), block) != block)
                    ++failures;
            }
        });
    reloader.join();
    for (auto& u : users) u.join();
    EXPECT_EQ(failures.load(), 0);
    PSE_free(store);
    ERR_clear_error();
}

TEST_F(PseSecrets, FingerprintDependsOnMasterKeyAndSbox) {
    PSE* a = PSE_new();
    PSE* b = PSE_new();
    std::memcpy(a->sbox, GOSTE_get_cp_sbox_A(), 64);
    std::memcpy(b->sbox, GOSTE_get_cp_sbox_B(), 64);
    const Bytes master = key_bytes(11);
    PSE_key32_load(&a->master_key, master.data());
    PSE_key32_load(&b->master_key, master.data());
    ASSERT_EQ(PSE_finger_print(a), 1);
    ASSERT_EQ(PSE_finger_print(b), 1);
    EXPECT_NE(std::memcmp(a->fingerprint, b->fingerprint, 32), 0);
    EXPECT_TRUE(a->master_key.flags & PSE_KEY32_MASKED);
    PSE_free(a);
    PSE_free(b);
}

TEST_F(PseSecrets, NullArgumentsFailCleanly) {
    unsigned char buf[36] = {};
    PSE_KEY32 k{};
    EXPECT_EQ(PSE_encrypt32(nullptr, buf, &k, sbox_), 0);
    EXPECT_EQ(PSE_decrypt32(buf, nullptr, &k, sbox_), 0);
    EXPECT_EQ(PSE_decrypt32(buf, buf, nullptr, sbox_), 0);
    EXPECT_EQ(PSE_read_opaque(nullptr, buf, buf), nullptr);
    EXPECT_EQ(PSE_write_opaque(nullptr, buf, buf), nullptr);
    EXPECT_EQ(PSE_generate_kek(nullptr, buf), 0);
    EXPECT_EQ(PSE_load_kek(nullptr, buf), 0);
    EXPECT_EQ(PSE_finger_print(nullptr), 0);
    EXPECT_EQ(PSE_key32_generate(nullptr), 0);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
