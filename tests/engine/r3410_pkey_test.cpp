#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"
#include "crypto/rus/evp_gost.h"
#include "tests/engine/pkey_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::PkeyPtr;

using R3410Pkey = test::KeyTest;

GOSTS* gosts(EVP_PKEY* k) { return static_cast<GOSTS*>(EVP_PKEY_get0(k)); }

TEST_F(R3410Pkey, CryptoProKeysRoundTripThroughSpkiOnEverySet) {
    for (int set = NID_R3410_94_A_PARAMSET; set <= NID_R3410_94_XCHC_PARAMSET; ++set) {
        SCOPED_TRACE(set);
        GOSTS* probe = GOSTS_new();
        const bool offered = R3410_set_params_by_nid(probe, set) == 1;
        GOSTS_free(probe);
        if (!offered) continue;  // a set the library does not carry
        PkeyPtr k = test::generate(NID_R3410_CP, set);
        ASSERT_TRUE(k);
        EXPECT_EQ(EVP_PKEY_nid(k.get()), NID_R3410_CP);
        const Bytes der = test::spki_der(k.get());
        PkeyPtr back = test::spki_key(der);
        ASSERT_TRUE(back);
        EXPECT_EQ(EVP_PKEY_eq(k.get(), back.get()), 1);
        EXPECT_EQ(gosts(back.get())->param_nid, set);

        // SEQUENCE { SEQUENCE { 1.2.643.2.2.20, SEQUENCE { set, 275 } },
        // BIT STRING { OCTET STRING y, least significant byte first } }.
        const unsigned char* p = der.data();
        X509_PUBKEY* spki = d2i_X509_PUBKEY(nullptr, &p, static_cast<long>(der.size()));
        ASSERT_NE(spki, nullptr);
        ASN1_OBJECT* alg = nullptr;
        const unsigned char* bits = nullptr;
        int len = 0;
        X509_ALGOR* algor = nullptr;
        ASSERT_EQ(X509_PUBKEY_get0_param(&alg, &bits, &len, &algor, spki), 1);
        EXPECT_EQ(cadb::OBJ_obj2nid(alg), NID_R3410_CP);
        ASSERT_EQ(len, 131);  // 04 81 80 + 128 bytes
        EXPECT_EQ(bits[0], 0x04);
        BIGNUM* y = BN_lebin2bn(bits + 3, 128, nullptr);
        EXPECT_EQ(BN_cmp(y, gosts(k.get())->y.get()), 0);
        BN_free(y);
        X509_PUBKEY_free(spki);
    }
}

TEST_F(R3410Pkey, OwnTypeWritesItsParametersAndDefaultsMissingOnes) {
    PkeyPtr k = test::generate(NID_R3410);
    ASSERT_TRUE(k);
    PkeyPtr back = test::spki_key(test::spki_der(k.get()));
    ASSERT_TRUE(back);
    EXPECT_EQ(EVP_PKEY_eq(k.get(), back.get()), 1);

    // A key holding only y is written with the default parameter set.
    GOSTS* bare = GOSTS_new();
    bare->y.reset(BN_dup(gosts(k.get())->y.get()));
    PkeyPtr only_y(EVP_PKEY_new());
    ASSERT_EQ(EVP_PKEY_assign(only_y.get(), OBJ_nid2openssl(NID_R3410), bare), 1);
    PkeyPtr decoded = test::spki_key(test::spki_der(only_y.get()));
    ASSERT_TRUE(decoded);
    GOSTS* want = GOSTS_new();
    ASSERT_EQ(R3410_set_default_params(want), 1);
    EXPECT_EQ(BN_cmp(gosts(decoded.get())->p.get(), want->p.get()), 0);
    EXPECT_EQ(BN_cmp(gosts(decoded.get())->a.get(), want->a.get()), 0);
    GOSTS_free(want);
}

