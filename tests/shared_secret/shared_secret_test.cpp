#include "crypto/store/shared_secret.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <numeric>
#include <vector>

#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/core/objects.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const BUFFER* b) {
    return b && b->data ? Bytes(b->data, b->data + b->length) : Bytes{};
}

Bytes take(BUFFER* b) {
    BufferPtr owner(b);
    return bytes_of(b);
}

Bytes counting_secret(int len) {
    Bytes s(static_cast<std::size_t>(len));
    std::iota(s.begin(), s.end(), static_cast<unsigned char>(0xA1));
    return s;
}

// Drains the queue; true when it held (CADB, func, reason).
bool queued(int func, int reason = ERR_R_INTERNAL) {
    bool found = false;
    for (unsigned long e = ERR_get_error(); e; e = ERR_get_error())
        found |= ERR_code_lib(e) == ERR_LIB_CADB && ERR_code_func(e) == func &&
                 ERR_code_reason(e) == reason;
    return found;
}

template <typename T>
Bytes der_of(const T* record, int (*i2d)(const T*, unsigned char**)) {
    unsigned char* der = nullptr;
    const int len = i2d(record, &der);
    Bytes out(der, der + std::max(len, 0));
    OPENSSL_free(der);
    return out;
}

struct ParamsFree {
    void operator()(SHAMIR_SHARED_SECRET_PARAMS* p) const { SHAMIR_SHARED_SECRET_PARAMS_free(p); }
};
using ParamsPtr = std::unique_ptr<SHAMIR_SHARED_SECRET_PARAMS, ParamsFree>;
struct PointFree {
    void operator()(SHAMIR_SHARED_SECRET_POINT* p) const { SHAMIR_SHARED_SECRET_POINT_free(p); }
};
using PointPtr = std::unique_ptr<SHAMIR_SHARED_SECRET_POINT, PointFree>;

ParamsPtr decode_params(const Bytes& der) {
    const unsigned char* p = der.data();
    return ParamsPtr(d2i_SHAMIR_SHARED_SECRET_params(nullptr, &p, static_cast<long>(der.size())));
}

SharedSecretPtr read(const Bytes& der) {
    return SharedSecretPtr(SHARED_SECRET_read_params(der.data(), static_cast<int>(der.size())));
}

int add(SHARED_SECRET* s, const Bytes& der) {
    return SHARED_SECRET_add_point(s, der.data(), static_cast<int>(der.size()));
}

class SharedSecret : public ::testing::Test {
  protected:
    void SetUp() override { ERR_clear_error(); }
    void TearDown() override { ERR_clear_error(); }

    // A 2-of-3 sharing of a known 32-byte secret: its parameters and shares.
    void share_known(int threshold, int shares) {
        secret_ = counting_secret(32);
        SharedSecretPtr s(SHARED_SECRET_generate(secret_.data(), 32, threshold));
        ASSERT_TRUE(s);
        params_ = take(SHARED_SECRET_get_params(s.get()));
        ASSERT_FALSE(params_.empty());
        for (int i = 0; i < shares; ++i) {
            points_.push_back(take(SHARED_SECRET_get_point(s.get())));
            ASSERT_FALSE(points_.back().empty());
        }
    }

    // The secret rebuilt from the stored parameters and the chosen shares;
    // empty when any step fails.
    Bytes rebuild(const Bytes& params, const std::vector<Bytes>& chosen) {
        SharedSecretPtr s = read(params);
        if (!s) return {};
        for (const Bytes& pt : chosen)
            if (!add(s.get(), pt)) return {};
        return take(SHARED_SECRET_get_secret(s.get()));
    }

    testing::KernelRandom random_;
    Bytes secret_, params_;
    std::vector<Bytes> points_;
};

TEST_F(SharedSecret, SecretLengthIsHeldToEightToThirtyTwoBytes) {
    const Bytes secret = counting_secret(33);
    for (int len : {-1, 0, 7, 33}) {
        EXPECT_EQ(SHARED_SECRET_generate(secret.data(), len, 2), nullptr) << len;
        EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GENERATE)) << len;
        EXPECT_EQ(SHARED_SECRET_generate(nullptr, len, 2), nullptr) << len;
        EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GENERATE)) << len;
    }
    for (int len : {8, 32}) {
        for (const unsigned char* given :
             {secret.data(), static_cast<const unsigned char*>(nullptr)}) {
            SharedSecretPtr s(SHARED_SECRET_generate(given, len, 2));
            ASSERT_TRUE(s) << len;
            // The prime has one bit more than the secret, so every secret of
            // len bytes is below it.
            EXPECT_EQ(BN_num_bits(s->p.get()), 8 * len + 1);
            EXPECT_EQ(s->secret_bits, 8 * len);
            if (given) {
                Bytes back(static_cast<std::size_t>(len));
                ASSERT_EQ(BN_bn2binpad(s->secret.get(), back.data(), len), len);
                EXPECT_EQ(back, Bytes(given, given + len));
            }
        }
    }
}

