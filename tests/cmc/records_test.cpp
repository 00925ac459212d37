// The CRMF and CMC records: known encodings of the implicitly tagged forms,
// round trips of every record, and hostile or truncated DER.
#include <gtest/gtest.h>

#include "crypto/asn1/asn1_read.h"
#include "crypto/cms/cmc.h"
#include "crypto/core/objects.h"
#include "tests/cmc/cmc_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::hex;
using test::operator+;

const Bytes kNameA = hex("300C310A300806035504030C 0141");
const Bytes kNameB = hex("300C310A300806035504030C 0142");

Bytes ascii(const char* s) { return Bytes(s, s + strlen(s)); }

// The template of the known encoding below.
test::ItemPtr<CRMF_CERT_TEMPLATE> known_template() {
    auto t = test::make_item<CRMF_CERT_TEMPLATE>(ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE));
    t->version = ASN1_INTEGER_new();
    ASN1_INTEGER_set(t->version, 2);
    t->serial_number = ASN1_INTEGER_new();
    ASN1_INTEGER_set(t->serial_number, 0x0102);
    t->issuer = test::name_cn("A").release();
    t->validity = CRMF_OPTIONAL_VALIDITY_new();
    t->validity->not_before = test::time_of("250101000000Z");
    t->validity->not_after = test::time_of("20510101000000Z");
    t->subject = test::name_cn("B").release();
    return t;
}

// Issuer [3] and subject [5] replace the Name's SEQUENCE tag; notBefore [0]
// and notAfter [1] replace the time's own tag.
const Bytes kKnownTemplate =
    hex("3045") + hex("800102") + hex("81020102") + hex("A30C") +
    Bytes(kNameA.begin() + 2, kNameA.end()) + hex("A420") + hex("800D") +
    ascii("250101000000Z") + hex("810F") + ascii("20510101000000Z") + hex("A50C") +
    Bytes(kNameB.begin() + 2, kNameB.end());

TEST(CrmfRecords, TemplateWithImplicitNamesAndTimesHasItsKnownEncoding) {
    auto t = known_template();
    EXPECT_EQ(test::der_of(t.get(), ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE)), kKnownTemplate);

    auto back = test::read_exact<CRMF_CERT_TEMPLATE>(kKnownTemplate,
                                                      ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE));
    ASSERT_TRUE(back);
    EXPECT_EQ(ASN1_INTEGER_get(back->version), 2);
    EXPECT_EQ(X509_NAME_cmp(back->issuer, t->issuer), 0);
    EXPECT_EQ(X509_NAME_cmp(back->subject, t->subject), 0);
    ASSERT_TRUE(back->validity);
    EXPECT_EQ(ASN1_STRING_type(back->validity->not_before), V_ASN1_UTCTIME);
    EXPECT_EQ(ASN1_STRING_type(back->validity->not_after), V_ASN1_GENERALIZEDTIME);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE)), kKnownTemplate);
}

TEST(CrmfRecords, ImplicitElementsRefuseTheWrongForm) {
    // The Name under [3] must be constructed, the time under [0] primitive.
    Bytes primitive_name = kKnownTemplate;
    primitive_name[9] = 0x83;
    EXPECT_FALSE(test::read_exact<CRMF_CERT_TEMPLATE>(primitive_name,
                                                      ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE)));
    // The explicit form of RFC 4211 ([3] around a SEQUENCE) is not this one.
    const Bytes explicit_issuer = hex("3010") + hex("A30E") + kNameA;
    EXPECT_FALSE(test::read_exact<CRMF_CERT_TEMPLATE>(explicit_issuer,
                                                      ASN1_ITEM_rptr(CRMF_CERT_TEMPLATE)));
    // A time that is neither a UTCTime nor a GeneralizedTime.
    const Bytes bad_time = hex("3007") + hex("8005") + ascii("hello");
    EXPECT_FALSE(test::read_exact<CRMF_OPTIONAL_VALIDITY>(bad_time,
                                                          ASN1_ITEM_rptr(CRMF_OPTIONAL_VALIDITY)));
    // A length running past the end.
    const Bytes long_time = hex("3004") + hex("807F") + ascii("01");
    EXPECT_FALSE(test::read_exact<CRMF_OPTIONAL_VALIDITY>(long_time,
                                                          ASN1_ITEM_rptr(CRMF_OPTIONAL_VALIDITY)));
}

