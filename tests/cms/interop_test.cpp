// Messages of the context exchanged with an independent implementation:
// the openssl command (with Debian's GOST engine for GOST messages), always
// as a child process, never loaded here.
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/cms/cms_util.h"
#include "tests/support/peer_dir.h"
#include "tests/x509/peer_util.h"

namespace cadb {
namespace {

using test::Bytes;
using Results = std::vector<std::pair<int, int>>;

std::string hex(const unsigned char* p, int n) {
    static const char* digits = "0123456789ABCDEF";
    std::string s;
    for (int i = 0; i < n; ++i) {
        s.push_back(digits[p[i] >> 4]);
        s.push_back(digits[p[i] & 15]);
    }
    return s;
}

class Interop : public test::CmsTest, protected test::PeerDir {
  protected:
    void SetUp() override {
        if (!test::peer_has_gost_engine()) GTEST_SKIP() << "the openssl command has no gost engine";
        make_dir("cadb-cms-interop");
    }
    void TearDown() override { remove_dir(); }
    void write_pem(const std::string& name, X509* x) const {
        BIO* b = BIO_new_file(path(name).c_str(), "w");
        ASSERT_NE(b, nullptr);
        PEM_write_bio_X509(b, x);
        BIO_free(b);
    }
    // `openssl cms` in the directory; gost adds the engine on the
    // CryptoPro A S-box set.
    int openssl(const std::string& args, bool gost = true) const {
        const std::string cmd = "cd " + dir_.string() + " && " +
                                (gost ? "CRYPT_PARAMS=id-Gost28147-89-CryptoPro-A-ParamSet " : "") +
                                "openssl cms " + (gost ? "-engine gost " : "") + args +
                                " >log 2>&1";
        return std::system(cmd.c_str());
    }
    int shell(const std::string& cmd) const {
        return std::system(("cd " + dir_.string() + " && (" + cmd + ") >log 2>&1").c_str());
    }
    static X509* read_cert(const std::string& file) {
        BIO* b = BIO_new_file(file.c_str(), "r");
        X509* x = b != nullptr ? PEM_read_bio_X509(b, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(b);
        return x;
    }
    static EVP_PKEY* read_key(const std::string& file) {
        BIO* b = BIO_new_file(file.c_str(), "r");
        EVP_PKEY* k = b != nullptr ? PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(b);
        return k;
    }
    static X509_CRL* read_crl(const std::string& file) {
        BIO* b = BIO_new_file(file.c_str(), "r");
        X509_CRL* c = b != nullptr ? PEM_read_bio_X509_CRL(b, nullptr, nullptr, nullptr) : nullptr;
        BIO_free(b);
        return c;
    }
    // An RSA certificate and key of the peer's making, self-signed.
    bool rsa_party(test::X509Ptr& x, test::PkeyPtr& k) const {
        if (shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout rsa.key -subj /CN=RSA-peer "
                  "-days 3 -out rsa.pem") != 0)
            return false;
        x.reset(read_cert(path("rsa.pem")));
        k.reset(read_key(path("rsa.key")));
        return x && k;
    }
};

TEST_F(Interop, GostSignedHereVerifiesThereWithItsChain) {
    const Bytes content = test::text("signed here, chain checked there");
    write("content", content);
    write_pem("root.pem", pki().chain.root.get());
    // GOST R 34.10-94 keys the peer no longer decodes: 2001 only.
    for (const test::Party* p : {&pki().gost2001}) {
        for (bool detached : {false, true}) {
            SCOPED_TRACE(test::text_of(p->cert->subject_text) + (detached ? " detached" : ""));
            write("signed.der",
                  test::sign(pki(), {p}, content,
                             CMS_OPT_SIGNING_TIME | CMS_OPT_SIGNING_CERT |
                                 (detached ? CMS_OPT_DETACHED : 0)));
            std::string args = "-verify -binary -inform DER -in signed.der -CAfile root.pem -out out";
            if (detached) args += " -content content";
            EXPECT_EQ(openssl(args), 0) << log();
            EXPECT_EQ(read("out"), content);
        }
    }
}

TEST_F(Interop, GostSignedThereVerifiesHereWithChainAndCrls) {
    test::PeerPki peer;
    if (!peer.ok()) GTEST_SKIP() << "the peer could not make its PKI";
    const Bytes content = test::text("signed there, chain and CRLs checked here");
    write("content", content);
    const std::string d = peer.dir() + "/";
    ASSERT_EQ(openssl("-sign -binary -nodetach -outform DER -signer " + d + "leaf.pem -inkey " + d +
                      "leaf.key -in content -out signed.der"),
              0)
        << log();
    test::X509Ptr ca(read_cert(d + "ca.pem"));
    test::X509CrlPtr clean(read_crl(d + "clean.crl"));
    test::X509CrlPtr revoking(read_crl(d + "ca.crl"));
    ASSERT_TRUE(ca && clean && revoking);
    const Bytes msg = read("signed.der");

    for (bool revoked : {false, true}) {
        SCOPED_TRACE(revoked);
        test::StorePtr store(X509_STORE_new());
        X509_STORE_add_cert(store.get(), ca.get());
        X509_STORE_add_crl(store.get(), revoked ? revoking.get() : clean.get());
        CmsPtr c = test::reader(msg);
        ASSERT_EQ(CMS_get_type(c.get()), 22);
        ASSERT_EQ(CMS_verify(c.get(), store.get(), nullptr, 0), 1);
        EXPECT_EQ(test::results(c.get()), (Results{{revoked ? 0 : 1, 1}}));
        EXPECT_EQ(test::take(CMS_get_content(c.get())), content);
        const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(c->signatures, 0);
        ASSERT_NE(s->signing_time, nullptr);
        if (revoked) {
            EXPECT_EQ(test::error_codes(s), std::vector<int>{CMS_VERIFY_CERT_SIGNATURE_FAILURE});
        }
    }
}

TEST_F(Interop, RsaSignedBothWays) {
    test::X509Ptr x;
    test::PkeyPtr k;
    ASSERT_TRUE(rsa_party(x, k)) << log();
    const Bytes content = test::text("RSA both ways");
    write("content", content);

    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 22, CMS_OPT_SIGNING_TIME), 1);
    ASSERT_EQ(CMS_add_signer(w.get(), x.get(), k.get(), 64), 1);
    ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    write("signed.der", test::take(CMS_get(w.get(), 1)));
    EXPECT_EQ(openssl("-verify -binary -inform DER -in signed.der -CAfile rsa.pem -out out", false),
              0)
        << log();
    EXPECT_EQ(read("out"), content);

