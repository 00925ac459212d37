// The seeds of the message harness (fuzz/seeds/cms): messages of every type
// the reading context opens, as the harness takes them (a choice byte, the
// length and bytes of detached content, then the message). The disabled
// test writes them afresh:
//   test_cms --gtest_also_run_disabled_tests --gtest_filter='CmsFuzzSeeds.DISABLED_*'
// and the other checks that each still reads and opens as its type, so
// that the harness starts from messages that reach the reader's depths.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "crypto/cms/cms_local.h"
#include "crypto/core/err.h"
#include "tests/cms/cms_util.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;
using test::Bytes;

const fs::path kSeeds = fs::path(CADB_VECTORS_DIR) / ".." / ".." / "fuzz" / "seeds" / "cms";
// The harness's password for encrypted messages and its key derivation.
constexpr const char* kPassword = "fuzz";
constexpr int kIterations = 1;
// Choice bits of the harness.
constexpr std::uint8_t kDerOnly = 1;
constexpr std::uint8_t kIgnoreCerts = 2;

class CmsFuzzSeeds : public test::CmsTest {
  protected:
    template <typename Setup>
    static Bytes message(int type, const Bytes& content, Setup setup, int flags = 0, int form = 1) {
        CmsPtr w(CMS_new());
        EXPECT_EQ(CMS_set_type(w.get(), type, flags), 1);
        setup(w.get());
        if (!content.empty()) {
            EXPECT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())),
                      1);
        }
        EXPECT_EQ(CMS_final(w.get()), 1);
        return test::take(CMS_get(w.get(), form));
    }
    static Bytes seed(std::uint8_t choice, const Bytes& detached, const Bytes& msg) {
        Bytes out{choice, static_cast<unsigned char>(detached.size())};
        out.insert(out.end(), detached.begin(), detached.end());
        out.insert(out.end(), msg.begin(), msg.end());
        return out;
    }
    static Bytes encrypted(int cipher, const Bytes& content) {
        unsigned char key[32];
        int len = 0;
        EXPECT_EQ(CMS_passwd2key(cipher, kPassword, 4, key, &len, kIterations), 1);
        return message(26, content, [&](CMS* w) {
            EXPECT_EQ(CMS_set_cipher(w, cipher), 1);
            EXPECT_EQ(CMS_encrypted_set_password(w, key, len), 1);
        });
    }
    static Bytes enveloped(const test::Party& to, int cipher, const Bytes& content) {
        return message(23, content, [&](CMS* w) {
            EXPECT_EQ(CMS_set_cipher(w, cipher), 1);
            EXPECT_EQ(CMS_add_recipient(w, to.cert.get(), -1), 1);
        });
    }

    static std::map<std::string, Bytes> seeds() {
        const Bytes content = test::text("a message for the fuzzer");
        const test::Pki& p = pki();
        std::map<std::string, Bytes> s;
        s["signed-gost2001"] = seed(
            kDerOnly, {},
            test::sign(p, {&p.gost2001}, content, CMS_OPT_SIGNING_TIME | CMS_OPT_SIGNING_CERT));
        s["signed-pem"] =
            seed(0, {}, test::sign(p, {&p.gost2001}, content, CMS_OPT_SIGNING_TIME, 2));
        s["signed-detached"] =
            seed(kDerOnly, content,
                 test::sign(p, {&p.gost94}, content, CMS_OPT_DETACHED | CMS_OPT_SIGNING_TIME));
        s["signed-two-signers"] =
            seed(kDerOnly | kIgnoreCerts, {}, test::sign(p, {&p.rsa, &p.gost94}, content));
        s["certificates-only"] = seed(kDerOnly, {},
                                      message(
                                          22, {},
                                          [&](CMS* w) {
                                              EXPECT_EQ(CMS_add_cert(w, p.inter.get()), 1);
                                              EXPECT_EQ(CMS_add_crl(w, p.inter_crl.get()), 1);
                                          },
                                          CMS_OPT_NO_CONTENT));
        s["enveloped-gost2001"] = seed(kDerOnly, {}, enveloped(p.gost2001, 174, content));
        s["enveloped-gost94"] = seed(kDerOnly, {}, enveloped(p.gost94, 174, content));
        s["enveloped-rsa"] = seed(kDerOnly, {}, enveloped(p.rsa, 44, content));
        s["digested-gost"] =
            seed(kDerOnly, {},
                 message(25, content, [](CMS* w) { EXPECT_EQ(CMS_digested_set_md(w, 176), 1); }));
        s["digested-sha1"] =
            seed(0, {},
                 message(
                     25, content, [](CMS* w) { EXPECT_EQ(CMS_digested_set_md(w, 64), 1); }, 0, 2));
        s["encrypted-gost"] = seed(kDerOnly, {}, encrypted(174, content));
        s["encrypted-3des"] = seed(kDerOnly, {}, encrypted(44, content));
        s["compressed"] = seed(kDerOnly, {}, message(261, content, [](CMS*) {}));
        return s;
    }
};

