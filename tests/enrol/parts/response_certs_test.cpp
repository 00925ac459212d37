// The text rules of response acceptance: the rewrap of a pasted answer under
// a PKCS7 label, the hexadecimal form of serial numbers and the written form
// of names; and the certificates an answer yields.
#include "enrol/response_certs.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/init/init.h"

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

TEST(NameLine, AnObjectWithoutANameIsWrittenDotted) {
    std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> name(X509_NAME_new(), X509_NAME_free);
    ASSERT_TRUE(name);
    const unsigned char value[] = "v";
    ASSERT_EQ(X509_NAME_add_entry_by_txt(name.get(), "1.3.6.1.4.1.99999.7.1", MBSTRING_ASC, value,
                                         -1, -1, 0),
              1);
    EXPECT_EQ(NameLine(name.get()), "1.3.6.1.4.1.99999.7.1=v\n");
}

// An answer that carries, beside a certificate the library reads, one it
// cannot split (a GOST R 34.10-2012 root made by openssl's GOST engine in a
// child process) keeps that one in its place, held as its bytes: acceptance
// gives it an empty display name and the PEM of those bytes, and what needs
// the parsed certificate has none.
TEST(ParseCertificates, ACertificateTheLibraryCannotSplitKeepsItsPlace) {
    ASSERT_EQ(CADB_init(), 1);
    struct Stop {
        ~Stop() { CADB_cleanup(); }
    } stop;
    char tmpl[] = "/tmp/response-certs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string cmd =
        "cd '" + dir +
        "' && (openssl req -engine gost -x509 -new -newkey gost2001 -pkeyopt paramset:A -nodes "
        "-subj '/CN=User' -days 30 -keyout user.key -out user.pem && "
        "openssl genpkey -engine gost -algorithm gost2012_256 -pkeyopt paramset:A -out ca12.key && "
        "openssl req -engine gost -x509 -new -key ca12.key -subj '/CN=Root 2012' -days 30 "
        "-out ca12.pem && openssl x509 -in ca12.pem -outform DER -out ca12.der && "
        "openssl crl2pkcs7 -nocrl -certfile user.pem -certfile ca12.pem -outform DER "
        "-out chain.der) >/dev/null 2>&1";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    auto read = [&dir](const char* name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string chain = read("chain.der");
    const std::string root = read("ca12.der");
    std::filesystem::remove_all(dir);

    std::vector<TCertificate> certs;
    ASSERT_EQ(ParsePKCS7Certificates(reinterpret_cast<const unsigned char*>(chain.data()),
                                     chain.size(), certs),
              2);
    ASSERT_NE(certs[0].getCERT(), nullptr);
    EXPECT_EQ(CertificateDisplayName(TCertificate(certs[0])), "User");
    EXPECT_EQ(certs[1].getCERT(), nullptr);
    // As acceptance takes each certificate: a copy, its name, its PEM.
    TCertificate copy(certs[1]);
    EXPECT_EQ(CertificateDisplayName(copy), "");
    copy.setFormat(TCertificate::kFormatPEM);
    const TBuffer* pem = copy.getEncoded();
    ASSERT_TRUE(pem != nullptr && !pem->isEmpty());
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(pem->getData(), pem->getLength()),
                                                 BIO_free);
    char* label = nullptr;
    char* header = nullptr;
    unsigned char* der = nullptr;
    long length = 0;
    ASSERT_EQ(PEM_read_bio(in.get(), &label, &header, &der, &length), 1);
    EXPECT_STREQ(label, "CERTIFICATE");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)),
              root);
    OPENSSL_free(label);
    OPENSSL_free(header);
    OPENSSL_free(der);
    EXPECT_FALSE(copy.encode(TCertificate::kFormatDER));
}

}  // namespace
}  // namespace cadb::enrol
