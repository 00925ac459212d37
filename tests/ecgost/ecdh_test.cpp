#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ec_params.h"
#include "crypto/ecgost/ecgost.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using testing::hex_bn;

struct DhDeleter {
    void operator()(ECDH* d) const { ECDH_free(d); }
};
using DhPtr = std::unique_ptr<ECDH, DhDeleter>;
struct KeyDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using KeyPtr = std::unique_ptr<ECGOST, KeyDeleter>;

// The self test's curve has cofactor 4: points of small order exist beside
// the order-q subgroup.
const EC_PARAMS& kCofactor4 = *ec_params_self_test();

BnPtr shared(const ECDH* dh) { return BnPtr(ECDH_get_result(dh)); }

// A point of small order on the cofactor-4 curve: h·q'·R for a random R.
EcPointPtr small_order_point(ECURVE* c) {
    for (unsigned v = 1; v < 500; ++v) {
        EcPointPtr pt(ECPOINT_new(c));
        BN_set_word(pt->x.get(), v);
        if (!ECPOINT_derive(pt.get(), c, 0)) continue;
        ECPOINT_mul(pt.get(), c->q.get());
        if (!ECPOINT_is_infinity(pt.get())) return pt;
    }
    return nullptr;
}

class EveryMode : public ::testing::TestWithParam<int> {};

TEST_P(EveryMode, BothSidesAgree) {
    for (const EC_PARAMS* set : {&kCofactor4, ECURVE_params_by_code(ECURVE_CODE_CRYPTOPRO_A)}) {
        EcCurvePtr c(ECURVE_new_from_params(set));
        DhPtr a(ECDH_new(c.get(), GetParam())), b(ECDH_new(c.get(), GetParam()));
        ASSERT_EQ(ECDH_generate_key(a.get()), 1);
        ASSERT_EQ(ECDH_generate_key(b.get()), 1);
        ASSERT_EQ(ECDH_compute_key(b->pub.get(), a.get()), 1);
        ASSERT_EQ(ECDH_compute_key(a->pub.get(), b.get()), 1);
        BnPtr sa = shared(a.get()), sb = shared(b.get());
        ASSERT_TRUE(sa && sb);
        EXPECT_EQ(BN_cmp(sa.get(), sb.get()), 0);
        EXPECT_EQ(a->mode, GetParam());
    }
}

INSTANTIATE_TEST_SUITE_P(Cofactor, EveryMode,
                         ::testing::Values(ECDH_COFACTOR_NONE, ECDH_COFACTOR_MULTIPLY,
                                           ECDH_COFACTOR_COMPATIBLE));

// Mode 2 really multiplies by the cofactor: a peer point carrying a
// small-order part gives the same secret as the clean point, while mode 0
// refuses it outright.
TEST(Ecdh, CompatibleModeRemovesSmallOrderPart) {
    EcCurvePtr c(ECURVE_new_from_params(&kCofactor4));
    DhPtr a(ECDH_new(c.get(), ECDH_COFACTOR_COMPATIBLE)), b(ECDH_new(c.get(), 0));
    ASSERT_EQ(ECDH_generate_key(a.get()), 1);
    ASSERT_EQ(ECDH_generate_key(b.get()), 1);
    ASSERT_EQ(ECDH_compute_key(b->pub.get(), a.get()), 1);
    BnPtr clean = shared(a.get());
    EcPointPtr t = small_order_point(c.get());
    ASSERT_TRUE(t);
    EcPointPtr dirty(ECPOINT_dup(b->pub.get()));
    ASSERT_EQ(ECPOINT_add(dirty.get(), t.get()), 1);
    ASSERT_EQ(ECDH_compute_key(dirty.get(), a.get()), 1);
    EXPECT_EQ(BN_cmp(shared(a.get()).get(), clean.get()), 0);
    DhPtr plain(ECDH_new(c.get(), ECDH_COFACTOR_NONE));
    ASSERT_EQ(ECDH_generate_key(plain.get()), 1);
    EXPECT_EQ(ECDH_compute_key(dirty.get(), plain.get()), 0);
    EXPECT_EQ(ECDH_compute_key(t.get(), plain.get()), 0);
    // The small-order point alone multiplies to infinity in mode 2.
    EXPECT_EQ(ECDH_compute_key(t.get(), a.get()), 0);
    EXPECT_FALSE(shared(a.get()));
}

