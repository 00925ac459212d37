// Signed messages through the context: every signer key type written and
// verified with its chain, detached and certificate-only messages, signers
// the context cannot find, chains that fail, tampering, ESS attributes and
// countersignatures.
#include <gtest/gtest.h>

#include <algorithm>

#include "crypto/core/err.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/pkcs7.h"
#include "tests/cms/cms_util.h"

namespace cadb {
namespace {

using test::Bytes;
using Results = std::vector<std::pair<int, int>>;

// Flips one byte of the first occurrence of needle in msg.
void flip_in(Bytes& msg, const Bytes& needle, std::size_t offset) {
    auto at = std::search(msg.begin(), msg.end(), needle.begin(), needle.end());
    ASSERT_NE(at, msg.end());
    at[static_cast<long>(offset)] ^= 0x01;
}

class Signed : public test::CmsTest {
  protected:
    void SetUp() override { store_ = pki().chain.store(); }
    // Reads and verifies; the context, with its type checked.
    CmsPtr verify(const Bytes& msg, const Bytes* detached = nullptr, int flags = 0,
                  VERIFY_IGNORE_MASK mask = 0, X509_STORE* store = nullptr) {
        CmsPtr c = test::reader(msg, flags);
        EXPECT_EQ(CMS_get_type(c.get()), 22);
        if (detached != nullptr) {
            EXPECT_EQ(CMS_update_detached(c.get(), detached->data(),
                                          static_cast<int>(detached->size())),
                      1);
        }
        EXPECT_EQ(CMS_verify(c.get(), store ? store : store_.get(), nullptr, mask), 1);
        return c;
    }
    test::StorePtr store_;
};

TEST_F(Signed, EveryKeyTypeSignsAndVerifiesWithItsChain) {
    const Bytes content = test::text("signed content of the message context");
    for (const test::Party* p : {&pki().gost2001, &pki().gost94, &pki().rsa}) {
        SCOPED_TRACE(test::text_of(p->cert->subject_text));
        for (int form : {1, 2}) {
            const Bytes msg = test::sign(pki(), {p}, content,
                                         CMS_OPT_SIGNING_TIME | CMS_OPT_SIGNING_CERT, form);
            ASSERT_FALSE(msg.empty());
            CmsPtr c = verify(msg);
            EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
            const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
            EXPECT_TRUE(test::error_codes(s).empty());
            ASSERT_NE(s->signing_time, nullptr);
            ASSERT_NE(s->cert, nullptr);
            EXPECT_EQ(test::bytes_of(s->serial_bytes), test::bytes_of(p->cert->serial));
            EXPECT_EQ(c->inner_type, 21);
            EXPECT_EQ(sk_CERT_num(c->certificates), 2);
            EXPECT_EQ(sk_CRL_num(c->crls), 2);
            EXPECT_EQ(test::take(CMS_get_content(c.get())), content);
        }
    }
}

TEST_F(Signed, SeveralSignersEachReportTheirOwnResult) {
    const Bytes content = test::text("two signers");
    Bytes msg = test::sign(pki(), {&pki().gost2001, &pki().second}, content);
    CmsPtr c = verify(msg);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}, {1, 1}}));

    // The second signer's signature value is damaged: only it fails.
    CmsPtr parsed = test::reader(msg);
    ASSERT_EQ(CMS_get_type(parsed.get()), 22);
    PKCS7_SIGNER_INFO* si =
        sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(parsed->message), 1);
    const Bytes sig(ASN1_STRING_get0_data(si->enc_digest),
                    ASN1_STRING_get0_data(si->enc_digest) + ASN1_STRING_length(si->enc_digest));
    flip_in(msg, sig, 5);
    c = verify(msg);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}, {1, 0}}));
}

TEST_F(Signed, DetachedContentIsNeededAndChecked) {
    const Bytes content = test::text("content outside the message");
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, content,
                                 CMS_OPT_DETACHED | CMS_OPT_SIGNING_TIME);
    CmsPtr c = test::reader(msg);
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    EXPECT_EQ(c->detached, 1);
    EXPECT_EQ(CMS_verify(c.get(), store_.get(), nullptr, 0), 0);
    ERR_clear_error();

    c = verify(msg, &content);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
    EXPECT_EQ(test::take(CMS_get_content(c.get())), content);

    const Bytes other = test::text("content outside the messagE");
    c = verify(msg, &other);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 0}}));

    // Detached content fed to a message that carries its own is refused.
    const Bytes attached = test::sign(pki(), {&pki().gost2001}, content);
    c = test::reader(attached);
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    EXPECT_EQ(CMS_update_detached(c.get(), content.data(), static_cast<int>(content.size())), 0);
    ERR_clear_error();
}

