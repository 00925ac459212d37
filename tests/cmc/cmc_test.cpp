// The CMC record: controls and tagged requests written as PKIData and
// ResponseBody and read back, inside signed data too.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "crypto/cms/cmc.h"
#include "crypto/cms/crmf.h"
#include "crypto/core/objects.h"
#include "tests/cmc/cmc_util.h"
#include "tests/pkcs7/p7_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::hex;
using test::operator+;

class Cmc : public test::PartyTest {};

struct CmcFree {
    void operator()(CMC* c) const { CMC_free(c); }
};
using CmcPtr = std::unique_ptr<CMC, CmcFree>;

Bytes bytes_of(const BUFFER* b) {
    return b != nullptr && b->length > 0 ? Bytes(b->data, b->data + b->length) : Bytes{};
}

Bytes take(BUFFER* b) {
    Bytes out = bytes_of(b);
    BUFFER_free(b);
    return out;
}

BufferPtr buffer(const Bytes& b) {
    return BufferPtr(BUFFER_fill(b.data(), static_cast<int>(b.size())));
}

// Counts of the record's lists, which are made on first use.
int requests(const CMC* c) { return c->requests != nullptr ? sk_CMP_TREQ_num(c->requests) : 0; }
int controls(const CMC* c) { return c->controls != nullptr ? sk_CMS_TATTR_num(c->controls) : 0; }

const CMS_TATTR* control(const CMC* c, int i) { return sk_CMS_TATTR_value(c->controls, i); }

TEST_F(Cmc, TransactionIdSetTwiceLeavesTheSecond) {
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 1, buffer({0x01, 0x02}).get()), 1);
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 1, buffer({0x00, 0x00, 0x7F, 0xAA}).get()), 1);
    ASSERT_EQ(controls(cmc.get()), 1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    ASSERT_FALSE(der.empty());
    // One TaggedAttribute: bodyPartID 1, transactionId, { INTEGER 0x7FAA }.
    EXPECT_EQ(der, hex("301D 3015 3013 020101 06082B06010505070705 3104 02027FAA"
                       "3000 3000 3000"));
    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(back);
    ASSERT_EQ(controls(back.get()), 1);
    EXPECT_EQ(control(back.get(), 0)->type, NID_CMC_TRANSACTION_ID);
    // Leading zero bytes do not come back.
    EXPECT_EQ(bytes_of(control(back.get(), 0)->value.bytes), (Bytes{0x7F, 0xAA}));
}

TEST_F(Cmc, LongTransactionIdsStayWhole) {
    CmcPtr cmc(CMC_new());
    Bytes id(40);
    for (size_t i = 0; i < id.size(); ++i) id[i] = static_cast<unsigned char>(0x80 + i);
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 0, buffer(id).get()), 1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(back);
    EXPECT_EQ(bytes_of(control(back.get(), 0)->value.bytes), id);
}

TEST_F(Cmc, StatusInfoRoundTripsInAResponseBody) {
    CmcPtr cmc(CMC_new());
    // "Отказ" in code page 1251.
    const char refused[] = "\xCE\xF2\xEA\xE0\xE7";
    ASSERT_EQ(CMS_add_status_info(cmc.get(), 0, 2, 1, refused, 3), 1);
    ASSERT_EQ(CMS_add_status_info(cmc.get(), 0, 0, 2, nullptr, -1), 1);
    ASSERT_EQ(CMS_set_octet_string(cmc.get(), 3, NID_CMC_RESPONSE_INFO, buffer({9, 8, 7}).get(), 0),
              1);
    // Requests never go into a ResponseBody.
    PKCS10* p10 = PKCS10_split0(test::make_request(party(NID_ECR3410_CP).key.get(), "x"));
    ASSERT_NE(p10, nullptr);
    ASSERT_EQ(CMP_push_PKCS10(cmc.get(), 4, &p10), 1);
    EXPECT_EQ(p10, nullptr);

    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_RESPONSE_BODY));
    ASSERT_FALSE(der.empty());
    EXPECT_EQ(cmc->content_type, NID_CMC_RESPONSE_BODY);
    EXPECT_NE(cmc->content, nullptr);
    // The status string travels as UTF-8.
    const Bytes utf8 = hex("0C0A D09ED182D0BAD0B0D0B7");
    EXPECT_NE(std::search(der.begin(), der.end(), utf8.begin(), utf8.end()), der.end());
    EXPECT_EQ(CMC_body_read(NID_CMC_PKI_DATA, der.data(), static_cast<long>(der.size())),
              nullptr);
    ERR_clear_error();

    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_RESPONSE_BODY));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->content_type, NID_CMC_RESPONSE_BODY);
    EXPECT_EQ(requests(back.get()), 0);
    ASSERT_EQ(controls(back.get()), 3);
    const CMS_STATUS* s0 = control(back.get(), 0)->value.status;
    EXPECT_EQ(s0->status, 2);
    EXPECT_EQ(s0->body_part_ref, 1);
    EXPECT_EQ(s0->fail_info, 3);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(s0->status_string->data)), refused);
    const CMS_STATUS* s1 = control(back.get(), 1)->value.status;
    EXPECT_EQ(s1->status, 0);
    EXPECT_EQ(s1->body_part_ref, 2);
    EXPECT_EQ(s1->fail_info, -1);
    EXPECT_EQ(s1->status_string, nullptr);
    EXPECT_EQ(control(back.get(), 2)->body_part_id, 3);
    EXPECT_EQ(bytes_of(control(back.get(), 2)->value.bytes), (Bytes{9, 8, 7}));
    // Written again, the record gives the same bytes.
    EXPECT_EQ(take(CMC_get(back.get(), NID_CMC_RESPONSE_BODY)), der);
}

