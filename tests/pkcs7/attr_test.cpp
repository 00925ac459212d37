#include <gtest/gtest.h>

#include "crypto/pkcs7/p7_attr.h"
#include "tests/pkcs7/p7_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::Party;

class Attributes : public test::PartyTest {};

ASN1_TYPE* octets_value(const char* text) {
    ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>(text), -1);
    ASN1_TYPE* t = ASN1_TYPE_new();
    ASN1_TYPE_set(t, V_ASN1_OCTET_STRING, s);
    return t;
}

TEST_F(Attributes, SeveralValuesComeBackJoinedAndTheAttributeStaysAsItWas) {
    STACK_OF(X509_ATTRIBUTE)* attrs = nullptr;
    ASN1_OCTET_STRING* first = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(first, reinterpret_cast<const unsigned char*>("a"), 1);
    ASSERT_EQ(X509_ATTRIBUTES_add_value(&attrs, NID_SIGNATURE_COMMENT, V_ASN1_OCTET_STRING, first,
                                        0),
              1);
    X509_ATTRIBUTE* a = sk_X509_ATTRIBUTE_value(attrs, 0);
    for (const char* v : {"bb", "ccc"}) {
        ASN1_OCTET_STRING* s = ASN1_OCTET_STRING_new();
        ASN1_OCTET_STRING_set(s, reinterpret_cast<const unsigned char*>(v), -1);
        ASSERT_EQ(X509_ATTRIBUTE_set1_data(a, V_ASN1_OCTET_STRING, s->data, s->length), 1);
        ASN1_OCTET_STRING_free(s);
    }
    unsigned char* before = nullptr;
    const int before_len = i2d_X509_ATTRIBUTE(a, &before);
    ASN1_TYPE* joined = X509_ATTRIBUTES_get_value(attrs, NID_SIGNATURE_COMMENT);
    ASSERT_NE(joined, nullptr);
    EXPECT_EQ(joined->type, V_ASN1_SEQUENCE);
    const Bytes want{0x04, 0x01, 'a', 0x04, 0x02, 'b', 'b', 0x04, 0x03, 'c', 'c', 'c'};
    EXPECT_EQ(Bytes(joined->value.sequence->data,
                    joined->value.sequence->data + joined->value.sequence->length),
              want);
    ASN1_TYPE_free(joined);
    unsigned char* after = nullptr;
    const int after_len = i2d_X509_ATTRIBUTE(a, &after);
    EXPECT_EQ(Bytes(before, before + before_len), Bytes(after, after + after_len));
    EXPECT_EQ(X509_ATTRIBUTE_count(a), 3);
    OPENSSL_free(before);
    OPENSSL_free(after);

    STACK_OF(ASN1_TYPE)* all = X509_ATTRIBUTES_get_all(attrs, NID_SIGNATURE_COMMENT);
    EXPECT_EQ(sk_ASN1_TYPE_num(all), 3);
    sk_ASN1_TYPE_pop_free(all, ASN1_TYPE_free);
    sk_X509_ATTRIBUTE_pop_free(attrs, X509_ATTRIBUTE_free);
}