TEST_F(Signed, CertificateOnlyMessageCarriesNoContent) {
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, CMS_OPT_NO_CONTENT), 1);
    EXPECT_EQ(CMS_add_signature(w.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64),
              0);
    EXPECT_EQ(CMS_update_data(w.get(), "x", 1), 0);
    ERR_clear_error();
    ASSERT_EQ(CMS_add_cert(w.get(), pki().gost2001.cert.get()), 1);
    ASSERT_EQ(CMS_add_cert(w.get(), pki().inter.get()), 1);
    ASSERT_EQ(CMS_add_cert(w.get(), pki().root.get()), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    const Bytes msg = test::take(CMS_get(w.get(), 1));
    CmsPtr c = test::reader(msg);
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    EXPECT_EQ(c->certs_only, 1);
    EXPECT_EQ(sk_CMS_SIGNATURE_num(c->signatures), 0);
    ASSERT_EQ(sk_CERT_num(c->certificates), 3);
    EXPECT_EQ(test::text_of(sk_CERT_value(c->certificates, 2)->subject_text),
              test::text_of(pki().root->subject_text));
}

TEST_F(Signed, SignerNotFoundKeepsResultsUnchecked) {
    const Bytes content = test::text("who signed this?");
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, content);
    // Ignoring the message's certificates, the signer is nowhere.
    CmsPtr c = verify(msg, nullptr, CMS_OPT_IGNORE_CERTS);
    EXPECT_EQ(test::results(c.get()), (Results{{-1, -1}}));
    const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
    EXPECT_EQ(s->cert, nullptr);
    EXPECT_TRUE(test::error_codes(s).empty());

    // The store knows the signer and its issuer: found and checked there,
    // with the message's CRLs.
    test::StorePtr store = pki().chain.store();
    X509_STORE_add_cert(store.get(), pki().gost2001.x509.get());
    X509_STORE_add_cert(store.get(), pki().chain.inter.get());
    c = verify(msg, nullptr, CMS_OPT_IGNORE_CERTS, 0, store.get());
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
}

TEST_F(Signed, FailingChainKeepsAGoodSignature) {
    const Bytes content = test::text("revoked signer");
    // The intermediate's CRL revokes the signer.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, 0), 1);
    ASSERT_EQ(CMS_add_signature(w.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64),
              1);
    test::CrlPtr revoking{CRL_split(pki().chain.inter_crl({401}).get())};
    ASSERT_EQ(CMS_add_cert(w.get(), pki().inter.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), pki().root_crl.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), revoking.get()), 1);
    ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    const Bytes msg = test::take(CMS_get(w.get(), 1));

    CmsPtr c = verify(msg);
    EXPECT_EQ(test::results(c.get()), (Results{{0, 1}}));
    const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
    EXPECT_EQ(test::error_codes(s), std::vector<int>{CMS_VERIFY_CERT_SIGNATURE_FAILURE});
    EXPECT_EQ(test::text_of(sk_X509_VERIFY_ERROR_value(s->errors, 0)->text),
              "certificate signature failure");
    ASSERT_NE(s->cert, nullptr);
    EXPECT_EQ(test::codes(s->cert), std::vector<int>{X509_V_ERR_CERT_REVOKED});

    // The revocation made ignorable: the chain passes.
    c = verify(msg, nullptr, 0, VERIFY_IGNORE_MASK{1} << X509_V_ERR_CERT_REVOKED);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));

    // The CRLs of the message ignored: no CRL, the chain fails.
    c = verify(msg, nullptr, CMS_OPT_IGNORE_CRLS);
    EXPECT_EQ(test::results(c.get()), (Results{{0, 1}}));
    // A store that does not trust the root.
    test::StorePtr empty(X509_STORE_new());
    c = verify(msg, nullptr, 0, 0, empty.get());
    EXPECT_EQ(test::results(c.get()), (Results{{0, 1}}));
}

TEST_F(Signed, TamperingFailsTheSignerOrItsChain) {
    const Bytes content = test::text("tamper with me, if you dare");
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, content);

    Bytes changed = msg;
    flip_in(changed, content, 3);
    CmsPtr c = verify(changed);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 0}}));

    // A signed attribute: the signing time's digits.
    CmsPtr parsed = test::reader(msg);
    ASSERT_EQ(CMS_get_type(parsed.get()), 22);
    ASN1_TYPE* t = X509_ATTRIBUTES_get_value(
        sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(parsed->message), 0)->auth_attr,
        NID_pkcs9_signingTime);
    ASSERT_NE(t, nullptr);
    const Bytes time(t->value.utctime->data, t->value.utctime->data + t->value.utctime->length);
    ASN1_TYPE_free(t);
    changed = msg;
    flip_in(changed, time, 0);
    c = verify(changed);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 0}}));

    // The intermediate certificate inside the message: its signature.
    const Bytes inter = test::der_of(pki().chain.inter.get());
    changed = msg;
    flip_in(changed, inter, inter.size() - 3);
    c = verify(changed);
    EXPECT_EQ(test::results(c.get()), (Results{{0, 1}}));

    // The intermediate's CRL inside the message: its signature.
    const Bytes crl = test::der_of(pki().inter_crl->crl);
    changed = msg;
    flip_in(changed, crl, crl.size() - 3);
    c = verify(changed);
    EXPECT_EQ(test::results(c.get()), (Results{{0, 1}}));
}

