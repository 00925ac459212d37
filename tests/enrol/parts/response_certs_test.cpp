// The text rules of response acceptance: the rewrap of a pasted answer under
// a PKCS7 label and the hexadecimal form of serial numbers.
#include <gtest/gtest.h>

#include <string>

#include "enrol/response_certs.h"

namespace cadb::enrol {
namespace {

TEST(Rewrap, OneLineBreakAfterTheHeaderWhateverTheFirstLineEndsIn) {
    const std::string expected = "-----BEGIN PKCS7-----\r\nQUJD\r\n-----END PKCS7-----\r\n";
    for (const char* text : {"-----BEGIN CMS-----\r\nQUJD\r\n-----END CMS-----",
                             "-----BEGIN CMS-----\nQUJD\n-----END CMS-----"}) {
        std::string out;
        ASSERT_TRUE(RewrapAsPKCS7Pem(text, out));
        // The input's own break before the end line is copied like the body.
        EXPECT_EQ(out.substr(0, 27), expected.substr(0, 27)) << text;
        EXPECT_EQ(out.find("\r\n\r\n", 0), out.rfind("\r\n\r\n")) << text;
    }
    std::string out;
    ASSERT_TRUE(RewrapAsPKCS7Pem("-----BEGIN CMS-----QUJD-----END CMS-----", out));
    EXPECT_EQ(out, expected);
}

TEST(Rewrap, LinesOfSixtyFourCopiedCharacters) {
    const std::string body(130, 'A');
    std::string out;
    ASSERT_TRUE(RewrapAsPKCS7Pem("-----BEGIN X-----" + body, out));
    EXPECT_EQ(out, "-----BEGIN PKCS7-----\r\n" + body.substr(0, 64) + "\r\n" +
                       body.substr(64, 64) + "\r\n" + body.substr(128) +
                       "\r\n-----END PKCS7-----\r\n");
}

TEST(Rewrap, TextsWithoutASecondRunOfDashesAreRefused) {
    std::string out = "stale";
    EXPECT_FALSE(RewrapAsPKCS7Pem("", out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(RewrapAsPKCS7Pem("-----", out));
    EXPECT_FALSE(RewrapAsPKCS7Pem("-----BEGIN", out));
    EXPECT_FALSE(RewrapAsPKCS7Pem("no dashes at all in this text", out));
    // Dashes ending the text leave an empty body, not a read past its end.
    ASSERT_TRUE(RewrapAsPKCS7Pem("abcde-----", out));
    EXPECT_EQ(out, "-----BEGIN PKCS7-----\r\n\r\n-----END PKCS7-----\r\n");
    ASSERT_TRUE(RewrapAsPKCS7Pem("abcde-----\r", out));
    EXPECT_EQ(out, "-----BEGIN PKCS7-----\r\n\r\n-----END PKCS7-----\r\n");
}

TEST(HexString, TwoUpperCaseDigitsPerByte) {
    const unsigned char serial[] = {0x1a, 0x2b, 0x00, 0xff};
    EXPECT_EQ(HexString(serial, 2), "1A2B");
    EXPECT_EQ(HexString(serial, 4), "1A2B00FF");
    EXPECT_EQ(HexString(serial, 0), "");
}

TEST(ParseCertificates, BytesThatAreNoMessage) {
    std::vector<TCertificate> certs(1);
    const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(ParsePKCS7Certificates(junk, sizeof junk, certs), -1);
    EXPECT_TRUE(certs.empty());
    EXPECT_EQ(ParsePKCS7Certificates(nullptr, 0, certs), -1);
    EXPECT_FALSE(PKCS7SignaturesHold(junk, sizeof junk));
}

}  // namespace
}  // namespace cadb::enrol
