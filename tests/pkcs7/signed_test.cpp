#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/pkcs7/p7_attr.h"
#include "tests/pkcs7/p7_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::Party;

class Signed : public test::PartyTest {};

const int kSignerTypes[] = {NID_ECR3410_CP, NID_R3410_CP, NID_ECR3410,
                            NID_R3410,      EVP_PKEY_RSA, EVP_PKEY_DSA};

TEST_F(Signed, AttachedAndDetachedRoundTripForEveryKeyType) {
    const Bytes content = test::text("The quick brown fox jumps over the lazy dog");
    for (int type : kSignerTypes) {
        for (bool detached : {false, true}) {
            SCOPED_TRACE(std::to_string(type) + (detached ? " detached" : " attached"));
            Party& s = party(type);
            ASSERT_TRUE(s.cert);
            test::P7Ptr p7 = test::signed_message({&s}, content, detached);
            ASSERT_TRUE(p7);
            const Bytes der = test::encode(p7.get());
            ASSERT_FALSE(der.empty());
            test::P7Ptr back = test::decode(der);
            ASSERT_TRUE(back);
            EXPECT_EQ(back->detached, detached ? 1 : 0);
            // A decoded message writes back the bytes it was read from.
            EXPECT_EQ(test::encode(back.get()), der);
            const test::Verified v =
                test::verify_message(back.get(), detached ? &content : nullptr);
            EXPECT_EQ(v.content, content);
            EXPECT_EQ(v.results, std::vector<int>{1});
        }
    }
}

TEST_F(Signed, SeveralSignersOverOneContent) {
    Party& a = party(NID_ECR3410_CP);
    Party& b = party(EVP_PKEY_RSA);
    Party& c = party(NID_R3410_CP);
    const Bytes content(100000, 0x42);
    test::P7Ptr p7 = test::signed_message({&a, &b, &c}, content, false);
    ASSERT_TRUE(p7);
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    const test::Verified v = test::verify_message(back.get(), nullptr);
    EXPECT_EQ(v.content, content);
    EXPECT_EQ(v.results, (std::vector<int>{1, 1, 1}));
}

TEST_F(Signed, ContentIsWrittenOnce) {
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_pkcs7_data), 1);
    const Bytes content = test::text("set before the chain is made");
    ASSERT_EQ(
        PKCS7_set_octets(p7->d.sign->contents, content.data(), static_cast<int>(content.size())),
        1);
    ASSERT_NE(PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(), EVP_r3411_with_ecr3410_cp()),
              nullptr);
    PKCS7_add_certificate(p7.get(), s.cert.get());
    ASSERT_TRUE(test::finish(p7.get(), {}));
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    const test::Verified v = test::verify_message(back.get(), nullptr);
    EXPECT_EQ(v.content, content);
    EXPECT_EQ(v.results, std::vector<int>{1});
}

TEST_F(Signed, TamperingFailsWithItsReason) {
    const Bytes content = test::text("an order to pay 100 roubles");
    for (int type : {static_cast<int>(NID_ECR3410_CP), EVP_PKEY_RSA}) {
        SCOPED_TRACE(type);
        Party& s = party(type);
        test::P7Ptr p7 = test::signed_message({&s}, content, true);
        ASSERT_TRUE(p7);
        const Bytes der = test::encode(p7.get());

        Bytes other = content;
        other[15] ^= 1;
        test::P7Ptr m = test::decode(der);
        EXPECT_EQ(test::verify_message(m.get(), &other).results,
                  std::vector<int>{P7_R_DIGEST_FAILURE});

        // The signature value is the last OCTET STRING of the signer.
        m = test::decode(der);
        PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(m.get()), 0);
        si->enc_digest->data[3] ^= 0x10;
        EXPECT_EQ(test::verify_message(m.get(), &content).results,
                  std::vector<int>{P7_R_SIGNATURE_FAILURE});

        m = test::decode(der);
        si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(m.get()), 0);
        const ASN1_OCTET_STRING* md = PKCS7_get_message_digest(si->auth_attr);
        ASSERT_NE(md, nullptr);
        const_cast<ASN1_OCTET_STRING*>(md)->data[0] ^= 1;
        EXPECT_EQ(test::verify_message(m.get(), &content).results,
                  std::vector<int>{P7_R_DIGEST_FAILURE});
    }
}

TEST_F(Signed, GostKeysWriteTheMessageDigestReversed) {
    const Bytes content = test::text("abc");
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7 = test::signed_message({&s}, content, false);
    ASSERT_TRUE(p7);
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    const ASN1_OCTET_STRING* md = PKCS7_get_message_digest(si->auth_attr);
    ASSERT_NE(md, nullptr);
    Bytes d(32);
    unsigned int n = 0;
    ASSERT_EQ(EVP_Digest(content.data(), 3, d.data(), &n, EVP_rus_hash_cp(), nullptr), 1);
    std::reverse(d.begin(), d.end());
    EXPECT_EQ(Bytes(md->data, md->data + md->length), d);

    // An RSA signer over SHA-256 keeps the digest as it is.
    Party& r = party(EVP_PKEY_RSA);
    p7 = test::signed_message({&r}, content, false);
    si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(p7.get()), 0);
    md = PKCS7_get_message_digest(si->auth_attr);
    ASSERT_EQ(EVP_Digest(content.data(), 3, d.data(), &n, EVP_sha256(), nullptr), 1);
    EXPECT_EQ(Bytes(md->data, md->data + md->length), d);
}