TEST_F(Signed, SigningCertificateAttributeMustNameTheSigner) {
    const Bytes content = test::text("ESS");
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, 0), 1);
    ASSERT_EQ(CMS_add_signature(w.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64),
              1);
    // The attribute names another certificate (added before the signature
    // covers it).
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(w->message), 0);
    ASSERT_EQ(PKCS7_add_signing_cert(si, pki().second.x509.get()), 1);
    ASSERT_EQ(CMS_add_cert(w.get(), pki().inter.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), pki().root_crl.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), pki().inter_crl.get()), 1);
    ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    CmsPtr c = verify(test::take(CMS_get(w.get(), 1)));
    EXPECT_EQ(test::results(c.get()), (Results{{1, 0}}));
    EXPECT_EQ(test::error_codes(sk_CMS_SIGNATURE_value(c->signatures, 0)),
              std::vector<int>{CMS_VERIFY_INVALID_SIGNING_CERT});
}

// A countersignature over the signer's signature value by another party,
// put into the signer's unsigned attributes; the countersigner's
// certificate goes into the message unless left out.
Bytes countersign(const Bytes& msg, const test::Party& by, bool damage, bool with_cert = true) {
    CmsPtr parsed = test::reader(msg);
    EXPECT_EQ(CMS_get_type(parsed.get()), 22);
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(parsed->message), 0);
    test::BufPtr value(PKCS7_get_signature_value(si));
    CmsPtr cs(CMS_new());
    EXPECT_EQ(CMS_set_type(cs.get(), 22, CMS_OPT_DETACHED), 1);
    EXPECT_EQ(CMS_add_signature(cs.get(), by.cert.get(), by.pkey.get(), 64), 1);
    EXPECT_EQ(CMS_update_data(cs.get(), value->data, value->length), 1);
    EXPECT_EQ(CMS_final(cs.get()), 1);
    PKCS7_SIGNER_INFO* counter = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(cs->message), 0);
    if (damage) counter->enc_digest->data[4] ^= 0x01;
    unsigned char* der = nullptr;
    const int len = i2d_PKCS7_SIGNER_INFO(counter, &der);
    ASN1_STRING* seq = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_STRING_set(seq, der, len);
    OPENSSL_free(der);
    EXPECT_EQ(X509_ATTRIBUTES_add_value(&si->unauth_attr, NID_pkcs9_countersignature,
                                        V_ASN1_SEQUENCE, seq, 1),
              1);
    if (with_cert) {
        EXPECT_EQ(PKCS7_add_certificate(parsed->message, by.x509.get()), 1);
    }
    PKCS7_modified(parsed->message);
    return test::take(CMS_get(parsed.get(), 1));
}

TEST_F(Signed, CountersignaturesAreVerifiedWithTheirSigner) {
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("countersigned"));
    CmsPtr c = verify(countersign(msg, pki().second, false));
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
    const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
    ASSERT_EQ(sk_CMS_SIGNATURE_num(s->countersignatures), 1);
    const CMS_SIGNATURE* cs = sk_CMS_SIGNATURE_value(s->countersignatures, 0);
    EXPECT_EQ(cs->chain_result, 1);
    EXPECT_EQ(cs->signature_result, 1);
    EXPECT_EQ(test::bytes_of(cs->serial_bytes), test::bytes_of(pki().second.cert->serial));

    c = verify(countersign(msg, pki().second, true));
    s = sk_CMS_SIGNATURE_value(c->signatures, 0);
    EXPECT_EQ(s->signature_result, 0);
    EXPECT_EQ(test::error_codes(s), std::vector<int>{CMS_VERIFY_INTERNAL_ERROR});
}

