#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <algorithm>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "crypto/ecgost/ecgost.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

struct KeyDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using KeyPtr = std::unique_ptr<ECGOST, KeyDeleter>;

template <typename F>
std::vector<unsigned char> der_of(F encode, const ECGOST* key) {
    const int len = encode(key, nullptr);
    std::vector<unsigned char> out(len > 0 ? len : 0);
    unsigned char* p = out.data();
    if (len > 0) {
        EXPECT_EQ(encode(key, &p), len);
    }
    return out;
}

KeyPtr generated(int code) {
    EcCurvePtr c(ECURVE_new_by_code(code));
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    EXPECT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    return key;
}

class EveryCurveDer : public ::testing::TestWithParam<int> {};

TEST_P(EveryCurveDer, PrivateKeyRoundTrip) {
    KeyPtr key = generated(GetParam());
    auto der = der_of(i2d_ECGOSTPrivateKey, key.get());
    ASSERT_FALSE(der.empty());
    const unsigned char* p = der.data();
    KeyPtr back(d2i_ECGOSTPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(p, der.data() + der.size());
    EXPECT_EQ(ECURVE_cmp(back->curve, key->curve), 0);
    EXPECT_EQ(back->curve->nid, key->curve->nid);
    EXPECT_EQ(ECPOINT_cmp(back->Q.get(), key->Q.get()), 0);
    BnPtr d1(ECGOST_get_private(key.get())), d2(ECGOST_get_private(back.get()));
    EXPECT_EQ(BN_cmp(d1.get(), d2.get()), 0);
    EXPECT_FALSE(back->check.has_value());
    // The decoded key signs, and its signatures verify with the original.
    unsigned char dgst[32] = {7};
    unsigned char sig[64];
    std::size_t len = sizeof sig;
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, dgst, 32, sig, &len, back.get()), 1);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst, 32, sig, len, key.get()), 1);
    // A built-in set travels by name, the test curve spelled out.
    auto params = der_of(i2d_ECGOSTparams, key.get());
    EXPECT_EQ(params[0], GetParam() == ECURVE_CODE_TEST ? 0x30 : 0x06);
    // Every truncation is refused.
    for (std::size_t cut = 0; cut < der.size(); cut += 7) {
        const unsigned char* q = der.data();
        EXPECT_EQ(d2i_ECGOSTPrivateKey(nullptr, &q, static_cast<long>(cut)), nullptr);
    }
}

