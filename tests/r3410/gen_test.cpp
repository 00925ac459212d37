#include <openssl/bn.h>

#include "crypto/r3410/r3410_params.h"
#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

using Generation = R3410Test;

struct Stages {
    int counts[4] = {0, 0, 0, 0};
};

void count_stage(int stage, int, void* arg) {
    auto* s = static_cast<Stages*>(arg);
    if (stage >= 0 && stage < 4) ++s->counts[stage];
}

// The standard's own example: procedure A from x0 and c gives p and q of the
// test set, and procedure C from d = 2 gives its a.
TEST_F(Generation, ProcedureAReproducesTheTestSet) {
    auto v = read_vector_file("gost3410-94-test-params.txt");
    ASSERT_FALSE(v["p"].empty());
    const auto x0 = static_cast<uint32_t>(std::stoul(v["x0"], nullptr, 16));
    const auto c = static_cast<uint32_t>(std::stoul(v["c"], nullptr, 16));
    const std::string d = "0x" + v["d"];
    Stages stages;
    KeyPtr key(R3410_gen_params(512, 256, x0, c, d.c_str(), count_stage, &stages));
    ASSERT_TRUE(key);
    EXPECT_EQ(BN_cmp(key->p.get(), bn_hex(v["p"]).get()), 0);
    EXPECT_EQ(BN_cmp(key->q.get(), bn_hex(v["q"]).get()), 0);
    EXPECT_EQ(BN_cmp(key->a.get(), bn_hex(v["a"]).get()), 0);
    EXPECT_EQ(key->x0, x0);
    EXPECT_EQ(key->c, c);
    EXPECT_EQ(key->bits_p, 512);
    // A given d is not kept.
    EXPECT_FALSE(key->d);
    EXPECT_GT(stages.counts[0], 0);
    EXPECT_GT(stages.counts[1], 0);
    EXPECT_EQ(stages.counts[2], 5);  // 32, 64, 128, 256 and 512 bits
    EXPECT_EQ(stages.counts[3], 1);

    // The same d in decimal gives the same a.
    KeyPtr dec(R3410_gen_params(512, 256, x0, c, v["d"].c_str(), nullptr, nullptr));
    ASSERT_TRUE(dec);
    EXPECT_EQ(BN_cmp(dec->a.get(), key->a.get()), 0);
}

// The library's second set was made by procedure B from its seed.
TEST_F(Generation, ProcedureBReproducesTheSecondSet) {
    KeyPtr key(R3410_gen_params(1024, 256, 0x3DA7, 0x61C5, "2", nullptr, nullptr));
    ASSERT_TRUE(key);
    KeyPtr second(GOSTS_new());
    ASSERT_EQ(R3410_set_params_by_code(second.get(), R3410_PARAMS_SECOND), 1);
    EXPECT_EQ(BN_cmp(key->p.get(), second->p.get()), 0);
    EXPECT_EQ(BN_cmp(key->q.get(), second->q.get()), 0);
    EXPECT_EQ(BN_cmp(key->a.get(), second->a.get()), 0);
}

TEST_F(Generation, RandomSeedsGiveAUsableGroup) {
    KeyPtr key(R3410_gen_params(511, 0, 0, 0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(key);
    EXPECT_NE(key->x0, 0u);
    EXPECT_EQ(key->c & 1u, 1u);
    EXPECT_EQ(key->bits_p, 511);
    EXPECT_EQ(key->bits_q, 255);
    ASSERT_TRUE(key->d);  // a drawn d is kept
    BnCtxPtr ctx(BN_CTX_new());
    EXPECT_EQ(BN_check_prime(key->p.get(), ctx.get(), nullptr), 1);
    EXPECT_EQ(BN_check_prime(key->q.get(), ctx.get(), nullptr), 1);
    ASSERT_EQ(GOSTS_generate_pubkey(key.get(), nullptr, 0), 1);
    const unsigned char dgst[32] = {1, 2, 3};
    SigPtr sig(GOSTS_do_sign(dgst, sizeof dgst, key.get()));
    ASSERT_TRUE(sig);
    EXPECT_EQ(GOSTS_do_verify(dgst, sizeof dgst, sig.get(), key.get()), 1);
}

TEST_F(Generation, SizesOutsideBothProceduresAreRefused) {
    for (auto [bp, bq] : {std::pair{768, 256}, {509, 256}, {1024, 254}, {1025, 256}, {0, 0}}) {
        ERR_clear_error();
        EXPECT_EQ(R3410_gen_params(bp, bq, 1, 1, nullptr, nullptr, nullptr), nullptr);
        EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_R3410);
        EXPECT_EQ(last_reason(), R3410_R_INVALID_LENGTH_OF_P_AND_Q);
    }
}

TEST_F(Generation, MalformedDIsRefused) {
    for (const char* d : {"", "0x", "12z", "0xZZ", "-"}) {
        EXPECT_EQ(R3410_gen_params(512, 256, 1, 1, d, nullptr, nullptr), nullptr) << d;
    }
}

TEST_F(Generation, PrimalityHelpers) {
    BnPtr n(BN_new());
    BN_set_word(n.get(), 17851);  // the last prime of the trial-division table
    EXPECT_EQ(R3410_is_prime(n.get()), 1);
    BN_set_word(n.get(), 17851UL * 17863UL);
    EXPECT_EQ(R3410_is_prime(n.get()), 0);
    // Factors beyond the table are left to the power test.
    BN_set_word(n.get(), 17863UL * 17881UL);
    EXPECT_EQ(R3410_is_prime(n.get()), 1);

    // 2 * 11 + 1 = 23 is proven prime from 11; 4 * 5 + 1 = 21 is not.
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr p(BN_new()), e(BN_new());
    BN_set_word(p.get(), 23);
    BN_set_word(e.get(), 2);
    EXPECT_EQ(R3410_test_prime(p.get(), e.get(), ctx.get()), 1);
    BN_set_word(p.get(), 21);
    BN_set_word(e.get(), 4);
    EXPECT_EQ(R3410_test_prime(p.get(), e.get(), ctx.get()), 0);
}

}  // namespace
}  // namespace cadb::testing
