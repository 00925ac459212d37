#include <openssl/bn.h>

#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

using Der = R3410Test;

template <typename Encode>
std::vector<unsigned char> encode(const GOSTS* key, Encode enc) {
    const int len = enc(key, nullptr);
    if (len <= 0) return {};
    std::vector<unsigned char> out(static_cast<size_t>(len));
    unsigned char* p = out.data();
    if (enc(key, &p) != len || p != out.data() + len) return {};
    return out;
}

bool same_params(const GOSTS* a, const GOSTS* b) {
    return BN_cmp(a->p.get(), b->p.get()) == 0 && BN_cmp(a->q.get(), b->q.get()) == 0 &&
           BN_cmp(a->a.get(), b->a.get()) == 0;
}

// Every proper prefix of an encoding is refused.
template <typename Decode>
void expect_prefixes_refused(const std::vector<unsigned char>& der, Decode dec) {
    for (size_t cut = 0; cut < der.size(); ++cut) {
        const unsigned char* p = der.data();
        KeyPtr k(dec(nullptr, &p, static_cast<long>(cut)));
        EXPECT_FALSE(k) << cut;
    }
}

TEST_F(Der, ParametersRoundTripWithAndWithoutGenerationValues) {
    KeyPtr key(R3410_gen_params(512, 256, 0x5EC9, 0x7341, "2", nullptr, nullptr));
    ASSERT_TRUE(key);
    const auto der = encode(key.get(), i2d_R3410params);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    KeyPtr back(d2i_R3410params(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(p, der.data() + der.size());
    EXPECT_TRUE(same_params(key.get(), back.get()));
    EXPECT_EQ(back->x0, 0x5EC9u);
    EXPECT_EQ(back->c, 0x7341u);
    expect_prefixes_refused(der, d2i_R3410params);

    // A built-in set has no generation values: they are written as NULL.
    KeyPtr builtin(GOSTS_new());
    R3410_set_params_by_code(builtin.get(), R3410_PARAMS_CRYPTOPRO_A);
    const auto der2 = encode(builtin.get(), i2d_R3410params);
    ASSERT_GE(der2.size(), 2u);
    EXPECT_EQ(der2[der2.size() - 2], 0x05);
    EXPECT_EQ(der2[der2.size() - 1], 0x00);
    p = der2.data();
    KeyPtr back2(d2i_R3410params(nullptr, &p, static_cast<long>(der2.size())));
    ASSERT_TRUE(back2);
    EXPECT_TRUE(same_params(builtin.get(), back2.get()));
    EXPECT_EQ(back2->x0, 0u);

    // Decoding into an existing key fills that key.
    GOSTS* target = GOSTS_new();
    GOSTS* keep = target;
    p = der2.data();
    EXPECT_EQ(d2i_R3410params(&target, &p, static_cast<long>(der2.size())), keep);
    EXPECT_TRUE(same_params(builtin.get(), target));
    GOSTS_free(target);
}

TEST_F(Der, PrivateKeyPlainAndWrapped) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_B);
    ASSERT_TRUE(key);
    const auto der = encode(key.get(), i2d_R3410PrivateKey);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    KeyPtr back(d2i_R3410PrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    EXPECT_TRUE(same_params(key.get(), back.get()));
    EXPECT_EQ(BN_cmp(key->y.get(), back->y.get()), 0);
    EXPECT_FALSE(back->has_check);
    // The decoded key signs, and its signatures verify under the original.
    const std::vector<unsigned char> dgst(32, 0x42);
    SigPtr sig(GOSTS_do_sign(dgst.data(), 32, back.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, sig.get(), key.get()), 1);
    expect_prefixes_refused(der, d2i_R3410PrivateKey);

    // The wrapped form; a check value of 0 still marks the key wrapped.
    KeyPtr wrapped(GOSTS_new());
    R3410_set_params_by_code(wrapped.get(), R3410_PARAMS_CRYPTOPRO_B);
    wrapped->y.reset(BN_dup(key->y.get()));
    BnPtr w(BN_new()), check(BN_new());
    BN_set_word(w.get(), 0x1234567);
    BN_zero(check.get());
    wrapped->x.reset(BN_MASKED_new());
    BN_mask(wrapped->x.get(), w.get());
    wrapped->check = std::move(check);
    wrapped->has_check = true;
    const auto wder = encode(wrapped.get(), i2d_R3410PrivateKey);
    ASSERT_FALSE(wder.empty());
    p = wder.data();
    KeyPtr wback(d2i_R3410PrivateKey(nullptr, &p, static_cast<long>(wder.size())));
    ASSERT_TRUE(wback);
    EXPECT_TRUE(wback->has_check);
    EXPECT_TRUE(BN_is_zero(wback->check.get()));
    BnPtr wx(BN_unmask_dup(wback->x.get()));
    EXPECT_EQ(BN_cmp(wx.get(), w.get()), 0);
    // A wrapped key cannot sign until it is unwrapped.
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 32, wback.get()), nullptr);
}

