// Key generation inside a key store and in memory, the record's fields and
// the signature digests by key type.
#include <openssl/evp.h>
#include <openssl/objects.h>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/r3410/r3410.h"
#include "tests/keys/keys_fixture.h"

namespace cadb::test {
namespace {

class Pkey : public KeysTest {};

// Signs a message with the key and verifies it with the same key object.
bool signs(PKEY* key) {
    const EVP_MD* md = EVP_get_digestbynid(PKEY_sign_md(key, 0));
    if (key->type == EVP_PKEY_DSA) md = EVP_sha1();
    if (md == nullptr) return false;
    const unsigned char msg[] = "message to sign";
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    Bytes sig(EVP_PKEY_get_size(key->key));
    size_t len = sig.size();
    bool ok = EVP_DigestSignInit(ctx, nullptr, md, nullptr, key->key) == 1 &&
              EVP_DigestSign(ctx, sig.data(), &len, msg, sizeof msg) == 1;
    EVP_MD_CTX_free(ctx);
    ctx = EVP_MD_CTX_new();
    ok = ok && EVP_DigestVerifyInit(ctx, nullptr, md, nullptr, key->key) == 1 &&
         EVP_DigestVerify(ctx, sig.data(), len, msg, sizeof msg) == 1;
    EVP_MD_CTX_free(ctx);
    return ok;
}

TEST_F(Pkey, GostKeysAreMadeInsideTheStoreAndCanSign) {
    struct Case {
        int type, n, paramset;
    };
    const Case cases[] = {
        {NID_ECR3410, 0, NID_PRIME256V1},
        {NID_ECR3410_CP, 0, NID_R3410_2001_A_PARAMSET},
        {NID_ECR3410_CP, NID_R3410_2001_B_PARAMSET, NID_R3410_2001_B_PARAMSET},
        {NID_ECR3410_CP, NID_R3410_2001_C_PARAMSET, NID_R3410_2001_C_PARAMSET},
        {NID_ECR3410_CP, NID_R3410_2001_XCHB_PARAMSET, NID_R3410_2001_XCHB_PARAMSET},
        // 177 keys record the parameter NID as given, never a set they
        // are not on.
        {NID_R3410, 0, 0},
        {NID_R3410, NID_R3410_94_B_PARAMSET, NID_R3410_94_B_PARAMSET},
        {NID_R3410_CP, 0, NID_R3410_94_A_PARAMSET},
        {NID_R3410_CP, NID_R3410_94_B_PARAMSET, NID_R3410_94_B_PARAMSET},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.type << "/" << c.n);
        PkeyPtr key(PKEY_generate(c.type, c.n, nullptr, nullptr, store_));
        ASSERT_TRUE(key);
        EXPECT_EQ(key->type, c.type);
        EXPECT_EQ(key->references, 1);
        ASSERT_NE(key->fingerprint, nullptr);
        EXPECT_EQ(key->fingerprint->length, 32);
        EXPECT_EQ(EVP_PKEY_nid(key->key), c.type);
        if (c.type == NID_ECR3410 || c.type == NID_ECR3410_CP) {
            const auto* k = static_cast<const ECGOST*>(EVP_PKEY_get0(key->key));
            EXPECT_FALSE(k->check.has_value()) << "held unwrapped";
            EXPECT_EQ(k->pse, store_);
            EXPECT_EQ(k->nid, c.paramset);
            EXPECT_EQ(key->size, 256);
        } else {
            const auto* k = static_cast<const GOSTS*>(EVP_PKEY_get0(key->key));
            EXPECT_FALSE(k->has_check);
            EXPECT_EQ(k->pse.get(), store_);
            EXPECT_EQ(k->param_nid, c.paramset);
            EXPECT_EQ(key->size, 1024);
        }
        EXPECT_TRUE(signs(key.get()));
    }
}

TEST_F(Pkey, GenerationRefusesWhatItCannotMake) {
    // A CryptoPro 2001 key on a curve the store's generator does not name.
    EXPECT_FALSE(PkeyPtr(PKEY_generate(NID_ECR3410_CP, 300, nullptr, nullptr, store_)));
    EXPECT_TRUE(queue_has_reason(CADB_R_UNKNOWN_ALGORITHM));
    EXPECT_FALSE(PkeyPtr(PKEY_generate(NID_md5, 0, nullptr, nullptr, store_)));
    EXPECT_TRUE(queue_has_reason(CADB_R_UNKNOWN_ALGORITHM));
    // GOST keys need a store.
    EXPECT_FALSE(PkeyPtr(PKEY_generate(NID_ECR3410_CP, 0, nullptr, nullptr, nullptr)));
    // Sizes outside the algorithm table are refused before any work.
    for (int bits : {0, 256, 511, 2049, 4096}) {
        EXPECT_FALSE(PkeyPtr(PKEY_generate(NID_rsa, bits, nullptr, nullptr, nullptr))) << bits;
        EXPECT_TRUE(queue_has_reason(CADB_R_INVALID_KEY_SIZE));
    }
    EXPECT_FALSE(PkeyPtr(PKEY_generate(EVP_PKEY_DSA, 2048, nullptr, nullptr, nullptr)));
    EXPECT_FALSE(PKEY_PARAMS_generate(EVP_PKEY_DSA, 512, nullptr));
    EXPECT_FALSE(PKEY_PARAMS_generate(NID_ECR3410, 1024, nullptr));
    EXPECT_TRUE(queue_has_reason(CADB_R_UNKNOWN_ALGORITHM));
}

TEST_F(Pkey, SoftKeysOfEveryType) {
    struct Case {
        int type, n, bits;
    };
    const Case cases[] = {
        {EVP_PKEY_RSA, 512, 512},  {NID_rsa, 1024, 1024}, {EVP_PKEY_DSA, 0, 1024},
        {NID_R3410, 0, 1024},      {NID_ECR3410, 0, 256}, {NID_ECR3410_CP, 0, 256},
        {NID_R3410_CP, 300, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        PkeyPtr key(PKEY_generate_soft(c.type, c.n, nullptr, nullptr));
        ASSERT_TRUE(key);
        EXPECT_EQ(key->type, c.type);
        EXPECT_EQ(key->size, c.bits);
        EXPECT_TRUE(signs(key.get()));
    }
    // An unknown CryptoPro 94 set falls back to set A.
    PkeyPtr cp(PKEY_generate_soft(NID_R3410_CP, 300, nullptr, nullptr));
    EXPECT_EQ(static_cast<const GOSTS*>(EVP_PKEY_get0(cp->key))->param_nid,
              NID_R3410_94_A_PARAMSET);
}

TEST_F(Pkey, KeysOnGeneratedParameters) {
    int calls = 0;
    static int* counter;
    counter = &calls;
    PKEY_PARAMS* params =
        PKEY_PARAMS_generate(EVP_PKEY_DSA, 1024, [](int, int, void*) { ++*counter; });
    ASSERT_NE(params, nullptr);
    EXPECT_GT(calls, 0);
    EXPECT_EQ(params->type, EVP_PKEY_DSA);
    // The parameters decide the type, whatever was asked.
    PkeyPtr key(PKEY_generate(NID_rsa, 0, nullptr, params, store_));
    ASSERT_TRUE(key);
    EXPECT_EQ(key->type, EVP_PKEY_DSA);
    EXPECT_EQ(EVP_PKEY_parameters_eq(key->key, params->parameters), 1);
    EXPECT_TRUE(signs(key.get()));
    PKEY_PARAMS_free(params);
    PKEY_PARAMS_free(nullptr);
}

TEST_F(Pkey, ReferencesAndSplit) {
    PkeyPtr key(PKEY_generate_soft(NID_ECR3410_CP, 0, nullptr, nullptr));
    ASSERT_TRUE(key);
    PKEY* again = PKEY_up_ref(key.get());
    EXPECT_EQ(again->references, 2);
    PKEY_free(again);
    EXPECT_EQ(key->references, 1);
    PkeyPtr split(PKEY_split(key->key));
    ASSERT_TRUE(split);
    EXPECT_EQ(split->key, key->key);
    EXPECT_EQ(split->fingerprint, nullptr);
    EXPECT_EQ(split->type, NID_ECR3410_CP);
    EVP_PKEY* hmac = EVP_PKEY_new_mac_key(EVP_PKEY_HMAC, nullptr,
                                          reinterpret_cast<const unsigned char*>("k"), 1);
    EXPECT_FALSE(PkeyPtr(PKEY_split(hmac)));
    EXPECT_TRUE(queue_has_reason(CADB_R_UNKNOWN_ALGORITHM));
    EVP_PKEY_free(hmac);
    EXPECT_FALSE(PkeyPtr(PKEY_split(nullptr)));
}

TEST_F(Pkey, SignatureDigestsAndLabelsByType) {
    PKEY key{};
    const struct {
        int type, given, expected;
    } cases[] = {
        {EVP_PKEY_RSA, 0, NID_sha1},
        {NID_rsa, NID_md5, NID_md5},
        {EVP_PKEY_DSA, NID_md5, EVP_PKEY_DSA},
        {NID_R3410, 0, NID_R3410_R3411},
        {NID_ECR3410, NID_md5, NID_ECR3410_R3411},
        {NID_ECR3410_CP, 0, NID_R3411_WITH_ECR3410_CP},
        {NID_R3410_CP, 0, NID_R3411_WITH_R3410_CP},
    };
    for (const auto& c : cases) {
        key.type = c.type;
        EXPECT_EQ(PKEY_sign_md(&key, c.given), c.expected) << c.type;
    }
    EXPECT_EQ(PKEY_sign_md(nullptr, NID_md5), NID_md5);
    EXPECT_STREQ(PKEY_pem_name(NID_rsa), "RSA PRIVATE KEY");
    EXPECT_STREQ(PKEY_pem_name(EVP_PKEY_DSA), "DSA PRIVATE KEY");
    EXPECT_STREQ(PKEY_pem_name(NID_R3410), "R3410 PRIVATE KEY");
    EXPECT_STREQ(PKEY_pem_name(NID_ECR3410), "ECGOST PRIVATE KEY");
    EXPECT_STREQ(PKEY_pem_name(NID_ECR3410_CP), "ANY PRIVATE KEY");
    EXPECT_STREQ(PKEY_pem_name(NID_R3410_CP), "ANY PRIVATE KEY");
    EXPECT_EQ(PKEY_pem_name(NID_md5), nullptr);
}

}  // namespace
}  // namespace cadb::test
