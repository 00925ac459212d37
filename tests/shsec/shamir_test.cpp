#include "crypto/shsec/shamir.h"

#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

struct SharingFree {
    void operator()(SHAMIR_SHARED_SECRET* s) const { SHAMIR_SHARED_SECRET_free(s); }
};
using SharingPtr = std::unique_ptr<SHAMIR_SHARED_SECRET, SharingFree>;

struct Share {
    BnPtr x, y;
};

class Shamir : public ::testing::Test {
  protected:
    void SetUp() override {
        prime_ = bn_new();
        ASSERT_TRUE(::BN_generate_prime_ex(prime_.get(), 257, 0, nullptr, nullptr, nullptr));
        secret_ = bn_new();
        ASSERT_TRUE(::BN_rand(secret_.get(), 256, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY));
        ERR_clear_error();
    }

    SharingPtr sharing(int t) {
        SharingPtr s(SHAMIR_SHARED_SECRET_new(prime_.get(), t));
        EXPECT_TRUE(s);
        EXPECT_EQ(SHAMIR_SHARED_SECRET_init(s.get(), secret_.get()), 1);
        s->secret_bits = 256;
        return s;
    }

    std::vector<Share> shares(SHAMIR_SHARED_SECRET* s, int n) {
        std::vector<Share> out;
        for (int i = 0; i < n; ++i) {
            Share sh{bn_new(), bn_new()};
            EXPECT_EQ(SHAMIR_SHARED_SECRET_get_point(s, sh.x.get(), sh.y.get()), 1);
            out.push_back(std::move(sh));
        }
        return out;
    }

    // The secret rebuilt by a fresh sharing from the chosen shares, or null.
    BnPtr rebuild(int t, const std::vector<const Share*>& chosen) {
        SharingPtr s(SHAMIR_SHARED_SECRET_new(prime_.get(), t));
        for (const Share* sh : chosen)
            if (!SHAMIR_SHARED_SECRET_add_point(s.get(), sh->x.get(), sh->y.get())) return nullptr;
        BnPtr out = bn_new();
        if (!SHAMIR_SHARED_SECRET_get_secret(s.get(), out.get())) return nullptr;
        return out;
    }

    testing::KernelRandom random_;
    BnPtr prime_, secret_;
};

TEST_F(Shamir, AnyTwoOfThreeRebuildAndOneAloneIsRefused) {
    auto s = sharing(2);
    auto sh = shares(s.get(), 3);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            if (i == j) continue;
            BnPtr got = rebuild(2, {&sh[i], &sh[j]});
            ASSERT_TRUE(got);
            EXPECT_EQ(BN_cmp(got.get(), secret_.get()), 0) << i << j;
        }
    EXPECT_FALSE(rebuild(2, {&sh[0]}));
    ERR_clear_error();
}

TEST_F(Shamir, EveryThreeOfFiveRebuild) {
    auto s = sharing(3);
    auto sh = shares(s.get(), 5);
    for (int i = 0; i < 5; ++i)
        for (int j = i + 1; j < 5; ++j)
            for (int k = j + 1; k < 5; ++k) {
                BnPtr got = rebuild(3, {&sh[k], &sh[i], &sh[j]});
                ASSERT_TRUE(got);
                EXPECT_EQ(BN_cmp(got.get(), secret_.get()), 0);
            }
}

TEST_F(Shamir, SharingRebuiltFromSharesIssuesMatchingNewShares) {
    auto s = sharing(3);
    auto sh = shares(s.get(), 3);
    SharingPtr restored(SHAMIR_SHARED_SECRET_new(prime_.get(), 3));
    for (auto& x : sh)
        ASSERT_EQ(SHAMIR_SHARED_SECRET_add_point(restored.get(), x.x.get(), x.y.get()), 1);
    auto fresh = shares(restored.get(), 2);
    BnPtr got = rebuild(3, {&fresh[0], &fresh[1], &sh[2]});
    ASSERT_TRUE(got);
    EXPECT_EQ(BN_cmp(got.get(), secret_.get()), 0);
    // Shares are drawn at random abscissae, not 1, 2, 3...
    EXPECT_FALSE(BN_is_word(sh[0].x.get(), 1) && BN_is_word(sh[1].x.get(), 2));
}

TEST_F(Shamir, TooFewSharesCannotIssueNewOnes) {
    SharingPtr s(SHAMIR_SHARED_SECRET_new(prime_.get(), 2));
    BnPtr x = bn_new(), y = bn_new();
    EXPECT_EQ(SHAMIR_SHARED_SECRET_get_point(s.get(), x.get(), y.get()), 0);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_get_secret(s.get(), x.get()), 0);
    ERR_clear_error();
}

