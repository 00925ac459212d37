#include <openssl/bn.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "crypto/pse/pse_secrets.h"
#include "crypto/rus/sbox.h"
#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

struct PseDeleter {
    void operator()(PSE* p) const { PSE_free(p); }
};
using StorePtr = std::unique_ptr<PSE, PseDeleter>;

// A key store with a master key and a fresh KEK.
StorePtr make_store(unsigned char fill) {
    StorePtr store(PSE_new());
    if (!store) return nullptr;
    std::memcpy(store->sbox, GOSTE_get_cp_sbox_A(), sizeof store->sbox);
    unsigned char master[32];
    std::memset(master, fill, sizeof master);
    unsigned char kek_block[36];
    if (!PSE_key32_load(&store->master_key, master) || !PSE_generate_kek(store.get(), kek_block)) {
        return nullptr;
    }
    return store;
}

class Opaque : public R3410Test {
  protected:
    void SetUp() override {
        R3410Test::SetUp();
        store_ = make_store(0x3C);
        ASSERT_TRUE(store_);
    }
    StorePtr store_;
};

TEST_F(Opaque, WrapAndUnwrapKeepTheKey) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    BnPtr x(BN_unmask_dup(key->x.get()));
    ASSERT_EQ(R3410_encrypt_opaque(key.get(), store_.get()), 1);
    EXPECT_TRUE(key->has_check);
    EXPECT_EQ(key->pse.get(), store_.get());  // the store is attached to a key without one
    BnPtr wrapped(BN_unmask_dup(key->x.get()));
    EXPECT_NE(BN_cmp(wrapped.get(), x.get()), 0);
    // Wrapping a wrapped key changes nothing.
    ASSERT_EQ(R3410_encrypt_opaque(key.get(), nullptr), 1);
    BnPtr again(BN_unmask_dup(key->x.get()));
    EXPECT_EQ(BN_cmp(wrapped.get(), again.get()), 0);
    // A wrapped key neither signs nor yields its private number.
    const std::vector<unsigned char> dgst(32, 0x17);
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 32, key.get()), nullptr);
    EXPECT_EQ(R3410_generate_pubkey(key.get()), 0);

    ASSERT_EQ(R3410_decrypt_opaque(key.get(), nullptr), 1);
    EXPECT_FALSE(key->has_check);
    BnPtr back(BN_unmask_dup(key->x.get()));
    EXPECT_EQ(BN_cmp(back.get(), x.get()), 0);
    SigPtr sig(GOSTS_do_sign(dgst.data(), 32, key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, sig.get(), key.get()), 1);
    // Unwrapping a plain key changes nothing.
    EXPECT_EQ(R3410_decrypt_opaque(key.get(), nullptr), 1);
}

TEST_F(Opaque, WrongStoreOrDamagedBlockIsRefused) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_B);
    ASSERT_TRUE(key);
    ASSERT_EQ(R3410_encrypt_opaque(key.get(), store_.get()), 1);
    StorePtr other = make_store(0x5D);
    ASSERT_TRUE(other);
    ERR_clear_error();
    EXPECT_EQ(R3410_decrypt_opaque(key.get(), other.get()), 0);
    EXPECT_TRUE(key->has_check);

    BN_add_word(key->check.get(), 1);
    EXPECT_EQ(R3410_decrypt_opaque(key.get(), store_.get()), 0);
    EXPECT_TRUE(key->has_check);
}

TEST_F(Opaque, NoStoreOrNoPrivateNumberFails) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_D);
    ASSERT_TRUE(key);
    EXPECT_EQ(R3410_encrypt_opaque(key.get(), nullptr), 0);
    EXPECT_FALSE(key->has_check);
    KeyPtr bare(GOSTS_new());
    R3410_set_default_params(bare.get());
    EXPECT_EQ(R3410_encrypt_opaque(bare.get(), store_.get()), 0);
    EXPECT_EQ(R3410_decrypt_opaque(bare.get(), store_.get()), 0);
    EXPECT_EQ(R3410_encrypt_opaque(nullptr, store_.get()), 0);
}

