#include <openssl/bn.h>

#include "crypto/r3410/r3410_dh.h"
#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

using Agreement = R3410Test;

struct DhDeleter {
    void operator()(R3410_DH* d) const { R3410_DH_free(d); }
};
using DhPtr = std::unique_ptr<R3410_DH, DhDeleter>;

std::vector<unsigned char> public_value(R3410_DH* dh) {
    std::vector<unsigned char> out(static_cast<size_t>(R3410_DH_size(dh)));
    if (!R3410_DH_generate_key(dh, out.data())) return {};
    return out;
}

std::vector<unsigned char> shared(R3410_DH* dh, const std::vector<unsigned char>& peer) {
    std::vector<unsigned char> out(static_cast<size_t>(R3410_DH_size(dh)));
    int len = static_cast<int>(out.size());
    if (!R3410_DH_compute_key_out(dh, peer.data(), static_cast<int>(peer.size()), out.data(),
                                  &len)) {
        return {};
    }
    out.resize(static_cast<size_t>(len));
    return out;
}

TEST_F(Agreement, BothSidesAgreeFromKeysAndEphemeralPairs) {
    for (int code : {R3410_PARAMS_CRYPTOPRO_XCHA, R3410_PARAMS_CRYPTOPRO_A}) {
        KeyPtr alice = key_on_code(code), bob = key_on_code(code);
        ASSERT_TRUE(alice && bob);
        DhPtr a(R3410_dup_DH(alice.get())), b(R3410_dup_DH(bob.get()));
        ASSERT_TRUE(a && b);
        const auto pa = public_value(a.get()), pb = public_value(b.get());
        ASSERT_EQ(pa.size(), 128u);
        // The key's own public value is kept.
        EXPECT_EQ(pa, bn_bytes(alice->y.get(), 128));
        const auto za = shared(a.get(), pb), zb = shared(b.get(), pa);
        ASSERT_EQ(za.size(), 128u);
        EXPECT_EQ(za, zb);

        // An ephemeral pair on the same group.
        KeyPtr params_only(GOSTS_new());
        R3410_set_params_by_code(params_only.get(), code);
        DhPtr e(R3410_dup_DH(params_only.get()));
        ASSERT_TRUE(e);
        EXPECT_FALSE(e->priv);
        const auto pe = public_value(e.get());
        ASSERT_FALSE(pe.empty());
        EXPECT_EQ(shared(e.get(), pa), shared(a.get(), pe));
    }
}

TEST_F(Agreement, InvalidPeerValuesAreRefused) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    DhPtr dh(R3410_dup_DH(key.get()));
    ASSERT_TRUE(dh);
    const BIGNUM* p = key->p.get();
    BnPtr v(BN_new());
    std::vector<std::vector<unsigned char>> bad;
    for (int w : {0, 1}) {
        BN_set_word(v.get(), w);
        bad.push_back(bn_bytes(v.get(), 128));
    }
    BN_copy(v.get(), p);
    bad.push_back(bn_bytes(v.get(), 128));  // p
    BN_sub_word(v.get(), 1);
    bad.push_back(bn_bytes(v.get(), 128));  // p - 1, of order 2
    BN_set_word(v.get(), 2);
    bad.push_back(bn_bytes(v.get(), 128));  // 2 is not in the subgroup of order q
    for (const auto& peer : bad) {
        ERR_set_last_error(0);
        EXPECT_TRUE(shared(dh.get(), peer).empty());
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_KEY_AGREEMENT);
        EXPECT_FALSE(dh->result);
    }
    // Longer than p, empty, null.
    std::vector<unsigned char> longer(129, 0x01);
    EXPECT_TRUE(shared(dh.get(), longer).empty());
    EXPECT_EQ(R3410_DH_compute_key(dh.get(), nullptr, 128), 0);
    EXPECT_EQ(R3410_DH_compute_key(nullptr, longer.data(), 128), 0);
}

TEST_F(Agreement, OutputRoomIsChecked) {
    KeyPtr alice = key_on_code(R3410_PARAMS_CRYPTOPRO_XCHC);
    KeyPtr bob = key_on_code(R3410_PARAMS_CRYPTOPRO_XCHC);
    ASSERT_TRUE(alice && bob);
    DhPtr a(R3410_dup_DH(alice.get()));
    const auto pb = bn_bytes(bob->y.get(), 128);
    std::vector<unsigned char> out(127);
    int len = 127;
    EXPECT_EQ(R3410_DH_compute_key_out(a.get(), pb.data(), 128, out.data(), &len), 0);
    EXPECT_EQ(len, 128);
}

TEST_F(Agreement, SelfTestPasses) {
    EXPECT_EQ(R3410_DH_check(nullptr), 1);
    EXPECT_EQ(R3410_dup_DH(nullptr), nullptr);
}

}  // namespace
}  // namespace cadb::testing
