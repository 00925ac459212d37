#include <openssl/bn.h>

#include <thread>

#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

using Signing = R3410Test;

constexpr int kTypeRS = 0;
constexpr int kTypeCryptoPro = NID_CRYPTOPRO_GOSTR3411_94_WITH_GOSTR3410_94;
constexpr int kTypeDer = 178;

std::vector<unsigned char> digest_of(unsigned char seed) {
    std::vector<unsigned char> d(32);
    for (size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(seed + 31 * i);
    return d;
}

std::vector<unsigned char> sign(int type, const std::vector<unsigned char>& dgst, GOSTS* key) {
    std::vector<unsigned char> sig(static_cast<size_t>(GOSTS_signature_size(key)));
    unsigned int len = 0;
    if (!GOSTS_sign(type, dgst.data(), static_cast<int>(dgst.size()), sig.data(), &len, key)) {
        return {};
    }
    sig.resize(len);
    return sig;
}

int verify(int type, const std::vector<unsigned char>& dgst, const std::vector<unsigned char>& sig,
           GOSTS* key) {
    return GOSTS_verify(type, dgst.data(), static_cast<int>(dgst.size()), sig.data(),
                        static_cast<int>(sig.size()), key);
}

TEST_F(Signing, RoundTripsOnEverySetInEveryForm) {
    for (int code : offered_codes()) {
        SCOPED_TRACE(code);
        KeyPtr key = key_on_code(code);
        ASSERT_TRUE(key);
        for (int type : {kTypeRS, kTypeCryptoPro, kTypeDer}) {
            SCOPED_TRACE(type);
            const auto dgst = digest_of(static_cast<unsigned char>(code));
            const auto sig = sign(type, dgst, key.get());
            ASSERT_FALSE(sig.empty());
            if (type != kTypeDer) {
                EXPECT_EQ(sig.size(), 64u);
            }
            EXPECT_EQ(verify(type, dgst, sig, key.get()), 1);

            // A flipped bit anywhere in the message or the signature fails.
            auto bad_dgst = dgst;
            bad_dgst[5] ^= 0x10;
            EXPECT_EQ(verify(type, bad_dgst, sig, key.get()), 0);
            if (type != kTypeDer) {
                for (size_t at : {size_t{0}, size_t{31}, size_t{32}, size_t{63}}) {
                    auto bad = sig;
                    bad[at] ^= 0x01;
                    EXPECT_EQ(verify(type, dgst, bad, key.get()), 0) << at;
                }
            }
        }
    }
}

TEST_F(Signing, FlippedBitInROrSFails) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    const auto dgst = digest_of(7);
    SigPtr sig(GOSTS_do_sign(dgst.data(), 32, key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(sig->qlen, 32);
    ASSERT_EQ(GOSTS_do_verify(dgst.data(), 32, sig.get(), key.get()), 1);
    for (int bit : {0, 77, 200}) {
        SigPtr r_flipped(R3410_SIG_new());
        BN_copy(r_flipped->r.get(), sig->r.get());
        BN_copy(r_flipped->s.get(), sig->s.get());
        BIGNUM* r = r_flipped->r.get();
        BN_is_bit_set(r, bit) ? BN_clear_bit(r, bit) : BN_set_bit(r, bit);
        EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, r_flipped.get(), key.get()), 0);
        SigPtr s_flipped(R3410_SIG_new());
        BN_copy(s_flipped->r.get(), sig->r.get());
        BN_copy(s_flipped->s.get(), sig->s.get());
        BIGNUM* s = s_flipped->s.get();
        BN_is_bit_set(s, bit) ? BN_clear_bit(s, bit) : BN_set_bit(s, bit);
        EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, s_flipped.get(), key.get()), 0);
    }
}

TEST_F(Signing, OutOfRangeHalvesAreRejectedWithTheirReasons) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_B);
    ASSERT_TRUE(key);
    const auto dgst = digest_of(1);
    SigPtr sig(GOSTS_do_sign(dgst.data(), 32, key.get()));
    ASSERT_TRUE(sig);
    struct Case {
        bool on_r;
        int value;  // 0: zero, 1: q
        int reason;
    };
    for (const Case c : {Case{true, 0, R3410_R_R_IS_ZERO}, Case{true, 1, R3410_R_R_TOO_BIG},
                         Case{false, 0, R3410_R_S_IS_ZERO}, Case{false, 1, R3410_R_S_TOO_BIG}}) {
        SigPtr bad(R3410_SIG_new());
        BN_copy(bad->r.get(), sig->r.get());
        BN_copy(bad->s.get(), sig->s.get());
        BIGNUM* half = c.on_r ? bad->r.get() : bad->s.get();
        if (c.value == 0)
            BN_zero(half);
        else
            BN_copy(half, key->q.get());
        ERR_clear_error();
        EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, bad.get(), key.get()), 0);
        EXPECT_EQ(last_reason(), c.reason);
    }
    // A key without y cannot verify: an error, not a "no".
    KeyPtr bare(GOSTS_new());
    R3410_set_default_params(bare.get());
    EXPECT_EQ(GOSTS_do_verify(dgst.data(), 32, sig.get(), bare.get()), -1);
}