// An authority's status whose text is not all UTF-8, or holds characters
// the local code page lacks, is kept with its codes; only what cannot be
// shown becomes '?'.
TEST_F(Cmc, StatusWithTextThatDoesNotConvertIsKept) {
    auto tlv = [](unsigned char tag, const Bytes& v) {
        return Bytes{tag, static_cast<unsigned char>(v.size())} + v;
    };
    // "Отказ", a byte no UTF-8 text holds, a character outside code page
    // 1251, and a character cut short.
    const Bytes text = hex("D09ED182D0BAD0B0D0B7 FF E4B8AD D0");
    const Bytes info =
        tlv(0x30, hex("020102") + tlv(0x30, hex("020101")) + tlv(0x0C, text) + hex("020103"));
    const Bytes attribute = tlv(0x30, hex("020101 06082B06010505070701") + tlv(0x31, info));
    const Bytes der = tlv(0x30, tlv(0x30, attribute) + hex("3000 3000"));

    ERR_clear_error();
    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_RESPONSE_BODY));
    ASSERT_TRUE(back);
    ASSERT_EQ(controls(back.get()), 1);
    ASSERT_EQ(control(back.get(), 0)->type, NID_CMC_STATUS_INFO);
    const CMS_STATUS* s = control(back.get(), 0)->value.status;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->status, 2);
    EXPECT_EQ(s->body_part_ref, 1);
    EXPECT_EQ(s->fail_info, 3);
    ASSERT_NE(s->status_string, nullptr);
    EXPECT_EQ(bytes_of(s->status_string), hex("CEF2EAE0E7 3F 3F 3F"));
    EXPECT_EQ(ERR_peek_error(), 0u);
}

