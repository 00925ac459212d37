// The object layer's CMC message: a request with its transaction
// identifier and a revocation request encoded as PKIData and read back by
// the library's own CMC reader, field by field; the codes it refuses.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/cms/cmc.h"
#include "crypto/core/objects.h"
#include "wrappers/tcmc.h"
#include "wrappers/tpkcs10.h"

namespace cadb {
namespace {

const std::string kVectors = CADB_VECTORS_DIR "/gost3410-2001-keys/";

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct CmcFree {
    void operator()(CMC* c) const { CMC_free(c); }
};
using CmcPtr = std::unique_ptr<CMC, CmcFree>;

CmcPtr read_back(const TBuffer& der, int content_type) {
    return CmcPtr(CMS_read(der.getData(), der.getLength(), content_type));
}

const CMS_TATTR* control(const CMC* cmc, int nid) {
    for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i)
        if (sk_CMS_TATTR_value(cmc->controls, i)->type == nid) return sk_CMS_TATTR_value(cmc->controls, i);
    return nullptr;
}

std::string bytes_of(const BUFFER* b) {
    return b == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(b->data), b->length);
}

TBuffer buffer_of(const std::string& s) {
    TBuffer b;
    b.assign(s.data(), static_cast<int>(s.size()));
    return b;
}

TEST(TCMCTest, RequestAndTransactionIdReadBackFromPKIData) {
    TPKCS10 request;
    const std::string pem = read_file(kVectors + "req-A.pem");
    ASSERT_TRUE(request.loadDER(reinterpret_cast<const unsigned char*>(pem.data()),
                                static_cast<int>(pem.size())));
    TCMC cmc;
    // Printable transaction identifier bytes, as the enrolment control
    // passes them; a leading byte with its high bit set must survive too.
    const std::string tid = "\x93" "A7tid";
    ASSERT_TRUE(cmc.setTransactionId(1, buffer_of(tid)));
    ASSERT_TRUE(cmc.setContentType(TCMC::kContentPKIData));
    ASSERT_TRUE(cmc.pushPKCS10(request, 2));
    EXPECT_NE(request.get(), nullptr) << "the caller keeps its request";

    TBuffer der;
    ASSERT_TRUE(cmc.getEncoded(der));
    ASSERT_FALSE(der.isEmpty());
    CmcPtr back = read_back(der, TCMC::kContentPKIData);
    ASSERT_TRUE(back);
    const CMS_TATTR* id = control(back.get(), NID_CMC_TRANSACTION_ID);
    ASSERT_NE(id, nullptr);
    EXPECT_EQ(id->body_part_id, 1);
    EXPECT_EQ(bytes_of(id->value.bytes), tid);
    ASSERT_EQ(sk_CMP_TREQ_num(back->requests), 1);
    const CMP_TREQ* tagged = sk_CMP_TREQ_value(back->requests, 0);
    ASSERT_EQ(tagged->choice, CMP_TREQ_PKCS10);
    EXPECT_EQ(tagged->value.tcr->body_part_id, 2);
    BufferPtr original(PKCS10_get(request.get(), TPKCS10::kFormatDER));
    BufferPtr carried(PKCS10_get(tagged->value.tcr->request, TPKCS10::kFormatDER));
    EXPECT_EQ(bytes_of(carried.get()), bytes_of(original.get()));

    // A second identifier replaces the first; reset forgets everything.
    ASSERT_TRUE(cmc.setTransactionId(1, buffer_of("second")));
    ASSERT_TRUE(cmc.getEncoded(der));
    back = read_back(der, TCMC::kContentPKIData);
    ASSERT_TRUE(back);
    EXPECT_EQ(bytes_of(control(back.get(), NID_CMC_TRANSACTION_ID)->value.bytes), "second");
    cmc.reset();
    ASSERT_TRUE(cmc.getEncoded(der));
    back = read_back(der, TCMC::kContentPKIData);
    ASSERT_TRUE(back);
    EXPECT_LE(sk_CMS_TATTR_num(back->controls), 0);  // no list or an empty one
    EXPECT_LE(sk_CMP_TREQ_num(back->requests), 0);
}