TEST_F(Shamir, BadSharesAreRefused) {
    auto s = sharing(2);
    auto sh = shares(s.get(), 2);
    SharingPtr r(SHAMIR_SHARED_SECRET_new(prime_.get(), 2));
    BnPtr zero = bn_new(), big = bn_dup(prime_.get()), one = bn_new();
    BN_zero(zero.get());
    BN_one(one.get());
    EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), zero.get(), one.get()), 0);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), big.get(), one.get()), 0);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), one.get(), big.get()), 0);
    EXPECT_EQ(ERR_code_lib(ERR_peek_error()), ERR_LIB_SHAMIR);
    ASSERT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), sh[0].x.get(), sh[0].y.get()), 1);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), sh[0].x.get(), sh[0].y.get()), 0);  // twice
    ASSERT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), sh[1].x.get(), sh[1].y.get()), 1);
    auto extra = shares(s.get(), 1);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(r.get(), extra[0].x.get(), extra[0].y.get()), 0);
    ERR_clear_error();
}

TEST_F(Shamir, SecretMustLieBelowThePrimeAndThresholdAtLeastTwo) {
    SharingPtr s(SHAMIR_SHARED_SECRET_new(prime_.get(), 2));
    EXPECT_EQ(SHAMIR_SHARED_SECRET_init(s.get(), prime_.get()), 0);
    BnPtr above = bn_dup(prime_.get());
    BN_add_word(above.get(), 5);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_init(s.get(), above.get()), 0);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_new(prime_.get(), 1), nullptr);
    EXPECT_EQ(SHAMIR_SHARED_SECRET_new(nullptr, 2), nullptr);
    ERR_clear_error();
}

TEST_F(Shamir, EveryFailureClosesWithTheLibrarysEntry) {
    struct Case {
        int func;
        bool (*run)(const BIGNUM* p);
    };
    const Case cases[] = {
        {SHAMIR_F_SHAMIR_SHARED_SECRET_NEW,
         [](const BIGNUM* p) { return SHAMIR_SHARED_SECRET_new(p, 1) == nullptr; }},
        {SHAMIR_F_SHAMIR_SHARED_SECRET_INIT,
         [](const BIGNUM* p) {
             SharingPtr s(SHAMIR_SHARED_SECRET_new(p, 2));
             return SHAMIR_SHARED_SECRET_init(s.get(), p) == 0;
         }},
        {SHAMIR_F_SHAMIR_SHARED_SECRET_ADD_POINT,
         [](const BIGNUM* p) {
             SharingPtr s(SHAMIR_SHARED_SECRET_new(p, 2));
             BnPtr zero = bn_new();
             BN_zero(zero.get());
             return SHAMIR_SHARED_SECRET_add_point(s.get(), zero.get(), zero.get()) == 0;
         }},
        {SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET,
         [](const BIGNUM* p) {
             SharingPtr s(SHAMIR_SHARED_SECRET_new(p, 2));
             BnPtr out = bn_new();
             return SHAMIR_SHARED_SECRET_get_secret(s.get(), out.get()) == 0;
         }},
        {SHAMIR_F_SHAMIR_SHARED_SECRET_POINT_TO_ASN1,
         [](const BIGNUM*) {
             return SHAMIR_SHARED_SECRET_POINT_to_asn1(nullptr, nullptr) == nullptr;
         }},
    };
    for (const Case& c : cases) {
        ERR_clear_error();
        ASSERT_TRUE(c.run(prime_.get())) << c.func;
        EXPECT_EQ(ERR_code_reason(ERR_peek_error()), ERR_R_INTERNAL) << c.func;
        const unsigned long last = ERR_peek_last_error();
        EXPECT_EQ(ERR_code_lib(last), ERR_LIB_SHAMIR) << c.func;
        EXPECT_EQ(ERR_code_func(last), c.func);
        EXPECT_EQ(ERR_code_reason(last), ERR_LIB_SHAMIR) << c.func;
    }
    ERR_clear_error();
}

// The threshold of a parameters record comes from a medium: the largest one
// makes a sharing that holds shares as they come and waits for the rest,
// without setting aside room for all of them first.
TEST_F(Shamir, LargestThresholdCostsNothingUpFront) {
    SharingPtr s(SHAMIR_SHARED_SECRET_new(prime_.get(), INT32_MAX));
    ASSERT_TRUE(s);
    const std::vector<Share> held = shares(sharing(3).get(), 3);
    for (const Share& sh : held)
        EXPECT_EQ(SHAMIR_SHARED_SECRET_add_point(s.get(), sh.x.get(), sh.y.get()), 1);
    BnPtr out = bn_new();
    EXPECT_EQ(SHAMIR_SHARED_SECRET_get_secret(s.get(), out.get()), 0);
    BnPtr x = bn_new(), y = bn_new();
    EXPECT_EQ(SHAMIR_SHARED_SECRET_get_point(s.get(), x.get(), y.get()), 0);
    ERR_clear_error();
}

