// The object layer's message: a signed request built in the order the
// enrolment control uses, read back and checked against a certificate
// store, the codes it refuses, and the log lines and signer records of a
// check that fails.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <fstream>
#include <iterator>

#include "crypto/core/objects.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/x509/lookup_local.h"
#include "tests/cms/cms_util.h"
#include "tests/wrappers/standin.h"
#include "wrappers/log.h"
#include "wrappers/tcertificate.h"
#include "wrappers/tcertstore.h"
#include "wrappers/tcms.h"
#include "wrappers/tprivatekey.h"

namespace cadb {
namespace {

using test::Bytes;

// The flags the enrolment control checks responses with: a missing or
// expired CRL and a revoked certificate are ignorable.
constexpr int kResponseFlags = 0x801008;

class TCMSTest : public test::CmsTest {
  protected:
    static TBuffer buffer(const Bytes& b) {
        TBuffer out;
        out.assign(b.data(), static_cast<int>(b.size()));
        return out;
    }
    // The RSA party as the control holds it: a certificate and a key read
    // from its PEM.
    static bool load_key(TPrivateKey& key, EVP_PKEY* k) {
        BIO* mem = BIO_new(BIO_s_mem());
        PEM_write_bio_PrivateKey(mem, k, nullptr, nullptr, 0, nullptr, nullptr);
        char* data = nullptr;
        const long n = BIO_get_mem_data(mem, &data);
        TBuffer pem;
        pem.assign(data, static_cast<int>(n));
        BIO_free(mem);
        return key.loadWithPassword(pem, nullptr, nullptr, 0);
    }
    // A store as the control fills it, the root under "trusted" and the
    // intermediate under "untrusted", and nothing in the library store
    // itself: the chain is built from the lookups.
    static TRef<TCertStore> store() {
        TRef<TCertStore> s = make_ref<TCertStore>();
        TCertStoreEntry* trusted = s->addLookup(X509_LOOKUP_trusted(), "trusted", 0);
        TCertStoreEntry* untrusted = s->addLookup(X509_LOOKUP_local(), "untrusted", 0);
        EXPECT_TRUE(trusted->addCertificate(s->keep(TCertificate(pki().root.get()))));
        EXPECT_TRUE(untrusted->addCertificate(s->keep(TCertificate(pki().inter.get()))));
        return s;
    }
};

TEST_F(TCMSTest, SignedRequestBuiltAsTheControlDoesReadsBackAndVerifies) {
    TCertificate cert(pki().rsa.cert.get());
    TPrivateKey key;
    ASSERT_TRUE(load_key(key, pki().rsa.key.get()));
    const Bytes body = {0x30, 0x06, 0x30, 0x00, 0x30, 0x00, 0x30, 0x00};

    TRef<TCMS> cms = make_ref<TCMS>();
    ASSERT_TRUE(cms->setType(22, 2));
    ASSERT_TRUE(cms->setContentType(251));
    // Digest 5 is not offered: the kept SHA-1 signs.
    ASSERT_TRUE(cms->addSignature(&cert, &key, 5));
    ASSERT_TRUE(cms->setContent(buffer(body)));
    ASSERT_TRUE(cms->final());
    ASSERT_TRUE(cms->setFormat(2));
    EXPECT_FALSE(cms->setFormat(6));
    TBuffer* encoded = cms->getEncoded();
    ASSERT_NE(encoded, nullptr);
    const std::string pem(reinterpret_cast<const char*>(encoded->getData()),
                          static_cast<std::size_t>(encoded->getLength()));
    EXPECT_EQ(pem.rfind("-----BEGIN PKCS7-----", 0), 0u);
    EXPECT_EQ(cms->getEncoded()->getLength(), static_cast<int>(pem.size()));

    TRef<TCMS> back = make_ref<TCMS>();
    ASSERT_TRUE(back->setContent(*cms->getEncoded()));
    EXPECT_EQ(back->getType(), 22);
    EXPECT_EQ(back->get()->inner_type, 251);
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(back->get()->message), 0);
    EXPECT_EQ(cadb::OBJ_obj2nid(si->digest_alg->algorithm), 64);
    TRef<TCertStore> s = store();
    TSignerInfoMap* out = reinterpret_cast<TSignerInfoMap*>(1);
    // No CRL in the message or the store: ignorable under the control's
    // flags.
    EXPECT_TRUE(back->verify(s.get(), kResponseFlags, &out, nullptr));
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(back->verify(s.get(), 0, &out, nullptr));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->count(), 1);
    EXPECT_EQ(out->at(0)->chain_result, 0);
    EXPECT_EQ(out->at(0)->signature_result, 1);
    ERR_clear_error();
}

