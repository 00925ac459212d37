#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/r3410/r3410.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using testing::hex_bn;
using testing::random_below;

struct KeyDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using KeyPtr = std::unique_ptr<ECGOST, KeyDeleter>;
struct SigDeleter {
    void operator()(ECGOST_SIG* s) const { ECGOST_SIG_free(s); }
};
using SigPtr = std::unique_ptr<ECGOST_SIG, SigDeleter>;

std::map<std::string, std::string> read_vector_file(const std::string& name) {
    std::ifstream in(std::string(CADB_VECTORS_DIR) + "/" + name);
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos) continue;
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(" \t"));
            s.erase(s.find_last_not_of(" \t\r") + 1);
            return s;
        };
        values[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    return values;
}

std::vector<unsigned char> bn_bytes(const BIGNUM* v, int len) {
    std::vector<unsigned char> out(len);
    BN_bn2binpad(v, out.data(), len);
    return out;
}

KeyPtr new_key(int code) {
    EcCurvePtr c(ECURVE_new_by_code(code));
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    EXPECT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    return key;
}

// The published example of the signature standard on its test curve.
TEST(EcgostSign, PublishedExample) {
    auto v = read_vector_file("gost3410-2001-rfc5832-example.txt");
    ASSERT_FALSE(v["d"].empty()) << "vector file missing";
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_TEST));
    ASSERT_EQ(BN_cmp(c->p.get(), hex_bn(v["p"]).get()), 0);
    ASSERT_EQ(BN_cmp(c->q.get(), hex_bn(v["q"]).get()), 0);
    ASSERT_EQ(BN_cmp(c->b.get(), hex_bn(v["b"]).get()), 0);
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    ASSERT_EQ(ECGOST_set_private(key.get(), hex_bn(v["d"]).get()), 1);
    ASSERT_EQ(ECGOST_generate_pubkey(key.get()), 1);
    EXPECT_EQ(BN_cmp(key->Q->x.get(), hex_bn(v["Qx"]).get()), 0);
    EXPECT_EQ(BN_cmp(key->Q->y.get(), hex_bn(v["Qy"]).get()), 0);

    const auto e = bn_bytes(hex_bn(v["e"]).get(), 32);
    const auto k = bn_bytes(hex_bn(v["k"]).get(), 32);
    ASSERT_EQ(ECGOST_sign_setup(key.get(), k.data(), k.size(), nullptr, nullptr), 1);
    SigPtr sig(ECGOST_do_sign(e.data(), e.size(), key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(BN_cmp(sig->r.get(), hex_bn(v["r"]).get()), 0);
    EXPECT_EQ(BN_cmp(sig->s.get(), hex_bn(v["s"]).get()), 0);
    EXPECT_EQ(ECGOST_do_verify(e.data(), e.size(), sig.get(), key.get()), 1);

    // The prepared pair served once: the next signature draws a new k.
    SigPtr again(ECGOST_do_sign(e.data(), e.size(), key.get()));
    ASSERT_TRUE(again);
    EXPECT_NE(BN_cmp(again->r.get(), sig->r.get()), 0);
    EXPECT_EQ(ECGOST_do_verify(e.data(), e.size(), again.get(), key.get()), 1);

    // The public key alone verifies: the signer's key decoded from bytes.
    KeyPtr pub(ECGOST_new_by_curve(c.get()));
    unsigned char le[64];
    ASSERT_EQ(ECPOINT_point2le(key->Q.get(), le, sizeof le), 64u);
    pub->encoded_pub.assign(le, le + 64);
    ASSERT_EQ(ECGOST_decode_pubkey(pub.get()), 1);
    EXPECT_EQ(ECGOST_do_verify(e.data(), e.size(), sig.get(), pub.get()), 1);
}

TEST(EcgostSign, GivenKOutsideTheRangeIsReduced) {
    auto v = read_vector_file("gost3410-2001-rfc5832-example.txt");
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_TEST));
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    ASSERT_EQ(ECGOST_set_private(key.get(), hex_bn(v["d"]).get()), 1);
    // k + q, written in 33 bytes, gives the same signature as k.
    BnPtr kq = hex_bn(v["k"]);
    BN_add(kq.get(), kq.get(), c->q.get());
    const auto k = bn_bytes(kq.get(), 33);
    const auto e = bn_bytes(hex_bn(v["e"]).get(), 32);
    ASSERT_EQ(ECGOST_sign_setup(key.get(), k.data(), k.size(), nullptr, nullptr), 1);
    SigPtr sig(ECGOST_do_sign(e.data(), e.size(), key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(BN_cmp(sig->r.get(), hex_bn(v["r"]).get()), 0);
    // k = q reduces to zero: refused with reason 107.
    const auto q = bn_bytes(c->q.get(), 32);
    ERR_clear_error();
    EXPECT_EQ(ECGOST_sign_setup(key.get(), q.data(), q.size(), nullptr, nullptr), 0);
    EXPECT_EQ(ERR_peek_error(),
              ERR_pack_code(ERR_LIB_ECGOST, ECGOST_F_ECGOST_SIGN_SETUP, ECGOST_R_K_IS_ZERO));
    // A long run of 0xFF bytes is reduced, not counted down.
    std::vector<unsigned char> huge(4096, 0xFF);
    BIGNUM* kout = nullptr;
    BIGNUM* rout = nullptr;
    ASSERT_EQ(ECGOST_sign_setup(key.get(), huge.data(), huge.size(), &kout, &rout), 1);
    EXPECT_LT(BN_cmp(kout, c->q.get()), 0);
    BN_clear_free(kout);
    BN_free(rout);
}

// On the CryptoPro C set the key d = 1 has the base point, whose x is 0, as
// its public point: a valid point, and the key verifies its own signatures.
TEST(EcgostSign, PublicPointWithXZero) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_C));
    ASSERT_TRUE(c);
    KeyPtr key(ECGOST_new_by_curve(c.get()));
    ASSERT_EQ(ECGOST_set_private(key.get(), BN_value_one()), 1);
    ASSERT_EQ(ECGOST_generate_pubkey(key.get()), 1);
    EcPointPtr affine(ECPOINT_dup(key->Q.get()));
    ASSERT_TRUE(affine && ECPOINT_to_affine(affine.get()));
    ASSERT_TRUE(BN_is_zero(affine->x.get()));
    EXPECT_EQ(ECGOST_is_pubkey_valid(key->Q.get(), 0), 1);
    EXPECT_EQ(ECGOST_is_pubkey_valid(key->Q.get(), 1), 1);
    unsigned char dgst[32];
    for (int i = 0; i < 32; ++i) dgst[i] = static_cast<unsigned char>(0xA5 ^ i);
    SigPtr sig(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, sig.get(), key.get()), 1);
}