TEST_F(SharedSecret, ThresholdBelowTwoIsRaisedAndAHugeOneRefused) {
    const Bytes secret = counting_secret(16);
    for (int t : {-7, 0, 1, 2}) {
        SharedSecretPtr s(SHARED_SECRET_generate(secret.data(), 16, t));
        ASSERT_TRUE(s) << t;
        EXPECT_EQ(s->threshold, 2) << t;
    }
    SharedSecretPtr top(SHARED_SECRET_generate(secret.data(), 16, SHARED_SECRET_MAX_THRESHOLD));
    EXPECT_TRUE(top);
    EXPECT_EQ(SHARED_SECRET_generate(secret.data(), 16, SHARED_SECRET_MAX_THRESHOLD + 1), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GENERATE));
}

TEST_F(SharedSecret, ZeroSecretIsRefused) {
    const Bytes zero(32, 0);
    EXPECT_EQ(SHARED_SECRET_generate(zero.data(), 32, 2), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GENERATE));
}

TEST_F(SharedSecret, AnyTwoOfThreeSharesRebuildTheSecret) {
    share_known(2, 3);
    for (std::size_t i = 0; i < 3; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            if (i != j) {
                EXPECT_EQ(rebuild(params_, {points_[i], points_[j]}), secret_) << i << j;
            }
        }
    }
    // One share is not enough.
    EXPECT_TRUE(rebuild(params_, {points_[0]}).empty());
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_SECRET));
    // A third share is refused once two are held.
    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    EXPECT_EQ(add(s.get(), points_[0]), 1);
    EXPECT_EQ(add(s.get(), points_[0]), 0);  // the same x twice
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_ADD_POINT));
    EXPECT_EQ(add(s.get(), points_[1]), 1);
    EXPECT_EQ(add(s.get(), points_[2]), 0);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_ADD_POINT));
}

TEST_F(SharedSecret, ThreeOfFiveNeedsThree) {
    share_known(3, 5);
    EXPECT_EQ(rebuild(params_, {points_[4], points_[0], points_[2]}), secret_);
    EXPECT_TRUE(rebuild(params_, {points_[4], points_[0]}).empty());
}

TEST_F(SharedSecret, RandomSecretOfEveryLengthRoundTrips) {
    for (int len = SHARED_SECRET_MIN_LEN; len <= SHARED_SECRET_MAX_LEN; ++len) {
        SharedSecretPtr s(SHARED_SECRET_generate(nullptr, len, 2));
        ASSERT_TRUE(s) << len;
        Bytes expect(static_cast<std::size_t>(len));
        ASSERT_EQ(BN_bn2binpad(s->secret.get(), expect.data(), len), len);
        const Bytes params = take(SHARED_SECRET_get_params(s.get()));
        const Bytes a = take(SHARED_SECRET_get_point(s.get()));
        const Bytes b = take(SHARED_SECRET_get_point(s.get()));
        // Leading zero bytes of the secret come back: the length is kept.
        EXPECT_EQ(rebuild(params, {a, b}), expect) << len;
    }
}

TEST_F(SharedSecret, AShareOfAnotherSharingFailsTheCheck) {
    share_known(2, 2);
    // Another sharing of another secret over the same prime: its shares are
    // well-formed numbers below the prime, so only the check value tells.
    SharedSecretPtr own = read(params_);
    ASSERT_TRUE(own);
    SharedSecretPtr other(SHAMIR_SHARED_SECRET_new(own->p.get(), 2));
    BnPtr other_secret(BN_new());
    ASSERT_TRUE(BN_set_word(other_secret.get(), 12345));
    ASSERT_EQ(SHAMIR_SHARED_SECRET_init(other.get(), other_secret.get()), 1);
    const Bytes foreign = take(SHARED_SECRET_get_point(other.get()));
    ASSERT_FALSE(foreign.empty());

    EXPECT_EQ(add(own.get(), points_[0]), 1);
    EXPECT_EQ(add(own.get(), foreign), 1);
    EXPECT_EQ(SHARED_SECRET_get_secret(own.get()), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_SECRET));

    // A share of a sharing with its own prime is refused or fails the check.
    SharedSecretPtr third(SHARED_SECRET_generate(secret_.data(), 32, 2));
    ASSERT_TRUE(third);
    EXPECT_TRUE(rebuild(params_, {points_[0], take(SHARED_SECRET_get_point(third.get()))}).empty());
}