TEST_F(Signed, CountersignerFoundNowhereLeavesItsParentAlone) {
    const Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("countersigned"));
    // Neither the message nor the store holds the countersigner's
    // certificate: the countersignature stays unchecked, the signature it
    // countersigns keeps its good result.
    CmsPtr c = verify(countersign(msg, pki().second, false, false));
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
    const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
    EXPECT_TRUE(test::error_codes(s).empty());
    ASSERT_EQ(sk_CMS_SIGNATURE_num(s->countersignatures), 1);
    const CMS_SIGNATURE* cs = sk_CMS_SIGNATURE_value(s->countersignatures, 0);
    EXPECT_EQ(cs->cert, nullptr);
    EXPECT_EQ(cs->chain_result, -1);
    EXPECT_EQ(cs->signature_result, -1);
    EXPECT_TRUE(test::error_codes(cs).empty());
    EXPECT_EQ(test::bytes_of(cs->serial_bytes), test::bytes_of(pki().second.cert->serial));
}

TEST_F(Signed, StructuredInnerContentIsWhatTheSignatureCovers) {
    // Signed data around compressed data: the signature covers the
    // compressed-data record the message carries, not an empty string.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, 0), 1);
    ASSERT_EQ(CMS_set_content_type(w.get(), NID_COMPRESSED_DATA), 1);
    ASSERT_EQ(CMS_add_signature(w.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64),
              1);
    ASSERT_EQ(CMS_add_cert(w.get(), pki().inter.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), pki().root_crl.get()), 1);
    ASSERT_EQ(CMS_add_crl(w.get(), pki().inter_crl.get()), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    Bytes msg = test::take(CMS_get(w.get(), 1));
    CmsPtr c = verify(msg);
    EXPECT_EQ(c->inner_type, NID_COMPRESSED_DATA);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));

    // The record's version changed under the signature fails it.
    const Bytes zlib_oid{0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                         0x0D, 0x01, 0x09, 0x10, 0x03, 0x08};
    auto at = std::search(msg.begin(), msg.end(), zlib_oid.begin(), zlib_oid.end());
    ASSERT_NE(at, msg.end());
    ASSERT_EQ(at[-5], 0x02);  // INTEGER 0, then the algorithm's SEQUENCE
    at[-3] ^= 0x01;
    c = verify(msg);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 0}}));

    // Content fed beside the structure would be signed but not carried.
    CmsPtr fed(CMS_new());
    ASSERT_EQ(CMS_set_type(fed.get(), 22, 0), 1);
    ASSERT_EQ(CMS_set_content_type(fed.get(), NID_COMPRESSED_DATA), 1);
    ASSERT_EQ(
        CMS_add_signature(fed.get(), pki().gost2001.cert.get(), pki().gost2001.pkey.get(), 64), 1);
    const Bytes content = test::text("not carried");
    ASSERT_EQ(CMS_update_data(fed.get(), content.data(), static_cast<int>(content.size())), 1);
    EXPECT_EQ(CMS_final(fed.get()), 0);
    ERR_clear_error();
}

TEST_F(Signed, PemFormsAndTheirReaders) {
    const Bytes content = test::text("pem");
    const Bytes pem = test::sign(pki(), {&pki().rsa}, content, 0, 2);
    const std::string text(pem.begin(), pem.end());
    EXPECT_EQ(text.rfind("-----BEGIN PKCS7-----\n", 0), 0u);
    CmsPtr c = verify(pem);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
    // DER only: the PEM is not read.
    c = test::reader(pem, CMS_OPT_NO_PEM);
    EXPECT_EQ(CMS_get_type(c.get()), 0);
    ERR_clear_error();

    // The one-line form the authority's pages paste.
    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, CMS_OPT_PEM_ONE_LINE), 1);
    ASSERT_EQ(CMS_add_signature(w.get(), pki().rsa.cert.get(), pki().rsa.pkey.get(), 64), 1);
    ASSERT_EQ(CMS_update_data(w.get(), "x", 1), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    const Bytes line = test::take(CMS_get(w.get(), 2));
    const std::string s(line.begin(), line.end());
    EXPECT_EQ(s.rfind("-----BEGIN CERTIFICATE-----M", 0), 0u);
    EXPECT_EQ(s.find('\n'), std::string::npos);
    EXPECT_EQ(s.find('\r'), std::string::npos);
    EXPECT_TRUE(s.ends_with("-----END CERTIFICATE-----"));
}

TEST_F(Signed, VerificationErrorTexts) {
    const std::vector<std::string> texts = {"ok",
                                            "signature failure",
                                            "out of memory",
                                            "internal error",
                                            "missing signing certificate",
                                            "invalid signing certificate",
                                            "certificate signature failure"};
    for (long i = 0; i < static_cast<long>(texts.size()); ++i)
        EXPECT_EQ(CMS_verify_error_string(i), texts[static_cast<std::size_t>(i)]);
    EXPECT_STREQ(CMS_verify_error_string(42), "error number 42");
    EXPECT_STREQ(CMS_verify_error_string(-7), "error number -7");
}

}  // namespace
}  // namespace cadb