TEST_F(Der, PrivateKeyWithOutOfRangeNumbersIsRefused) {
    KeyPtr key = key_on_code(R3410_PARAMS_DEFAULT);
    ASSERT_TRUE(key);
    // x = q is not a private key.
    key->x.reset(BN_MASKED_new());
    BN_mask(key->x.get(), key->q.get());
    const auto der = encode(key.get(), i2d_R3410PrivateKey);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    EXPECT_FALSE(KeyPtr(d2i_R3410PrivateKey(nullptr, &p, static_cast<long>(der.size()))));
}

TEST_F(Der, PublicKeyBothForms) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    const auto bare = encode(key.get(), i2d_R3410PublicKey);
    ASSERT_FALSE(bare.empty());
    EXPECT_EQ(bare[0], 0x02);  // INTEGER y
    const unsigned char* p = bare.data();
    KeyPtr back(d2i_R3410PublicKey(nullptr, &p, static_cast<long>(bare.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(BN_cmp(back->y.get(), key->y.get()), 0);
    EXPECT_FALSE(back->write_params);
    EXPECT_FALSE(back->p);

    key->write_params = true;
    const auto full = encode(key.get(), i2d_R3410PublicKey);
    ASSERT_FALSE(full.empty());
    EXPECT_EQ(full[0], 0x30);
    p = full.data();
    KeyPtr fback(d2i_R3410PublicKey(nullptr, &p, static_cast<long>(full.size())));
    ASSERT_TRUE(fback);
    EXPECT_TRUE(fback->write_params);
    EXPECT_TRUE(same_params(key.get(), fback.get()));
    expect_prefixes_refused(full, d2i_R3410PublicKey);

    // Garbage and wrong types.
    const unsigned char octets[] = {0x04, 0x01, 0x00};
    p = octets;
    EXPECT_FALSE(KeyPtr(d2i_R3410PublicKey(nullptr, &p, sizeof octets)));
    const unsigned char negative[] = {0x02, 0x01, 0xFF};
    p = negative;
    EXPECT_FALSE(KeyPtr(d2i_R3410PublicKey(nullptr, &p, sizeof negative)));
}

TEST_F(Der, CryptoProPublicKeyIsLittleEndian) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_XCHB);
    ASSERT_TRUE(key);
    const auto der = encode(key.get(), i2d_R3410_CP_PublicKey);
    ASSERT_EQ(der.size(), 131u);  // 04 81 80 and 128 bytes
    EXPECT_EQ(der[0], 0x04);
    const auto be = bn_bytes(key->y.get(), 128);
    EXPECT_TRUE(std::equal(be.rbegin(), be.rend(), der.begin() + 3));

    KeyPtr other(GOSTS_new());
    R3410_set_params_by_code(other.get(), R3410_PARAMS_CRYPTOPRO_XCHB);
    const unsigned char* p = der.data();
    ASSERT_EQ(d2i_R3410_CP_PublicKey(other.get(), &p, static_cast<long>(der.size())), 1);
    EXPECT_EQ(BN_cmp(other->y.get(), key->y.get()), 0);

    // The value must be exactly as long as p.
    const unsigned char short_value[] = {0x04, 0x02, 0x01, 0x02};
    p = short_value;
    EXPECT_EQ(d2i_R3410_CP_PublicKey(other.get(), &p, sizeof short_value), 0);
}

TEST_F(Der, HostileParameters) {
    // p of 1032 bits is larger than any group of the standard.
    KeyPtr key(GOSTS_new());
    R3410_set_default_params(key.get());
    BN_lshift(key->p.get(), key->p.get(), 8);
    const auto der = encode(key.get(), i2d_R3410params);
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    EXPECT_FALSE(KeyPtr(d2i_R3410params(nullptr, &p, static_cast<long>(der.size()))));

    const unsigned char* np = nullptr;
    EXPECT_FALSE(KeyPtr(d2i_R3410params(nullptr, &np, 10)));
    EXPECT_FALSE(KeyPtr(d2i_R3410params(nullptr, nullptr, 10)));
    EXPECT_EQ(i2d_R3410params(nullptr, nullptr), 0);
    KeyPtr empty(GOSTS_new());
    EXPECT_EQ(i2d_R3410PrivateKey(empty.get(), nullptr), 0);
    EXPECT_EQ(i2d_R3410PublicKey(empty.get(), nullptr), 0);
}

}  // namespace
}  // namespace cadb::testing