TEST_P(EveryCurveDer, PublicKeyRoundTrip) {
    KeyPtr key = generated(GetParam());
    auto der = der_of(i2d_ECGOSTPublicKey, key.get());
    ASSERT_FALSE(der.empty());
    // Read before the curve is known: kept as bytes, decoded later.
    const unsigned char* p = der.data();
    KeyPtr early(d2i_ECGOSTPublicKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(early);
    EXPECT_FALSE(early->encoded_pub.empty());
    auto params = der_of(i2d_ECGOSTparams, key.get());
    ECGOST* filled = early.get();
    const unsigned char* pp = params.data();
    ASSERT_EQ(d2i_ECGOSTparams(&filled, &pp, static_cast<long>(params.size())), early.get());
    ASSERT_EQ(ECGOST_decode_pubkey(early.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(early->Q.get(), key->Q.get()), 0);
    // Read onto a key that has its curve: decoded at once.
    KeyPtr onto(ECGOST_new_by_curve(key->curve));
    ECGOST* target = onto.get();
    p = der.data();
    ASSERT_EQ(d2i_ECGOSTPublicKey(&target, &p, static_cast<long>(der.size())), onto.get());
    EXPECT_EQ(ECPOINT_cmp(onto->Q.get(), key->Q.get()), 0);
    // The GOST little-endian x || y form decodes too.
    unsigned char le[64];
    ASSERT_EQ(ECPOINT_point2le(key->Q.get(), le, sizeof le), 64u);
    onto->encoded_pub.assign(le, le + 64);
    ASSERT_EQ(ECGOST_decode_pubkey(onto.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(onto->Q.get(), key->Q.get()), 0);
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, EveryCurveDer, ::testing::ValuesIn(testing::kAllCodes));

// A check value of 0 is still a check value: the key stays opaque.
TEST(EcgostDer, OpaqueKeyWithZeroCheckValue) {
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    key->check = 0u;
    auto der = der_of(i2d_ECGOSTPrivateKey, key.get());
    const unsigned char* p = der.data();
    KeyPtr back(d2i_ECGOSTPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    ASSERT_TRUE(back->check.has_value());
    EXPECT_EQ(*back->check, 0u);
    // An opaque key signs nothing.
    unsigned char dgst[32] = {1};
    EXPECT_EQ(ECGOST_do_sign(dgst, 32, back.get()), nullptr);
    key->check = 0xDEADBEEFu;
    der = der_of(i2d_ECGOSTPrivateKey, key.get());
    p = der.data();
    back.reset(d2i_ECGOSTPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(*back->check, 0xDEADBEEFu);
}

// Set C's base point has x = 0: spelled out, the set is still recognised.
TEST(EcgostDer, ExplicitCurveOfABuiltInSetIsThatSet) {
    for (int code : {ECURVE_CODE_CRYPTOPRO_B, ECURVE_CODE_CRYPTOPRO_C}) {
        KeyPtr key = generated(code);
        const int nid = key->curve->nid;
        key->curve->nid = 0;  // force the explicit form
        auto params = der_of(i2d_ECGOSTparams, key.get());
        key->curve->nid = nid;
        ASSERT_EQ(params[0], 0x30);
        const unsigned char* p = params.data();
        KeyPtr back(d2i_ECGOSTparams(nullptr, &p, static_cast<long>(params.size())));
        ASSERT_TRUE(back) << code;
        EXPECT_EQ(back->curve->nid, nid);
        EXPECT_TRUE(back->curve->P->table);
    }
}

// Parameters spelled out may claim cofactor 1 for a group that has more
// points: the claim does not stand in for the multiplication by q, and a
// point outside the subgroup is still refused.
TEST(EcgostDer, ClaimedCofactorOneStillGetsTheOrderTest) {
    EcCurvePtr real(ECURVE_new_from_params(ec_params_self_test()));
    ASSERT_TRUE(real);
    EXPECT_TRUE(real->flags & ECURVE_FLAG_KNOWN_GROUP_ORDER);
    KeyPtr key(ECGOST_new_by_curve(real.get()));
    ASSERT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    BN_one(key->curve->h.get());  // the lie, only in the encoding
    auto params = der_of(i2d_ECGOSTparams, key.get());
    BN_set_word(key->curve->h.get(), 4);
    ASSERT_EQ(params[0], 0x30);
    const unsigned char* p = params.data();
    KeyPtr back(d2i_ECGOSTparams(nullptr, &p, static_cast<long>(params.size())));
    ASSERT_TRUE(back);
    ECURVE* claimed = back->curve;
    ASSERT_TRUE(claimed->h && BN_is_one(claimed->h.get()));
    EXPECT_FALSE(claimed->flags & ECURVE_FLAG_KNOWN_GROUP_ORDER);
    int outside = 0;
    for (unsigned v = 1; v < 200 && outside < 3; ++v) {
        EcPointPtr pt(ECPOINT_new(claimed));
        BN_set_word(pt->x.get(), v);
        if (!ECPOINT_derive(pt.get(), claimed, 0)) continue;
        EcPointPtr t(ECPOINT_dup(pt.get()));
        ECPOINT_mul(t.get(), claimed->q.get());
        if (ECPOINT_is_infinity(t.get())) continue;
        ++outside;
        EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 0), 1);
        EXPECT_EQ(ECGOST_is_pubkey_valid(pt.get(), 1), 0);
    }
    EXPECT_GT(outside, 0);
    ERR_clear_error();
}

TEST(EcgostDer, HostileParameters) {
    KeyPtr key = generated(ECURVE_CODE_TEST);
    auto params = der_of(i2d_ECGOSTparams, key.get());
    ASSERT_EQ(params[0], 0x30);
    // Trailing byte.
    auto longer = params;
    longer.push_back(0);
    const unsigned char* p = longer.data();
    EXPECT_EQ(d2i_ECGOSTparams(nullptr, &p, static_cast<long>(longer.size())), nullptr);
    // Damage every byte in turn: either refused or still a sound curve.
    for (std::size_t i = 0; i < params.size(); ++i) {
        auto bad = params;
        bad[i] ^= 0x01;
        const unsigned char* q = bad.data();
        KeyPtr k(d2i_ECGOSTparams(nullptr, &q, static_cast<long>(bad.size())));
        if (k) {
            EXPECT_EQ(ECPOINT_lies(k->curve->P.get()), 1) << i;
        }
    }
    // An unknown named set.
    const unsigned char unknown_oid[] = {0x06, 0x03, 0x2A, 0x03, 0x04};
    p = unknown_oid;
    EXPECT_EQ(d2i_ECGOSTparams(nullptr, &p, sizeof unknown_oid), nullptr);
    // NULL leaves the key's curve.
    const unsigned char null_params[] = {0x05, 0x00};
    ECGOST* k = key.get();
    ECURVE* before = key->curve;
    p = null_params;
    ASSERT_EQ(d2i_ECGOSTparams(&k, &p, sizeof null_params), key.get());
    EXPECT_EQ(key->curve, before);
}

// A clear private number outside [1, q - 1] names no key.
TEST(EcgostDer, PrivateNumberOutsideTheGroupIsRefused) {
    for (int code : {ECURVE_CODE_CRYPTOPRO_A, ECURVE_CODE_TEST}) {
        KeyPtr key = generated(code);
        BnPtr q(BN_dup(key->curve->q.get())), zero(BN_new());
        BN_zero(zero.get());
        BnPtr q_plus(BN_dup(q.get()));
        ASSERT_TRUE(BN_add_word(q_plus.get(), 5));
        for (BIGNUM* d : {zero.get(), q.get(), q_plus.get()}) {
            ASSERT_EQ(ECGOST_set_private(key.get(), d), 1);
            auto der = der_of(i2d_ECGOSTPrivateKey, key.get());
            ASSERT_FALSE(der.empty());
            const unsigned char* p = der.data();
            EXPECT_EQ(d2i_ECGOSTPrivateKey(nullptr, &p, static_cast<long>(der.size())), nullptr)
                << code;
        }
        ERR_clear_error();
    }
}

// Decoding into a caller's key: refused input leaves the key as it was.
TEST(EcgostDer, RefusedPrivateKeyLeavesTheCallersKey) {
    KeyPtr other = generated(ECURVE_CODE_CRYPTOPRO_B);
    auto der = der_of(i2d_ECGOSTPrivateKey, other.get());
    // Damage the public point's form byte: the parameters still read.
    const auto pub = ECPOINT_point2bin(other->Q.get(), 0, nullptr, 0);
    std::vector<unsigned char> point(pub);
    ASSERT_EQ(ECPOINT_point2bin(other->Q.get(), 0, point.data(), point.size()), pub);
    auto at = std::search(der.begin(), der.end(), point.begin(), point.end());
    ASSERT_NE(at, der.end());
    *at = 0x07;

    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    ECURVE* curve = key->curve;
    const int nid = key->nid;
    EcPointPtr q_before(ECPOINT_dup(key->Q.get()));
    BnPtr d_before(ECGOST_get_private(key.get()));
    ECGOST* k = key.get();
    const unsigned char* p = der.data();
    EXPECT_EQ(d2i_ECGOSTPrivateKey(&k, &p, static_cast<long>(der.size())), nullptr);
    EXPECT_EQ(p, der.data());
    EXPECT_EQ(key->curve, curve);
    EXPECT_EQ(key->nid, nid);
    ASSERT_TRUE(key->Q);
    EXPECT_EQ(ECPOINT_cmp(key->Q.get(), q_before.get()), 0);
    BnPtr d_after(ECGOST_get_private(key.get()));
    EXPECT_EQ(BN_cmp(d_after.get(), d_before.get()), 0);
    ERR_clear_error();

    // Sound input replaces the key whole.
    der = der_of(i2d_ECGOSTPrivateKey, other.get());
    p = der.data();
    ASSERT_EQ(d2i_ECGOSTPrivateKey(&k, &p, static_cast<long>(der.size())), key.get());
    EXPECT_EQ(ECURVE_cmp(key->curve, other->curve), 0);
    EXPECT_EQ(ECPOINT_cmp(key->Q.get(), other->Q.get()), 0);
    unsigned char dgst[32] = {3};
    unsigned char sig[64];
    std::size_t len = sizeof sig;
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, dgst, 32, sig, &len, key.get()), 1);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, dgst, 32, sig, len, other.get()), 1);
}