// H = q reduces to 0 and is signed as H = 1.
TEST_F(Signing, DigestEqualToQSignsAsOne) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    const auto q_digest = bn_bytes(key->q.get(), 32);
    std::vector<unsigned char> one(32, 0);
    one[31] = 1;
    SigPtr sig(GOSTS_do_sign(q_digest.data(), 32, key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(GOSTS_do_verify(one.data(), 32, sig.get(), key.get()), 1);
    EXPECT_EQ(GOSTS_do_verify(q_digest.data(), 32, sig.get(), key.get()), 1);
}

TEST_F(Signing, GivenKIsUsedOnceAndGivesItsR) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_D);
    ASSERT_TRUE(key);
    const std::vector<unsigned char> k(32, 0x5A);
    const auto dgst = digest_of(3);
    ASSERT_EQ(GOSTS_sign_setup(key.get(), k.data(), 32), 1);
    SigPtr first(GOSTS_do_sign(dgst.data(), 32, key.get()));
    ASSERT_EQ(GOSTS_sign_setup(key.get(), k.data(), 32), 1);
    SigPtr second(GOSTS_do_sign(dgst.data(), 32, key.get()));
    SigPtr third(GOSTS_do_sign(dgst.data(), 32, key.get()));
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(BN_cmp(first->r.get(), second->r.get()), 0);
    EXPECT_EQ(BN_cmp(first->s.get(), second->s.get()), 0);
    EXPECT_NE(BN_cmp(first->r.get(), third->r.get()), 0);  // the triple was consumed

    // r = (a^k mod p) mod q for the given k.
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr kb(BN_bin2bn(k.data(), 32, nullptr)), r(BN_new());
    BN_mod(kb.get(), kb.get(), key->q.get(), ctx.get());
    BN_mod_exp(r.get(), key->a.get(), kb.get(), key->p.get(), ctx.get());
    BN_mod(r.get(), r.get(), key->q.get(), ctx.get());
    EXPECT_EQ(BN_cmp(r.get(), first->r.get()), 0);

    // k = q reduces to zero.
    const auto q_bytes = bn_bytes(key->q.get(), 32);
    ERR_clear_error();
    EXPECT_EQ(GOSTS_sign_setup(key.get(), q_bytes.data(), 32), 0);
    EXPECT_EQ(last_reason(), GOSTS_R_INVALID_K);
}

TEST_F(Signing, CryptoProFormPutsSFirst) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    const auto dgst = digest_of(9);
    const std::vector<unsigned char> k(32, 0x11);
    ASSERT_EQ(GOSTS_sign_setup(key.get(), k.data(), 32), 1);
    const auto cp = sign(kTypeCryptoPro, dgst, key.get());
    ASSERT_EQ(GOSTS_sign_setup(key.get(), k.data(), 32), 1);
    const auto rs = sign(kTypeRS, dgst, key.get());
    ASSERT_EQ(cp.size(), 64u);
    ASSERT_EQ(rs.size(), 64u);
    EXPECT_TRUE(std::equal(cp.begin(), cp.begin() + 32, rs.begin() + 32));
    EXPECT_TRUE(std::equal(cp.begin() + 32, cp.end(), rs.begin()));

    for (size_t len : {63u, 65u, 0u}) {
        std::vector<unsigned char> wrong(cp.begin(), cp.end());
        wrong.resize(len, 0);
        const unsigned char* p = wrong.data();
        ERR_clear_error();
        EXPECT_EQ(d2i_GOSTS_SIG(nullptr, &p, static_cast<long>(len)), nullptr);
        EXPECT_EQ(verify(kTypeCryptoPro, dgst, wrong, key.get()), 0);
    }
    // r||s of odd length is refused.
    std::vector<unsigned char> odd(rs.begin(), rs.end() - 1);
    EXPECT_EQ(verify(kTypeRS, dgst, odd, key.get()), 0);
}

