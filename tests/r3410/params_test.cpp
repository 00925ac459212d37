#include <openssl/bn.h>

#include <fstream>
#include <map>
#include <string>

#include "crypto/core/objects.h"
#include "crypto/r3410/dsa_default.h"
#include "crypto/r3410/r3410_params.h"
#include "tests/r3410/test_support.h"

namespace cadb::testing {
namespace {

using Params = R3410Test;

// p and q prime, q | p - 1, a of order q: what every set must satisfy for a
// signature to mean anything.
TEST_F(Params, EveryBuiltInSetIsAGroupOfPrimeOrder) {
    BnCtxPtr ctx(BN_CTX_new());
    std::vector<R3410_PARAM_SET> sets(R3410_param_sets().begin(), R3410_param_sets().end());
    sets.push_back(R3410_test_param_set());
    for (const auto& set : sets) {
        SCOPED_TRACE(set.code);
        BnPtr p(BN_bin2bn(set.p.data(), static_cast<int>(set.p.size()), nullptr));
        BnPtr q(BN_bin2bn(set.q.data(), static_cast<int>(set.q.size()), nullptr));
        BnPtr a(BN_bin2bn(set.a.data(), static_cast<int>(set.a.size()), nullptr));
        EXPECT_EQ(BN_num_bits(p.get()), static_cast<int>(8 * set.p.size()));
        EXPECT_EQ(BN_num_bits(q.get()), 256);
        EXPECT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);
        EXPECT_EQ(BN_check_prime(q.get(), ctx.get(), nullptr), 1);
        BnPtr rem(BN_new()), pm1(BN_dup(p.get())), t(BN_new());
        BN_sub_word(pm1.get(), 1);
        BN_mod(rem.get(), pm1.get(), q.get(), ctx.get());
        EXPECT_TRUE(BN_is_zero(rem.get()));
        EXPECT_FALSE(BN_is_one(a.get()));
        BN_mod_exp(t.get(), a.get(), q.get(), p.get(), ctx.get());
        EXPECT_TRUE(BN_is_one(t.get()));
    }
}

// The published sets, one "name = value" record per set.
std::vector<std::map<std::string, std::string>> published_sets() {
    std::ifstream in(std::string(CADB_VECTORS_DIR) + "/gost3410-94-paramsets.txt");
    std::vector<std::map<std::string, std::string>> sets(1);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) {
            if (!sets.back().empty()) sets.emplace_back();
            continue;
        }
        if (line[0] == '#') continue;
        const auto eq = line.find(" = ");
        if (eq != std::string::npos) sets.back()[line.substr(0, eq)] = line.substr(eq + 3);
    }
    if (sets.back().empty()) sets.pop_back();
    return sets;
}

std::string hex_of(std::span<const unsigned char> bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

// Every set with a parameter-set object matches the published one byte for
// byte, found by its OID; and every published set is built in.
TEST_F(Params, BuiltInSetsAreThePublishedOnes) {
    const auto published = published_sets();
    ASSERT_EQ(published.size(), 7u);
    int matched = 0;
    for (const auto& rec : published) {
        SCOPED_TRACE(rec.at("name"));
        const R3410_PARAM_SET* set =
            R3410_param_set_by_nid(cadb::OBJ_txt2nid(rec.at("oid").c_str()));
        ASSERT_NE(set, nullptr);
        EXPECT_EQ(hex_of(set->p), rec.at("p"));
        EXPECT_EQ(hex_of(set->q), rec.at("q"));
        EXPECT_EQ(hex_of(set->a), rec.at("a"));
        ++matched;
    }
    int with_nid = 0;
    for (const auto& set : R3410_param_sets()) with_nid += set.nid != 0;
    EXPECT_EQ(with_nid, matched);
}

TEST_F(Params, SelectionByNidAndCode) {
    KeyPtr a(GOSTS_new()), unknown(GOSTS_new()), by_code(GOSTS_new());
    ASSERT_EQ(R3410_set_params_by_nid(a.get(), NID_CRYPTOPRO_R3410_94_A), 1);
    ASSERT_EQ(R3410_set_params_by_nid(unknown.get(), 999), 1);
    ASSERT_EQ(R3410_set_params_by_code(by_code.get(), R3410_PARAMS_CRYPTOPRO_A), 1);
    EXPECT_EQ(BN_cmp(a->p.get(), unknown->p.get()), 0);
    EXPECT_EQ(BN_cmp(a->a.get(), by_code->a.get()), 0);
    EXPECT_EQ(a->param_nid, NID_CRYPTOPRO_R3410_94_A);
    EXPECT_EQ(a->bits_p, 1024);
    EXPECT_EQ(a->bits_q, 256);

    for (int nid = NID_CRYPTOPRO_R3410_94_B; nid <= NID_CRYPTOPRO_R3410_94_XCHC; ++nid) {
        KeyPtr k(GOSTS_new());
        ASSERT_EQ(R3410_set_params_by_nid(k.get(), nid), 1);
        EXPECT_EQ(k->param_nid, nid);
        EXPECT_NE(BN_cmp(k->p.get(), a->p.get()), 0);
    }
}

TEST_F(Params, UnknownCodeAndMissingSetFail) {
    KeyPtr key(GOSTS_new());
    for (int code : {0, 2, 11, -1}) {
        ERR_set_last_error(0);
        EXPECT_EQ(R3410_set_params_by_code(key.get(), code), 0);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_UNKNOWN_CODE);
    }
    EXPECT_FALSE(key->p);
    EXPECT_EQ(R3410_set_params_by_code(nullptr, R3410_PARAMS_DEFAULT), 0);
}