TEST_F(Shamir, CheckValueIsTheHmacOfTheSecretUnderItself) {
    unsigned char bytes[32];
    ASSERT_EQ(BN_bn2binpad(secret_.get(), bytes, 32), 32);
    unsigned char want[EVP_MAX_MD_SIZE];
    unsigned int want_len = 0;
    ASSERT_TRUE(::HMAC(EVP_sha1(), bytes, 32, bytes, 32, want, &want_len));
    const auto sha1 = SHAMIR_check_value(NID_hmacWithSHA1, secret_.get(), 256);
    EXPECT_EQ(sha1, std::vector<unsigned char>(want, want + want_len));
    EXPECT_EQ(SHAMIR_check_value(NID_HMAC_R3411, secret_.get(), 256).size(), 32u);
    EXPECT_TRUE(SHAMIR_check_value(NID_sha256, secret_.get(), 256).empty());
    EXPECT_TRUE(SHAMIR_check_value(NID_hmacWithSHA1, secret_.get(), 8).empty());  // too short
}

TEST_F(Shamir, ParametersAndSharesRoundTripThroughDer) {
    auto s = sharing(2);
    for (const EVP_MD* md : {EVP_sha1(), static_cast<const EVP_MD*>(nullptr)}) {
        SHAMIR_SHARED_SECRET_PARAMS* p = SHAMIR_SHARED_SECRET_PARAMS_to_asn1(s.get(), md);
        ASSERT_NE(p, nullptr);
        unsigned char* der = nullptr;
        const int n = i2d_SHAMIR_SHARED_SECRET_params(p, &der);
        ASSERT_GT(n, 0);
        const unsigned char* in = der;
        SHAMIR_SHARED_SECRET_PARAMS* back = d2i_SHAMIR_SHARED_SECRET_params(nullptr, &in, n);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(in, der + n);
        EXPECT_EQ(ASN1_INTEGER_get(back->threshold), 2);
        EXPECT_EQ(ASN1_INTEGER_get(back->secret_bits), 256);
        const int want_nid = md ? NID_hmacWithSHA1 : NID_HMAC_R3411;
        EXPECT_EQ(cadb::OBJ_obj2nid(back->algorithm->algorithm), want_nid);
        EXPECT_EQ(ASN1_OCTET_STRING_cmp(back->check, p->check), 0);
        BnPtr prime(ASN1_INTEGER_to_BN(back->prime, nullptr));
        EXPECT_EQ(BN_cmp(prime.get(), prime_.get()), 0);
        SHAMIR_SHARED_SECRET_PARAMS_free(back);
        SHAMIR_SHARED_SECRET_PARAMS_free(p);
        OPENSSL_free(der);
    }
    auto sh = shares(s.get(), 1);
    SHAMIR_SHARED_SECRET_POINT* pt =
        SHAMIR_SHARED_SECRET_POINT_to_asn1(sh[0].x.get(), sh[0].y.get());
    unsigned char* der = nullptr;
    const int n = i2d_SHAMIR_SHARED_SECRET_point(pt, &der);
    const unsigned char* in = der;
    SHAMIR_SHARED_SECRET_POINT* back = d2i_SHAMIR_SHARED_SECRET_point(nullptr, &in, n);
    ASSERT_NE(back, nullptr);
    BnPtr x(ASN1_INTEGER_to_BN(back->x, nullptr));
    EXPECT_EQ(BN_cmp(x.get(), sh[0].x.get()), 0);
    SHAMIR_SHARED_SECRET_POINT_free(back);
    SHAMIR_SHARED_SECRET_POINT_free(pt);
    OPENSSL_free(der);
}

TEST_F(Shamir, HostileShareEncodingsAreRefused) {
    auto s = sharing(2);
    auto sh = shares(s.get(), 1);
    SHAMIR_SHARED_SECRET_POINT* pt =
        SHAMIR_SHARED_SECRET_POINT_to_asn1(sh[0].x.get(), sh[0].y.get());
    unsigned char* der = nullptr;
    const int n = i2d_SHAMIR_SHARED_SECRET_point(pt, &der);
    std::vector<unsigned char> good(der, der + n);
    OPENSSL_free(der);
    SHAMIR_SHARED_SECRET_POINT_free(pt);

    auto decodes = [](const std::vector<unsigned char>& b) {
        const unsigned char* in = b.data();
        SHAMIR_SHARED_SECRET_POINT* p =
            d2i_SHAMIR_SHARED_SECRET_point(nullptr, &in, static_cast<long>(b.size()));
        SHAMIR_SHARED_SECRET_POINT_free(p);
        return p != nullptr;
    };
    ASSERT_TRUE(decodes(good));
    for (std::size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(decodes({good.begin(), good.begin() + static_cast<long>(cut)})) << cut;
    auto trailing = good;
    trailing.push_back(0);
    EXPECT_FALSE(decodes(trailing));
    auto version = good;
    version[4] = 1;  // SEQUENCE header (2), INTEGER header (2), version byte
    EXPECT_FALSE(decodes(version));
    auto negative = good;
    negative[7] |= 0x80;  // first byte of x: sign bit set
    EXPECT_FALSE(decodes(negative));
    for (std::size_t i = 0; i < good.size(); ++i) {  // no flip may crash
        auto flipped = good;
        flipped[i] ^= 0xA5;
        decodes(flipped);
    }
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
