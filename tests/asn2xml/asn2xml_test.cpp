#include "wrappers/asn2xml.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/init/init.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;

std::string convert_to_xml(const Bytes& der, bool* ok = nullptr) {
    TASN2XML builder;
    TXMLDomHolder holder(builder);
    const bool converted = holder.convert(der.data(), static_cast<long>(der.size()));
    if (ok) *ok = converted;
    if (!converted) return holder.error();
    return holder.xml().value_or("serialise failed");
}

// The document without its declaration and root, for short comparisons.
std::string body(const Bytes& der) {
    const std::string xml = convert_to_xml(der);
    if (xml.find("<ASN1Document/>") != std::string::npos) return "";
    const std::string open = "<ASN1Document>", close = "</ASN1Document>";
    const auto from = xml.find(open), to = xml.rfind(close);
    if (from == std::string::npos || to == std::string::npos) return xml;
    return xml.substr(from + open.size(), to - from - open.size());
}

TEST(Asn2Xml, RendersEachKindOfValue) {
    // empty OCTET STRING and NULL: nothing
    EXPECT_EQ(body({0x04, 0x00, 0x05, 0x00}), "");
    // OCTET STRING "abc": text, and its failed nested walk is left out
    EXPECT_EQ(body({0x04, 0x03, 'a', 'b', 'c'}), "<OCTET_STRING>abc</OCTET_STRING>");
    // OCTET STRING wrapping DER: hex, then the nested structure
    EXPECT_EQ(body({0x04, 0x05, 0x30, 0x03, 0x01, 0x01, 0xFF}),
              "<OCTET_STRING>30030101ff</OCTET_STRING><ASN1_DUMP><SEQUENCE><BOOLEAN>255</BOOLEAN>"
              "</SEQUENCE></ASN1_DUMP>");
    // INTEGER 0, -1, 0x0102; ENUMERATED 1
    EXPECT_EQ(body({0x02, 0x01, 0x00}), "<INTEGER>00</INTEGER>");
    EXPECT_EQ(body({0x02, 0x01, 0xFF}), "<INTEGER>-01</INTEGER>");
    EXPECT_EQ(body({0x02, 0x02, 0x01, 0x02}), "<INTEGER>0102</INTEGER>");
    EXPECT_EQ(body({0x0A, 0x01, 0x01}), "<ENUMERATED>01</ENUMERATED>");
    EXPECT_EQ(body({0x02, 0x00}), "<INTEGER>BAD_INTEGER</INTEGER>");
    EXPECT_EQ(body({0x01, 0x02, 0x00, 0x00}), "<BOOLEAN>BAD_BOOLEAN</BOOLEAN>");
    // BIT STRING: colon-separated hex beginning with the unused-bits byte
    EXPECT_EQ(body({0x03, 0x02, 0x07, 0x80}), "<BIT_STRING>07:80</BIT_STRING>");
    // context-specific constructed tag 3 with a child; empty context primitive
    EXPECT_EQ(body({0xA3, 0x03, 0x02, 0x01, 0x05, 0x80, 0x00}),
              "<CONTEXT_3><INTEGER>05</INTEGER></CONTEXT_3>");
    EXPECT_EQ(body({0x81, 0x02, 0x01, 0xFE}), "<CONTEXT_1>01fe</CONTEXT_1>");
    // object with and without a name
    EXPECT_EQ(body({0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x05}),
              "<OBJECT name=\"sha1WithRSAEncryption\">1.2.840.113549.1.1.5</OBJECT>");
    EXPECT_EQ(body({0x06, 0x03, 0x2B, 0x81, 0x7F}), "<OBJECT name=\"1.3.255\">1.3.255</OBJECT>");
    // strings: text in code page 1251, UTF8String and BMPString as hex lists
    EXPECT_EQ(body({0x13, 0x02, 'h', 'i', 0x0C, 0x02, 0xD0, 0x90, 0x1E, 0x00}),
              "<PRINTABLESTRING>hi</PRINTABLESTRING><UTF8STRING>d0:90</UTF8STRING>");
    EXPECT_EQ(body({0x16, 0x01, 0xC0}), "<IA5STRING>\xC0</IA5STRING>");
    // A byte XML cannot carry (a control character, a byte code page 1251
    // lacks) shows the value as hex; the rest of the document stays.
    EXPECT_EQ(body({0x16, 0x03, 'a', 0x01, 'b', 0x13, 0x02, 'x', 0x98, 0x02, 0x01, 0x05}),
              "<IA5STRING>610162</IA5STRING><PRINTABLESTRING>7898</PRINTABLESTRING>"
              "<INTEGER>05</INTEGER>");
    // indefinite length ends at its end-of-contents value
    EXPECT_EQ(body({0x30, 0x80, 0x05, 0x00, 0x02, 0x01, 0x07, 0x00, 0x00}),
              "<SEQUENCE><INTEGER>07</INTEGER></SEQUENCE>");
}