TEST_F(TCMSTest, RefusedCodesChangeNothing) {
    TRef<TCMS> cms = make_ref<TCMS>();
    EXPECT_FALSE(cms->setType(25, 0));
    EXPECT_FALSE(cms->setType(26, 0));
    ASSERT_TRUE(cms->setType(23, 0));
    EXPECT_EQ(cms->get()->type, 23);
    EXPECT_FALSE(cms->setContentType(253));
    EXPECT_FALSE(cms->setContent(TBuffer()));
    // A key that is not the certificate's.
    TCertificate cert(pki().rsa.cert.get());
    TPrivateKey other;
    EXPECT_FALSE(cms->addSignature(&cert, &other, 64));
    EXPECT_FALSE(cms->addSignature(nullptr, nullptr, 64));
    ERR_clear_error();
}

TEST_F(TCMSTest, FailingSecondSignerIsLoggedAndItsRecordsKept) {
    const std::filesystem::path dir = testing::scratch_dir("tcms-log");
    std::filesystem::create_directories(dir / "app" / "log");
    ASSERT_NE(LogInit(nullptr, (dir / "app" / "host.exe").c_str(), "\\Gorget", 0), 0);
    LogConfigure(11, "Gorget");

    Bytes msg =
        test::sign(pki(), {&pki().gost2001, &pki().second}, test::text("two signers, one bad"));
    CmsPtr parsed = test::reader(msg);
    ASSERT_EQ(CMS_get_type(parsed.get()), 22);
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(parsed->message), 1);
    const Bytes sig(ASN1_STRING_get0_data(si->enc_digest),
                    ASN1_STRING_get0_data(si->enc_digest) + ASN1_STRING_length(si->enc_digest));
    auto at = std::search(msg.begin(), msg.end(), sig.begin(), sig.end());
    ASSERT_NE(at, msg.end());
    at[7] ^= 0x04;

    TRef<TCMS> cms = make_ref<TCMS>();
    ASSERT_TRUE(cms->setContent(buffer(msg)));
    ASSERT_EQ(cms->getType(), 22);
    TRef<TCertStore> s = store();
    TSignerInfoMap* out = nullptr;
    EXPECT_FALSE(cms->verify(s.get(), kResponseFlags, &out, nullptr));
    ASSERT_EQ(out, &cms->signers());

    ASSERT_EQ(out->count(), 2);
    EXPECT_EQ(out->at(1)->signature_result, 0);

    std::ifstream in(LogCurrentFile(), std::ios::binary);
    const std::string log(std::istreambuf_iterator<char>(in), {});
    const auto first = log.find("TCMS::verify()...certificate=1 signature=1\n");
    const auto second = log.find("TCMS::verify()...certificate=1 signature=0\n");
    const auto invalid = log.find("TCMS::verify()...Signature Invalid");
    ASSERT_NE(first, std::string::npos) << log;
    ASSERT_NE(second, std::string::npos) << log;
    ASSERT_NE(invalid, std::string::npos) << log;
    EXPECT_LT(first, second);
    EXPECT_LT(second, invalid);
    FreeIniLogPathes();
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace cadb
