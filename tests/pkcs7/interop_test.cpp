// Messages exchanged with an independent implementation: the openssl
// command with its GOST engine, run as a child process (never loaded here).
#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/engine/vectors.h"
#include "tests/pkcs7/p7_util.h"
#include "tests/support/peer_dir.h"

namespace cadb {
namespace {

using test::Bytes;

class Interop : public test::PartyTest, protected test::PeerDir {
  protected:
    void SetUp() override {
        if (!test::peer_has_gost_engine()) GTEST_SKIP() << "the openssl command has no gost engine";
        make_dir("cadb-p7-interop");
        key_pem_ = vector_path("key-A.pem");
        cert_pem_ = vector_path("cert-A.pem");
        cert_ = read_pem_cert(cert_pem_);
        key_ = read_pem_key(key_pem_);
        ASSERT_TRUE(cert_);
        ASSERT_TRUE(key_);
    }
    void TearDown() override { remove_dir(); }

    static std::string vector_path(const std::string& name) {
        return test::vector_path("gost3410-2001-keys/" + name);
    }
    static test::X509Ptr read_pem_cert(const std::string& path) {
        FILE* f = std::fopen(path.c_str(), "r");
        X509* x = f != nullptr ? PEM_read_X509(f, nullptr, nullptr, nullptr) : nullptr;
        if (f != nullptr) std::fclose(f);
        return test::X509Ptr(x);
    }
    static test::PkeyPtr read_pem_key(const std::string& path) {
        FILE* f = std::fopen(path.c_str(), "r");
        EVP_PKEY* k = f != nullptr ? PEM_read_PrivateKey(f, nullptr, nullptr, nullptr) : nullptr;
        if (f != nullptr) std::fclose(f);
        return test::PkeyPtr(k);
    }
    // The openssl command with the GOST engine on the CryptoPro A S-box set.
    int openssl(const std::string& args) const {
        const std::string cmd =
            "CRYPT_PARAMS=id-Gost28147-89-CryptoPro-A-ParamSet openssl cms "
            "-engine gost " +
            args + " >" + path("log") + " 2>&1";
        return std::system(cmd.c_str());
    }

    std::string key_pem_, cert_pem_;
    test::X509Ptr cert_;
    test::PkeyPtr key_;
};

TEST_F(Interop, SignedDataMadeHereVerifiesThere) {
    const Bytes content = test::text("signed here, verified there");
    write("content", content);
    for (bool detached : {false, true}) {
        SCOPED_TRACE(detached);
        test::Party signer{test::PkeyPtr(key_.get()), test::X509Ptr(cert_.get())};
        EVP_PKEY_up_ref(key_.get());
        X509_up_ref(cert_.get());
        test::P7Ptr p7 = test::signed_message({&signer}, content, detached);
        ASSERT_TRUE(p7);
        write("signed.der", test::encode(p7.get()));
        std::string args = "-verify -noverify -binary -inform DER -in " + path("signed.der") +
                           " -out " + path("out");
        if (detached) args += " -content " + path("content");
        EXPECT_EQ(openssl(args), 0) << std::string(read("log").begin(), read("log").end());
        EXPECT_EQ(read("out"), content);
    }
}

TEST_F(Interop, SignedDataMadeThereVerifiesHere) {
    const Bytes content = test::text("signed there, verified here");
    write("content", content);
    for (bool detached : {false, true}) {
        SCOPED_TRACE(detached);
        std::string args = "-sign -binary -outform DER -signer " + cert_pem_ + " -inkey " +
                           key_pem_ + " -in " + path("content") + " -out " + path("signed.der");
        if (!detached) args += " -nodetach";
        ASSERT_EQ(openssl(args), 0) << std::string(read("log").begin(), read("log").end());
        test::P7Ptr p7 = test::decode(read("signed.der"));
        ASSERT_TRUE(p7);
        const test::Verified v = test::verify_message(p7.get(), detached ? &content : nullptr);
        EXPECT_EQ(v.content, content);
        EXPECT_EQ(v.results, std::vector<int>{1});
    }
}

TEST_F(Interop, EnvelopedDataMadeThereDecryptsHere) {
    const Bytes content(5000, 0x61);
    write("content", content);
    ASSERT_EQ(openssl("-encrypt -binary -gost89 -outform DER -in " + path("content") + " -out " +
                      path("env.der") + " " + cert_pem_),
              0)
        << std::string(read("log").begin(), read("log").end());
    test::P7Ptr p7 = test::decode(read("env.der"));
    ASSERT_TRUE(p7);
    BIO* b = PKCS7_dataDecode(p7.get(), key_.get(), cert_.get(), nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
}

TEST_F(Interop, EnvelopedDataMadeHereDecryptsThere) {
    const Bytes content(5000, 0x62);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_enveloped), 1);
    ASSERT_NE(PKCS7_add_recipient(p7.get(), cert_.get()), nullptr);
    ASSERT_EQ(PKCS7_set_cipher(p7.get(), EVP_rus_gammar_cp()), 1);
    ASSERT_TRUE(test::finish(p7.get(), content));
    write("env.der", test::encode(p7.get()));
    EXPECT_EQ(openssl("-decrypt -binary -inform DER -in " + path("env.der") + " -recip " +
                      cert_pem_ + " -inkey " + key_pem_ + " -out " + path("out")),
              0)
        << std::string(read("log").begin(), read("log").end());
    EXPECT_EQ(read("out"), content);
}

}  // namespace
}  // namespace cadb
