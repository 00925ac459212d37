// A signed answer of the test authority checked as the enrolment control
// checks it: the store knows nothing but the certificates the answer
// carries, yet the authority's chain is built from them.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "crypto/init/init.h"
#include "enrol/response_certs.h"

namespace cadb::enrol {
namespace {

class ResponseVerify : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ASSERT_EQ(CADB_init(), 1);
        char tmpl[] = "/tmp/response-verify-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = new std::string(tmpl);
        const std::string cmd = "cd '" + *dir_ +
                                "' && openssl req -engine gost -new -newkey gost2001 -pkeyopt "
                                "paramset:A -nodes -subj '/C=RU/O=Org/CN=Ivanov' -keyout "
                                "key.pem -out req.pem >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*dir_);
        delete dir_;
        dir_ = nullptr;
        CADB_cleanup();
    }
    // The test authority's answer to the request, made with the options.
    static std::string answer(const std::string& options) {
        const std::string out = *dir_ + "/answer";
        const std::string cmd =
            std::string(TEST_CA) + " " + options + " '" + *dir_ + "/req.pem' '" + out + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::ifstream in(out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool verify(const std::string& message, const std::vector<TCertificate>& certs) {
        return VerifyResponseWithItsCertificates(
            reinterpret_cast<const unsigned char*>(message.data()), message.size(), certs);
    }
    static std::vector<TCertificate> certificates_of(const std::string& message) {
        std::vector<TCertificate> certs;
        EXPECT_EQ(ParsePKCS7Certificates(reinterpret_cast<const unsigned char*>(message.data()),
                                         message.size(), certs),
                  2);
        return certs;
    }

    static std::string* dir_;
};

std::string* ResponseVerify::dir_ = nullptr;

TEST_F(ResponseVerify, TheAuthorityIsTrustedThroughItsOwnCertificateInTheAnswer) {
    for (const char* options : {"", "-der", "-cmc -tid 01"}) {
        const std::string message = answer(options);
        ASSERT_FALSE(message.empty()) << options;
        EXPECT_TRUE(verify(message, certificates_of(message))) << options;
        // Without the certificates in the store the self-signed authority
        // is met only among the message's own: no trust, no chain.
        EXPECT_FALSE(verify(message, {})) << options;
    }
}

TEST_F(ResponseVerify, ATamperedAnswerOrNoMessageFails) {
    const std::string tampered = answer("-tamper");
    EXPECT_FALSE(verify(tampered, certificates_of(tampered)));
    EXPECT_FALSE(verify("no message", {}));
    EXPECT_FALSE(VerifyResponseWithItsCertificates(nullptr, 0, {}));
}

}  // namespace
}  // namespace cadb::enrol