TEST_F(CmsFuzzSeeds, DISABLED_WritesTheSeeds) {
    fs::create_directories(kSeeds);
    for (const auto& [name, bytes] : seeds())
        std::ofstream(kSeeds / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
}

// Each seed opens the way the harness opens it: signed ones verify (their
// signatures good), the others give back their content.
TEST_F(CmsFuzzSeeds, EachSeedReadsAndOpensAsItsType) {
    const std::map<std::string, int> types = {
        {"signed-gost2001", 22},    {"signed-pem", 22},        {"signed-detached", 22},
        {"signed-two-signers", 22}, {"certificates-only", 22}, {"enveloped-gost2001", 23},
        {"enveloped-gost94", 23},   {"enveloped-rsa", 23},     {"digested-gost", 25},
        {"digested-sha1", 25},      {"encrypted-gost", 26},    {"encrypted-3des", 26},
        {"compressed", 261}};
    for (const auto& [name, type] : types) {
        SCOPED_TRACE(name);
        std::ifstream in(kSeeds / name, std::ios::binary);
        ASSERT_TRUE(in) << "missing seed";
        const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(bytes.size(), 2u);
        const std::size_t detached_len = bytes[1];
        ASSERT_GE(bytes.size(), 2 + detached_len);
        const Bytes detached(bytes.begin() + 2,
                             bytes.begin() + 2 + static_cast<long>(detached_len));
        const Bytes msg(bytes.begin() + 2 + static_cast<long>(detached_len), bytes.end());
        int flags = (bytes[0] & kDerOnly) ? CMS_OPT_NO_PEM : 0;
        if ((bytes[0] & kIgnoreCerts) != 0) flags |= CMS_OPT_IGNORE_CERTS;
        CmsPtr r = test::reader(msg, flags);
        ASSERT_EQ(CMS_get_type(r.get()), type);
        if (!detached.empty()) {
            ASSERT_EQ(
                CMS_update_detached(r.get(), detached.data(), static_cast<int>(detached.size())),
                1);
        }
        switch (type) {
            case 22: {
                // A message of certificates only has no signer to verify.
                if (name == "certificates-only") {
                    EXPECT_EQ(sk_CMS_SIGNATURE_num(r->signatures), 0);
                    EXPECT_GT(sk_CERT_num(r->certificates), 0);
                    break;
                }
                test::StorePtr store(X509_STORE_new());
                ASSERT_EQ(CMS_verify(r.get(), store.get(), nullptr, 0), 1);
                // Without the message's certificates no signer is found.
                if ((flags & CMS_OPT_IGNORE_CERTS) == 0) {
                    for (const auto& [chain, signature] : test::results(r.get()))
                        EXPECT_EQ(signature, 1);
                }
                break;
            }
            case 23:
                EXPECT_EQ(r->recipients != nullptr && sk_CMS_RECIPIENT_num(r->recipients), 1);
                break;
            case 25:
                EXPECT_EQ(CMS_digested_verify(r.get()), 1);
                break;
            case 26: {
                unsigned char key[32];
                int len = 0;
                ASSERT_EQ(CMS_passwd2key(r->cipher, kPassword, 4, key, &len, kIterations), 1);
                ASSERT_EQ(CMS_encrypted_set_password(r.get(), key, len), 1);
                EXPECT_EQ(CMS_decrypt(r.get()), 1);
                break;
            }
            case 261:
                EXPECT_EQ(CMS_uncompress(r.get()), 1);
                break;
        }
        ERR_clear_error();
    }
}

}  // namespace
}  // namespace cadb
