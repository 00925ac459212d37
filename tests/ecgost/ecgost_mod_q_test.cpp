// The fixed-width s = (r·d + k·e) mod q of a signature, the reduction of a
// given signing number and of a wider random draw, and the product of a
// public factor and a secret (VKO's UKM, the cofactor's inverse), against
// big-number arithmetic: the secrets at the edges (0, 1, q - 1, unreduced,
// with leading zero words) and random, on the orders of the built-in sets
// and on odd moduli of every width the fixed code takes; and the operands
// it hands to big-number arithmetic instead.
#include "crypto/ecgost/ecgost_mod_q.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "tests/ecgost/ec_test_util.h"

namespace cadb {
namespace {

using testing::hex_bn;
using testing::random_below;

BnPtr word(BN_ULONG w) {
    BnPtr v = bn_new();
    BN_set_word(v.get(), w);
    return v;
}

BnPtr shifted(BN_ULONG w, int bits) {
    BnPtr v = word(w);
    BN_lshift(v.get(), v.get(), bits);
    return v;
}

BnPtr minus(const BIGNUM* a, BN_ULONG w) {
    BnPtr v(BN_dup(a));
    BN_sub_word(v.get(), w);
    return v;
}

BnPtr plus(const BIGNUM* a, const BIGNUM* b) {
    BnPtr v = bn_new();
    BN_add(v.get(), a, b);
    return v;
}

int width_bits(const BIGNUM* q) { return (BN_num_bits(q) + 63) / 64 * 64; }

// Secrets below q: the edges, numbers whose top words are zero, and random.
std::vector<BnPtr> secrets(const BIGNUM* q) {
    std::vector<BnPtr> out;
    for (BN_ULONG w : {0u, 1u, 2u}) out.push_back(word(w));
    out.push_back(minus(q, 1));
    out.push_back(minus(q, 2));
    out.push_back(word(~static_cast<BN_ULONG>(0)));
    out.push_back(shifted(5, 64));
    out.push_back(plus(shifted(1, 128).get(), word(3).get()));
    // q's low half only: the upper words zero.
    BnPtr low(BN_dup(q));
    BN_mask_bits(low.get(), BN_num_bits(q) / 2);
    out.push_back(std::move(low));
    for (int i = 0; i < 6; ++i) out.push_back(random_below(q));
    // A number of q's width whose value shrank: its words above the top
    // stay allocated and zero.
    BnPtr shrunk = minus(q, 1);
    BN_set_word(shrunk.get(), 7);
    out.push_back(std::move(shrunk));
    return out;
}

// Public operands: r and e lie in [1, q) when signing, 0 is taken as well.
std::vector<BnPtr> publics(const BIGNUM* q) {
    std::vector<BnPtr> out;
    out.push_back(word(0));
    out.push_back(word(1));
    out.push_back(minus(q, 1));
    out.push_back(random_below(q));
    return out;
}

BnPtr reference_s(const BIGNUM* r, const BIGNUM* d, const BIGNUM* k, const BIGNUM* e,
                  const BIGNUM* q) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr s = bn_new(), t = bn_new();
    EXPECT_TRUE(BN_mod_mul(t.get(), r, d, q, ctx.get()) &&
                BN_mod_mul(s.get(), k, e, q, ctx.get()) &&
                BN_mod_add(s.get(), s.get(), t.get(), q, ctx.get()));
    return s;
}

// Every combination of the operands through the fixed code.
void expect_fixed_agrees(const BIGNUM* q, const std::vector<BnPtr>& ds) {
    BnCtxPtr ctx(BN_CTX_new());
    const auto ks = secrets(q);
    const auto ps = publics(q);
    BnPtr s = bn_new();
    for (const auto& d : ds)
        for (const auto& k : ks)
            for (const auto& r : ps)
                for (const auto& e : ps) {
                    ASSERT_EQ(ecgost::signature_s_fixed(s.get(), r.get(), d.get(), k.get(), e.get(),
                                                        q, ctx.get()),
                              1);
                    BnPtr want = reference_s(r.get(), d.get(), k.get(), e.get(), q);
                    ASSERT_EQ(BN_cmp(s.get(), want.get()), 0)
                        << "q " << BN_bn2hex(q) << " d " << BN_bn2hex(d.get()) << " k "
                        << BN_bn2hex(k.get()) << " r " << BN_bn2hex(r.get()) << " e "
                        << BN_bn2hex(e.get());
                }
}

// Keys as the fixed code takes them: below q, and unreduced up to the width.
std::vector<BnPtr> keys(const BIGNUM* q) {
    auto ds = secrets(q);
    ds.push_back(BnPtr(BN_dup(q)));
    ds.push_back(plus(q, word(1).get()));
    BnPtr top = bn_new();
    BN_set_bit(top.get(), width_bits(q));
    ds.push_back(minus(top.get(), 1));
    for (int i = 0; i < 4; ++i) {
        ds.push_back(bn_new());
        BN_rand(ds.back().get(), width_bits(q), BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
    }
    return ds;
}

// A signing number given as bytes, reduced: every key-like value.
void expect_reduction_agrees(const BIGNUM* q) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr got = bn_new(), want = bn_new();
    for (const auto& a : keys(q)) {
        ASSERT_EQ(ecgost::reduce_fixed(got.get(), a.get(), q, ctx.get()), 1);
        ASSERT_TRUE(BN_nnmod(want.get(), a.get(), q, ctx.get()));
        ASSERT_EQ(BN_cmp(got.get(), want.get()), 0);
        // In place, as signing does it.
        BnPtr in_place(BN_dup(a.get()));
        ASSERT_EQ(ecgost::reduce_fixed(in_place.get(), in_place.get(), q, ctx.get()), 1);
        ASSERT_EQ(BN_cmp(in_place.get(), want.get()), 0);
    }
}

// A public factor times every key-like secret.
void expect_product_agrees(const BIGNUM* q) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr got = bn_new(), want = bn_new();
    const auto as = publics(q);
    for (const auto& b : keys(q))
        for (const auto& a : as) {
            ASSERT_EQ(ecgost::product_fixed(got.get(), a.get(), b.get(), q, ctx.get()), 1);
            ASSERT_TRUE(BN_mod_mul(want.get(), a.get(), b.get(), q, ctx.get()));
            ASSERT_EQ(BN_cmp(got.get(), want.get()), 0)
                << "a " << BN_bn2hex(a.get()) << " b " << BN_bn2hex(b.get());
            // In place on the secret, as agreement does it.
            BnPtr in_place(BN_dup(b.get()));
            ASSERT_EQ(ecgost::product_fixed(in_place.get(), a.get(), in_place.get(), q, ctx.get()),
                      1);
            ASSERT_EQ(BN_cmp(in_place.get(), want.get()), 0);
        }
}

