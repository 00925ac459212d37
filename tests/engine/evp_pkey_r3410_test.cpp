// The generic key functions on GOST R 34.10-94 keys.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "crypto/engine/evp_pkey.h"
#include "crypto/pse/pse.h"
#include "crypto/r3410/r3410.h"
#include "tests/engine/pkey_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::PkeyPtr;

using EvpPkeyR3410 = test::KeyTest;

GOSTS* gosts(EVP_PKEY* k) { return static_cast<GOSTS*>(EVP_PKEY_get0(k)); }

TEST_F(EvpPkeyR3410, BareDerLoadsAsTheOwnType) {
    PkeyPtr r = test::generate(NID_R3410);
    unsigned char* der = nullptr;
    const int len = i2d_R3410PrivateKey(gosts(r.get()), &der);
    ASSERT_GT(len, 0);
    PkeyPtr bare(EVP_PKEY_load_private(der, len, nullptr, nullptr, nullptr));
    OPENSSL_clear_free(der, static_cast<size_t>(len));
    ASSERT_TRUE(bare);
    EXPECT_EQ(EVP_PKEY_get_load_form(bare.get()), EVP_LOAD_FORM_BARE_DER);
    EXPECT_EQ(EVP_PKEY_nid(bare.get()), NID_R3410);
    EXPECT_EQ(EVP_PKEY_eq(bare.get(), r.get()), 1);
}

TEST_F(EvpPkeyR3410, LoadedKeysGetTheKeyStoreAndTheirPublicKey) {
    PkeyPtr r = test::generate(NID_R3410_CP);
    PSE* store = PSE_new();
    test::P8Ptr p8(EVP_PKEY2PKCS8(r.get()));
    unsigned char* der = nullptr;
    const int len = i2d_PKCS8_PRIV_KEY_INFO(p8.get(), &der);
    PkeyPtr k(EVP_PKEY_load_private(der, len, store, nullptr, nullptr));
    OPENSSL_clear_free(der, static_cast<size_t>(len));
    ASSERT_TRUE(k);
    EXPECT_EQ(gosts(k.get())->pse.get(), store);

    gosts(k.get())->y.reset();
    ASSERT_EQ(EVP_PKEY_generate_pubkey(k.get(), nullptr), 1);
    EXPECT_EQ(EVP_PKEY_eq(k.get(), r.get()), 1);
    k.reset();
    EXPECT_EQ(PSE_free(store), 0);
}

TEST_F(EvpPkeyR3410, PrivateKeysWrapUnderAKeyStoreAndBack) {
    PkeyPtr k = test::generate(NID_R3410_CP);
    GOSTS* key = gosts(k.get());
    PSE* store = test::new_store();
    ASSERT_EQ(EVP_PKEY_encrypt_opaque(k.get(), store), 1);
    EXPECT_TRUE(key->has_check);
    PkeyPtr pub = test::spki_key(test::spki_der(k.get()));
    key->y.reset();
    ASSERT_EQ(EVP_PKEY_generate_pubkey(k.get(), nullptr), 1);
    EXPECT_TRUE(key->has_check);
    EXPECT_EQ(EVP_PKEY_eq(k.get(), pub.get()), 1);
    ASSERT_EQ(EVP_PKEY_decrypt_opaque(k.get(), nullptr), 1);
    EXPECT_FALSE(key->has_check);
    const Bytes digest(32, 0x22);
    EXPECT_EQ(test::verify_digest(pub.get(), nullptr, digest,
                                  test::sign_digest(k.get(), nullptr, digest)),
              1);
    k.reset();
    EXPECT_EQ(PSE_free(store), 0);
}

}  // namespace
}  // namespace cadb
