// Certificates and CRLs made by the independent peer read here, and what is
// made here reads there.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "crypto/x509/cert_verify.h"
#include "tests/x509/cert_util.h"
#include "tests/x509/peer_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::CertPtr;
using test::CrlPtr;

class PeerInterop : public test::KeyTest {
  protected:
    static void SetUpTestSuite() {
        test::KeyTest::SetUpTestSuite();
        peer_ = new test::PeerPki;
    }
    static void TearDownTestSuite() {
        delete peer_;
        peer_ = nullptr;
        test::KeyTest::TearDownTestSuite();
    }
    void SetUp() override {
        if (!peer_->ok()) GTEST_SKIP() << "the GOST engine of the openssl command is missing";
    }
    static CertPtr cert(const std::string& name) {
        const Bytes b = peer_->file(name);
        return CertPtr(CERT_read_buffer(FORM_ANY, b.data(), static_cast<int>(b.size())));
    }
    static CrlPtr crl(const std::string& name) {
        const Bytes b = peer_->file(name);
        return CrlPtr(CRL_read_buffer(FORM_ANY, b.data(), static_cast<int>(b.size())));
    }
    static test::PeerPki* peer_;
};

test::PeerPki* PeerInterop::peer_ = nullptr;

TEST_F(PeerInterop, PeerCertificatesAndListsReadAndVerifyHere) {
    CertPtr ca = cert("ca.pem");
    CertPtr leaf = cert("leaf.pem");
    CrlPtr list = crl("ca.crl");
    ASSERT_TRUE(ca && leaf && list);
    EXPECT_EQ(ca->self_issued, 1);
    EXPECT_EQ(leaf->self_issued, -1);
    EXPECT_EQ(leaf->key_algorithm, NID_ECR3410_CP);
    EXPECT_EQ(leaf->signature_algorithm, NID_R3411_WITH_ECR3410_CP);
    EXPECT_EQ(test::bytes_of(leaf->serial), Bytes({5}));
    EXPECT_EQ(test::text_of(leaf->issuer_text), "CN=Peer CA");
    EXPECT_EQ(X509_verify(leaf->x509, X509_get0_pubkey(ca->x509)), 1);

    EXPECT_EQ(list->signature_algorithm, NID_R3411_WITH_ECR3410_CP);
    EXPECT_EQ(list->revoked_count, 1);
    EXPECT_EQ(test::bytes_of(sk_REVOKED_value(list->revoked, 0)->serial), Bytes({5}));
    EXPECT_EQ(list->has_next_update, 1);
    EXPECT_EQ(X509_CRL_verify(list->crl, X509_get0_pubkey(ca->x509)), 1);
}

TEST_F(PeerInterop, PeerChainsVerifyHere) {
    CertPtr ca = cert("ca.pem");
    CertPtr leaf = cert("leaf.pem");
    CrlPtr clean = crl("clean.crl");
    CrlPtr revoked = crl("ca.crl");
    ASSERT_TRUE(ca && leaf && clean && revoked);
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, ca->x509);
    STACK_OF(CRL)* crls = sk_CRL_new_null();
    sk_CRL_push(crls, clean.get());
    EXPECT_EQ(CERT_verify(leaf.get(), store, nullptr, crls, nullptr, 0), 1);
    ASSERT_NE(leaf->issuer_cert, nullptr);
    EXPECT_EQ(leaf->issuer_cert->verify_result, 1);
    EXPECT_EQ(leaf->verify_errors, nullptr);

    sk_CRL_set(crls, 0, revoked.get());
    EXPECT_EQ(CERT_verify(leaf.get(), store, nullptr, crls, nullptr, 0), 0);
    ASSERT_EQ(sk_X509_VERIFY_ERROR_num(leaf->verify_errors), 1);
    EXPECT_EQ(sk_X509_VERIFY_ERROR_value(leaf->verify_errors, 0)->code, X509_V_ERR_CERT_REVOKED);
    EXPECT_EQ(leaf->issuer_cert->verify_result, 1);
    sk_CRL_free(crls);
    X509_STORE_free(store);
}