TEST_F(Signed, WithoutContentTypeAttributeVerifies) {
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_pkcs7_data), 1);
    p7->flags |= PKCS7_FLAG_NO_CONTENT_TYPE;
    PKCS7_SIGNER_INFO* si =
        PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(), EVP_r3411_with_ecr3410_cp());
    PKCS7_add_certificate(p7.get(), s.cert.get());
    ASSERT_TRUE(test::finish(p7.get(), test::text("x")));
    EXPECT_EQ(PKCS7_get_content_type_attr(si->auth_attr), nullptr);
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    EXPECT_EQ(test::verify_message(back.get(), nullptr).results, std::vector<int>{1});
}

TEST_F(Signed, DefiniteLengthDetachedAndIndefiniteOtherwise) {
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7 = test::signed_message({&s}, test::text("x"), true);
    Bytes der = test::encode(p7.get());
    ASSERT_GE(der.size(), 4u);
    EXPECT_EQ(der[0], 0x30);
    EXPECT_EQ(der[1], 0x80);
    p7->flags |= PKCS7_FLAG_DER_DETACHED;
    der = test::encode(p7.get());
    EXPECT_EQ(der[0], 0x30);
    EXPECT_NE(der[1], 0x80);
    test::P7Ptr back = test::decode(der);
    ASSERT_TRUE(back);
    const Bytes x = test::text("x");
    EXPECT_EQ(test::verify_message(back.get(), &x).results, std::vector<int>{1});
}

TEST_F(Signed, ModifiedMessageDropsItsKeptEncoding) {
    Party& s = party(NID_ECR3410_CP);
    Party& other = party(EVP_PKEY_RSA);
    test::P7Ptr p7 = test::signed_message({&s}, test::text("x"), false);
    const Bytes der = test::encode(p7.get());
    test::P7Ptr back = test::decode(der);
    ASSERT_EQ(PKCS7_add_certificate(back.get(), other.cert.get()), 1);
    const Bytes again = test::encode(back.get());
    EXPECT_NE(again, der);
    test::P7Ptr reread = test::decode(again);
    ASSERT_TRUE(reread);
    EXPECT_EQ(sk_X509_num(PKCS7_get_certificates(reread.get())), 2);
}

// The reading chain computes each hash once, however often the message
// names it: its digest filters follow the distinct hashes, not the entries.
TEST_F(Signed, EachHashGetsOneDigestFilterHoweverOftenItIsNamed) {
    Party& a = party(NID_ECR3410_CP);
    Party& b = party(EVP_PKEY_RSA);
    test::P7Ptr p7 = test::signed_message({&a, &b}, test::text("x"), false);
    ASSERT_TRUE(p7);
    STACK_OF(X509_ALGOR)* algs = p7->d.sign->md_algs;
    ASSERT_EQ(sk_X509_ALGOR_num(algs), 2);
    for (int i = 0; i < 1000; ++i)
        ASSERT_GT(sk_X509_ALGOR_push(algs, X509_ALGOR_dup(sk_X509_ALGOR_value(algs, i % 2))), 0);
    PKCS7_modified(p7.get());
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    ASSERT_EQ(sk_X509_ALGOR_num(back->d.sign->md_algs), 1002);
    BIO* chain = PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(chain, nullptr);
    int filters = 0;
    for (BIO* f = chain; (f = BIO_find_type(f, BIO_TYPE_MD)) != nullptr; f = BIO_next(f)) ++filters;
    BIO_free_all(chain);
    EXPECT_EQ(filters, 2);
    EXPECT_EQ(test::verify_message(back.get(), nullptr).results, (std::vector<int>{1, 1}));
}

TEST_F(Signed, CmcContentGoesDirectlyUnderTheTag) {
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_CMC_PKI_DATA), 1);
    PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(), EVP_r3411_with_ecr3410_cp());
    PKCS7_add_certificate(p7.get(), s.cert.get());
    const Bytes pki{0x30, 0x0C, 0x30, 0x00, 0x30, 0x00, 0x30,
                    0x00, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00};
    ASSERT_TRUE(test::finish(p7.get(), pki));
    const Bytes der = test::encode(p7.get());
    EXPECT_NE(std::search(der.begin(), der.end(), pki.begin(), pki.end()), der.end());
    const Bytes wrapped{0x04, 0x0E, 0x30, 0x0C};
    EXPECT_EQ(std::search(der.begin(), der.end(), wrapped.begin(), wrapped.end()), der.end());
    test::P7Ptr back = test::decode(der);
    ASSERT_TRUE(back);
    const test::Verified v = test::verify_message(back.get(), nullptr);
    EXPECT_EQ(v.content, pki);
    EXPECT_EQ(v.results, std::vector<int>{1});
    EXPECT_EQ(cadb::OBJ_obj2nid(PKCS7_get_inner_type(back.get())), NID_CMC_PKI_DATA);
}

}  // namespace
}  // namespace cadb