// The bytes of the fixed code's width for q: 4, 6, 8 or 11 words.
int piece_bytes(const BIGNUM* q) {
    const int words = (BN_num_bits(q) + 63) / 64;
    for (int n : {4, 6, 8, 11})
        if (words <= n) return 8 * n;
    return 0;
}

// Draws reduced by the pieces of the fixed code's width, from the top: one
// byte, one piece, a piece and a byte, two pieces, a byte short of three,
// and the draw of BN_rand_below (8 bytes over q's). Values at the edges of
// the pieces.
void expect_wide_reduction_agrees(const BIGNUM* q) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr got = bn_new(), want = bn_new();
    const int piece = piece_bytes(q);
    ASSERT_GT(piece, 0);
    for (int len : {1, BN_num_bytes(q) + 8, piece, piece + 1, 2 * piece, 3 * piece - 1}) {
        SCOPED_TRACE(len);
        std::vector<BnPtr> as;
        for (BN_ULONG w : {0u, 1u}) as.push_back(word(w));
        if (len >= BN_num_bytes(q)) {
            as.push_back(minus(q, 1));
            as.push_back(BnPtr(BN_dup(q)));
        }
        BnPtr all_ones = bn_new();
        BN_set_bit(all_ones.get(), 8 * len);
        as.push_back(minus(all_ones.get(), 1));
        for (int bits = 8 * piece; bits < 8 * len; bits += 8 * piece) {
            as.push_back(shifted(1, bits));
            as.push_back(minus(as.back().get(), 1));
        }
        for (int i = 0; i < 4; ++i) {
            as.push_back(bn_new());
            BN_rand(as.back().get(), 8 * len, BN_RAND_TOP_ANY, BN_RAND_BOTTOM_ANY);
        }
        for (const auto& a : as) {
            ASSERT_EQ(ecgost::reduce_wide_fixed(got.get(), a.get(), len, q, ctx.get()), 1);
            ASSERT_TRUE(BN_nnmod(want.get(), a.get(), q, ctx.get()));
            ASSERT_EQ(BN_cmp(got.get(), want.get()), 0) << BN_bn2hex(a.get());
        }
    }
}