class EverySet : public ::testing::TestWithParam<int> {};

TEST_P(EverySet, SignVerifyRoundTripInEveryForm) {
    KeyPtr key = new_key(GetParam());
    ASSERT_TRUE(key);
    unsigned char dgst[32];
    for (int i = 0; i < 32; ++i) dgst[i] = static_cast<unsigned char>(i * 7 + GetParam());
    for (int type : {ECGOST_SIG_RAW, ECGOST_SIG_CRYPTOPRO, 274}) {
        unsigned char sig[80];
        std::size_t len = sizeof sig;
        ASSERT_EQ(ECGOST_sign(type, dgst, sizeof dgst, sig, &len, key.get()), 1) << type;
        EXPECT_EQ(len == 64, type != 274);
        EXPECT_EQ(ECGOST_verify(type, dgst, sizeof dgst, sig, len, key.get()), 1) << type;
        // Every flipped bit of the signature breaks it.
        for (std::size_t byte = 0; byte < len; byte += 5) {
            sig[byte] ^= 0x10;
            EXPECT_EQ(ECGOST_verify(type, dgst, sizeof dgst, sig, len, key.get()), 0)
                << type << " byte " << byte;
            sig[byte] ^= 0x10;
        }
        dgst[31] ^= 1;
        EXPECT_EQ(ECGOST_verify(type, dgst, sizeof dgst, sig, len, key.get()), 0);
        dgst[31] ^= 1;
    }
    // Another key does not verify the signature.
    KeyPtr other = new_key(GetParam());
    SigPtr s(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
    ASSERT_TRUE(s);
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, s.get(), other.get()), 0);
}

TEST_P(EverySet, FlippedRAndSFail) {
    KeyPtr key = new_key(GetParam());
    unsigned char dgst[32] = {1, 2, 3};
    SigPtr sig(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
    ASSERT_TRUE(sig);
    for (BIGNUM* v : {sig->r.get(), sig->s.get()}) {
        for (int bit : {0, 100, 200}) {
            if (BN_is_bit_set(v, bit))
                BN_clear_bit(v, bit);
            else
                BN_set_bit(v, bit);
            EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, sig.get(), key.get()), 0);
            if (BN_is_bit_set(v, bit))
                BN_clear_bit(v, bit);
            else
                BN_set_bit(v, bit);
        }
    }
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, sig.get(), key.get()), 1);
}

INSTANTIATE_TEST_SUITE_P(BuiltIn, EverySet, ::testing::ValuesIn(testing::kAllCodes));

