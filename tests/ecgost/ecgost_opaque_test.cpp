#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/pse/pse.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

struct KeyDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using KeyPtr = std::unique_ptr<ECGOST, KeyDeleter>;
struct PseDeleter {
    void operator()(PSE* p) const { PSE_free(p); }
};
using PsePtr = std::unique_ptr<PSE, PseDeleter>;
struct DhDeleter {
    void operator()(ECDH* d) const { ECDH_free(d); }
};
using DhPtr = std::unique_ptr<ECDH, DhDeleter>;

// A key store with a master key made from seed and a fresh KEK.
PsePtr make_store(unsigned char seed) {
    PsePtr pse(PSE_new());
    std::memcpy(pse->sbox, GOSTE_get_cp_sbox_A(), sizeof pse->sbox);
    unsigned char mkey[32];
    for (int i = 0; i < 32; ++i) mkey[i] = static_cast<unsigned char>(seed + 13 * i);
    int len = 0;
    std::vector<unsigned char> rec(6 + 32);
    unsigned char kek[PSE_BLOCK_SIZE];
    EXPECT_EQ(PSE_save_mkey(mkey, 1, rec.data(), &len, pse->sbox), 1);
    EXPECT_EQ(PSE_load_mkey(&pse->master_key, rec.data(), rec.size(), pse->sbox), 1);
    EXPECT_EQ(PSE_generate_kek(pse.get(), kek), 1);
    return pse;
}

KeyPtr generated(int code) {
    EcCurvePtr c(ECURVE_new_by_code(code));
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    EXPECT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    return key;
}

TEST(EcgostOpaque, WrapAndUnwrapUnderAStore) {
    PsePtr pse = make_store(1);
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    BnPtr clear(ECGOST_get_private(key.get()));
    ASSERT_EQ(ECGOST_encrypt_opaque(key.get(), pse.get()), 1);
    ASSERT_TRUE(key->check.has_value());
    EXPECT_EQ(key->pse, pse.get()) << "a given store is attached to a key without one";
    BnPtr wrapped(ECGOST_get_private(key.get()));
    EXPECT_NE(BN_cmp(wrapped.get(), clear.get()), 0);
    // Wrapping again changes nothing.
    const auto check = *key->check;
    ASSERT_EQ(ECGOST_encrypt_opaque(key.get(), nullptr), 1);
    EXPECT_EQ(*key->check, check);
    EXPECT_EQ(BN_cmp(BnPtr(ECGOST_get_private(key.get())).get(), wrapped.get()), 0);
    // An opaque key signs nothing.
    unsigned char dgst[32] = {3};
    EXPECT_EQ(ECGOST_do_sign(dgst, 32, key.get()), nullptr);
    // Unwrapped under the key's own store: the clear number is back.
    ASSERT_EQ(ECGOST_decrypt_opaque(key.get(), nullptr), 1);
    EXPECT_FALSE(key->check.has_value());
    EXPECT_EQ(BN_cmp(BnPtr(ECGOST_get_private(key.get())).get(), clear.get()), 0);
    ASSERT_EQ(ECGOST_decrypt_opaque(key.get(), nullptr), 1) << "a plain key stays plain";
    std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> sig(ECGOST_do_sign(dgst, 32, key.get()),
                                                                ECGOST_SIG_free);
    ASSERT_TRUE(sig);
    EXPECT_EQ(ECGOST_do_verify(dgst, 32, sig.get(), key.get()), 1);
}

TEST(EcgostOpaque, FailuresLeaveTheKeyAsItWas) {
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_B);
    ERR_clear_error();
    EXPECT_EQ(ECGOST_encrypt_opaque(key.get(), nullptr), 0) << "no store at all";
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_pack_code(ERR_LIB_ECGOST, ECGOST_F_ECGOST_ENCRYPT_OPAQUE, ERR_LIB_PSE));
    EXPECT_FALSE(key->check.has_value());
    PsePtr mine = make_store(1), other = make_store(2);
    ASSERT_EQ(ECGOST_encrypt_opaque(key.get(), mine.get()), 1);
    BnPtr wrapped(ECGOST_get_private(key.get()));
    ERR_clear_error();
    EXPECT_EQ(ECGOST_decrypt_opaque(key.get(), other.get()), 0) << "another store's KEK";
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_pack_code(ERR_LIB_ECGOST, ECGOST_F_ECGOST_DECRYPT_OPAQUE, ERR_LIB_PSE));
    ASSERT_TRUE(key->check.has_value());
    EXPECT_EQ(BN_cmp(BnPtr(ECGOST_get_private(key.get())).get(), wrapped.get()), 0);
    KeyPtr empty(ECGOST_new());
    EXPECT_EQ(ECGOST_encrypt_opaque(empty.get(), mine.get()), 0) << "no private number";
}