TEST_F(R3410Pkey, Pkcs8RoundTripKeepsTheKeyUsable) {
    for (int type : {NID_R3410, NID_R3410_CP}) {
        SCOPED_TRACE(type);
        PkeyPtr k = test::generate(type);
        ASSERT_TRUE(k);
        PkeyPtr back = test::pkcs8_round_trip(k.get());
        ASSERT_TRUE(back);
        EXPECT_EQ(EVP_PKEY_nid(back.get()), type);
        EXPECT_EQ(EVP_PKEY_eq(k.get(), back.get()), 1);
        const Bytes digest(32, 0x5c);
        const Bytes sig = test::sign_digest(back.get(), nullptr, digest);
        EXPECT_EQ(test::verify_digest(k.get(), nullptr, digest, sig), 1);
    }
}

TEST_F(R3410Pkey, SignatureFormFollowsTheKeyType) {
    Bytes digest(32);
    for (size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i + 1);
    PkeyPtr cp = test::generate(NID_R3410_CP);
    const Bytes s1 = test::sign_digest(cp.get(), nullptr, digest);
    EXPECT_EQ(s1.size(), 64u);  // s || r
    EXPECT_EQ(test::verify_digest(cp.get(), nullptr, digest, s1), 1);
    PkeyPtr own = test::generate(NID_R3410);
    const Bytes s2 = test::sign_digest(own.get(), nullptr, digest);
    EXPECT_EQ(s2[0], 0x30);  // DER SEQUENCE { r, s }
    EXPECT_EQ(test::verify_digest(own.get(), nullptr, digest, s2), 1);

    Bytes bad = s1;
    bad[10] ^= 1;
    EXPECT_NE(test::verify_digest(cp.get(), nullptr, digest, bad), 1);
    Bytes other = digest;
    other[0] ^= 1;
    EXPECT_NE(test::verify_digest(cp.get(), nullptr, other, s1), 1);
    EXPECT_NE(test::verify_digest(cp.get(), nullptr, digest, Bytes(s1.begin(), s1.end() - 1)), 1);
    EXPECT_NE(test::verify_digest(own.get(), nullptr, digest, s1), 1);
}

// libcrypto's own X509_REQ_sign picks the signature algorithm from the
// digest record and the key type; the request verifies after DER.
TEST_F(R3410Pkey, RequestsSignedByLibcryptoVerify) {
    struct Case {
        int type;
        const EVP_MD* md;
        int signature;
    };
    const Case cases[] = {
        {NID_R3410_CP, EVP_r3411_with_r3410_cp(), NID_R3411_WITH_R3410_CP},
        {NID_R3410_CP, EVP_rus_hash_cp(), NID_R3411_WITH_R3410_CP},
        {NID_R3410, EVP_rus_hash(), NID_R3410_R3411},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        PkeyPtr key = test::generate(c.type);
        X509_REQ* req = X509_REQ_new();
        ASSERT_EQ(X509_REQ_set_pubkey(req, key.get()), 1);
        ASSERT_GT(X509_REQ_sign(req, key.get(), c.md), 0);
        unsigned char* der = nullptr;
        const int len = i2d_X509_REQ(req, &der);
        X509_REQ_free(req);
        const unsigned char* p = der;
        X509_REQ* back = d2i_X509_REQ(nullptr, &p, len);
        OPENSSL_free(der);
        ASSERT_NE(back, nullptr);
        EXPECT_EQ(X509_REQ_verify(back, X509_REQ_get0_pubkey(back)), 1);
        EXPECT_EQ(X509_REQ_get_signature_nid(back), OBJ_nid2openssl(c.signature));
        X509_REQ_free(back);
    }
}