TEST(CrmfRecords, ControlsAreDecodedByTheirType) {
    auto req = test::make_item<CRMF_CERT_REQUEST>(ASN1_ITEM_rptr(CRMF_CERT_REQUEST));
    ASN1_INTEGER_set(req->cert_req_id, 7);
    req->controls = sk_CRMF_CONTROL_new_null();

    CRMF_CONTROL* old = CRMF_CONTROL_new();
    CRMF_CERT_ID* id = CRMF_CERT_ID_new();
    GENERAL_NAME_set0_value(id->issuer, GEN_DIRNAME, test::name_cn("CA").release());
    ASN1_INTEGER_set(id->serial_number, 12345);
    ASSERT_EQ(CRMF_CONTROL_set(old, NID_OLD_CERT_ID, id), 1);
    sk_CRMF_CONTROL_push(req->controls, old);

    CRMF_CONTROL* token = CRMF_CONTROL_new();
    ASN1_TYPE* utf8 = ASN1_TYPE_new();
    ASN1_UTF8STRING* s = ASN1_UTF8STRING_new();
    ASN1_STRING_set(s, "secret", 6);
    ASN1_TYPE_set(utf8, V_ASN1_UTF8STRING, s);
    ASSERT_EQ(CRMF_CONTROL_set(token, NID_REG_TOKEN, utf8), 1);
    sk_CRMF_CONTROL_push(req->controls, token);

    const Bytes der = test::der_of(req.get(), ASN1_ITEM_rptr(CRMF_CERT_REQUEST));
    ASSERT_FALSE(der.empty());
    auto back = test::read_exact<CRMF_CERT_REQUEST>(der, ASN1_ITEM_rptr(CRMF_CERT_REQUEST));
    ASSERT_TRUE(back);
    ASSERT_EQ(sk_CRMF_CONTROL_num(back->controls), 2);
    const CRMF_CONTROL* c0 = sk_CRMF_CONTROL_value(back->controls, 0);
    const CRMF_CONTROL* c1 = sk_CRMF_CONTROL_value(back->controls, 1);
    EXPECT_EQ(CRMF_CONTROL_nid(c0), NID_OLD_CERT_ID);
    ASSERT_NE(c0->value.old_cert_id, nullptr);
    EXPECT_EQ(ASN1_INTEGER_get(c0->value.old_cert_id->serial_number), 12345);
    EXPECT_EQ(c0->value.old_cert_id->issuer->type, GEN_DIRNAME);
    EXPECT_EQ(CRMF_CONTROL_nid(c1), NID_REG_TOKEN);
    ASSERT_NE(c1->value.other, nullptr);
    EXPECT_EQ(c1->value.other->type, V_ASN1_UTF8STRING);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CRMF_CERT_REQUEST)), der);

    // An oldCertId whose value is no CertId does not decode.
    Bytes wrong = der;
    const Bytes ca_serial = hex("02023039");
    auto at = std::search(wrong.begin(), wrong.end(), ca_serial.begin(), ca_serial.end());
    ASSERT_NE(at, wrong.end());
    at[0] = 0x04;  // an OCTET STRING where the serial INTEGER belongs
    EXPECT_FALSE(test::read_exact<CRMF_CERT_REQUEST>(wrong, ASN1_ITEM_rptr(CRMF_CERT_REQUEST)));
}

TEST(CrmfRecords, EmptyOptionalListsAreLeftOut) {
    auto msg = test::make_item<CRMF_CERT_REQ_MSG>(ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 1);
    msg->cert_req->controls = sk_CRMF_CONTROL_new_null();
    msg->reg_info = sk_CRMF_ATTR_TYPE_AND_VALUE_new_null();
    // certReq { certReqId 1, certTemplate {} }, nothing else.
    EXPECT_EQ(test::der_of(msg.get(), ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)),
              hex("3007 3005 020101 3000"));
    const Bytes empty_lists = hex("300B 3007 020101 3000 3000 3000");
    auto back = test::read_exact<CRMF_CERT_REQ_MSG>(empty_lists, ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    ASSERT_TRUE(back);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)),
              hex("3007 3005 020101 3000"));
}