// A wrapped key travels in DER and unwraps after reading.
TEST(EcgostOpaque, DerOfAWrappedKeyUnwrapsAfterReading) {
    PsePtr pse = make_store(3);
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_C);
    BnPtr clear(ECGOST_get_private(key.get()));
    ASSERT_EQ(ECGOST_encrypt_opaque(key.get(), pse.get()), 1);
    const int len = i2d_ECGOSTPrivateKey(key.get(), nullptr);
    std::vector<unsigned char> der(len);
    unsigned char* p = der.data();
    ASSERT_EQ(i2d_ECGOSTPrivateKey(key.get(), &p), len);
    const unsigned char* q = der.data();
    KeyPtr back(d2i_ECGOSTPrivateKey(nullptr, &q, len));
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->check.has_value());
    EXPECT_EQ(*back->check, *key->check);
    ASSERT_EQ(ECGOST_decrypt_opaque(back.get(), pse.get()), 1);
    EXPECT_EQ(BN_cmp(BnPtr(ECGOST_get_private(back.get())).get(), clear.get()), 0);
}

TEST(EcgostGenerateKey, WrappedKeyAndPointAgreeWithTheStore) {
    PsePtr pse = make_store(4);
    unsigned char key36[36];
    unsigned char point[65];
    std::size_t len = 10;
    // A short buffer: the call fails, tells the length and leaves no key.
    std::memset(key36, 0xAB, sizeof key36);
    EXPECT_EQ(ECGOST_generate_key(pse.get(), ECURVE_CODE_CRYPTOPRO_A, key36, point, &len, 0), 0);
    EXPECT_EQ(len, 65u);
    EXPECT_EQ(std::vector<unsigned char>(key36, key36 + 36), std::vector<unsigned char>(36, 0));
    len = 33;
    ASSERT_EQ(ECGOST_generate_key(pse.get(), ECURVE_CODE_CRYPTOPRO_A, key36, point, &len,
                                  ECGOST_FLAG_COMPRESSED),
              1);
    EXPECT_EQ(len, 33u);
    // The 36 bytes unwrap under the store to the point's private number.
    unsigned char clear[32];
    ASSERT_TRUE(PSE_read_opaque(pse.get(), key36, clear));
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    BnPtr d(BN_bin2bn(clear, 32, nullptr));
    ASSERT_EQ(ECGOST_set_private(key.get(), d.get()), 1);
    ASSERT_EQ(ECGOST_generate_pubkey(key.get()), 1);
    EcPointPtr pub(ECPOINT_bi2point(c.get(), point, len, nullptr));
    ASSERT_TRUE(pub);
    EXPECT_EQ(ECPOINT_cmp(pub.get(), key->Q.get()), 0);
    // The agreement wrappers take the same 36 bytes and point with the store.
    DhPtr mine(ECDH_new(c.get(), 0)), peer(ECDH_new(c.get(), 0));
    unsigned char own[65], theirs[65];
    std::size_t own_len = sizeof own, their_len = sizeof theirs;
    ASSERT_EQ(ECGOST_DH_generate_key(mine.get(), pse.get(), key36, point, len, own, &own_len, 0),
              1);
    ASSERT_EQ(
        ECGOST_DH_generate_key(peer.get(), nullptr, nullptr, nullptr, 0, theirs, &their_len, 0), 1);
    unsigned char s1[32], s2[32];
    std::size_t n1 = sizeof s1, n2 = sizeof s2;
    ASSERT_EQ(ECGOST_DH_compute_key_out(mine.get(), theirs, their_len, s1, &n1), 1);
    ASSERT_EQ(ECGOST_DH_compute_key_out(peer.get(), own, own_len, s2, &n2), 1);
    EXPECT_EQ(std::vector<unsigned char>(s1, s1 + n1), std::vector<unsigned char>(s2, s2 + n2));
    // A damaged check value is refused.
    key36[35] ^= 1;
    EXPECT_EQ(ECGOST_DH_generate_key(mine.get(), pse.get(), key36, point, len, own, &own_len, 0),
              0);
    ERR_clear_error();
    EXPECT_EQ(ECGOST_generate_key(nullptr, ECURVE_CODE_CRYPTOPRO_A, key36, point, &len, 0), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_ECGOST, ECGOST_F_ECGOST_GENERATE_KEY,
                                             ECGOST_R_INVALID_PARAMETERS));
    EXPECT_EQ(ECGOST_generate_key(pse.get(), 99, key36, point, &len, 0), 0);
}

// Replacing the private number or the store while other threads sign and
// wrap copies of the key: every reader sees a whole number, never a freed
// or half-written one (a fault the address sanitizer run shows at once).
TEST(EcgostKeyLock, SettersRaceWithSigningAndWrapping) {
    PsePtr first = make_store(3), second = make_store(4);
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    BnPtr d(ECGOST_get_private(key.get()));
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            const unsigned char dgst[32] = {1, 2, 3};
            while (!stop.load()) {
                ECGOST_SIG* sig = ECGOST_do_sign(dgst, sizeof dgst, key.get());
                if (!sig || ECGOST_do_verify(dgst, sizeof dgst, sig, key.get()) != 1) ++bad;
                ECGOST_SIG_free(sig);
                BnPtr copy(ECGOST_get_private(key.get()));
                if (!copy || BN_cmp(copy.get(), d.get()) != 0) ++bad;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        ASSERT_EQ(ECGOST_set_private(key.get(), d.get()), 1);
        ASSERT_EQ(ECGOST_set_pse(key.get(), i % 2 ? first.get() : second.get()), 1);
    }
    stop = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(ECGOST_set_pse(key.get(), nullptr), 1);
}

}  // namespace
}  // namespace cadb