TEST_F(R3410Pkey, PublicKeyChecks) {
    PkeyPtr k = test::generate(NID_R3410_CP);
    EXPECT_EQ(test::public_check(k.get()), 1);
    GOSTS* key = gosts(k.get());
    EXPECT_EQ(R3410_check_pubkey(key, 1), 1);
    // y = p fails; y = 1 passes, with the order test as well (1^q = 1).
    BnPtr saved(BN_dup(key->y.get()));
    BN_copy(key->y.get(), key->p.get());
    EXPECT_EQ(R3410_check_pubkey(key, 0), 0);
    EXPECT_NE(test::public_check(k.get()), 1);
    BN_one(key->y.get());
    EXPECT_EQ(R3410_check_pubkey(key, 0), 1);
    EXPECT_EQ(R3410_check_pubkey(key, 1), 1);
    // y = 2 lies in the group only by chance: not of order q here.
    BN_set_word(key->y.get(), 2);
    EXPECT_EQ(R3410_check_pubkey(key, 0), 1);
    EXPECT_EQ(R3410_check_pubkey(key, 1), 0);
    BN_zero(key->y.get());
    EXPECT_EQ(R3410_check_pubkey(key, 0), 0);
    BN_copy(key->y.get(), saved.get());
    EXPECT_EQ(R3410_check_pubkey(nullptr, 0), 0);
}

TEST_F(R3410Pkey, TextDumpsCarryTheLabels) {
    PkeyPtr k = test::generate(NID_R3410_CP);
    BIO* out = BIO_new(BIO_s_mem());
    ASSERT_EQ(EVP_PKEY_print_public(out, k.get(), 0, nullptr), 1);
    ASSERT_EQ(EVP_PKEY_print_params(out, k.get(), 0, nullptr), 1);
    char* text = nullptr;
    const long n = BIO_get_mem_data(out, &text);
    const std::string s(text, static_cast<size_t>(n));
    BIO_free(out);
    for (const char* label :
         {"pub:  (", "P:    (1024 bits)", "Q:    (256 bits)", "A:    (",
          "Parameters OID: CryptoPro-GostR3410-94-A-ParamSet", "R3410-Parameters: (1024 bits)"})
        EXPECT_NE(s.find(label), std::string::npos) << label << "\n" << s;
}

TEST_F(R3410Pkey, HostileSpkiNeverCrashes) {
    for (int type : {NID_R3410, NID_R3410_CP}) {
        PkeyPtr k = test::generate(type);
        test::survives_mutations(test::spki_der(k.get()));
    }
    // CryptoPro parameters (set A, hash set) and a 128-byte key.
    const Bytes params = test::hex("301206072a85030202200206072a850302021e01");
    Bytes key(128 + 3);
    key[0] = 0x04, key[1] = 0x81, key[2] = 0x80, key[3] = 0x07;
    ASSERT_TRUE(test::spki_key(test::make_spki(NID_R3410_CP, params, key)));
    struct Case {
        const char* name;
        Bytes params, bits;
    };
    const Case cases[] = {
        {"null parameters", test::hex("0500"), key},
        {"no parameters", {}, key},
        {"an unknown set", test::hex("300a06022a0306042a030405"), key},
        {"a curve's set", test::hex("301206072a85030202230106072a850302021e01"), key},
        {"parameters of four",
         test::hex("3016"
                   "06072a850302022002"
                   "06072a850302021e01"
                   "0500"
                   "0500"),
         key},
        {"a 127-byte key", params, Bytes(key.begin(), key.end() - 1)},
        {"a 129-byte key", params,
         [&] {
             Bytes b = key;
             b[2] = 0x81;
             b.push_back(1);
             return b;
         }()},
        {"an INTEGER key", params, test::hex("020101")},
        {"trailing bytes", params,
         [&] {
             Bytes b = key;
             b.push_back(0);
             return b;
         }()},
        {"no key", params, {}},
    };
    for (const Case& c : cases) {
        const Bytes der = test::make_spki(NID_R3410_CP, c.params, c.bits);
        EXPECT_FALSE(test::spki_key(der)) << c.name;
    }
    // The own type: a parameter SEQUENCE that is no parameter DER, and a key
    // that is no INTEGER.
    EXPECT_FALSE(
        test::spki_key(test::make_spki(NID_R3410, test::hex("3003020101"), test::hex("020101"))));
    EXPECT_FALSE(test::spki_key(test::make_spki(NID_R3410, test::hex("0500"), test::hex("0400"))));
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