TEST(CrmfRecords, ProofOfPossessionChoices) {
    struct Case {
        const char* der;
        int type;
    } cases[] = {
        // raVerified [0] NULL.
        {"3009 3005 020101 3000 8000", CRMF_POP_RA_VERIFIED},
        // signature [1] replacing the POPOSigningKey's SEQUENCE tag.
        {"3018 3005 020101 3000 A10F 3009 0605 2A03040506 0500 0302 0001", CRMF_POP_SIGNATURE},
        // keyEncipherment [2] around POPOPrivKey thisMessage [0].
        {"300E 3005 020101 3000 A205 8003 000102", CRMF_POP_KEY_ENCIPHERMENT},
        // keyAgreement [3] around POPOPrivKey subsequentMessage [1].
        {"300C 3005 020101 3000 A303 810100", CRMF_POP_KEY_AGREEMENT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.der);
        const Bytes der = hex(c.der);
        auto msg = test::read_exact<CRMF_CERT_REQ_MSG>(der, ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
        ASSERT_TRUE(msg);
        ASSERT_NE(msg->popo, nullptr);
        EXPECT_EQ(msg->popo->type, c.type);
        EXPECT_EQ(test::der_of(msg.get(), ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)), der);
    }
    // A POP choice [4] is not one of ProofOfPossession's.
    EXPECT_FALSE(test::read_exact<CRMF_CERT_REQ_MSG>(hex("3009 3005 020101 3000 8400"),
                                                     ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG)));
}

// A value of the end-of-contents tag (here a POP algorithm's parameters)
// cannot be written back as it came: the writer would turn it into the mark
// itself, which no reader takes. It is refused on reading, alone and inside
// a PKIData.
TEST(CrmfRecords, ValuesOfTheEndOfContentsTagAreRefused) {
    auto crmf = [](const char* params) {
        const Bytes p = hex(params);
        const Bytes popo_alg = hex("0605 2A03040506") + p;
        const Bytes alg = hex("30") + Bytes{static_cast<unsigned char>(popo_alg.size())} + popo_alg;
        const Bytes pop_body = alg + hex("0302 0001");
        const Bytes body = hex("3005 020101 3000 A1") +
                           Bytes{static_cast<unsigned char>(pop_body.size())} + pop_body;
        return body;  // the CertReqMsg's contents
    };
    auto message = [&](const char* params) {
        const Bytes body = crmf(params);
        return hex("30") + Bytes{static_cast<unsigned char>(body.size())} + body;
    };
    auto pki_data = [&](const char* params) {
        const Bytes body = crmf(params);
        const Bytes req = hex("A1") + Bytes{static_cast<unsigned char>(body.size())} + body;
        const Bytes seqs =
            hex("3000 30") + Bytes{static_cast<unsigned char>(req.size())} + req + hex("3000 3000");
        return hex("30") + Bytes{static_cast<unsigned char>(seqs.size())} + seqs;
    };
    const Bytes good = message("0500");
    CRMF_CERT_REQ_MSG* ok = CRMF_CERT_REQ_MSG_read(good.data(), static_cast<long>(good.size()));
    ASSERT_NE(ok, nullptr);
    CRMF_CERT_REQ_MSG_free(ok);
    const Bytes good_body = pki_data("0500");
    CMC* body = CMS_read(good_body.data(), static_cast<long>(good_body.size()), NID_CMC_PKI_DATA);
    ASSERT_NE(body, nullptr);
    CMC_free(body);

    for (const char* params : {"2000", "2003 020101"}) {
        SCOPED_TRACE(params);
        const Bytes m = message(params);
        EXPECT_EQ(CRMF_CERT_REQ_MSG_read(m.data(), static_cast<long>(m.size())), nullptr);
        EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_R_NESTED_ASN1_ERROR_);
        const Bytes d = pki_data(params);
        EXPECT_EQ(CMS_read(d.data(), static_cast<long>(d.size()), NID_CMC_PKI_DATA), nullptr);
        ERR_clear_error();
    }
}

// Records that need a key: the parties' keys.
class KeyedRecords : public test::PartyTest {};