TEST_F(Signing, DerSignatureIsStrict) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_XCHA);
    ASSERT_TRUE(key);
    const auto dgst = digest_of(4);
    auto sig = sign(kTypeDer, dgst, key.get());
    ASSERT_FALSE(sig.empty());
    EXPECT_EQ(sig[0], 0x30);
    auto trailing = sig;
    trailing.push_back(0);
    EXPECT_EQ(verify(kTypeDer, dgst, trailing, key.get()), 0);
    for (size_t cut = 1; cut < sig.size(); ++cut) {
        std::vector<unsigned char> part(sig.begin(), sig.begin() + static_cast<long>(cut));
        EXPECT_EQ(verify(kTypeDer, dgst, part, key.get()), 0) << cut;
    }
    // A negative r: the INTEGER's sign bit set, no leading zero.
    const unsigned char negative[] = {0x30, 0x06, 0x02, 0x01, 0x80, 0x02, 0x01, 0x01};
    const unsigned char* p = negative;
    EXPECT_EQ(d2i_R3410_SIG(nullptr, &p, sizeof negative), nullptr);
}

TEST_F(Signing, NullAndMissingPiecesFail) {
    KeyPtr key = key_on_code(R3410_PARAMS_DEFAULT);
    ASSERT_TRUE(key);
    EXPECT_EQ(GOSTS_do_sign(nullptr, 32, key.get()), nullptr);
    const auto dgst = digest_of(1);
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 0, key.get()), nullptr);
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 32, nullptr), nullptr);
    KeyPtr no_private(GOSTS_new());
    R3410_set_default_params(no_private.get());
    ERR_set_last_error(0);
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 32, no_private.get()), nullptr);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SIGNING);
    unsigned int len = 0;
    EXPECT_EQ(GOSTS_sign(0, dgst.data(), 32, nullptr, &len, key.get()), 0);
    EXPECT_EQ(GOSTS_verify(0, dgst.data(), 32, nullptr, 64, key.get()), 0);

    // A random private number needs a random source.
    const RAND_METHOD* current = RAND_get_rand_method();
    RAND_set_rand_method(nullptr);
    EXPECT_EQ(GOSTS_do_sign(dgst.data(), 32, key.get()), nullptr);
    RAND_set_rand_method(current);
}

TEST_F(Signing, PrivateKeyFromBytes) {
    KeyPtr key(GOSTS_new());
    ASSERT_EQ(R3410_set_params_by_code(key.get(), R3410_PARAMS_CRYPTOPRO_A), 1);
    const std::vector<unsigned char> x(40, 0x01);  // only the first 32 bytes count
    ASSERT_EQ(GOSTS_generate_pubkey(key.get(), x.data(), 40), 1);
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr xv(BN_bin2bn(x.data(), 32, nullptr)), y(BN_new());
    BN_mod(xv.get(), xv.get(), key->q.get(), ctx.get());
    BN_mod_exp(y.get(), key->a.get(), xv.get(), key->p.get(), ctx.get());
    EXPECT_EQ(BN_cmp(y.get(), key->y.get()), 0);

    // The public key from the stored (masked) private number is the same.
    key->y.reset();
    ASSERT_EQ(R3410_generate_pubkey(key.get()), 1);
    EXPECT_EQ(BN_cmp(y.get(), key->y.get()), 0);

    const auto q_bytes = bn_bytes(key->q.get(), 32);
    ERR_clear_error();
    EXPECT_EQ(GOSTS_generate_pubkey(key.get(), q_bytes.data(), 32), 0);
    EXPECT_EQ(last_reason(), R3410_R_INVALID_PRIVATE_KEY);
}

TEST_F(Signing, ThreadsShareOneKey) {
    KeyPtr key = key_on_code(R3410_PARAMS_CRYPTOPRO_A);
    ASSERT_TRUE(key);
    std::atomic<int> good{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const auto dgst = digest_of(static_cast<unsigned char>(t * 16 + i));
                if (i % 3 == 0) {
                    const std::vector<unsigned char> k(32, static_cast<unsigned char>(i + 1));
                    GOSTS_sign_setup(key.get(), k.data(), 32);
                }
                SigPtr sig(GOSTS_do_sign(dgst.data(), 32, key.get()));
                if (sig && GOSTS_do_verify(dgst.data(), 32, sig.get(), key.get()) == 1) ++good;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(good.load(), 40);
}

}  // namespace
}  // namespace cadb::testing
