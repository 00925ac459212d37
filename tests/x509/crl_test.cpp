// The CRL record: lists made here split into their fields, every reading
// form, and lists that do not parse or whose times do not convert.
#include <gtest/gtest.h>

#include <string>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "tests/x509/cert_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::CrlPtr;

class CrlRecord : public test::KeyTest {
  protected:
    void SetUp() override {
        now_ = std::time(nullptr);
        key_ = test::new_key();
        ca_ = test::make_cert("CRL issuer", key_.get(), nullptr, nullptr, 1, now_ - 60, now_ + 3600,
                              true);
    }
    CrlPtr read(int form, const Bytes& b) {
        return CrlPtr(CRL_read_buffer(form, b.data(), static_cast<int>(b.size())));
    }
    std::time_t now_ = 0;
    test::PkeyPtr key_;
    test::X509Ptr ca_;
};

TEST_F(CrlRecord, SplitsIntoItsFields) {
    test::X509CrlPtr x = test::make_crl(ca_.get(), key_.get(), now_ - 30, now_ + 600, {5, 300, 7});
    CrlPtr c(CRL_split(x.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->version, 1);
    EXPECT_EQ(c->signature_algorithm, NID_R3411_WITH_ECR3410_CP);
    EXPECT_EQ(c->revoked_count, 3);
    ASSERT_EQ(sk_REVOKED_num(c->revoked), 3);
    // Sorted by serial: 5, 7, 300.
    EXPECT_EQ(test::bytes_of(sk_REVOKED_value(c->revoked, 0)->serial), Bytes({5}));
    EXPECT_EQ(test::bytes_of(sk_REVOKED_value(c->revoked, 1)->serial), Bytes({7}));
    EXPECT_EQ(test::bytes_of(sk_REVOKED_value(c->revoked, 2)->serial), Bytes({1, 44}));
    struct tm expected {};
    const std::time_t this_update = now_ - 30;
    gmtime_r(&this_update, &expected);
    EXPECT_EQ(c->last_update.tm_year, expected.tm_year);
    EXPECT_EQ(c->last_update.tm_mday, expected.tm_mday);
    EXPECT_EQ(c->last_update.tm_sec, expected.tm_sec);
    EXPECT_EQ(sk_REVOKED_value(c->revoked, 0)->revocation_date.tm_min, expected.tm_min);
    EXPECT_EQ(c->has_next_update, 1);
    EXPECT_EQ(test::text_of(c->issuer_text), "C=RU, CN=CRL issuer");
    ASSERT_NE(c->issuer, nullptr);
    EXPECT_EQ(c->issuer->nid, NID_countryName);
    EXPECT_EQ(c->verify_result, -1);
    EXPECT_EQ(c->crl, x.get());

    test::X509CrlPtr open_ended = test::make_crl(ca_.get(), key_.get(), now_, 0, {});
    CrlPtr o(CRL_split(open_ended.get()));
    ASSERT_TRUE(o);
    EXPECT_EQ(o->has_next_update, 0);
    EXPECT_EQ(o->revoked_count, 0);
}

TEST_F(CrlRecord, EveryFormReadsAndWritesBack) {
    test::X509CrlPtr x = test::make_crl(ca_.get(), key_.get(), now_, now_ + 600, {9});
    CrlPtr c(CRL_split(x.get()));
    ASSERT_TRUE(c);
    BufferPtr der(CRL_get(c.get(), FORM_DER));
    BufferPtr pem(CRL_get(c.get(), FORM_PEM));
    BufferPtr text(CRL_get(c.get(), FORM_TEXT));
    ASSERT_TRUE(der && pem && text);
    EXPECT_EQ(test::text_of(pem.get()).rfind("-----BEGIN X509 CRL-----\n", 0), 0u);
    EXPECT_NE(test::text_of(text.get()).find("Certificate Revocation List"), std::string::npos);
    const Bytes d = test::bytes_of(der.get());
    const Bytes p = test::bytes_of(pem.get());
    EXPECT_EQ(d, test::der_of(x.get()));
    for (int form : {FORM_ANY, FORM_DER}) EXPECT_TRUE(read(form, d));
    for (int form : {FORM_ANY, FORM_PEM}) EXPECT_TRUE(read(form, p));
    EXPECT_FALSE(read(FORM_PEM, d));
    EXPECT_FALSE(read(FORM_DER, p));

    ERR_clear_error();
    EXPECT_FALSE(read(FORM_TEXT, d));
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_ENCODE_TYPE);
    BIO* bio = BIO_new_mem_buf(d.data(), static_cast<int>(d.size()));
    X509_CRL* back = CRL_read_bio(FORM_DER, bio);
    EXPECT_NE(back, nullptr);
    X509_CRL_free(back);
    BIO_free(bio);
}

TEST_F(CrlRecord, HostileListsFailWithAnError) {
    test::X509CrlPtr x = test::make_crl(ca_.get(), key_.get(), now_, now_ + 600, {1, 2});
    Bytes d = test::der_of(x.get());
    d.push_back(0);
    ERR_clear_error();
    EXPECT_FALSE(read(FORM_ANY, d));
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_DATA);
    d.pop_back();
    for (std::size_t len = 1; len < d.size(); ++len)
        EXPECT_FALSE(read(FORM_ANY, Bytes(d.begin(), d.begin() + len))) << len;
    for (std::size_t i = 0; i < d.size(); ++i) {
        Bytes m = d;
        m[i] ^= 0xA5;
        CrlPtr r = read(FORM_DER, m);
        if (r) EXPECT_EQ(r->revoked_count, sk_REVOKED_num(r->revoked));
    }

    // A thisUpdate that does not convert fails the split.
    test::X509CrlPtr bad = test::make_crl(ca_.get(), key_.get(), now_, now_ + 600, {});
    ASN1_TIME* t = ASN1_TIME_new();
    ASN1_STRING_set(t, "20261399000000Z", -1);
    t->type = V_ASN1_GENERALIZEDTIME;
    X509_CRL_set1_lastUpdate(bad.get(), t);
    ASN1_TIME_free(t);
    ERR_clear_error();
    EXPECT_EQ(CRL_split(bad.get()), nullptr);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_DATA);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CRL_SPLIT);
    EXPECT_EQ(CRL_split(nullptr), nullptr);
    CRL_free(nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