TEST_F(KeyedRecords, SignatureProofCarriesItsInputImplicitly) {
    auto pop = test::make_item<CRMF_POPO_SIGNING_KEY>(ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY));
    X509_ALGOR_set0(pop->algorithm, OBJ_dup(::OBJ_nid2obj(NID_sha256WithRSAEncryption)), V_ASN1_NULL,
                    nullptr);
    ASN1_BIT_STRING_set(pop->signature, const_cast<unsigned char*>(
                                            reinterpret_cast<const unsigned char*>("\x01\x02")),
                        2);
    const Bytes plain = test::der_of(pop.get(), ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY));
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(plain[0], 0x30);

    pop->poposk_input = CRMF_POPO_SIGNING_KEY_INPUT_new();
    pop->poposk_input->auth_info->type = CRMF_AUTH_SENDER;
    pop->poposk_input->auth_info->value.sender = GENERAL_NAME_new();
    GENERAL_NAME_set0_value(pop->poposk_input->auth_info->value.sender, GEN_DIRNAME,
                            test::name_cn("A").release());
    EVP_PKEY* key = party(EVP_PKEY_RSA).key.get();
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(X509_PUBKEY_set(&pop->poposk_input->public_key, key), 1);
    const Bytes with = test::der_of(pop.get(), ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY));
    ASSERT_GT(with.size(), 8u);
    // [0] replaces the SEQUENCE tag of POPOSigningKeyInput.
    const size_t header = (with[1] & 0x80) != 0 ? 2 + (with[1] & 0x7F) : 2;
    EXPECT_EQ(with[header], 0xA0);
    auto back =
        test::read_exact<CRMF_POPO_SIGNING_KEY>(with, ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY));
    ASSERT_TRUE(back);
    ASSERT_NE(back->poposk_input, nullptr);
    EXPECT_EQ(back->poposk_input->auth_info->type, CRMF_AUTH_SENDER);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CRMF_POPO_SIGNING_KEY)), with);
}

TEST(CrmfRecords, MessagesAreSharedByCount) {
    CRMF_CERT_REQ_MSG* msg = CRMF_CERT_REQ_MSG_new();
    ASSERT_NE(msg, nullptr);
    EXPECT_EQ(msg->references, 1);
    ASSERT_EQ(CRMF_CERT_REQ_MSG_up_ref(msg), 1);
    EXPECT_EQ(msg->references, 2);
    CRMF_CERT_REQ_MSG_free(msg);
    // Still alive: the sanitizers see any use after free.
    EXPECT_EQ(msg->references, 1);
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 3);
    CRMF_CERT_REQ_MSG_free(msg);
    EXPECT_EQ(CRMF_CERT_REQ_MSG_up_ref(nullptr), 0);
}