TEST_F(Attributes, AddReplacesInPlaceUnlessAppending) {
    STACK_OF(X509_ATTRIBUTE)* attrs = nullptr;
    for (const char* v : {"one", "two"}) {
        ASN1_TYPE* t = octets_value(v);
        ASSERT_EQ(X509_ATTRIBUTES_add_value(&attrs, NID_SIGNATURE_COMMENT, V_ASN1_OCTET_STRING,
                                            t->value.octet_string, 0),
                  1);
        t->value.octet_string = nullptr;
        ASN1_TYPE_free(t);
    }
    EXPECT_EQ(sk_X509_ATTRIBUTE_num(attrs), 1);
    ASN1_TYPE* got = X509_ATTRIBUTES_get_value(attrs, NID_SIGNATURE_COMMENT);
    EXPECT_EQ(ASN1_STRING_length(got->value.octet_string), 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got->value.octet_string->data), 3), "two");
    ASN1_TYPE_free(got);
    ASN1_OCTET_STRING* third = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(third, reinterpret_cast<const unsigned char*>("3"), 1);
    ASSERT_EQ(X509_ATTRIBUTES_add_value(&attrs, NID_SIGNATURE_COMMENT, V_ASN1_OCTET_STRING, third,
                                        1),
              1);
    EXPECT_EQ(sk_X509_ATTRIBUTE_num(attrs), 2);
    int index = 0;
    ASN1_TYPE* a = X509_ATTRIBUTES_find_from(attrs, NID_SIGNATURE_COMMENT, &index);
    ASN1_TYPE* b = X509_ATTRIBUTES_find_from(attrs, NID_SIGNATURE_COMMENT, &index);
    ASN1_TYPE* c = X509_ATTRIBUTES_find_from(attrs, NID_SIGNATURE_COMMENT, &index);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    ASN1_TYPE_free(a);
    ASN1_TYPE_free(b);
    sk_X509_ATTRIBUTE_pop_free(attrs, X509_ATTRIBUTE_free);
}

TEST_F(Attributes, SigningCertificateV1IsWrittenAndMatchesItsCertificate) {
    Party& s = party(NID_ECR3410_CP);
    Party& other = party(EVP_PKEY_RSA);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_pkcs7_data), 1);
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(),
                                                EVP_r3411_with_ecr3410_cp());
    ASSERT_EQ(PKCS7_add_signing_cert(si, s.cert.get()), 1);
    PKCS7_add_certificate(p7.get(), s.cert.get());
    ASSERT_TRUE(test::finish(p7.get(), test::text("ess")));
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    EXPECT_EQ(test::verify_message(back.get(), nullptr).results, std::vector<int>{1});
    PKCS7_SIGNER_INFO* rsi = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(back.get()), 0);
    int v2 = -1;
    ESS_SIGNING_CERT* sc = PKCS7_get_signing_cert(rsi, &v2);
    ASSERT_NE(sc, nullptr);
    EXPECT_EQ(v2, 0);
    ASSERT_EQ(sk_ESS_CERT_ID_num(sc->certs), 1);
    const ESS_CERT_ID* id = sk_ESS_CERT_ID_value(sc->certs, 0);
    EXPECT_EQ(id->hash_alg, nullptr);
    EXPECT_EQ(ASN1_STRING_length(id->hash), 20);
    EXPECT_EQ(ESS_CERT_ID_matches(id, 0, s.cert.get()), 1);
    EXPECT_EQ(ESS_CERT_ID_matches(id, 0, other.cert.get()), 0);
    ESS_SIGNING_CERT_free(sc);
}

// A V2 identifier without its algorithm means SHA-256 (RFC 5035); with one,
// it decodes filled in; V2 wins over V1.
TEST_F(Attributes, SigningCertificateV2ComesFirstAndDefaultsToSha256) {
    Party& s = party(EVP_PKEY_RSA);
    PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
    ASSERT_EQ(PKCS7_add_signing_cert(si, s.cert.get()), 1);
    for (bool with_alg : {false, true}) {
        ESS_SIGNING_CERT* sc = ESS_SIGNING_CERT_new();
        ESS_CERT_ID* id = ESS_CERT_ID_new();
        BufferPtr h(X509_get_digest(s.cert.get(), EVP_sha256()));
        ASN1_OCTET_STRING_set(id->hash, h->data, h->length);
        if (with_alg) {
            id->hash_alg = X509_ALGOR_new();
            X509_ALGOR_set0(id->hash_alg, OBJ_dup(::OBJ_nid2obj(NID_sha256)), V_ASN1_UNDEF,
                            nullptr);
        }
        sk_ESS_CERT_ID_push(sc->certs, id);
        unsigned char* der = nullptr;
        const int len = i2d_ESS_SIGNING_CERT(sc, &der);
        ESS_SIGNING_CERT_free(sc);
        ASN1_STRING* value = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
        ASN1_STRING_set(value, der, len);
        OPENSSL_free(der);
        ASSERT_EQ(PKCS7_add_signed_attr(si, NID_SIGNING_CERTIFICATE_V2, V_ASN1_SEQUENCE, value), 1);
        int v2 = 0;
        ESS_SIGNING_CERT* got = PKCS7_get_signing_cert(si, &v2);
        ASSERT_NE(got, nullptr);
        EXPECT_EQ(v2, 1);
        const ESS_CERT_ID* gid = sk_ESS_CERT_ID_value(got->certs, 0);
        EXPECT_EQ(gid->hash_alg != nullptr, with_alg);
        EXPECT_EQ(ESS_CERT_ID_md(gid, 1), EVP_sha256());
        EXPECT_EQ(ESS_CERT_ID_matches(gid, 1, s.cert.get()), 1);
        ESS_SIGNING_CERT_free(got);
    }
    // A value of another type gives nothing.
    ASN1_OCTET_STRING* bad = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(bad, reinterpret_cast<const unsigned char*>("x"), 1);
    ASSERT_EQ(PKCS7_add_signed_attr(si, NID_SIGNING_CERTIFICATE_V2, V_ASN1_OCTET_STRING, bad), 1);
    EXPECT_EQ(PKCS7_get_signing_cert(si), nullptr);
    PKCS7_SIGNER_INFO_free(si);
}

