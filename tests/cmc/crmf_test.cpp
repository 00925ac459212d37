// The flat CRMF record: the split of a CertReqMsg and its proof of
// possession with GOST and RSA keys.
#include <gtest/gtest.h>

#include "crypto/cms/crmf.h"
#include "crypto/core/objects.h"
#include "tests/cmc/cmc_util.h"

namespace cadb {
namespace {

using test::Bytes;

class Crmf : public test::PartyTest {};

struct CrmfFree {
    void operator()(CRMF* c) const { CRMF_free(c); }
};
using CrmfPtr = std::unique_ptr<CRMF, CrmfFree>;

// Re-encodes and reads the message, as a receiver sees it.
test::MsgPtr transmit(const CRMF_CERT_REQ_MSG* msg) {
    const Bytes der = test::der_of(msg, ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    return test::MsgPtr(CRMF_CERT_REQ_MSG_read(der.data(), static_cast<long>(der.size())),
                        test::Item<CRMF_CERT_REQ_MSG>{ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)});
}

TEST_F(Crmf, NewRecordStartsEmpty) {
    CrmfPtr c(CRMF_new());
    ASSERT_TRUE(c);
    EXPECT_EQ(c->version, -1);
    EXPECT_EQ(c->pop_type, -1);
    EXPECT_EQ(c->pop_result, -1);
    EXPECT_NE(c->message, nullptr);
    EXPECT_EQ(c->serial_number, nullptr);
}

TEST_F(Crmf, SplitTakesEveryTemplateField) {
    test::Party& p = party(NID_ECR3410_CP);
    test::MsgPtr msg = test::make_msg(p.key.get(), 42, false);
    ASSERT_TRUE(msg);
    CRMF_CERT_TEMPLATE* t = msg->cert_req->cert_template;
    t->serial_number = ASN1_INTEGER_new();
    ASN1_INTEGER_set(t->serial_number, 0x010203);
    t->issuer = test::name_cn("Issuing CA").release();
    t->signing_alg = X509_ALGOR_new();
    X509_ALGOR_set0(t->signing_alg, OBJ_dup(cadb::OBJ_nid2obj(NID_R3411_WITH_ECR3410_CP)),
                    V_ASN1_UNDEF, nullptr);
    test::MsgPtr got = transmit(msg.get());
    ASSERT_TRUE(got);

    CrmfPtr c(CRMF_split(got.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->request_id, 42);
    EXPECT_EQ(c->version, 2);
    EXPECT_EQ(c->key_algorithm, NID_ECR3410_CP);
    EXPECT_EQ(c->key_size, EVP_PKEY_get_bits(p.key.get()));
    EXPECT_EQ(c->signing_algorithm, NID_R3411_WITH_ECR3410_CP);
    EXPECT_EQ(c->pop_type, CRMF_POP_NONE);
    EXPECT_EQ(c->pop_result, -1);
    ASSERT_NE(c->serial_number, nullptr);
    EXPECT_EQ(Bytes(c->serial_number->data, c->serial_number->data + c->serial_number->length),
              (Bytes{1, 2, 3}));
    ASSERT_NE(c->not_before, nullptr);
    EXPECT_EQ(c->not_before->tm_year, 126);
    ASSERT_NE(c->not_after, nullptr);
    EXPECT_EQ(c->not_after->tm_year, 127);
    ASSERT_NE(c->subject, nullptr);
    EXPECT_STREQ(c->subject->text, "Subscriber");
    ASSERT_NE(c->issuer, nullptr);
    EXPECT_STREQ(c->issuer->text, "Issuing CA");
    ASSERT_EQ(sk_CADB_V3EXT_num(c->extensions), 1);
    EXPECT_EQ(sk_CADB_V3EXT_value(c->extensions, 0)->nid, NID_key_usage);
    EXPECT_EQ(sk_X509_EXTENSION_num(c->raw_extensions), 1);
    ASSERT_NE(c->key_fingerprint, nullptr);
    EXPECT_EQ(c->key_fingerprint->length, 32);
    // The record holds the message by a counted reference.
    EXPECT_EQ(c->message, got.get());
    EXPECT_EQ(got->references, 2);
    c.reset();
    EXPECT_EQ(got->references, 1);
}

TEST_F(Crmf, SignatureProofIsVerifiedForEveryKeyType) {
    for (int type : {static_cast<int>(NID_ECR3410_CP), static_cast<int>(NID_R3410_CP),
                     EVP_PKEY_RSA}) {
        SCOPED_TRACE(type);
        test::Party& p = party(type);
        test::MsgPtr msg = test::make_msg(p.key.get(), 1, true);
        ASSERT_TRUE(msg);
        test::MsgPtr got = transmit(msg.get());
        ASSERT_TRUE(got);
        CrmfPtr c(CRMF_split(got.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_type, CRMF_POP_SIGNATURE);
        EXPECT_EQ(c->pop_result, 1);
    }
}

TEST_F(Crmf, ProofOverAChangedRequestIsReportedNotHidden) {
    test::Party& p = party(NID_ECR3410_CP);
    test::MsgPtr msg = test::make_msg(p.key.get(), 1, true);
    ASSERT_TRUE(msg);
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 2);
    test::MsgPtr got = transmit(msg.get());
    ASSERT_TRUE(got);
    CrmfPtr c(CRMF_split(got.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->request_id, 2);
    EXPECT_EQ(c->pop_type, CRMF_POP_SIGNATURE);
    EXPECT_NE(c->pop_result, 1);
}

TEST_F(Crmf, ProofByAnotherKeyFails) {
    test::MsgPtr msg = test::make_msg(party(NID_ECR3410_CP).key.get(), 1, false);
    ASSERT_TRUE(msg);
    // Signed by a different key of the same type.
    test::PkeyPtr other = test::generate_key(NID_ECR3410_CP);
    ASSERT_TRUE(other);
    msg->popo = CRMF_PROOF_OF_POSSESSION_new();
    msg->popo->type = CRMF_POP_SIGNATURE;
    msg->popo->value.signature = CRMF_POPO_SIGNING_KEY_new();
    CRMF_POPO_SIGNING_KEY* pop = msg->popo->value.signature;
    ASSERT_GT(ASN1_item_sign(ASN1_ITEM_rptr(CRMF_CERT_REQUEST), pop->algorithm, nullptr,
                             pop->signature, msg->cert_req, other.get(),
                             test::cert_md(other.get())),
              0);
    CrmfPtr c(CRMF_split(msg.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->pop_result, 0);
}

TEST_F(Crmf, ProofOverItsInputCoversTheInput) {
    test::Party& p = party(NID_ECR3410_CP);
    test::MsgPtr msg = test::make_msg(p.key.get(), 5, false);
    ASSERT_TRUE(msg);
    msg->popo = CRMF_PROOF_OF_POSSESSION_new();
    msg->popo->type = CRMF_POP_SIGNATURE;
    msg->popo->value.signature = CRMF_POPO_SIGNING_KEY_new();
    CRMF_POPO_SIGNING_KEY* pop = msg->popo->value.signature;
    pop->poposk_input = CRMF_POPO_SIGNING_KEY_INPUT_new();
    CRMF_POPO_AUTH_INFO* auth = pop->poposk_input->auth_info;
    auth->type = CRMF_AUTH_SENDER;
    auth->value.sender = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(auth->value.sender, GEN_DIRNAME, test::name_cn("sender").release());
    ASSERT_EQ(X509_PUBKEY_set(&pop->poposk_input->public_key, p.key.get()), 1);
    ASSERT_GT(ASN1_item_sign(ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY_INPUT), pop->algorithm, nullptr,
                             pop->signature, pop->poposk_input, p.key.get(),
                             test::cert_md(p.key.get())),
              0);
    {
        test::MsgPtr got = transmit(msg.get());
        ASSERT_TRUE(got);
        CrmfPtr c(CRMF_split(got.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_result, 1);
    }
    // The signature is over the input, not the request: a changed input
    // fails, a changed request id does not matter.
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 6);
    {
        CrmfPtr c(CRMF_split(msg.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_result, 1);
    }
    GENERAL_NAME_free(auth->value.sender);
    auth->value.sender = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(auth->value.sender, GEN_DIRNAME, test::name_cn("another").release());
    {
        CrmfPtr c(CRMF_split(msg.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_result, 0);
    }
    // An input carrying another key than the template's proves nothing.
    test::PkeyPtr other = test::generate_key(NID_ECR3410_CP);
    ASSERT_EQ(X509_PUBKEY_set(&pop->poposk_input->public_key, other.get()), 1);
    ASSERT_GT(ASN1_item_sign(ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY_INPUT), pop->algorithm, nullptr,
                             pop->signature, pop->poposk_input, other.get(),
                             test::cert_md(other.get())),
              0);
    {
        CrmfPtr c(CRMF_split(msg.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_result, 0);
    }
}

TEST_F(Crmf, RaVerifiedIsAcceptedOtherProofsAreRefused) {
    test::Party& p = party(NID_ECR3410_CP);
    test::MsgPtr msg = test::make_msg(p.key.get(), 1, false);
    ASSERT_TRUE(msg);
    msg->popo = CRMF_PROOF_OF_POSSESSION_new();
    msg->popo->type = CRMF_POP_RA_VERIFIED;
    msg->popo->value.ra_verified = ASN1_NULL_new();
    {
        CrmfPtr c(CRMF_split(msg.get()));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->pop_type, CRMF_POP_RA_VERIFIED);
        EXPECT_EQ(c->pop_result, -1);
    }
    for (int type : {CRMF_POP_KEY_ENCIPHERMENT, CRMF_POP_KEY_AGREEMENT}) {
        SCOPED_TRACE(type);
        const Bytes der = test::hex(type == CRMF_POP_KEY_ENCIPHERMENT ? "A205 8003 000102"
                                                                      : "A303 810100");
        CRMF_PROOF_OF_POSSESSION_free(msg->popo);
        const unsigned char* q = der.data();
        msg->popo = d2i_CRMF_PROOF_OF_POSSESSION(nullptr, &q, static_cast<long>(der.size()));
        ASSERT_NE(msg->popo, nullptr);
        ASSERT_EQ(msg->popo->type, type);
        const int refs = msg->references;
        EXPECT_EQ(CRMF_split(msg.get()), nullptr);
        EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_CADB);
        EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CRMF_SPLIT);
        ERR_clear_error();
        // The failed split gave its reference back.
        EXPECT_EQ(msg->references, refs);
    }
    // A signature proof needs the template's key.
    test::MsgPtr signed_msg = test::make_msg(p.key.get(), 1, true);
    X509_PUBKEY_free(signed_msg->cert_req->cert_template->public_key);
    signed_msg->cert_req->cert_template->public_key = nullptr;
    EXPECT_EQ(CRMF_split(signed_msg.get()), nullptr);
    EXPECT_EQ(CRMF_split(nullptr), nullptr);
    ERR_clear_error();
}

TEST_F(Crmf, NumbersTooLargeForTheRecordAreRefused) {
    test::MsgPtr msg = test::make_msg(nullptr, 1, false);
    ASSERT_TRUE(msg);
    ASN1_INTEGER_set_int64(msg->cert_req->cert_req_id, 0x100000000LL);
    EXPECT_EQ(CRMF_split(msg.get()), nullptr);
    ASN1_INTEGER_set_int64(msg->cert_req->cert_req_id, -1);
    EXPECT_EQ(CRMF_split(msg.get()), nullptr);
    ERR_clear_error();
    // A long serial number stays whole.
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 1);
    BIGNUM* big = nullptr;
    BN_hex2bn(&big, "0102030405060708090A0B0C0D0E0F101112131415");
    msg->cert_req->cert_template->serial_number = BN_to_ASN1_INTEGER(big, nullptr);
    BN_free(big);
    CrmfPtr c(CRMF_split(msg.get()));
    ASSERT_TRUE(c);
    ASSERT_NE(c->serial_number, nullptr);
    EXPECT_EQ(c->serial_number->length, 21);
    EXPECT_EQ(c->key_fingerprint, nullptr);
}

TEST_F(Crmf, NamesThatDoNotSplitFailTheSplit) {
    // A postal address whose string has a length in a longer form than DER
    // allows cannot be printed: the record is refused rather than made
    // without the name.
    const unsigned char cut[] = {0x30, 0x04, 0x0C, 0x81, 0x01, 'x'};
    for (bool issuer : {false, true}) {
        SCOPED_TRACE(issuer ? "issuer" : "subject");
        test::MsgPtr msg = test::make_msg(nullptr, 1, false);
        ASSERT_TRUE(msg);
        CRMF_CERT_TEMPLATE* t = msg->cert_req->cert_template;
        if (issuer) t->issuer = test::name_cn("Issuing CA").release();
        X509_NAME* name = issuer ? t->issuer : t->subject;
        X509_NAME_ENTRY* e = X509_NAME_ENTRY_create_by_NID(
            nullptr, NID_postalAddress, V_ASN1_UTF8STRING,
            reinterpret_cast<const unsigned char*>("x"), 1);
        ASSERT_NE(e, nullptr);
        ASN1_STRING* value = X509_NAME_ENTRY_get_data(e);
        ASSERT_EQ(ASN1_STRING_set(value, cut, sizeof cut), 1);
        value->type = V_ASN1_SEQUENCE;
        ASSERT_EQ(X509_NAME_add_entry(name, e, -1, 0), 1);
        X509_NAME_ENTRY_free(e);
        ERR_clear_error();
        EXPECT_EQ(CRMF_split(msg.get()), nullptr);
        EXPECT_NE(ERR_peek_last_error(), 0u);
        ERR_clear_error();
    }
    // An empty name is no failure: it just leaves no list.
    test::MsgPtr msg = test::make_msg(nullptr, 1, false);
    ASSERT_TRUE(msg);
    X509_NAME_free(msg->cert_req->cert_template->subject);
    msg->cert_req->cert_template->subject = X509_NAME_new();
    CrmfPtr c(CRMF_split(msg.get()));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->subject, nullptr);
}

TEST_F(Crmf, TextIsAppendedAsUtf8) {
    ASN1_UTF8STRING* s = ASN1_UTF8STRING_new();
    ASSERT_EQ(CRMF_append_text(s, "abc ", -1), 1);
    // "Иван" in code page 1251.
    const char cp1251[] = "\xC8\xE2\xE0\xED";
    ASSERT_EQ(CRMF_append_text(s, cp1251, 4), 1);
    const std::string utf8(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                           static_cast<size_t>(ASN1_STRING_length(s)));
    EXPECT_EQ(utf8, "abc \xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
    EXPECT_EQ(CRMF_append_text(nullptr, "x", 1), 0);
    ASN1_UTF8STRING_free(s);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