class BuiltInOrder : public ::testing::TestWithParam<int> {};

TEST_P(BuiltInOrder, FixedWidthAgreesWithBigNumbers) {
    EcCurvePtr c(ECURVE_new_by_code(GetParam()));
    ASSERT_TRUE(c);
    expect_fixed_agrees(c->q.get(), keys(c->q.get()));
    expect_reduction_agrees(c->q.get());
    expect_product_agrees(c->q.get());
    expect_wide_reduction_agrees(c->q.get());
}

INSTANTIATE_TEST_SUITE_P(SignatureS, BuiltInOrder, ::testing::ValuesIn(testing::kAllCodes));

// Odd moduli of each width the fixed code is built for, full to the top
// bit and with zero top words.
TEST(SignatureS, OddModuliOfEveryWidth) {
    const char* moduli[] = {
        "36DF0AAFD8B8D7597CA10520D04B",
        "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF43",
        "1000000000000000000000000000000000000000000000001",
        "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77AECEC196ACC"
        "C52973",
        "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF27E69532F48D89116FF22B8D4E"
        "0560609B4B38ABFAD2B85DCACDB1411F10B275",
    };
    std::vector<BnPtr> qs;
    for (const char* hex : moduli) qs.push_back(hex_bn(hex));
    // The widest: 2^703 + 1, eleven words.
    qs.push_back(shifted(1, 703));
    BN_add_word(qs.back().get(), 1);
    for (const auto& q : qs) {
        SCOPED_TRACE(BN_num_bits(q.get()));
        ASSERT_TRUE(BN_is_odd(q.get()));
        expect_fixed_agrees(q.get(), keys(q.get()));
        expect_reduction_agrees(q.get());
        expect_product_agrees(q.get());
        expect_wide_reduction_agrees(q.get());
    }
}

// What the fixed code does not take goes to big-number arithmetic, with the
// same result.
TEST(SignatureS, OperandsOutsideTheFixedCodeTakeBigNumbers) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
    const BIGNUM* q = c->q.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr r = random_below(q), e = random_below(q), k = random_below(q), d = random_below(q);
    BnPtr negative(BN_dup(d.get()));
    BN_set_negative(negative.get(), 1);
    BnPtr wide = shifted(3, 256);
    BnPtr big_q = shifted(1, 800);
    BN_add_word(big_q.get(), 1);
    BnPtr even_q = minus(q, 1);
    struct Case {
        const char* what;
        const BIGNUM* r;
        const BIGNUM* d;
        const BIGNUM* k;
        const BIGNUM* e;
        const BIGNUM* q;
    };
    const Case cases[] = {
        {"negative d", r.get(), negative.get(), k.get(), e.get(), q},
        {"d wider than q", r.get(), wide.get(), k.get(), e.get(), q},
        {"negative k", r.get(), d.get(), negative.get(), e.get(), q},
        {"k wider than q", r.get(), d.get(), wide.get(), e.get(), q},
        {"r not below q", wide.get(), d.get(), k.get(), e.get(), q},
        {"e not below q", r.get(), d.get(), k.get(), q, q},
        {"q wider than the widths built", r.get(), d.get(), k.get(), e.get(), big_q.get()},
        {"even q", r.get(), d.get(), k.get(), e.get(), even_q.get()},
    };
    for (const Case& t : cases) {
        SCOPED_TRACE(t.what);
        BnPtr s = bn_new();
        EXPECT_EQ(ecgost::signature_s_fixed(s.get(), t.r, t.d, t.k, t.e, t.q, ctx.get()), -1);
        ASSERT_TRUE(ecgost::signature_s(s.get(), t.r, t.d, t.k, t.e, t.q, ctx.get()));
        EXPECT_EQ(BN_cmp(s.get(), reference_s(t.r, t.d, t.k, t.e, t.q).get()), 0);
    }
}

TEST(SignatureS, NumbersOutsideTheFixedReductionTakeBigNumbers) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_C));
    const BIGNUM* q = c->q.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr wide = bn_new();
    BN_rand(wide.get(), 4096 * 8, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY);
    BnPtr negative = random_below(q);
    BN_set_negative(negative.get(), 1);
    BnPtr even_q = minus(q, 1);
    for (const auto& [a, m] : {std::pair{wide.get(), q}, std::pair{negative.get(), q},
                               std::pair{wide.get(), static_cast<const BIGNUM*>(even_q.get())}}) {
        BnPtr got = bn_new(), want = bn_new();
        EXPECT_EQ(ecgost::reduce_fixed(got.get(), a, m, ctx.get()), -1);
        ASSERT_TRUE(ecgost::reduce_secret(got.get(), a, m, ctx.get()));
        ASSERT_TRUE(BN_nnmod(want.get(), a, m, ctx.get()));
        EXPECT_EQ(BN_cmp(got.get(), want.get()), 0);
    }
}

