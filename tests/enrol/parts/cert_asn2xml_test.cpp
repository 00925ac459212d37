// Certificates shown to a page: names in BMPString and UTF8String come out as
// text of the document's code page, other string kinds as the base converter
// renders them.
#include "enrol/cert_asn2xml.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cadb::enrol {
namespace {

using Bytes = std::vector<unsigned char>;

std::string body(const Bytes& der, bool* ok = nullptr) {
    TCertASN2XML builder;
    TXMLDomHolder holder(builder);
    const bool converted = holder.convert(der.data(), static_cast<long>(der.size()));
    if (ok) *ok = converted;
    if (!converted) return "refused: " + holder.error();
    const std::string xml = holder.xml().value_or("serialise failed");
    if (xml.find("<ASN1Document/>") != std::string::npos) return "";
    const std::string open = "<ASN1Document>", close = "</ASN1Document>";
    const auto from = xml.find(open), to = xml.rfind(close);
    if (from == std::string::npos || to == std::string::npos) return xml;
    return xml.substr(from + open.size(), to - from - open.size());
}

// One name entry: SET { SEQUENCE { OID 2.5.4.x, value } }.
Bytes name_entry(unsigned char attribute, unsigned char tag, const Bytes& value) {
    Bytes seq = {0x06, 0x03, 0x55, 0x04, attribute, tag, static_cast<unsigned char>(value.size())};
    seq.insert(seq.end(), value.begin(), value.end());
    Bytes set = {0x30, static_cast<unsigned char>(seq.size())};
    set.insert(set.end(), seq.begin(), seq.end());
    Bytes out = {0x31, static_cast<unsigned char>(set.size())};
    out.insert(out.end(), set.begin(), set.end());
    return out;
}

TEST(CertAsn2Xml, CyrillicUtf8NameIsReadableText) {
    // organizationName "Рога и копыта" in UTF-8
    const std::string utf8 = "Рога и копыта";
    const Bytes der = name_entry(0x0A, 0x0C, Bytes(utf8.begin(), utf8.end()));
    // The document is serialised in code page 1251.
    EXPECT_EQ(body(der),
              "<SET><SEQUENCE><OBJECT name=\"organizationName\">2.5.4.10</OBJECT><UTF8STRING>"
              "\xD0\xEE\xE3\xE0 \xE8 \xEA\xEE\xEF\xFB\xF2\xE0</UTF8STRING></SEQUENCE></SET>");
}

TEST(CertAsn2Xml, BmpStringIsReadableText) {
    EXPECT_EQ(body({0x1E, 0x08, 0x00, 'T', 0x00, 'e', 0x00, 's', 0x00, 't'}),
              "<BMPSTRING>Test</BMPSTRING>");
    // Cyrillic in BMPString: "Ив"
    EXPECT_EQ(body({0x1E, 0x04, 0x04, 0x18, 0x04, 0x32}), "<BMPSTRING>\xC8\xE2</BMPSTRING>");
}

TEST(CertAsn2Xml, OtherStringKindsKeepTheBaseRendering) {
    EXPECT_EQ(body({0x13, 0x02, 'R', 'U', 0x16, 0x03, 'a', '@', 'b'}),
              "<PRINTABLESTRING>RU</PRINTABLESTRING><IA5STRING>a@b</IA5STRING>");
    EXPECT_EQ(body({0x03, 0x02, 0x07, 0x80}), "<BIT_STRING>07:80</BIT_STRING>");
}

TEST(CertAsn2Xml, MarkupInNamesIsEscaped) {
    const std::string utf8 = "<a&b>";
    const Bytes der = name_entry(0x03, 0x0C, Bytes(utf8.begin(), utf8.end()));
    const std::string out = body(der);
    EXPECT_NE(out.find("<UTF8STRING>&lt;a&amp;b&gt;</UTF8STRING>"), std::string::npos) << out;
}

TEST(CertAsn2Xml, UnprintableValuesDoNotBreakTheDocument) {
    // A character the local code page lacks (CJK) becomes '?'; a BMPString of
    // odd length and broken UTF-8 are shown as hex bytes; empty values are
    // left out as the base converter leaves them.
    EXPECT_EQ(body({0x0C, 0x03, 0xE4, 0xB8, 0xAD}), "<UTF8STRING>?</UTF8STRING>");
    EXPECT_EQ(body({0x1E, 0x03, 0x00, 'A', 0x00}), "<BMPSTRING>00 41 00 </BMPSTRING>");
    EXPECT_EQ(body({0x0C, 0x02, 0xD0, 0x28}), "<UTF8STRING>D0 28 </UTF8STRING>");
    EXPECT_EQ(body({0x0C, 0x00, 0x1E, 0x00}), "");
}

}  // namespace
}  // namespace cadb::enrol