TEST(CrmfRecords, StrictReaderRefusesTruncationAndTrailingBytes) {
    auto t = known_template();
    auto msg = test::make_item<CRMF_CERT_REQ_MSG>(ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    ASN1_INTEGER_set(msg->cert_req->cert_req_id, 9);
    CRMF_CERT_TEMPLATE_free(msg->cert_req->cert_template);
    msg->cert_req->cert_template = t.release();
    const Bytes der = test::der_of(msg.get(), ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    ASSERT_FALSE(der.empty());

    CRMF_CERT_REQ_MSG* good = CRMF_CERT_REQ_MSG_read(der.data(), static_cast<long>(der.size()));
    ASSERT_NE(good, nullptr);
    CRMF_CERT_REQ_MSG_free(good);

    for (size_t n = 0; n < der.size(); ++n) {
        EXPECT_EQ(CRMF_CERT_REQ_MSG_read(der.data(), static_cast<long>(n)), nullptr) << n;
        ERR_clear_error();
    }
    Bytes trailing = der;
    trailing.push_back(0);
    EXPECT_EQ(CRMF_CERT_REQ_MSG_read(trailing.data(), static_cast<long>(trailing.size())),
              nullptr);
    const unsigned long e = ERR_peek_last_error();
    EXPECT_EQ(ERR_code_lib(e), ERR_LIB_ASN1_);
    EXPECT_EQ(ERR_code_reason(e), ERR_R_ASN1_LENGTH_MISMATCH_);
    ERR_clear_error();
}

// --- CMC records ---

TEST_F(KeyedRecords, TaggedCertificationRequestGoesUnderAnImplicitZero) {
    X509_REQ* x = test::make_request(party(EVP_PKEY_RSA).key.get(), "tcr");
    ASSERT_NE(x, nullptr);

    auto tcr = test::make_item<CMC_TAGGED_CERT_REQUEST>(ASN1_ITEM_rptr(CMC_TAGGED_CERT_REQUEST));
    ASN1_INTEGER_set(tcr->body_part_id, 1);
    X509_REQ_free(tcr->request);
    tcr->request = x;
    const Bytes plain = test::der_of(tcr.get(), ASN1_ITEM_rptr(CMC_TAGGED_CERT_REQUEST));

    auto data = test::make_item<CMC_PKI_DATA>(ASN1_ITEM_rptr(CMC_PKI_DATA));
    CMC_TAGGED_REQUEST* tr = CMC_TAGGED_REQUEST_new();
    tr->type = CMC_REQUEST_TCR;
    tr->value.tcr = tcr.release();
    sk_CMC_TAGGED_REQUEST_push(data->requests, tr);
    const Bytes der = test::der_of(data.get(), ASN1_ITEM_rptr(CMC_PKI_DATA));

    Bytes tagged = plain;
    tagged[0] = 0xA0;
    // PKIData { {}, { [0] ... }, {}, {} }.
    auto at = std::search(der.begin(), der.end(), tagged.begin(), tagged.end());
    ASSERT_NE(at, der.end());
    EXPECT_EQ(der.end() - (at + static_cast<long>(tagged.size())), 4);  // two empty lists follow
    EXPECT_EQ(Bytes(der.end() - 4, der.end()), hex("30003000"));

    auto back = test::read_exact<CMC_PKI_DATA>(der, ASN1_ITEM_rptr(CMC_PKI_DATA));
    ASSERT_TRUE(back);
    ASSERT_EQ(sk_CMC_TAGGED_REQUEST_num(back->requests), 1);
    const CMC_TAGGED_REQUEST* r = sk_CMC_TAGGED_REQUEST_value(back->requests, 0);
    EXPECT_EQ(r->type, CMC_REQUEST_TCR);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CMC_PKI_DATA)), der);
}

TEST(CmcRecords, StatusInfoWithoutOptionalMembers) {
    auto info = test::make_item<CMC_STATUS_INFO>(ASN1_ITEM_rptr(CMC_STATUS_INFO));
    ASN1_INTEGER_set(info->status, 0);
    EXPECT_EQ(test::der_of(info.get(), ASN1_ITEM_rptr(CMC_STATUS_INFO)), hex("3005 020100 3000"));
    ASN1_INTEGER* ref = ASN1_INTEGER_new();
    ASN1_INTEGER_set(ref, 1);
    sk_ASN1_INTEGER_push(info->body_list, ref);
    EXPECT_EQ(test::der_of(info.get(), ASN1_ITEM_rptr(CMC_STATUS_INFO)),
              hex("3008 020100 3003020101"));

    // failInfo and pendInfo read back as their choice.
    const Bytes fail = hex("300E 020102 3003020101 0C01 41 020103");
    auto f = test::read_exact<CMC_STATUS_INFO>(fail, ASN1_ITEM_rptr(CMC_STATUS_INFO));
    ASSERT_TRUE(f);
    ASSERT_NE(f->other_info, nullptr);
    EXPECT_EQ(f->other_info->type, CMC_OTHER_INFO_FAIL);
    EXPECT_EQ(ASN1_INTEGER_get(f->other_info->value.fail_info), 3);
    const Bytes pend = test::hex("301B 020103 3000 3014 020105 180F") + ascii("20260102030405Z");
    auto p = test::read_exact<CMC_STATUS_INFO>(pend, ASN1_ITEM_rptr(CMC_STATUS_INFO));
    ASSERT_TRUE(p);
    ASSERT_NE(p->other_info, nullptr);
    EXPECT_EQ(p->other_info->type, CMC_OTHER_INFO_PEND);
    EXPECT_EQ(ASN1_INTEGER_get(p->other_info->value.pend_info->pend_token), 5);
    EXPECT_EQ(test::der_of(p.get(), ASN1_ITEM_rptr(CMC_STATUS_INFO)), pend);
}