TEST_F(SharedSecret, ATamperedShareFailsTheCheck) {
    share_known(2, 2);
    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    const unsigned char* p = points_[1].data();
    PointPtr pt(d2i_SHAMIR_SHARED_SECRET_point(nullptr, &p, static_cast<long>(points_[1].size())));
    ASSERT_TRUE(pt);
    BnPtr x(ASN1_INTEGER_to_BN(pt->x, nullptr)), y(ASN1_INTEGER_to_BN(pt->y, nullptr));
    BnCtxPtr ctx(BN_CTX_new());
    ASSERT_TRUE(BN_mod_add(y.get(), y.get(), BN_value_one(), s->p.get(), ctx.get()));
    PointPtr bad(SHAMIR_SHARED_SECRET_POINT_to_asn1(x.get(), y.get()));
    EXPECT_TRUE(
        rebuild(params_, {points_[0], der_of(bad.get(), i2d_SHAMIR_SHARED_SECRET_point)}).empty());
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_SECRET));
}

TEST_F(SharedSecret, ParamsRoundTripThroughRead) {
    share_known(3, 0);
    ParamsPtr rec = decode_params(params_);
    ASSERT_TRUE(rec);
    const ASN1_OBJECT* alg = nullptr;
    X509_ALGOR_get0(&alg, nullptr, nullptr, rec->algorithm);
    EXPECT_EQ(cadb::OBJ_obj2nid(alg), NID_HMAC_R3411);
    EXPECT_EQ(ASN1_INTEGER_get(rec->threshold), 3);
    EXPECT_EQ(ASN1_INTEGER_get(rec->secret_bits), 256);
    EXPECT_EQ(ASN1_STRING_length(rec->check), 32);  // a GOST R 34.11-94 HMAC

    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->threshold, 3);
    EXPECT_EQ(s->secret_bits, 256);
    EXPECT_EQ(s->check_nid, NID_HMAC_R3411);
    EXPECT_EQ(s->check, Bytes(rec->check->data, rec->check->data + rec->check->length));
    BnPtr prime(ASN1_INTEGER_to_BN(rec->prime, nullptr));
    EXPECT_EQ(BN_cmp(s->p.get(), prime.get()), 0);
    EXPECT_FALSE(s->secret);
    // Without its secret a sharing has no parameters to give.
    EXPECT_EQ(SHARED_SECRET_get_params(s.get()), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_PARAMS));
}

TEST_F(SharedSecret, ASha1CheckIsAcceptedOnRebuild) {
    share_known(2, 2);
    SharedSecretPtr gen(SHARED_SECRET_generate(secret_.data(), 32, 2));
    ASSERT_TRUE(gen);
    ParamsPtr rec(SHAMIR_SHARED_SECRET_PARAMS_to_asn1(gen.get(), EVP_sha1()));
    ASSERT_TRUE(rec);
    const Bytes params = der_of(rec.get(), i2d_SHAMIR_SHARED_SECRET_params);
    const Bytes a = take(SHARED_SECRET_get_point(gen.get()));
    const Bytes b = take(SHARED_SECRET_get_point(gen.get()));
    SharedSecretPtr s = read(params);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->check_nid, NID_hmacWithSHA1);
    EXPECT_EQ(rebuild(params, {a, b}), secret_);
}

TEST_F(SharedSecret, AnotherCheckAlgorithmIsRefusedOnRebuild) {
    share_known(2, 2);
    ParamsPtr rec = decode_params(params_);
    ASSERT_TRUE(rec);
    ASSERT_TRUE(
        X509_ALGOR_set0(rec->algorithm, OBJ_dup(::OBJ_nid2obj(NID_sha256)), V_ASN1_UNDEF, nullptr));
    const Bytes params = der_of(rec.get(), i2d_SHAMIR_SHARED_SECRET_params);
    EXPECT_TRUE(rebuild(params, {points_[0], points_[1]}).empty());
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_SECRET));
}

