// RSA and DSA keys the library made, standing for the same key held by the
// stand-in provider: requests and messages signed with them (even with only
// their public half) verify with libcrypto and with the openssl command, and
// the provider, not libcrypto, made each signature.
#include "crypto/core/capi_key.h"

#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "crypto/engine/engine.h"
#include "crypto/keys/pkey.h"
#include "crypto/x509/pkcs10.h"
#include "platform/vendor/capi_api.h"
#include "tests/drivers/provider_sim.h"
#include "tests/drivers/token_fixture.h"
#include "tests/pkcs7/p7_util.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

struct PkeyRecFree {
    void operator()(PKEY* k) const { PKEY_free(k); }
};
using PkeyRec = std::unique_ptr<PKEY, PkeyRecFree>;
struct P10Free {
    void operator()(PKCS10* p) const { PKCS10_free(p); }
};
using P10Ptr = std::unique_ptr<PKCS10, P10Free>;
struct BufFree {
    void operator()(BUFFER* b) const { BUFFER_free(b); }
};
using BufPtr = std::unique_ptr<BUFFER, BufFree>;
struct NameFree {
    void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};

std::string number(const EVP_PKEY* key, const char* name) {
    BIGNUM* v = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &v) != 1) return "";
    char* text = BN_bn2hex(v);
    std::string out(text);
    OPENSSL_free(text);
    BN_clear_free(v);
    return out;
}

// Only the public half of a key, as a certificate or request carries it.
test::PkeyPtr public_half(EVP_PKEY* key) {
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(key, &der);
    const unsigned char* p = der;
    test::PkeyPtr out(len > 0 ? d2i_PUBKEY(nullptr, &p, len) : nullptr);
    OPENSSL_free(der);
    return out;
}

// Zero when `openssl req -verify` accepts the PEM request.
int openssl_verifies(const fs::path& file) {
    const std::string cmd = "openssl req -in '" + file.string() + "' -verify -noout 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    std::string out;
    char buf[512];
    for (std::size_t n; (n = fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
    return pclose(pipe) == 0 && out.find("verify OK") != std::string::npos ? 0 : 1;
}

class ProviderKeys : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { ASSERT_EQ(ENGINE_load_cadb(), 1); }

    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(dir_.path().c_str());
    }
    void TearDown() override {
        for (auto prov : provs_) sim_.release(prov, 0);
        EXPECT_EQ(sim_.live_hashes(), 0);
    }

    // A key the library generates, put into the provider's container name.
    PkeyRec made_key(int type, int n, const char* name) {
        PkeyRec key(PKEY_generate_soft(type, n, nullptr, nullptr));
        if (!key) return nullptr;
        std::ofstream file(dir_.path() / (std::string(name) + ".key"));
        if (type == EVP_PKEY_RSA)
            file << "rsa\n" << number(key->key, "n") << "\n" << number(key->key, "d") << "\n";
        else
            file << "dsa\n" << number(key->key, "p") << "\n" << number(key->key, "q") << "\n"
                 << number(key->key, "g") << "\n" << number(key->key, "priv") << "\n";
        return key;
    }
    vendor::HCRYPTPROV provider(const char* name) {
        vendor::HCRYPTPROV prov = 0;
        if (sim_.acquire(&prov, name, nullptr, 0, 0) == 1) provs_.push_back(prov);
        return prov;
    }
    // The public half of key standing for the provider's key of that name.
    PkeyRec provider_key(PKEY* key, const char* name) {
        test::PkeyPtr pub = public_half(key->key);
        const vendor::HCRYPTPROV prov = provider(name);
        if (!pub || prov == 0 || CAPI_KEY_set(pub.get(), prov, vendor::kAtSignature) != 1)
            return nullptr;
        return PkeyRec(PKEY_split(pub.get()));
    }
    P10Ptr request(PKEY* key, int md_nid) {
        std::unique_ptr<X509_NAME, NameFree> subject(X509_NAME_new());
        X509_NAME_add_entry_by_txt(subject.get(), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("provider key"), -1, -1,
                                   0);
        return P10Ptr(PKCS10_make(subject.get(), key, nullptr, md_nid, nullptr, nullptr, 0));
    }
    // libcrypto's and the openssl command's verdict on the request.
    void expect_verifies(const PKCS10* p10, EVP_PKEY* genuine) {
        BufPtr pem(PKCS10_get(p10, 2));
        ASSERT_TRUE(pem);
        const fs::path file = dir_.path() / "req.pem";
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(pem->data), pem->length);
        std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem->data, pem->length),
                                                     BIO_free);
        std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> req(
            PEM_read_bio_X509_REQ(in.get(), nullptr, nullptr, nullptr), X509_REQ_free);
        ASSERT_TRUE(req);
        EXPECT_EQ(X509_REQ_verify(req.get(), genuine), 1);
        EXPECT_EQ(openssl_verifies(file), 0);
    }

    testing::KernelRandom random_;
    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::ProviderSim sim_;
    test::TempDir dir_;
    std::vector<vendor::HCRYPTPROV> provs_;
};