TEST(EcgostVerify, RangeChecksAndErrors) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_A);
    const BIGNUM* q = key->curve->q.get();
    unsigned char dgst[32] = {9};
    SigPtr sig(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
    ASSERT_TRUE(sig);
    struct Case {
        bool on_r;
        int value;  // 0: zero, 1: q
        int reason;
    };
    for (const Case& c : {Case{true, 0, ECGOST_R_ZERO_R}, Case{true, 1, ECGOST_R_R_TOO_BIG},
                          Case{false, 0, ECGOST_R_ZERO_S}, Case{false, 1, ECGOST_R_S_TOO_BIG}}) {
        SigPtr bad(ECGOST_SIG_new());
        BN_copy(bad->r.get(), sig->r.get());
        BN_copy(bad->s.get(), sig->s.get());
        BIGNUM* target = c.on_r ? bad->r.get() : bad->s.get();
        if (c.value == 0)
            BN_zero(target);
        else
            BN_copy(target, q);
        ERR_clear_error();
        EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, bad.get(), key.get()), 0);
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(75, ECGOST_F_ECGOST_DO_VERIFY, c.reason));
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(75, ECGOST_F_ECGOST_DO_VERIFY, 75));
    }
    EXPECT_EQ(ECGOST_do_verify(nullptr, 32, sig.get(), key.get()), -1);
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, nullptr, key.get()), -1);
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, sig.get(), nullptr), -1);
    ERR_set_last_error(0);
    dgst[0] ^= 1;
    EXPECT_EQ(ECGOST_do_verify(dgst, sizeof dgst, sig.get(), key.get()), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SIGNATURE_MISMATCH);
}

TEST(EcgostSign, DigestMultipleOfQSignsAsOne) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_B);
    const auto q = bn_bytes(key->curve->q.get(), 32);
    const unsigned char one[1] = {1};
    SigPtr sig(ECGOST_do_sign(q.data(), q.size(), key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(ECGOST_do_verify(one, 1, sig.get(), key.get()), 1);
    const unsigned char zero[32] = {};
    EXPECT_EQ(ECGOST_do_verify(zero, 32, sig.get(), key.get()), 1);
}

TEST(EcgostSigForms, LayoutAndLengths) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_A);
    unsigned char dgst[32] = {5};
    SigPtr sig(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
    unsigned char cp[64], raw[64];
    ASSERT_EQ(ECGOST_SIG_to_bytes(sig.get(), ECGOST_SIG_CRYPTOPRO, key->curve, cp, 64), 64u);
    ASSERT_EQ(ECGOST_SIG_to_bytes(sig.get(), ECGOST_SIG_RAW, key->curve, raw, 64), 64u);
    EXPECT_EQ(bn_bytes(sig->s.get(), 32), std::vector<unsigned char>(cp, cp + 32));
    EXPECT_EQ(bn_bytes(sig->r.get(), 32), std::vector<unsigned char>(cp + 32, cp + 64));
    EXPECT_EQ(bn_bytes(sig->r.get(), 32), std::vector<unsigned char>(raw, raw + 32));
    for (std::size_t len : {63u, 65u, 0u}) {
        std::vector<unsigned char> buf(len + 1, 1);
        ERR_clear_error();
        EXPECT_EQ(ECGOST_SIG_from_bytes(ECGOST_SIG_CRYPTOPRO, buf.data(), len), nullptr);
        EXPECT_EQ(ERR_peek_error(), ERR_pack_code(ERR_LIB_GOSTS, GOSTS_F_D2I_GOSTS_SIG, 33));
    }
    for (std::size_t len : {0u, 63u}) {
        ERR_clear_error();
        EXPECT_EQ(ECGOST_SIG_from_bytes(ECGOST_SIG_RAW, raw, len), nullptr);
        EXPECT_EQ(ERR_peek_error(), ERR_pack_code(75, ECGOST_F_D2I_ECGOST_SIG, 33));
    }
    // Raw halves of any even length.
    SigPtr short_raw(ECGOST_SIG_from_bytes(ECGOST_SIG_RAW, raw + 16, 32));
    ASSERT_TRUE(short_raw);
    // DER round trip; trailing or truncated bytes are refused.
    unsigned char der[80];
    const std::size_t n = ECGOST_SIG_to_bytes(sig.get(), 274, key->curve, der, sizeof der);
    ASSERT_GT(n, 64u);
    SigPtr back(ECGOST_SIG_from_bytes(274, der, n));
    ASSERT_TRUE(back);
    EXPECT_EQ(BN_cmp(back->r.get(), sig->r.get()), 0);
    EXPECT_EQ(BN_cmp(back->s.get(), sig->s.get()), 0);
    EXPECT_EQ(ECGOST_SIG_from_bytes(274, der, n - 1), nullptr);
    der[n] = 0;
    EXPECT_EQ(ECGOST_SIG_from_bytes(274, der, n + 1), nullptr);
    // A buffer too small is a failure, not an overrun.
    unsigned char small[63];
    EXPECT_EQ(ECGOST_SIG_to_bytes(sig.get(), ECGOST_SIG_CRYPTOPRO, key->curve, small, 63), 0u);
    std::size_t room = 63;
    EXPECT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, dgst, 32, small, &room, key.get()), 0);
}