TEST(SignatureS, ProductsAndDrawsOutsideTheFixedCodeTakeBigNumbers) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_XCHB));
    const BIGNUM* q = c->q.get();
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr a = random_below(q), b = random_below(q);
    BnPtr negative(BN_dup(b.get()));
    BN_set_negative(negative.get(), 1);
    BnPtr wide = shifted(3, 256);
    BnPtr even_q = minus(q, 1);
    BnPtr big_q = shifted(1, 800);
    BN_add_word(big_q.get(), 1);
    struct Product {
        const char* what;
        const BIGNUM* a;
        const BIGNUM* b;
        const BIGNUM* q;
    };
    const Product products[] = {
        {"negative secret", a.get(), negative.get(), q},
        {"secret wider than q", a.get(), wide.get(), q},
        {"public factor not below q", wide.get(), b.get(), q},
        {"negative public factor", negative.get(), b.get(), q},
        {"even q", a.get(), b.get(), even_q.get()},
        {"q wider than the widths built", a.get(), b.get(), big_q.get()},
    };
    for (const Product& t : products) {
        SCOPED_TRACE(t.what);
        BnPtr got = bn_new(), want = bn_new();
        EXPECT_EQ(ecgost::product_fixed(got.get(), t.a, t.b, t.q, ctx.get()), -1);
        ASSERT_TRUE(ecgost::product_secret(got.get(), t.a, t.b, t.q, ctx.get()));
        ASSERT_TRUE(BN_mod_mul(want.get(), t.a, t.b, t.q, ctx.get()));
        EXPECT_EQ(BN_cmp(got.get(), want.get()), 0);
    }
    // A draw longer than its stated length, a negative one, and moduli the
    // fixed code does not take.
    const int len = BN_num_bytes(q) + 8;
    BnPtr longer = shifted(1, 8 * len);
    for (const auto& [v, m] : {std::pair{longer.get(), q}, std::pair{negative.get(), q},
                               std::pair{wide.get(), static_cast<const BIGNUM*>(even_q.get())},
                               std::pair{wide.get(), static_cast<const BIGNUM*>(big_q.get())}}) {
        BnPtr got = bn_new(), want = bn_new();
        EXPECT_EQ(ecgost::reduce_wide_fixed(got.get(), v, len, m, ctx.get()), -1);
        ASSERT_TRUE(ecgost::reduce_wide_secret(got.get(), v, len, m, ctx.get()));
        ASSERT_TRUE(BN_nnmod(want.get(), v, m, ctx.get()));
        EXPECT_EQ(BN_cmp(got.get(), want.get()), 0);
    }
}

// A key above q signs as its residue, as it always did.
TEST(SignatureS, UnreducedKeySignsAsItsResidue) {
    EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_B));
    const BIGNUM* q = c->q.get();
    BnPtr d = random_below(q);
    BnPtr dq = plus(d.get(), q);
    std::vector<unsigned char> k(32, 0x5A), dgst(32, 0xC3);
    std::vector<std::vector<unsigned char>> sigs;
    for (const BIGNUM* key_d : {d.get(), dq.get()}) {
        std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(ECGOST_new_by_curve(c.get()),
                                                            ECGOST_free);
        ASSERT_TRUE(key);
        ASSERT_EQ(ECGOST_set_private(key.get(), key_d), 1);
        ASSERT_EQ(ECGOST_sign_setup(key.get(), k.data(), k.size(), nullptr, nullptr), 1);
        std::unique_ptr<ECGOST_SIG, decltype(&ECGOST_SIG_free)> sig(
            ECGOST_do_sign(dgst.data(), dgst.size(), key.get()), ECGOST_SIG_free);
        ASSERT_TRUE(sig);
        std::vector<unsigned char> bytes(64);
        BN_bn2binpad(sig->r.get(), bytes.data(), 32);
        BN_bn2binpad(sig->s.get(), bytes.data() + 32, 32);
        sigs.push_back(bytes);
    }
    EXPECT_EQ(sigs[0], sigs[1]);
}

}  // namespace
}  // namespace cadb
