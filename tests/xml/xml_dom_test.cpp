#include "platform/xml/xml_dom.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace cadb {
namespace {

constexpr const char* kTemplate = R"(<?xml version="1.0"?>
<Request>
  <CertificationRequestInfo>
    <Attributes>
      <Object><OID>2.5.29.15</OID><Data type="OCTET_STRING">030203F8</Data></Object>
      <Group><Object><OID>basicConstraints</OID></Object></Group>
    </Attributes>
  </CertificationRequestInfo>
  <Object><OID>outside</OID></Object>
</Request>)";

TEST(XmlDom, SelectsInDocumentOrderAndReadsChildrenAndAttributes) {
    XmlDocument doc;
    ASSERT_TRUE(doc.load_xml(kTemplate)) << doc.error();
    auto objects = doc.as_node().select_nodes("//CertificationRequestInfo/Attributes//Object");
    ASSERT_EQ(objects.size(), 2u);
    EXPECT_EQ(objects[0].child_element("OID").text(), "2.5.29.15");
    EXPECT_EQ(objects[1].child_element("OID").text(), "basicConstraints");
    XmlNode data = objects[0].child_element("Data");
    EXPECT_EQ(data.attribute("type").value_or(""), "OCTET_STRING");
    EXPECT_FALSE(data.attribute("missing"));
    EXPECT_EQ(data.text(), "030203F8");
    // Whitespace between elements is not a node, as in the system's DOM.
    EXPECT_EQ(objects[0].first_child().type(), XmlNodeType::kElement);
    EXPECT_EQ(doc.document_element().elements_by_tag_name("Object").size(), 3u);
    EXPECT_EQ(doc.document_element().name(), "Request");
    EXPECT_FALSE(doc.as_node().select_single_node("//Nothing"));
    EXPECT_TRUE(doc.as_node().select_nodes("((").empty());
}

TEST(XmlDom, RefusesWhatCouldReachOutsideOrBlowUp) {
    const char* hostile[] = {
        // an external entity pointing at a local file
        R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY x SYSTEM "file:///etc/passwd">]><r>&x;</r>)",
        // a DTD fetched from a file
        R"(<?xml version="1.0"?><!DOCTYPE r SYSTEM "/etc/passwd"><r/>)",
        // exponential entity expansion
        R"(<?xml version="1.0"?><!DOCTYPE r [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;"><!ENTITY c "&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;"><!ENTITY d "&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;"><!ENTITY e "&d;&d;&d;&d;&d;&d;&d;&d;&d;&d;"><!ENTITY f "&e;&e;&e;&e;&e;&e;&e;&e;&e;&e;"><!ENTITY g "&f;&f;&f;&f;&f;&f;&f;&f;&f;&f;">]><r>&g;</r>)",
        // not well-formed, empty, a fragment
        "<r><a></r>", "", "text only",
    };
    for (const char* text : hostile) {
        XmlDocument doc;
        EXPECT_FALSE(doc.load_xml(text)) << text;
        EXPECT_FALSE(doc.error().empty()) << text;
        EXPECT_FALSE(doc.document_element());
    }
    XmlDocument doc;
    const std::string big = "<r>" + std::string(XmlDocument::kDefaultMaxSize, 'a') + "</r>";
    EXPECT_FALSE(doc.load_xml(big));
    EXPECT_TRUE(doc.load_xml(big, big.size()));
}

TEST(XmlDom, BytesFollowTheirDeclaredEncoding) {
    // "Привет" in code page 1251.
    const std::string cp1251 = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><r>\xCF\xF0\xE8\xE2\xE5\xF2</r>";
    XmlDocument doc;
    ASSERT_TRUE(doc.load_bytes({reinterpret_cast<const unsigned char*>(cp1251.data()), cp1251.size()}))
        << doc.error();
    EXPECT_EQ(doc.document_element().text(), "Привет");
}

TEST(XmlDom, BuildsAndSerialisesInCodePage1251AndUtf8) {
    XmlDocument doc;
    doc.set_declaration("version='1.0' encoding='windows-1251'");
    XmlNode root = doc.create_element("ASN1Document");
    ASSERT_TRUE(doc.set_document_element(root));
    XmlNode e = doc.create_element("UTF8STRING");
    ASSERT_TRUE(e.append_child(doc.create_text_node("Тест <&> \xE2\x82\xAC")));
    ASSERT_TRUE(e.set_attribute("name", "a\"b"));
    ASSERT_TRUE(root.append_child(e));
    // Two text nodes side by side stay two nodes.
    XmlNode t1 = doc.create_text_node("x"), t2 = doc.create_text_node("y");
    ASSERT_TRUE(root.append_child(t1));
    ASSERT_TRUE(root.append_child(t2));
    EXPECT_EQ(t2.text(), "y");

    auto cp = doc.serialize("windows-1251");
    ASSERT_TRUE(cp);
    // The euro sign is in code page 1251 (0x88); '<' and '&' are escaped.
    EXPECT_EQ(*cp,
              "<?xml version='1.0' encoding='windows-1251'?>\r\n<ASN1Document><UTF8STRING "
              "name=\"a&quot;b\">\xD2\xE5\xF1\xF2 &lt;&amp;&gt; \x88</UTF8STRING>xy</ASN1Document>\r\n");
    auto utf8 = doc.serialize("UTF-8");
    ASSERT_TRUE(utf8);
    EXPECT_NE(utf8->find("Тест"), std::string::npos);

    // A character outside the code page becomes a character reference.
    XmlNode cjk = doc.create_element("C");
    ASSERT_TRUE(cjk.append_child(doc.create_text_node("\xE4\xB8\xAD")));
    ASSERT_TRUE(root.append_child(cjk));
    EXPECT_NE(doc.serialize("windows-1251")->find("&#20013;"), std::string::npos);
}

TEST(XmlDom, RefusesBadNamesTextsAndLinks) {
    XmlDocument doc;
    EXPECT_FALSE(doc.create_element("<ASN1 11>"));
    EXPECT_FALSE(doc.create_element("(unknown)"));
    EXPECT_FALSE(doc.create_element(""));
    EXPECT_FALSE(doc.create_text_node("bell\x07"));
    EXPECT_FALSE(doc.create_text_node("\xC3"));  // cut UTF-8

    XmlNode a = doc.create_element("a"), b = doc.create_element("b");
    ASSERT_TRUE(a.append_child(b));
    EXPECT_FALSE(b.append_child(a));  // cycle
    EXPECT_FALSE(a.append_child(b));  // already linked
    EXPECT_FALSE(doc.create_text_node("t").append_child(a));
    XmlDocument other;
    EXPECT_FALSE(a.append_child(other.create_element("c")));
    EXPECT_FALSE(a.set_attribute("bad name", "v"));
}

TEST(XmlDom, NodesOutliveTheirDocumentObject) {
    XmlNode kept, loose;
    {
        XmlDocument doc;
        ASSERT_TRUE(doc.load_xml("<r><k>v</k></r>"));
        kept = doc.document_element().child_element("k");
        loose = doc.create_element("never-linked");
    }
    EXPECT_EQ(kept.text(), "v");
    EXPECT_EQ(loose.name(), "never-linked");
}

}  // namespace
}  // namespace cadb