TEST_F(ProviderKeys, RsaRequestsAreSignedByTheProvider) {
    PkeyRec key = made_key(EVP_PKEY_RSA, 1024, "rsa");
    ASSERT_TRUE(key);
    PkeyRec stand_in = provider_key(key.get(), "rsa");
    ASSERT_TRUE(stand_in);
    EXPECT_EQ(CAPI_KEY_get(stand_in->key).key_spec, vendor::kAtSignature);
    for (int md_nid : {64, 4}) {
        SCOPED_TRACE(md_nid);
        const int before = sim_.hashes_made();
        P10Ptr p10 = request(stand_in.get(), md_nid);
        ASSERT_TRUE(p10);
        EXPECT_EQ(sim_.hashes_made() - before, 1);
        expect_verifies(p10.get(), key->key);
    }
    // A digest the provider has no hash for signs nothing.
    const int before = sim_.hashes_made();
    EXPECT_FALSE(request(stand_in.get(), 672));
    EXPECT_EQ(sim_.hashes_made(), before);
    // Nor does a provider that refuses.
    sim_.fail_sign(1);
    EXPECT_FALSE(request(stand_in.get(), 64));
    sim_.fail_sign(0);
}

TEST_F(ProviderKeys, DsaRequestsAreSignedByTheProvider) {
    PkeyRec key = made_key(EVP_PKEY_DSA, 0, "dsa");
    ASSERT_TRUE(key);
    PkeyRec stand_in = provider_key(key.get(), "dsa");
    ASSERT_TRUE(stand_in);
    const int before = sim_.hashes_made();
    P10Ptr p10 = request(stand_in.get(), 64);
    ASSERT_TRUE(p10);
    EXPECT_EQ(sim_.hashes_made() - before, 1);
    expect_verifies(p10.get(), key->key);
}

TEST_F(ProviderKeys, KeysWithoutProviderSignThemselves) {
    for (int type : {EVP_PKEY_RSA, EVP_PKEY_DSA}) {
        SCOPED_TRACE(type);
        PkeyRec key = made_key(type, type == EVP_PKEY_RSA ? 1024 : 0, "own");
        ASSERT_TRUE(key);
        // Attached, then given back its own signing.
        ASSERT_EQ(CAPI_KEY_set(key->key, provider("own"), vendor::kAtSignature), 1);
        ASSERT_EQ(CAPI_KEY_set(key->key, 0, 0), 1);
        EXPECT_EQ(CAPI_KEY_get(key->key).provider, 0u);
        const int before = sim_.hashes_made();
        P10Ptr p10 = request(key.get(), 64);
        ASSERT_TRUE(p10);
        EXPECT_EQ(sim_.hashes_made(), before);
        expect_verifies(p10.get(), key->key);
    }
    // Other key types have no such fields.
    EXPECT_EQ(CAPI_KEY_set(nullptr, 1, 2), 0);
}

TEST_F(ProviderKeys, MessagesAreSignedByTheProvider) {
    for (int type : {EVP_PKEY_RSA, EVP_PKEY_DSA}) {
        SCOPED_TRACE(type);
        const char* name = type == EVP_PKEY_RSA ? "rsa" : "dsa";
        PkeyRec key = made_key(type, type == EVP_PKEY_RSA ? 1024 : 0, name);
        ASSERT_TRUE(key);
        // The certificate is made with the genuine key; the message is signed
        // with the public half standing for the provider's key.
        test::Party signer;
        signer.cert = test::make_cert(key->key, 7, "provider signer");
        PkeyRec stand_in = provider_key(key.get(), name);
        ASSERT_TRUE(stand_in);
        signer.key.reset(stand_in->key);
        EVP_PKEY_up_ref(stand_in->key);
        const test::Bytes content = test::text("signed by the provider's key");
        const int before = sim_.hashes_made();
        test::P7Ptr p7 = test::signed_message({&signer}, content, false, EVP_sha1());
        ASSERT_TRUE(p7);
        EXPECT_EQ(sim_.hashes_made() - before, 1);
        test::P7Ptr back = test::decode(test::encode(p7.get()));
        ASSERT_TRUE(back);
        const test::Verified v = test::verify_message(back.get(), nullptr);
        EXPECT_EQ(v.content, content);
        EXPECT_EQ(v.results, std::vector<int>{1});
    }
}

}  // namespace
}  // namespace cadb