TEST_F(Attributes, SignatureValueCommentAndCounterSignatures) {
    Party& s = party(NID_ECR3410_CP);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_pkcs7_data), 1);
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(),
                                                EVP_r3411_with_ecr3410_cp());
    ASN1_UTF8STRING* comment = ASN1_UTF8STRING_new();
    ASN1_STRING_set(comment, "approved", -1);
    ASSERT_EQ(PKCS7_add_signed_attr(si, NID_SIGNATURE_COMMENT, V_ASN1_UTF8STRING, comment), 1);
    ASSERT_TRUE(test::finish(p7.get(), test::text("c")));
    BufferPtr sig(PKCS7_get_signature_value(si));
    ASSERT_TRUE(sig);
    EXPECT_EQ(sig->length, 64);
    ASN1_TYPE* got = PKCS7_get_signature_comment(si);
    ASSERT_NE(got, nullptr);
    EXPECT_EQ(got->type, V_ASN1_UTF8STRING);
    ASN1_TYPE_free(got);

    // The signer record itself as a counter signature.
    unsigned char* der = nullptr;
    const int len = i2d_PKCS7_SIGNER_INFO(si, &der);
    ASN1_STRING* value = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(value, der, len);
    OPENSSL_free(der);
    ASSERT_EQ(X509_ATTRIBUTES_add_value(&si->unauth_attr, NID_pkcs9_countersignature,
                                        V_ASN1_SEQUENCE, value, 1),
              1);
    STACK_OF(P7_SIGNER_INFO)* counter = PKCS7_get_counter_signatures(si);
    ASSERT_NE(counter, nullptr);
    EXPECT_EQ(sk_P7_SIGNER_INFO_num(counter), 1);
    sk_P7_SIGNER_INFO_pop_free(counter, PKCS7_SIGNER_INFO_free);
    ERR_clear_error();
    EXPECT_EQ(PKCS7_get_counter_signatures(nullptr), nullptr);
    EXPECT_EQ(PKCS7_get_signature_value(nullptr), nullptr);
    EXPECT_EQ(PKCS7_get_inner_type(nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_METH_LIB));
}

// RFC 6070 known answer through the helper.
TEST_F(Attributes, Pbkdf2MatchesRfc6070) {
    unsigned char out[20];
    const unsigned char salt[] = {'s', 'a', 'l', 't'};
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_md(EVP_sha1(), "password", -1, salt, 4, 2, 20, out), 1);
    const Bytes want{0xea, 0x6c, 0x01, 0x4d, 0xc7, 0x2d, 0x6f, 0x8c, 0xcd, 0x1e,
                     0xd9, 0x2a, 0xce, 0x1d, 0x41, 0xf0, 0xd8, 0xde, 0x89, 0x57};
    EXPECT_EQ(Bytes(out, out + 20), want);
}

}  // namespace
}  // namespace cadb