// A public key refused on the caller's curve leaves nothing behind in it.
TEST(EcgostDer, RefusedPublicKeyLeavesTheCallersKey) {
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    EcPointPtr q_before(ECPOINT_dup(key->Q.get()));
    // An OCTET STRING of 64 bytes that is no point of the curve.
    std::vector<unsigned char> der = {0x04, 0x40};
    der.resize(2 + 64, 0xFF);
    ECGOST* k = key.get();
    const unsigned char* p = der.data();
    EXPECT_EQ(d2i_ECGOSTPublicKey(&k, &p, static_cast<long>(der.size())), nullptr);
    EXPECT_TRUE(key->encoded_pub.empty());
    ASSERT_TRUE(key->Q);
    EXPECT_EQ(ECPOINT_cmp(key->Q.get(), q_before.get()), 0);
    EXPECT_EQ(ECGOST_decode_pubkey(key.get()), 0);
    ERR_clear_error();
}

// Implicit parameters read into a new key leave it without a curve: nothing
// may then be written as its parameters, and a private key with implicit
// parameters is refused unless the key it is read into has its curve.
TEST(EcgostDer, ImplicitParametersWithoutACurve) {
    const unsigned char null_params[] = {0x05, 0x00};
    const unsigned char* p = null_params;
    KeyPtr bare(d2i_ECGOSTparams(nullptr, &p, sizeof null_params));
    ASSERT_TRUE(bare);
    EXPECT_EQ(i2d_ECGOSTparams(bare.get(), nullptr), 0);

    // SEQUENCE { 0, NULL, OCTET STRING { 00 } (infinity), INTEGER 1 }
    const unsigned char implicit_key[] = {0x30, 0x0B, 0x02, 0x01, 0x00, 0x05, 0x00,
                                          0x04, 0x01, 0x00, 0x02, 0x01, 0x01};
    p = implicit_key;
    EXPECT_EQ(d2i_ECGOSTPrivateKey(nullptr, &p, sizeof implicit_key), nullptr);
    EXPECT_EQ(p, implicit_key);
    ERR_clear_error();
}

TEST(EcgostDer, KeyVersionKeepsItsFirstByte) {
    KeyPtr key = generated(ECURVE_CODE_CRYPTOPRO_A);
    key->version = 5;
    auto der = der_of(i2d_ECGOSTPrivateKey, key.get());
    const unsigned char* p = der.data();
    KeyPtr back(d2i_ECGOSTPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->version, 5);
}

}  // namespace
}  // namespace cadb