    ASSERT_EQ(openssl("-sign -binary -nodetach -outform DER -signer rsa.pem -inkey rsa.key "
                      "-in content -out there.der",
                      false),
              0)
        << log();
    test::StorePtr store(X509_STORE_new());
    X509_STORE_add_cert(store.get(), x.get());
    CmsPtr c = test::reader(read("there.der"));
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    // No CRL anywhere: that error made ignorable.
    ASSERT_EQ(CMS_verify(c.get(), store.get(), nullptr,
                         VERIFY_IGNORE_MASK{1} << X509_V_ERR_UNABLE_TO_GET_CRL),
              1);
    EXPECT_EQ(test::results(c.get()), (Results{{1, 1}}));
    EXPECT_EQ(test::take(CMS_get_content(c.get())), content);
}

TEST_F(Interop, EnvelopedBothWays) {
    test::PeerPki peer;
    if (!peer.ok()) GTEST_SKIP() << "the peer could not make its PKI";
    test::X509Ptr rx;
    test::PkeyPtr rk;
    ASSERT_TRUE(rsa_party(rx, rk)) << log();
    const std::string d = peer.dir() + "/";
    test::X509Ptr gx(read_cert(d + "leaf.pem"));
    test::PkeyPtr gk(read_key(d + "leaf.key"));
    ASSERT_TRUE(gx && gk);
    const Bytes content(6000, 0x6B);
    write("content", content);

    struct Case {
        X509* x;
        EVP_PKEY* k;
        std::string cert_file, key_file, cipher_opt;
        int cipher;
        bool gost;
    };
    const Case cases[] = {{rx.get(), rk.get(), "rsa.pem", "rsa.key", "-des3", 44, false},
                          {gx.get(), gk.get(), d + "leaf.pem", d + "leaf.key", "-gost89", 289, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cert_file);
        test::CertPtr cert(CERT_split(c.x));
        test::PkeyRecPtr key(PKEY_split(c.k));
        // Made here, opened there.
        CmsPtr w(CMS_new());
        ASSERT_EQ(CMS_set_type(w.get(), 23, 0), 1);
        ASSERT_EQ(CMS_set_cipher(w.get(), c.cipher), 1);
        ASSERT_EQ(CMS_add_recipient(w.get(), cert.get(), -1), 1);
        ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
        ASSERT_EQ(CMS_final(w.get()), 1);
        write("env.der", test::take(CMS_get(w.get(), 1)));
        EXPECT_EQ(openssl("-decrypt -binary -inform DER -in env.der -recip " + c.cert_file +
                              " -inkey " + c.key_file + " -out out",
                          c.gost),
                  0)
            << log();
        EXPECT_EQ(read("out"), content);
        // Made there, opened here.
        ASSERT_EQ(openssl("-encrypt -binary " + c.cipher_opt +
                              " -outform DER -in content -out there.der " + c.cert_file,
                          c.gost),
                  0)
            << log();
        CmsPtr r = test::reader(read("there.der"));
        ASSERT_EQ(CMS_get_type(r.get()), 23);
        ASSERT_EQ(CMS_set_recipient_key(r.get(), key.get(), cert.get()), 1);
        ASSERT_EQ(CMS_decrypt(r.get()), 1);
        EXPECT_EQ(test::take(CMS_get_content(r.get())), content);
    }
}