TEST(Asn2Xml, RefusesBrokenAndHostileDer) {
    const std::vector<Bytes> bad = {
        {0x30, 0x05, 0x02, 0x01},           // length past the end
        {0x02, 0x05, 0x01},                 // primitive length past the end
        {0x30, 0x80, 0x02, 0x01, 0x01},     // indefinite without its end
        {0x00, 0x00},                       // end-of-contents at the top
        {0x0B, 0x01, 0x00},                 // "<ASN1 11>" is no element name
        {0x30},                             // cut header
    };
    for (const Bytes& der : bad) {
        bool ok = true;
        const std::string error = convert_to_xml(der, &ok);
        EXPECT_FALSE(ok) << error;
        EXPECT_FALSE(error.empty());
    }
    // Nesting deep enough to exhaust a stack is refused, not followed.
    Bytes deep;
    for (int i = 0; i < 100000; ++i) {
        deep.push_back(0x30);
        deep.push_back(0x80);
    }
    bool ok = true;
    convert_to_xml(deep, &ok);
    EXPECT_FALSE(ok);
    // ... also inside an OCTET STRING, where the nested walk is left out.
    Bytes wrapped = {0x04, 0x82, 0x00, 0xC8};
    for (int i = 0; i < 100; ++i) wrapped.insert(wrapped.end(), {0x30, 0x80});
    EXPECT_NE(convert_to_xml(wrapped, &ok).find("<OCTET_STRING>"), std::string::npos);
    EXPECT_TRUE(ok);
}

Bytes read_certificate(const std::string& name) {
    const std::string path = std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/" + name + ".pem";
    BIO* bio = BIO_new_file(path.c_str(), "r");
    if (!bio) return {};
    X509* x = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!x) return {};
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    X509_free(x);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(Asn2Xml, VectorCertificatesMatchTheirGoldenDocuments) {
    ASSERT_EQ(CADB_init(), 1);
    for (const char* name : {"cert-A", "cert-B", "cert-C", "cert-XA", "cert-XB"}) {
        const Bytes der = read_certificate(name);
        ASSERT_FALSE(der.empty()) << name;
        bool ok = false;
        const std::string xml = convert_to_xml(der, &ok);
        ASSERT_TRUE(ok) << name << ": " << xml;
        // Well-formed: it reads back, with the certificate's outline.
        XmlDocument doc;
        ASSERT_TRUE(doc.load_bytes({reinterpret_cast<const unsigned char*>(xml.data()), xml.size()}))
            << doc.error();
        EXPECT_EQ(doc.document_element().name(), "ASN1Document");
        EXPECT_TRUE(doc.as_node().select_single_node("/ASN1Document/SEQUENCE/SEQUENCE/CONTEXT_0/INTEGER"));
        EXPECT_FALSE(doc.as_node().select_nodes("//OBJECT[@name='GOST R 34.10-2001' or "
                                                "@name='gost2001']").empty());
        const std::string golden_path = std::string(CADB_VECTORS_DIR) + "/asn2xml/" + name + ".xml";
        // CADB_UPDATE_GOLDEN=1 rewrites the golden files after a deliberate change.
        if (const char* update = std::getenv("CADB_UPDATE_GOLDEN"); update && *update == '1')
            std::ofstream(golden_path, std::ios::binary) << xml;
        EXPECT_EQ(xml, read_file(golden_path)) << name;
    }
    CADB_cleanup();
}

}  // namespace
}  // namespace cadb