TEST_F(Cmc, RevocationRequestsWithAndWithoutOptionalFields) {
    test::NamePtr issuer = test::name_cn("A");
    const Bytes serial = {0x00, 0xFF, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_add_revreq_info(cmc.get(), 1, issuer.get(), buffer(serial).get(), 1, nullptr,
                                  nullptr, nullptr),
              1);
    struct tm when = {};
    when.tm_year = 126;
    when.tm_mon = 2;
    when.tm_mday = 1;
    when.tm_hour = 12;
    // "Утерян ключ" in code page 1251.
    const char comment[] = "\xD3\xF2\xE5\xF0\xFF\xED \xEA\xEB\xFE\xF7";
    ASSERT_EQ(CMS_add_revreq_info(cmc.get(), 2, issuer.get(), buffer(serial).get(), 3, &when,
                                  "secret", comment),
              1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    ASSERT_FALSE(der.empty());
    // Without the options: issuer, serial and reason only.
    const Bytes bare = hex("300C310A300806035504030C0141 020B00FF010203040506070809 0A0101");
    const Bytes bare_seq = hex("301E") + bare;
    EXPECT_NE(std::search(der.begin(), der.end(), bare_seq.begin(), bare_seq.end()), der.end());
    const Bytes date = hex("180F") + Bytes{'2', '0', '2', '6', '0', '3', '0', '1',
                                          '1', '2', '0', '0', '0', '0', 'Z'};
    EXPECT_NE(std::search(der.begin(), der.end(), date.begin(), date.end()), der.end());

    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(back);
    ASSERT_EQ(controls(back.get()), 2);
    const CMS_REVREQ* r0 = control(back.get(), 0)->value.revreq;
    EXPECT_EQ(X509_NAME_cmp(r0->issuer, issuer.get()), 0);
    EXPECT_EQ(bytes_of(r0->serial), Bytes(serial.begin() + 1, serial.end()));
    EXPECT_EQ(r0->reason, 1);
    EXPECT_EQ(r0->invalidity_date, nullptr);
    EXPECT_EQ(r0->shared_secret, nullptr);
    EXPECT_EQ(r0->comment, nullptr);
    const CMS_REVREQ* r1 = control(back.get(), 1)->value.revreq;
    EXPECT_EQ(control(back.get(), 1)->body_part_id, 2);
    EXPECT_EQ(r1->reason, 3);
    ASSERT_NE(r1->invalidity_date, nullptr);
    EXPECT_EQ(r1->invalidity_date->tm_year, 126);
    EXPECT_EQ(r1->invalidity_date->tm_mon, 2);
    EXPECT_EQ(r1->invalidity_date->tm_hour, 12);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r1->shared_secret->data)), "secret");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r1->comment->data)), comment);
}

TEST_F(Cmc, Pkcs10InsidePkiDataComesBackByteForByte) {
    test::Party& p = party(NID_ECR3410_CP);
    X509_REQ* req = test::make_request(p.key.get(), "Subscriber");
    ASSERT_NE(req, nullptr);
    const Bytes req_der = test::der_of(req, ASN1_ITEM_rptr(X509_REQ));
    PKCS10* p10 = PKCS10_split0(req);
    ASSERT_NE(p10, nullptr);
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 1, buffer({0x12, 0x34}).get()), 1);
    ASSERT_EQ(CMP_push_PKCS10(cmc.get(), 2, &p10), 1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    ASSERT_FALSE(der.empty());
    // tcr [0] in place of the TaggedCertificationRequest's SEQUENCE tag.
    Bytes tcr_content = hex("020102") + req_der;
    EXPECT_NE(std::search(der.begin(), der.end(), tcr_content.begin(), tcr_content.end()),
              der.end());

    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(back);
    ASSERT_EQ(requests(back.get()), 1);
    const CMP_TREQ* r = sk_CMP_TREQ_value(back->requests, 0);
    ASSERT_EQ(r->choice, CMP_TREQ_PKCS10);
    EXPECT_EQ(r->value.tcr->body_part_id, 2);
    ASSERT_NE(r->value.tcr->request, nullptr);
    EXPECT_EQ(r->value.tcr->request->signature_check, 1);
    EXPECT_EQ(test::der_of(r->value.tcr->request->request, ASN1_ITEM_rptr(X509_REQ)), req_der);
}