TEST(Ecdh, InvalidPeerIsRefused) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    DhPtr a(ECDH_new(c.get(), 0));
    ASSERT_EQ(ECDH_generate_key(a.get()), 1);
    EcPointPtr off(ECPOINT_dup(c->P.get()));
    BN_add_word(off->y.get(), 1);
    EXPECT_EQ(ECDH_compute_key(off.get(), a.get()), 0);
    EcPointPtr inf(ECPOINT_new(c.get()));
    ECPOINT_set_infinity(inf.get());
    EXPECT_EQ(ECDH_compute_key(inf.get(), a.get()), 0);
    EXPECT_EQ(ECDH_compute_vko(off.get(), nullptr, a.get()), nullptr);
    EXPECT_EQ(ECDH_compute_vko(inf.get(), nullptr, a.get()), nullptr);
    EXPECT_EQ(ECDH_compute_key(nullptr, a.get()), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_KEY_AGREEMENT);
    // Point bytes: infinity and an off-curve point.
    const unsigned char zero = 0;
    EXPECT_EQ(ECGOST_DH_compute_key(a.get(), &zero, 1), 0);
    std::vector<unsigned char> bytes(65);
    ASSERT_EQ(ECPOINT_point2bin(off.get(), 0, bytes.data(), bytes.size()), 65u);
    EXPECT_EQ(ECGOST_DH_compute_key(a.get(), bytes.data(), bytes.size()), 0);
}

TEST(Ecdh, NoCofactorMeansModeZero) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    c->h.reset();
    DhPtr a(ECDH_new(c.get(), ECDH_COFACTOR_COMPATIBLE));
    EXPECT_EQ(a->mode, ECDH_COFACTOR_NONE);
    EcCurvePtr c4(ECURVE_new_from_params(&kCofactor4));
    DhPtr b(ECDH_new(c4.get(), ECDH_COFACTOR_MULTIPLY));
    EXPECT_EQ(b->mode, ECDH_COFACTOR_MULTIPLY);
    EXPECT_EQ(ECDH_size(b.get()), 14);
    EXPECT_EQ(ECDH_point_size(b.get()), 28);
}

TEST(Vko, NullUkmIsPlainProductAndBothSidesAgree) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_XCHA));
    KeyPtr ka(ECGOST_new_by_curve(c.get())), kb(ECGOST_new_by_curve(c.get()));
    ASSERT_EQ(ECGOST_key_pair_generation(ka.get()), 1);
    ASSERT_EQ(ECGOST_key_pair_generation(kb.get()), 1);
    DhPtr a(ECGOST_dup_ECDH(ka.get())), b(ECGOST_dup_ECDH(kb.get()));
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->mode, ECDH_COFACTOR_COMPATIBLE);  // the set gives cofactor 1
    EcPointPtr plain(ECDH_compute_vko(kb->Q.get(), nullptr, a.get()));
    ASSERT_TRUE(plain);
    BnPtr d(ECGOST_get_private(ka.get()));
    EcPointPtr expect(ECPOINT_dup(kb->Q.get()));
    ASSERT_EQ(ECPOINT_mul(expect.get(), d.get()), 1);
    EXPECT_EQ(ECPOINT_cmp(plain.get(), expect.get()), 0);

    BnPtr ukm = hex_bn("1122334455667788");
    EcPointPtr ab(ECDH_compute_vko(kb->Q.get(), ukm.get(), a.get()));
    EcPointPtr ba(ECDH_compute_vko(ka->Q.get(), ukm.get(), b.get()));
    ASSERT_TRUE(ab && ba);
    EXPECT_EQ(ECPOINT_cmp(ab.get(), ba.get()), 0);
    EXPECT_NE(ECPOINT_cmp(ab.get(), plain.get()), 0);
    // A UKM of q makes infinity: refused.
    EXPECT_EQ(ECDH_compute_vko(kb->Q.get(), c->q.get(), a.get()), nullptr);
}