// A list the peer's authority makes with extensions of its own and of its
// entry (reason and invalidity date of a compromised key) reads into
// extension records and prints them.
TEST_F(PeerInterop, PeerListExtensionsAndEntryExtensionsReadAndPrint) {
    ASSERT_TRUE(peer_->run(
        "printf '[ca]\\ndefault_ca=d\\n[d]\\ndatabase=ext_index.txt\\n"
        "crlnumber=ext_crlnumber\\ndefault_md=md_gost94\\ndefault_crl_days=7\\n"
        "crl_extensions=crlx\\n[crlx]\\nauthorityKeyIdentifier=keyid:always\\n"
        "issuerAltName=URI:http://ca.example/,DNS:ca.example\\n' > ext.cnf"
        " && touch ext_index.txt && echo 2A > ext_crlnumber"
        " && openssl ca -engine gost -config ext.cnf -keyfile ca.key -cert ca.pem"
        "    -revoke leaf.pem -crl_compromise 20240101000000Z"
        " && openssl ca -engine gost -config ext.cnf -keyfile ca.key -cert ca.pem -gencrl"
        "    -out ext.crl"));
    CrlPtr list = crl("ext.crl");
    ASSERT_TRUE(list);
    ASSERT_NE(list->extensions, nullptr);
    std::vector<int> nids;
    for (int i = 0; i < sk_CADB_V3EXT_num(list->extensions); ++i) {
        const CADB_V3EXT* r = sk_CADB_V3EXT_value(list->extensions, i);
        EXPECT_EQ(r->parsed, 1) << r->nid;
        nids.push_back(r->nid);
        if (r->nid == NID_crl_number) EXPECT_EQ(test::bytes_of(r->value.buffer), Bytes({0x2A}));
        if (r->nid == NID_issuer_alt_name) {
            ASSERT_EQ(sk_CADB_GENERAL_NAME_num(r->value.names), 2);
            EXPECT_EQ(test::text_of(sk_CADB_GENERAL_NAME_value(r->value.names, 0)->value.text),
                      "http://ca.example/");
        }
    }
    std::sort(nids.begin(), nids.end());
    EXPECT_EQ(nids, (std::vector<int>{NID_issuer_alt_name, NID_crl_number,
                                      NID_authority_key_identifier}));
    ASSERT_EQ(list->revoked_count, 1);
    const REVOKED* entry = sk_REVOKED_value(list->revoked, 0);
    ASSERT_NE(entry->extensions, nullptr);
    ASSERT_EQ(sk_CADB_V3EXT_num(entry->extensions), 2);
    const CADB_V3EXT* reason = sk_CADB_V3EXT_value(entry->extensions, 0);
    EXPECT_EQ(reason->nid, NID_crl_reason);
    EXPECT_EQ(reason->value.integer, 1) << "keyCompromise";
    const CADB_V3EXT* invalidity = sk_CADB_V3EXT_value(entry->extensions, 1);
    EXPECT_EQ(invalidity->nid, NID_invalidity_date);
    ASSERT_EQ(invalidity->parsed, 1);
    EXPECT_EQ(invalidity->value.time->tm_year, 124);
    EXPECT_EQ(invalidity->value.time->tm_mon, 0);
    EXPECT_EQ(invalidity->value.time->tm_mday, 1);

    BufferPtr text(CRL_get(list.get(), FORM_TEXT));
    ASSERT_TRUE(text);
    const std::string printed = test::text_of(text.get());
    for (const char* want :
         {"CRL extensions:", "CRL Number: 2a", "X509v3 Authority Key Identifier",
          "URI:http://ca.example/, DNS:ca.example", "CRL entry extensions:",
          "X509v3 CRL Reason Code", "Key Compromise", "Invalidity Date"})
        EXPECT_NE(printed.find(want), std::string::npos) << want << "\n" << printed;
}

TEST_F(PeerInterop, CertificatesMadeHereVerifyThere) {
    const std::time_t now = std::time(nullptr);
    test::PkeyPtr key = test::new_key();
    test::X509Ptr root =
        test::make_cert("Here", key.get(), nullptr, nullptr, 11, now - 60, now + 3600, true);
    test::X509CrlPtr list = test::make_crl(root.get(), key.get(), now - 30, now + 600, {12});
    CertPtr c = test::split(root.get());
    CrlPtr l(CRL_split(list.get()));
    ASSERT_TRUE(c && l);
    BufferPtr pem(CERT_get(c.get(), FORM_PEM));
    BufferPtr crl_pem(CRL_get(l.get(), FORM_PEM));
    std::ofstream(peer_->dir() + "/here.pem") << test::text_of(pem.get());
    std::ofstream(peer_->dir() + "/here.crl") << test::text_of(crl_pem.get());
    EXPECT_TRUE(peer_->run("openssl verify -engine gost -CAfile here.pem here.pem"));
    EXPECT_TRUE(peer_->run(
        "openssl verify -engine gost -crl_check -CRLfile here.crl -CAfile here.pem here.pem"));
    EXPECT_FALSE(peer_->run("openssl verify -engine gost -CAfile ca.pem here.pem"));
}

}  // namespace
}  // namespace cadb