TEST_F(Params, SettersKeepExistingParameters) {
    KeyPtr key(GOSTS_new());
    ASSERT_EQ(R3410_set_params_by_code(key.get(), R3410_PARAMS_CRYPTOPRO_B), 1);
    BnPtr p(BN_dup(key->p.get()));
    EXPECT_EQ(R3410_set_default_params(key.get()), 1);
    EXPECT_EQ(R3410_set_params_by_nid(key.get(), NID_CRYPTOPRO_R3410_94_D), 1);
    EXPECT_EQ(BN_cmp(key->p.get(), p.get()), 0);
}

TEST_F(Params, ReferenceCounting) {
    GOSTS* key = GOSTS_new();
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->version, 0);
    EXPECT_EQ(key->flags, 1);
    EXPECT_EQ(key->param_nid, NID_CRYPTOPRO_R3410_94_A);
    EXPECT_EQ(key->hash_nid, NID_CRYPTOPRO_GOSTR3411_94_PARAMSET);
    EXPECT_EQ(GOSTS_up_ref(key), key);
    GOSTS_free(key);
    EXPECT_EQ(key->references.load(), 1);
    GOSTS_free(key);
    GOSTS_free(nullptr);
}

TEST_F(Params, KeyHoldsOneReferenceOnItsKeyStore) {
    PSE* store = PSE_new();
    ASSERT_NE(store, nullptr);
    KeyPtr key(GOSTS_new());
    ASSERT_EQ(R3410_set_pse(key.get(), store), 1);
    EXPECT_EQ(store->references, 2);
    ASSERT_EQ(R3410_set_pse(key.get(), store), 1);
    EXPECT_EQ(store->references, 2);
    key.reset();
    EXPECT_EQ(store->references, 1);
    EXPECT_EQ(R3410_set_pse(nullptr, store), 0);
    EXPECT_EQ(PSE_free(store), 0);
}

TEST_F(Params, TableIntegrityCheckIsStable) {
    EXPECT_EQ(R3410_check_params(), 1);
    EXPECT_EQ(R3410_check_params(), 1);
}

TEST_F(Params, DsaDefaultSetIsAGroupOfPrimeOrder) {
    BnCtxPtr ctx(BN_CTX_new());
    BnPtr p(DSA_get_default_p()), q(DSA_get_default_q()), g(DSA_get_default_g());
    ASSERT_TRUE(p && q && g);
    EXPECT_EQ(BN_num_bits(p.get()), 1024);
    EXPECT_EQ(BN_num_bits(q.get()), 160);
    EXPECT_EQ(BN_check_prime(p.get(), ctx.get(), nullptr), 1);
    EXPECT_EQ(BN_check_prime(q.get(), ctx.get(), nullptr), 1);
    BnPtr pm1(BN_dup(p.get())), rem(BN_new()), t(BN_new());
    BN_sub_word(pm1.get(), 1);
    BN_mod(rem.get(), pm1.get(), q.get(), ctx.get());
    EXPECT_TRUE(BN_is_zero(rem.get()));
    EXPECT_FALSE(BN_is_one(g.get()));
    BN_mod_exp(t.get(), g.get(), q.get(), p.get(), ctx.get());
    EXPECT_TRUE(BN_is_one(t.get()));
}

}  // namespace
}  // namespace cadb::testing