TEST_F(Opaque, WrappedKeySurvivesItsDer) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_XCHA);
    ASSERT_TRUE(key);
    ASSERT_EQ(R3410_encrypt_opaque(key.get(), store_.get()), 1);
    const int len = i2d_R3410PrivateKey(key.get(), nullptr);
    ASSERT_GT(len, 0);
    std::vector<unsigned char> der(static_cast<size_t>(len));
    unsigned char* w = der.data();
    ASSERT_EQ(i2d_R3410PrivateKey(key.get(), &w), len);
    const unsigned char* r = der.data();
    KeyPtr back(d2i_R3410PrivateKey(nullptr, &r, len));
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->has_check);
    ASSERT_EQ(R3410_decrypt_opaque(back.get(), store_.get()), 1);
    ASSERT_EQ(R3410_decrypt_opaque(key.get(), nullptr), 1);
    BnPtr a(BN_unmask_dup(key->x.get())), b(BN_unmask_dup(back->x.get()));
    EXPECT_EQ(BN_cmp(a.get(), b.get()), 0);
}

// Signing threads never see a key half switched between its forms: every
// signature made while another thread wraps and unwraps the key is valid.
TEST_F(Opaque, SigningWhileTheKeyIsSwitched) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> signers;
    for (int t = 0; t < 3; ++t) {
        signers.emplace_back([&, t] {
            const std::vector<unsigned char> dgst(32, static_cast<unsigned char>(t + 1));
            while (!stop) {
                SigPtr sig(GOSTS_do_sign(dgst.data(), 32, key.get()));
                if (!sig) continue;
                if (GOSTS_do_verify(dgst.data(), 32, sig.get(), key.get()) != 1) ++bad;
            }
        });
    }
    for (int i = 0; i < 40; ++i) {
        EXPECT_EQ(R3410_encrypt_opaque(key.get(), store_.get()), 1);
        EXPECT_EQ(R3410_decrypt_opaque(key.get(), nullptr), 1);
    }
    stop = true;
    for (auto& th : signers) th.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_FALSE(key->has_check);
}

TEST_F(Opaque, GenerateKeyWritesWrappedKeyAndPublicValue) {
    unsigned char out36[36];
    unsigned char y128[128];
    ASSERT_EQ(R3410_generate_key(store_.get(), R3410_PARAMS_CRYPTOPRO_A, out36, y128), 1);

    // Rebuild the key from the two outputs and the store.
    KeyPtr key(GOSTS_new());
    ASSERT_EQ(R3410_set_params_by_code(key.get(), R3410_PARAMS_CRYPTOPRO_A), 1);
    key->y.reset(BN_bin2bn(y128, 128, nullptr));
    BnPtr wrapped(BN_bin2bn(out36, 32, nullptr));
    key->x.reset(BN_MASKED_new());
    BN_mask(key->x.get(), wrapped.get());
    key->check.reset(BN_bin2bn(out36 + 32, 4, nullptr));
    key->has_check = true;
    ASSERT_EQ(R3410_decrypt_opaque(key.get(), store_.get()), 1);
    BnPtr y(BN_dup(key->y.get()));
    ASSERT_EQ(R3410_generate_pubkey(key.get()), 1);
    EXPECT_EQ(BN_cmp(y.get(), key->y.get()), 0);

    EXPECT_EQ(R3410_generate_key(nullptr, R3410_PARAMS_CRYPTOPRO_A, out36, y128), 0);
    EXPECT_EQ(last_reason(), GOSTS_R_INVALID_DOMAIN_PARAMETERS);
    EXPECT_EQ(R3410_generate_key(store_.get(), 2, out36, y128), 0);
}

}  // namespace
}  // namespace cadb::testing