TEST(CmcRecords, RevokeRequestWithoutOptionalMembers) {
    auto rr = test::make_item<CMC_REVOKE_REQUEST>(ASN1_ITEM_rptr(CMC_REVOKE_REQUEST));
    X509_NAME_set(&rr->issuer, test::name_cn("A").get());
    ASN1_INTEGER_set(rr->serial_number, 5);
    ASN1_ENUMERATED_set(rr->reason, 1);
    const Bytes plain = hex("3014") + kNameA + hex("020105 0A0101");
    EXPECT_EQ(test::der_of(rr.get(), ASN1_ITEM_rptr(CMC_REVOKE_REQUEST)), plain);

    rr->invalidity_date = ASN1_GENERALIZEDTIME_new();
    ASN1_GENERALIZEDTIME_set_string(rr->invalidity_date, "20260301120000Z");
    rr->shared_secret = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(rr->shared_secret, reinterpret_cast<const unsigned char*>("pw"), 2);
    rr->comment = ASN1_UTF8STRING_new();
    ASN1_STRING_set(rr->comment, "c", 1);
    const Bytes full = test::der_of(rr.get(), ASN1_ITEM_rptr(CMC_REVOKE_REQUEST));
    EXPECT_EQ(full, hex("302C") + kNameA + hex("020105 0A0101 180F") + ascii("20260301120000Z") +
                        hex("0402") + ascii("pw") + hex("0C01") + ascii("c"));
    auto back = test::read_exact<CMC_REVOKE_REQUEST>(full, ASN1_ITEM_rptr(CMC_REVOKE_REQUEST));
    ASSERT_TRUE(back);
    EXPECT_EQ(test::der_of(back.get(), ASN1_ITEM_rptr(CMC_REVOKE_REQUEST)), full);
}

TEST(CmcRecords, EveryOtherRecordRoundTrips) {
    // TaggedAttribute with a transactionId value.
    const Bytes attr = hex("3012 020101 06082B06010505070705 3103 020107");
    // TaggedContentInfo and OtherMsg around arbitrary values.
    const Bytes content = hex("3009 020102 3004 06020102");
    const Bytes other = hex("300A 020103 0603 2A0304 0500");
    const Bytes pend = hex("3014 020105 180F") + ascii("20260102030405Z");
    const Bytes add_ext =
        hex("3016 020101 3003 020102 300C 300A 0603551D0F 0403 030107");
    struct {
        const Bytes& der;
        const ASN1_ITEM* it;
    } cases[] = {
        {attr, ASN1_ITEM_rptr(CMC_TAGGED_ATTRIBUTE)},
        {content, ASN1_ITEM_rptr(CMC_TAGGED_CONTENT_INFO)},
        {other, ASN1_ITEM_rptr(CMC_OTHER_MSG)},
        {pend, ASN1_ITEM_rptr(CMC_PEND_INFO)},
        {add_ext, ASN1_ITEM_rptr(CMC_ADD_EXTENSIONS)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.it->sname);
        auto v = test::read_exact<ASN1_VALUE>(c.der, c.it);
        ASSERT_TRUE(v);
        EXPECT_EQ(test::der_of(v.get(), c.it), c.der);
        for (size_t n = 1; n < c.der.size(); ++n)
            EXPECT_FALSE(test::read_exact<ASN1_VALUE>(Bytes(c.der.begin(), c.der.begin() + n), c.it))
                << n;
    }
}

TEST(CmcRecords, ResponseBodyHasNoRequestList) {
    const Bytes response = hex("3006 3000 3000 3000");
    CMC_PKI_DATA* body = CMC_body_read(NID_CMC_RESPONSE_BODY, response.data(), 8);
    ASSERT_NE(body, nullptr);
    unsigned char* out = nullptr;
    const int len = CMC_body_write(NID_CMC_RESPONSE_BODY, body, &out);
    ASSERT_EQ(len, 8);
    EXPECT_EQ(Bytes(out, out + len), response);
    OPENSSL_free(out);
    CMC_RESPONSE_BODY_free(body);
    // The four lists of a PKIData are not a ResponseBody, and three are not
    // a PKIData.
    const Bytes pki = hex("3008 3000 3000 3000 3000");
    EXPECT_EQ(CMC_body_read(NID_CMC_RESPONSE_BODY, pki.data(), 10), nullptr);
    EXPECT_EQ(CMC_body_read(NID_CMC_PKI_DATA, response.data(), 8), nullptr);
    EXPECT_EQ(CMC_body_read(NID_pkcs7_data, pki.data(), 10), nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