// One key signs and verifies on several threads at once.
// Lengths beyond what the big-number reader takes are refused before any
// byte is read: the buffers here are far shorter than the lengths claimed.
TEST(EcgostSigForms, LengthsBeyondIntAreRefused) {
    const unsigned char small[64] = {1};
    const std::size_t huge_even = 2 * (static_cast<std::size_t>(INT_MAX) + 1);
    EXPECT_EQ(ECGOST_SIG_from_bytes(ECGOST_SIG_RAW, small, huge_even), nullptr);
    EXPECT_EQ(ECGOST_SIG_from_bytes(ECGOST_SIG_RAW, small, SIZE_MAX - 1), nullptr);
    EXPECT_EQ(ECGOST_SIG_from_bytes(999, small, SIZE_MAX), nullptr);
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(ECGOST_new_by_curve(c.get()), ECGOST_free);
    ASSERT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    EXPECT_EQ(ECGOST_do_sign(small, static_cast<std::size_t>(INT_MAX) + 1, key.get()), nullptr);
    BIGNUM* k = nullptr;
    BIGNUM* r = nullptr;
    EXPECT_EQ(ECGOST_sign_setup(key.get(), small, static_cast<std::size_t>(INT_MAX) + 1, &k, &r),
              0);
    EXPECT_EQ(k, nullptr);
    ERR_clear_error();
}

TEST(EcgostSign, ConcurrentUseOfOneKey) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_A);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            unsigned char dgst[32] = {static_cast<unsigned char>(t)};
            for (int i = 0; i < 15; ++i) {
                dgst[1] = static_cast<unsigned char>(i);
                if (i % 5 == 0) ECGOST_sign_setup(key.get(), nullptr, 0, nullptr, nullptr);
                SigPtr sig(ECGOST_do_sign(dgst, sizeof dgst, key.get()));
                if (!sig || ECGOST_do_verify(dgst, sizeof dgst, sig.get(), key.get()) != 1)
                    ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(EcgostKeys, GeneratedKeyIsConsistent) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_C);
    EXPECT_EQ(ECGOST_is_pubkey_valid(key->Q.get(), 1), 1);
    // The public key recomputed from the (masked) private key is the same.
    // A point does not keep its curve alive: the test holds the curve.
    EcCurvePtr old_curve(ECURVE_up_ref(key->curve));
    EcPointPtr q(ECPOINT_dup(key->Q.get()));
    ASSERT_EQ(ECGOST_generate_pubkey(key.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(q.get(), key->Q.get()), 0);
    BnPtr d(ECGOST_get_private(key.get()));
    ASSERT_TRUE(d);
    EXPECT_LT(BN_cmp(d.get(), key->curve->q.get()), 0);
    EXPECT_FALSE(BN_is_zero(d.get()));
    EXPECT_EQ(BN_num_bits(d.get()) >= BN_num_bits(key->curve->q.get()) - 64, true);
    // Moving the key to the exchange twin of its set keeps the point.
    ASSERT_EQ(ECGOST_set_curve_by_nid(key.get(), 287), 1);
    EXPECT_EQ(key->nid, 287);
    EXPECT_EQ(ECPOINT_cmp(q.get(), key->Q.get()), 0);
    EXPECT_EQ(ECGOST_set_curve_by_nid(key.get(), 282), 0);
}

TEST(EcgostVerify, KeyWithoutAValidPointAcceptsNothing) {
    KeyPtr key = new_key(ECURVE_CODE_CRYPTOPRO_A);
    ASSERT_EQ(ECGOST_key_pair_generation(key.get()), 1);
    // With Q at infinity, W = s * e^-1 * P: a zero digest (e = 1) and s = 1
    // give W = P, so r = x(P) mod q would pass for anyone's signature.
    const unsigned char digest[32] = {};
    SigPtr forged(ECGOST_SIG_new());
    forged->r.reset(ECPOINT_get_x(key->curve->P.get(), nullptr));
    ASSERT_TRUE(forged->r);
    BN_CTX* ctx = BN_CTX_new();
    ASSERT_EQ(BN_nnmod(forged->r.get(), forged->r.get(), key->curve->q.get(), ctx), 1);
    BN_CTX_free(ctx);
    forged->s.reset(BN_new());
    BN_one(forged->s.get());
    ASSERT_EQ(ECPOINT_set_infinity(key->Q.get()), 1);
    EXPECT_NE(ECGOST_do_verify(digest, sizeof digest, forged.get(), key.get()), 1);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