TEST_F(SharedSecret, ACheckValueOfAnotherLengthFails) {
    share_known(2, 2);
    for (int cut : {1, 31}) {
        ParamsPtr rec = decode_params(params_);
        ASSERT_TRUE(rec);
        ASSERT_TRUE(ASN1_OCTET_STRING_set(rec->check, rec->check->data, rec->check->length - cut));
        const Bytes params = der_of(rec.get(), i2d_SHAMIR_SHARED_SECRET_params);
        EXPECT_TRUE(rebuild(params, {points_[0], points_[1]}).empty()) << cut;
    }
}

TEST_F(SharedSecret, ASharingReadBackHandsOutSharesOnceItHoldsEnough) {
    share_known(2, 2);
    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    EXPECT_EQ(SHARED_SECRET_get_point(s.get()), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_POINT));
    ASSERT_EQ(add(s.get(), points_[0]), 1);
    ASSERT_EQ(add(s.get(), points_[1]), 1);
    const Bytes fresh = take(SHARED_SECRET_get_point(s.get()));
    ASSERT_FALSE(fresh.empty());
    EXPECT_EQ(rebuild(params_, {fresh, points_[1]}), secret_);
}

TEST_F(SharedSecret, TheGeneratingSharingRebuildsFromItsOwnShares) {
    share_known(2, 0);
    SharedSecretPtr s(SHARED_SECRET_generate(secret_.data(), 32, 2));
    ASSERT_TRUE(s);
    const Bytes a = take(SHARED_SECRET_get_point(s.get()));
    const Bytes b = take(SHARED_SECRET_get_point(s.get()));
    ASSERT_EQ(add(s.get(), a), 1);
    ASSERT_EQ(add(s.get(), b), 1);
    EXPECT_EQ(take(SHARED_SECRET_get_secret(s.get())), secret_);
}

TEST_F(SharedSecret, NullArgumentsAreRefused) {
    const unsigned char byte = 0x30;
    EXPECT_EQ(SHARED_SECRET_get_params(nullptr), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_PARAMS));
    EXPECT_EQ(SHARED_SECRET_read_params(nullptr, 10), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_READ_PARAMS));
    EXPECT_EQ(SHARED_SECRET_read_params(&byte, 0), nullptr);
    EXPECT_EQ(SHARED_SECRET_read_params(&byte, -1), nullptr);
    EXPECT_EQ(SHARED_SECRET_get_point(nullptr), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_POINT));
    EXPECT_EQ(SHARED_SECRET_add_point(nullptr, &byte, 1), 0);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_ADD_POINT));
    EXPECT_EQ(SHARED_SECRET_get_secret(nullptr), nullptr);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_GET_SECRET));
    SHARED_SECRET_free(nullptr);

    share_known(2, 1);
    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    EXPECT_EQ(SHARED_SECRET_add_point(s.get(), nullptr, 5), 0);
    EXPECT_EQ(SHARED_SECRET_add_point(s.get(), points_[0].data(), 0), 0);
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_ADD_POINT));
}

TEST_F(SharedSecret, TruncatedOrExtendedDerIsRefused) {
    share_known(2, 1);
    for (std::size_t n = 1; n < params_.size(); ++n)
        EXPECT_FALSE(read(Bytes(params_.begin(), params_.begin() + n))) << n;
    Bytes longer = params_;
    longer.push_back(0);
    EXPECT_FALSE(read(longer));
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_READ_PARAMS));

    SharedSecretPtr s = read(params_);
    ASSERT_TRUE(s);
    const Bytes& pt = points_[0];
    for (std::size_t n = 1; n < pt.size(); ++n)
        EXPECT_EQ(add(s.get(), Bytes(pt.begin(), pt.begin() + n)), 0) << n;
    Bytes pt_longer = pt;
    pt_longer.push_back(0);
    EXPECT_EQ(add(s.get(), pt_longer), 0);
    // A share is not parameters, nor the other way round.
    EXPECT_EQ(add(s.get(), params_), 0);
    EXPECT_FALSE(read(pt));
    EXPECT_EQ(s->held, 0);
    EXPECT_EQ(add(s.get(), pt), 1);
}