TEST(EcgostDh, SelfTestPassesAndSkipsItsOwnContexts) {
    EXPECT_EQ(ECGOST_check_params(), 1);
    EXPECT_EQ(ECGOST_check_params(), 1);
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    DhPtr dh(ECGOST_DH_init(c.get(), 0));
    ASSERT_TRUE(dh);
    EXPECT_EQ(ECGOST_DH_check(nullptr), 1);
    dh->marker = 0x682796E2;
    EXPECT_EQ(ECGOST_DH_check(dh.get()), 1);
    // The parameter digest holds from many threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20; ++i)
                if (ECGOST_check_params() != 1) ++failures;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(EcgostDh, ByteWrappersAgree) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
    DhPtr a(ECDH_new(c.get(), 0)), b(ECDH_new(c.get(), 0));
    unsigned char pa[65], pb[65];
    std::size_t la = 0;
    // Size query through a failing call.
    EXPECT_EQ(ECGOST_DH_generate_key(a.get(), nullptr, nullptr, nullptr, 0, nullptr, &la, 0), 0);
    EXPECT_EQ(la, 65u);
    la = sizeof pa;
    std::size_t lb = 33;
    ASSERT_EQ(ECGOST_DH_generate_key(a.get(), nullptr, nullptr, nullptr, 0, pa, &la, 0), 1);
    ASSERT_EQ(ECGOST_DH_generate_key(b.get(), nullptr, nullptr, nullptr, 0, pb, &lb,
                                     ECGOST_FLAG_COMPRESSED),
              1);
    EXPECT_EQ(lb, 33u);
    unsigned char sa[32], sb[32];
    std::size_t na = sizeof sa, nb = 1;
    ASSERT_EQ(ECGOST_DH_compute_key_out(a.get(), pb, lb, sa, &na), 1);
    EXPECT_EQ(ECGOST_DH_compute_key_out(b.get(), pa, la, sb, &nb), 0) << "buffer too small";
    ASSERT_GE(nb, 29u);
    ASSERT_EQ(ECGOST_DH_compute_key_out(b.get(), pa, la, sb, &nb), 1);
    EXPECT_EQ(std::vector<unsigned char>(sa, sa + na), std::vector<unsigned char>(sb, sb + nb));
    EXPECT_EQ(ECGOST_DH_compute_key(b.get(), pa, la - 1), 0) << "short point";

    // A context rebuilt from the clear private number and the own point.
    BnPtr da(BN_unmask_dup(a->d.get()));
    unsigned char key36[36] = {};
    BN_bn2binpad(da.get(), key36, 32);
    DhPtr again(ECDH_new(c.get(), 0));
    unsigned char pc[65];
    std::size_t lc = sizeof pc;
    ASSERT_EQ(ECGOST_DH_generate_key(again.get(), nullptr, key36, pa, la, pc, &lc, 0), 1);
    EXPECT_EQ(std::vector<unsigned char>(pa, pa + la), std::vector<unsigned char>(pc, pc + lc));
    unsigned char sc[32];
    std::size_t nc = sizeof sc;
    ASSERT_EQ(ECGOST_DH_compute_key_out(again.get(), pb, lb, sc, &nc), 1);
    EXPECT_EQ(std::vector<unsigned char>(sa, sa + na), std::vector<unsigned char>(sc, sc + nc));
    ERR_clear_error();
    EXPECT_EQ(ECGOST_DH_generate_key(nullptr, nullptr, nullptr, nullptr, 0, pc, &lc, 0), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(75, ECGOST_F_ECGOST_DH_GENERATE_KEY, 100));
}

// A clear private number given in bytes must lie in [1, q): zero, q itself
// and the largest 32-byte number are refused, q - 1 is taken.
TEST(EcgostDh, ClearNumberOutsideTheOrderIsRefused) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    DhPtr dh(ECDH_new(c.get(), 0));
    const std::vector<unsigned char> pub = testing::octets(c->P.get(), false);
    BnPtr q_minus_1(BN_dup(c->q.get()));
    ASSERT_TRUE(BN_sub_word(q_minus_1.get(), 1));
    auto attempt = [&](const BIGNUM* d) {
        unsigned char key36[36] = {};
        BN_bn2binpad(d, key36, 32);
        unsigned char out[65];
        std::size_t len = sizeof out;
        return ECGOST_DH_generate_key(dh.get(), nullptr, key36, pub.data(), pub.size(), out, &len,
                                      0);
    };
    BnPtr zero = bn_new(), all_ones = bn_new();
    BN_zero(zero.get());
    ASSERT_TRUE(BN_set_bit(all_ones.get(), 256) && BN_sub_word(all_ones.get(), 1));
    ERR_clear_error();
    EXPECT_EQ(attempt(zero.get()), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(75, ECGOST_F_ECGOST_DH_GENERATE_KEY, 100));
    EXPECT_EQ(attempt(c->q.get()), 0);
    EXPECT_EQ(attempt(all_ones.get()), 0);
    EXPECT_FALSE(dh->d) << "a refused number is not kept";
    EXPECT_EQ(attempt(q_minus_1.get()), 1);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