TEST_F(Cmc, CrmfRequestInsidePkiData) {
    test::Party& p = party(NID_ECR3410_CP);
    test::MsgPtr msg = test::make_msg(p.key.get(), 7, true);
    ASSERT_TRUE(msg);
    const Bytes msg_der = test::der_of(msg.get(), ASN1_ITEM_rptr(CRMF_CERT_REQ_MSG));
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_push_CRMF(cmc.get(), msg.release()), 1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    ASSERT_FALSE(der.empty());
    // crm [1] in place of the CertReqMsg's SEQUENCE tag.
    Bytes tagged = msg_der;
    tagged[0] = 0xA1;
    EXPECT_NE(std::search(der.begin(), der.end(), tagged.begin(), tagged.end()), der.end());

    CmcPtr back(CMS_read(der.data(), static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(back);
    ASSERT_EQ(requests(back.get()), 1);
    const CMP_TREQ* r = sk_CMP_TREQ_value(back->requests, 0);
    ASSERT_EQ(r->choice, CMP_TREQ_CRMF);
    CRMF* flat = CRMF_split(r->value.crm);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->request_id, 7);
    EXPECT_EQ(flat->pop_result, 1);
    CRMF_free(flat);
}

TEST_F(Cmc, PkiDataInsideSignedDataVerifiesAndReadsBack) {
    test::Party& s = party(NID_ECR3410_CP);
    X509_REQ* req = test::make_request(s.key.get(), "Signed subscriber");
    ASSERT_NE(req, nullptr);
    const Bytes req_der = test::der_of(req, ASN1_ITEM_rptr(X509_REQ));
    PKCS10* p10 = PKCS10_split0(req);
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 1, buffer({1, 2, 3, 4}).get()), 1);
    ASSERT_EQ(CMP_push_PKCS10(cmc.get(), 2, &p10), 1);
    const Bytes body = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    ASSERT_FALSE(body.empty());

    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_signed), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_CMC_PKI_DATA), 1);
    ASSERT_NE(PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(), test::cert_md(s.key.get())),
              nullptr);
    ASSERT_EQ(PKCS7_add_certificate(p7.get(), s.cert.get()), 1);
    ASSERT_TRUE(test::finish(p7.get(), body));
    const Bytes der = test::encode(p7.get());
    // The body sits directly under [0], not inside an OCTET STRING.
    EXPECT_NE(std::search(der.begin(), der.end(), body.begin(), body.end()), der.end());

    test::P7Ptr back = test::decode(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(cadb::OBJ_obj2nid(PKCS7_get_inner_type(back.get())), NID_CMC_PKI_DATA);
    const test::Verified v = test::verify_message(back.get(), nullptr);
    EXPECT_EQ(v.results, std::vector<int>{1});
    ASSERT_EQ(v.content, body);
    CmcPtr read(CMS_read(v.content.data(), static_cast<long>(v.content.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(read);
    ASSERT_EQ(requests(read.get()), 1);
    EXPECT_EQ(test::der_of(sk_CMP_TREQ_value(read->requests, 0)->value.tcr->request->request,
                           ASN1_ITEM_rptr(X509_REQ)),
              req_der);
    EXPECT_EQ(bytes_of(control(read.get(), 0)->value.bytes), (Bytes{1, 2, 3, 4}));
}

TEST_F(Cmc, TheOpensslCommandParsesTheBody) {
    test::Party& p = party(NID_ECR3410_CP);
    PKCS10* p10 = PKCS10_split0(test::make_request(p.key.get(), "asn1parse"));
    CmcPtr cmc(CMC_new());
    ASSERT_EQ(CMS_set_trans_id(cmc.get(), 1, buffer({0x42}).get()), 1);
    ASSERT_EQ(CMS_add_status_info(cmc.get(), 1, 0, 1, "ok", -1), 1);
    ASSERT_EQ(CMP_push_PKCS10(cmc.get(), 2, &p10), 1);
    const Bytes der = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    char path[] = "/tmp/cmc_body_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, der.data(), der.size()), static_cast<ssize_t>(der.size()));
    close(fd);
    const std::string cmd = std::string("openssl asn1parse -inform DER -in ") + path + " 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
    const int rc = pclose(pipe);
    std::remove(path);
    EXPECT_EQ(rc, 0) << out;
    EXPECT_NE(out.find(":id-cmc-transactionId"), std::string::npos) << out;
    EXPECT_NE(out.find(":id-cmc-statusInfo"), std::string::npos) << out;
    EXPECT_NE(out.find("cont [ 0 ]"), std::string::npos) << out;
    EXPECT_NE(out.find("UTF8STRING        :ok"), std::string::npos) << out;
    EXPECT_EQ(out.find("error"), std::string::npos) << out;
}

TEST_F(Cmc, HostileBodiesAreRefused) {
    const Bytes good = hex("301D 3015 3013 020101 06082B06010505070705 3104 02027FAA"
                           "3000 3000 3000");
    {
        CmcPtr ok(CMS_read(good.data(), static_cast<long>(good.size()), NID_CMC_PKI_DATA));
        ASSERT_TRUE(ok);
    }
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(CmcPtr(CMS_read(good.data(), static_cast<long>(n), NID_CMC_PKI_DATA))) << n;
    Bytes trailing = good;
    trailing.push_back(0x00);
    EXPECT_FALSE(
        CmcPtr(CMS_read(trailing.data(), static_cast<long>(trailing.size()), NID_CMC_PKI_DATA)));
    EXPECT_FALSE(CmcPtr(CMS_read(good.data(), static_cast<long>(good.size()), NID_pkcs7_data)));

    struct {
        const char* what;
        Bytes der;
    } cases[] = {
        {"two values", hex("3021 3019 3017 020101 06082B06010505070705 3108 02027FAA 02020001"
                           "3000 3000 3000")},
        {"no value", hex("3019 3011 300F 020101 06082B06010505070705 3100 3000 3000 3000")},
        {"negative id", hex("301D 3015 3013 020101 06082B06010505070705 3104 0202FFAA"
                            "3000 3000 3000")},
        {"octets for an id", hex("301D 3015 3013 020101 06082B06010505070705 3104 04027FAA"
                                 "3000 3000 3000")},
        {"body part too large",
         hex("3021 3019 3017 020500FFFFFFFF 06082B06010505070705 3104 02027FAA"
             "3000 3000 3000")},
        {"status not a sequence",
         hex("301C 3014 3012 020101 06082B06010505070701 3103 020100 3000 3000 3000")},
        {"broken status",
         hex("301E 3016 3014 020101 06082B06010505070701 3105 3003020105 3000 3000 3000")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(CmcPtr(CMS_read(c.der.data(), static_cast<long>(c.der.size()),
                                     NID_CMC_PKI_DATA)));
    }
    ERR_clear_error();

    // Controls of other types are passed over.
    const Bytes other = hex("301D 3015 3013 020101 06082B06010505070706 3104 02027FAA"
                            "3000 3000 3000");
    CmcPtr skipped(CMS_read(other.data(), static_cast<long>(other.size()), NID_CMC_PKI_DATA));
    ASSERT_TRUE(skipped);
    EXPECT_EQ(controls(skipped.get()), 0);
}

TEST_F(Cmc, BuildFailuresAndStreams) {
    CmcPtr cmc(CMC_new());
    EXPECT_EQ(CMC_get(cmc.get(), NID_pkcs7_data), nullptr);
    EXPECT_EQ(CMC_get(nullptr, NID_CMC_PKI_DATA), nullptr);
    EXPECT_EQ(CMS_set_octet_string(cmc.get(), 1, NID_CMC_STATUS_INFO, buffer({1}).get(), 0), 0);
    EXPECT_EQ(CMS_TATTR_push(cmc.get(), 1, NID_CMC_IDENTIFICATION, buffer({1}).get(), 0), 0);
    PKCS10* none = nullptr;
    EXPECT_EQ(CMP_push_PKCS10(cmc.get(), 1, &none), 0);
    EXPECT_EQ(CMS_push_CRMF(cmc.get(), nullptr), 0);
    ERR_clear_error();

    // An empty record is four empty lists, or three.
    EXPECT_EQ(take(CMC_get(cmc.get(), NID_CMC_PKI_DATA)), hex("3008 3000 3000 3000 3000"));
    const Bytes response = take(CMC_get(cmc.get(), NID_CMC_RESPONSE_BODY));
    EXPECT_EQ(response, hex("3006 3000 3000 3000"));

    BIO* in = BIO_new_mem_buf(response.data(), static_cast<int>(response.size()));
    CMC_PKI_DATA* body = RESPONSE_BODY_read_bio(in);
    BIO_free(in);
    ASSERT_NE(body, nullptr);
    CmcPtr split(CMS_split(body, NID_CMC_RESPONSE_BODY));
    EXPECT_TRUE(split);
    CMC_RESPONSE_BODY_free(body);
    in = BIO_new_mem_buf(response.data(), static_cast<int>(response.size()));
    EXPECT_EQ(PKI_DATA_read_bio(in), nullptr);
    BIO_free(in);
    ERR_clear_error();

    // The request layer's names read the same bodies.
    const Bytes request = take(CMC_get(cmc.get(), NID_CMC_PKI_DATA));
    in = BIO_new_mem_buf(request.data(), static_cast<int>(request.size()));
    body = d2i_PKI_DATA_bio(in);
    BIO_free(in);
    ASSERT_NE(body, nullptr);
    CMC_PKI_DATA_free(body);
    in = BIO_new_mem_buf(response.data(), static_cast<int>(response.size()));
    body = d2i_RESPONSE_BODY_bio(in);
    BIO_free(in);
    ASSERT_NE(body, nullptr);
    CMC_RESPONSE_BODY_free(body);
    in = BIO_new_mem_buf(request.data(), static_cast<int>(request.size()));
    EXPECT_EQ(d2i_RESPONSE_BODY_bio(in), nullptr);
    BIO_free(in);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