// Parameters whose numbers are edited before encoding.
class HostileParams : public SharedSecret {
  protected:
    void SetUp() override {
        SharedSecret::SetUp();
        share_known(2, 0);
    }
    bool read_with(void (*edit)(SHAMIR_SHARED_SECRET_PARAMS*)) {
        ParamsPtr rec = decode_params(params_);
        EXPECT_TRUE(rec);
        edit(rec.get());
        return static_cast<bool>(read(der_of(rec.get(), i2d_SHAMIR_SHARED_SECRET_params)));
    }
};

void set_prime(SHAMIR_SHARED_SECRET_PARAMS* p, const BIGNUM* v) {
    ASN1_INTEGER* i = BN_to_ASN1_INTEGER(v, p->prime);
    ASSERT_EQ(i, p->prime);
}

TEST_F(HostileParams, ThresholdOutsideTwoToTheBoundIsRefused) {
    EXPECT_TRUE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
        ASN1_INTEGER_set(p->threshold, SHARED_SECRET_MAX_THRESHOLD);
    }));
    EXPECT_FALSE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
        ASN1_INTEGER_set(p->threshold, SHARED_SECRET_MAX_THRESHOLD + 1);
    }));
    EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_READ_PARAMS));
    EXPECT_FALSE(read_with(
        [](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set_int64(p->threshold, 1LL << 40); }));
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->threshold, 1); }));
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->threshold, 0); }));
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->threshold, -2); }));
}

TEST_F(HostileParams, SecretBitsMustFitThePrime) {
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->secret_bits, 0); }));
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->secret_bits, -8); }));
    EXPECT_FALSE(
        read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set(p->secret_bits, 258); }));
    EXPECT_FALSE(read_with(
        [](SHAMIR_SHARED_SECRET_PARAMS* p) { ASN1_INTEGER_set_int64(p->secret_bits, 1LL << 35); }));
}

TEST_F(HostileParams, PrimeOutsideWhatGenerationMakesIsRefused) {
    EXPECT_FALSE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
        BnPtr big(BN_new());
        ASSERT_TRUE(BN_set_bit(big.get(), 4096));
        ASSERT_TRUE(BN_set_bit(big.get(), 0));
        set_prime(p, big.get());
    }));
    EXPECT_FALSE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
        BnPtr even(ASN1_INTEGER_to_BN(p->prime, nullptr));
        ASSERT_TRUE(BN_clear_bit(even.get(), 0));
        set_prime(p, even.get());
    }));
    for (BN_ULONG tiny : {0, 1, 2}) {
        static BN_ULONG value;
        value = tiny;
        EXPECT_FALSE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
            BnPtr v(BN_new());
            ASSERT_TRUE(BN_set_word(v.get(), value));
            set_prime(p, v.get());
        })) << tiny;
    }
    EXPECT_FALSE(read_with([](SHAMIR_SHARED_SECRET_PARAMS* p) {
        BnPtr neg(ASN1_INTEGER_to_BN(p->prime, nullptr));
        BN_set_negative(neg.get(), 1);
        set_prime(p, neg.get());
    }));
}

TEST_F(HostileParams, GarbageIsRefused) {
    for (const Bytes& junk : {Bytes{0x30, 0x00}, Bytes{0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF},
                              Bytes{0x02, 0x01, 0x00}, Bytes(300, 0xFF), Bytes{0x00}}) {
        EXPECT_FALSE(read(junk));
        EXPECT_TRUE(queued(CADB_F_SHARED_SECRET_READ_PARAMS));
    }
}

TEST(SharedSecretErrors, FunctionNamesAreInTheTable) {
    ERR_load_CADB_strings();
    const std::pair<int, const char*> names[] = {
        {CADB_F_SHARED_SECRET_GENERATE, "SHARED_SECRET_generate"},
        {CADB_F_SHARED_SECRET_GET_PARAMS, "SHARED_SECRET_get_params"},
        {CADB_F_SHARED_SECRET_READ_PARAMS, "SHARED_SECRET_read_params"},
        {CADB_F_SHARED_SECRET_GET_POINT, "SHARED_SECRET_get_point"},
        {CADB_F_SHARED_SECRET_ADD_POINT, "SHARED_SECRET_add_point"},
        {CADB_F_SHARED_SECRET_GET_SECRET, "SHARED_SECRET_get_secret"},
    };
    for (const auto& [func, name] : names)
        EXPECT_STREQ(ERR_func_error_string(ERR_pack_code(ERR_LIB_CADB, func, 0)), name);
}

}  // namespace
}  // namespace cadb