TEST_F(Interop, DigestedAndPasswordEncryptedBothWays) {
    const Bytes content = test::text("digested and encrypted both ways");
    write("content", content);

    CmsPtr w(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 25, 0), 1);
    ASSERT_EQ(CMS_digested_set_md(w.get(), 64), 1);
    ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    write("dig.der", test::take(CMS_get(w.get(), 1)));
    EXPECT_EQ(openssl("-digest_verify -inform DER -in dig.der -out out", false), 0) << log();
    EXPECT_EQ(read("out"), content);
    ASSERT_EQ(openssl("-digest_create -md sha1 -binary -outform DER -in content -out there.der",
                      false),
              0)
        << log();
    CmsPtr r = test::reader(read("there.der"));
    ASSERT_EQ(CMS_get_type(r.get()), 25);
    ASSERT_EQ(CMS_digested_verify(r.get()), 1);
    EXPECT_EQ(test::take(CMS_get_content(r.get())), content);

    unsigned char key[32];
    int len = 0;
    ASSERT_EQ(CMS_passwd2key(44, "shared secret", -1, key, &len, 0), 1);
    const std::string secret = hex(key, len);
    w.reset(CMS_new());
    ASSERT_EQ(CMS_set_type(w.get(), 26, 0), 1);
    ASSERT_EQ(CMS_set_cipher(w.get(), 44), 1);
    ASSERT_EQ(CMS_encrypted_set_password(w.get(), key, len), 1);
    ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
    ASSERT_EQ(CMS_final(w.get()), 1);
    write("enc.der", test::take(CMS_get(w.get(), 1)));
    EXPECT_EQ(openssl("-EncryptedData_decrypt -inform DER -in enc.der -secretkey " + secret +
                          " -out out",
                      false),
              0)
        << log();
    EXPECT_EQ(read("out"), content);
    ASSERT_EQ(openssl("-EncryptedData_encrypt -des3 -binary -outform DER -secretkey " + secret +
                          " -in content -out there.der",
                      false),
              0)
        << log();
    r = test::reader(read("there.der"));
    ASSERT_EQ(CMS_get_type(r.get()), 26);
    ASSERT_EQ(CMS_encrypted_set_password(r.get(), key, len), 1);
    ASSERT_EQ(CMS_decrypt(r.get()), 1);
    EXPECT_EQ(test::take(CMS_get_content(r.get())), content);
}

TEST_F(Interop, PasswordKeyOfTripleDesMatchesThePeersPbkdf2) {
    unsigned char key[32];
    int len = 0;
    ASSERT_EQ(CMS_passwd2key(44, "password", -1, key, &len, 0), 1);
    ASSERT_EQ(shell("openssl kdf -keylen 24 -kdfopt digest:SHA1 -kdfopt pass:password "
                    "-kdfopt hexsalt:0000000000000000 -kdfopt iter:2048 PBKDF2"),
              0)
        << log();
    std::string out = log();
    std::string digits;
    for (char ch : out)
        if (std::isxdigit(static_cast<unsigned char>(ch))) digits.push_back(static_cast<char>(std::toupper(ch)));
    EXPECT_EQ(digits, hex(key, len));
}

}  // namespace
}  // namespace cadb