TEST(TCMCTest, RevocationRequestCarriesEveryField) {
    const std::string pem = read_file(kVectors + "cert-A.pem");
    BIO* in = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    X509* cert = PEM_read_bio_X509(in, nullptr, nullptr, nullptr);
    BIO_free(in);
    ASSERT_NE(cert, nullptr);

    TRevokeRequest r;
    r.issuer = std::make_unique<TX509Name>(X509_get_issuer_name(cert));
    BIGNUM* serial = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
    std::string serial_bytes(static_cast<std::size_t>(BN_num_bytes(serial)), '\0');
    BN_bn2bin(serial, reinterpret_cast<unsigned char*>(serial_bytes.data()));
    BN_free(serial);
    r.serial = buffer_of(serial_bytes);
    r.reason = 1;
    r.invalidityDate.tm_year = 126;
    r.invalidityDate.tm_mon = 11;
    r.invalidityDate.tm_mday = 9;
    r.invalidityDate.tm_hour = 13;
    r.hasSharedSecret = true;
    r.sharedSecret = "emergency";
    r.comment = "\xca\xeb\xfe\xf7 \xf3\xf2\xe5\xf0\xff\xed";  // "Ключ утерян" in code page 1251

    TCMC cmc;
    ASSERT_TRUE(cmc.addRevocationRequest(r));
    TBuffer der;
    ASSERT_TRUE(cmc.getEncoded(der));
    CmcPtr back = read_back(der, TCMC::kContentPKIData);
    ASSERT_TRUE(back);
    const CMS_TATTR* control_read = control(back.get(), NID_CMC_REVOKE_REQUEST);
    ASSERT_NE(control_read, nullptr);
    const CMS_REVREQ* rr = control_read->value.revreq;
    EXPECT_EQ(X509_NAME_cmp(rr->issuer, X509_get_issuer_name(cert)), 0);
    EXPECT_EQ(bytes_of(rr->serial), serial_bytes);
    EXPECT_EQ(rr->reason, 1);
    ASSERT_NE(rr->invalidity_date, nullptr);
    EXPECT_EQ(rr->invalidity_date->tm_year, 126);
    EXPECT_EQ(rr->invalidity_date->tm_mday, 9);
    EXPECT_EQ(rr->invalidity_date->tm_hour, 13);
    EXPECT_EQ(bytes_of(rr->shared_secret), "emergency");
    EXPECT_EQ(bytes_of(rr->comment), r.comment);

    // Without a shared secret none is written.
    r.hasSharedSecret = false;
    cmc.reset();
    ASSERT_TRUE(cmc.addRevocationRequest(r));
    ASSERT_TRUE(cmc.getEncoded(der));
    back = read_back(der, TCMC::kContentPKIData);
    ASSERT_TRUE(back);
    EXPECT_EQ(control(back.get(), NID_CMC_REVOKE_REQUEST)->value.revreq->shared_secret, nullptr);

    // Reason 7 is unused by X.509 and refused, as is anything past 10.
    for (int reason : {7, 11, -1}) {
        r.reason = reason;
        EXPECT_FALSE(cmc.addRevocationRequest(r)) << reason;
    }
    r.reason = 10;
    EXPECT_TRUE(cmc.addRevocationRequest(r));
    X509_free(cert);
}

TEST(TCMCTest, UnknownContentTypeStopsEncoding) {
    TCMC cmc;
    ASSERT_TRUE(cmc.setTransactionId(1, buffer_of("t")));
    EXPECT_FALSE(cmc.setContentType(253));
    EXPECT_EQ(cmc.contentType(), 0);
    TBuffer der;
    der.assign("kept", 4);
    EXPECT_FALSE(cmc.getEncoded(der));
    EXPECT_EQ(der.getLength(), 4) << "a failed encoding leaves the caller's buffer";
    ASSERT_TRUE(cmc.setContentType(TCMC::kContentResponseBody));
    ASSERT_TRUE(cmc.getEncoded(der));
    EXPECT_TRUE(read_back(der, TCMC::kContentResponseBody));

    TPKCS10 empty;
    EXPECT_FALSE(cmc.pushPKCS10(empty, 2));
    EXPECT_EQ(cmc.contentType(), TCMC::kContentResponseBody);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
