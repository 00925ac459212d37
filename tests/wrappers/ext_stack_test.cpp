#include <gtest/gtest.h>
#include <openssl/x509v3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "wrappers/x509_ext.h"

namespace cadb {
namespace {

class ExtStack : public ::testing::Test {
protected:
    // The DER value and critical flag of the stack's extension nid.
    static std::string value_of(const TStack_V3EXT& s, int openssl_nid, bool* critical = nullptr) {
        const int at = X509v3_get_ext_by_NID(s.stack(), openssl_nid, -1);
        if (at < 0) return "";
        X509_EXTENSION* ext = X509v3_get_ext(s.stack(), at);
        if (critical) *critical = X509_EXTENSION_get_critical(ext) != 0;
        const ASN1_OCTET_STRING* v = X509_EXTENSION_get_data(ext);
        return {reinterpret_cast<const char*>(ASN1_STRING_get0_data(v)),
                static_cast<std::size_t>(ASN1_STRING_length(v))};
    }

    static std::string object(const std::string& oid, const std::string& data,
                              const std::string& boolean = "") {
        std::string xml = "<Object><OID>" + oid + "</OID>";
        if (!boolean.empty()) xml += "<Data type=\"BOOLEAN\">" + boolean + "</Data>";
        if (!data.empty()) xml += "<Data type=\"OCTET_STRING\">" + data + "</Data>";
        return xml + "</Object>";
    }
    static std::string request(const std::string& objects) {
        return "<?xml version=\"1.0\"?><Request><CertificationRequestInfo><Attributes>" + objects +
               "</Attributes></CertificationRequestInfo></Request>";
    }
};

TEST_F(ExtStack, CodeBuiltExtensionsEncodeAsTheStandardSays) {
    TStack_V3EXT s;
    TKeyUsageExt ku;
    EXPECT_TRUE(ku.setBits(0x1 | 0x2 | 0x100));  // digitalSignature, nonRepudiation, decipherOnly
    ku.setCritical(true);
    EXPECT_EQ(s.add(&ku), 1);
    TExtKeyUsageExt eku;
    EXPECT_TRUE(eku.addPurpose("1.3.6.1.5.5.7.3.2"));
    EXPECT_TRUE(eku.addPurpose("emailProtection"));
    EXPECT_FALSE(eku.addPurpose("no such purpose"));
    EXPECT_EQ(s.add(&eku), 1);
    TBasicConstraintsExt bc;
    EXPECT_TRUE(bc.set(true, 0));
    EXPECT_EQ(s.add(&bc), 1);

    bool critical = false;
    EXPECT_EQ(value_of(s, NID_key_usage, &critical), std::string("\x03\x03\x07\xC0\x80", 5));
    EXPECT_TRUE(critical);
    EXPECT_EQ(value_of(s, NID_ext_key_usage),
              std::string("\x30\x14\x06\x08\x2B\x06\x01\x05\x05\x07\x03\x02"
                          "\x06\x08\x2B\x06\x01\x05\x05\x07\x03\x04", 22));
    EXPECT_EQ(value_of(s, NID_basic_constraints), std::string("\x30\x06\x01\x01\xFF\x02\x01\x00", 8));
    EXPECT_EQ(ku.getShortName(), "keyUsage");
    EXPECT_EQ(ku.getObjectIdText(), "2.5.29.15");

    // A second key usage is refused and the first stays in force.
    TKeyUsageExt other;
    other.setBits(0x4);
    EXPECT_EQ(s.add(&other), -1);
    EXPECT_EQ(value_of(s, NID_key_usage), std::string("\x03\x03\x07\xC0\x80", 5));
    EXPECT_EQ(s.add(nullptr), -1);

    // Removing takes the record out of the stack; the object stays held.
    EXPECT_EQ(s.remove(&bc), 0);
    EXPECT_EQ(value_of(s, NID_basic_constraints), "");
    EXPECT_EQ(s.add(&bc), -1);
    TX509Extension never(NID_subject_key_identifier);
    EXPECT_EQ(s.remove(&never), -1);
}

TEST_F(ExtStack, KeyUsageAnswersAddsInItsOwnWay) {
    struct StackFree {
        void operator()(STACK_OF(X509_EXTENSION) * s) const {
            sk_X509_EXTENSION_pop_free(s, X509_EXTENSION_free);
        }
    };
    // Built in code: 1, added or not.
    STACK_OF(X509_EXTENSION)* built = nullptr;
    TKeyUsageExt ku;
    ku.setBits(0x1);
    EXPECT_EQ(ku.addToStack(&built, nullptr), 1);
    EXPECT_EQ(ku.addToStack(&built, nullptr), 1);
    std::unique_ptr<STACK_OF(X509_EXTENSION), StackFree> own_built(built);
    ASSERT_NE(built, nullptr);
    EXPECT_EQ(sk_X509_EXTENSION_num(built), 1);
    // From a template: 0 after an add, 1 after a refused one.
    XmlDocument doc;
    const std::string xml = request(object("keyUsage", "03020780") + object("keyUsage", "0500"));
    ASSERT_TRUE(doc.load_xml(xml));
    const auto objects = doc.as_node().select_nodes(TStack_V3EXT::kObjectPath);
    ASSERT_EQ(objects.size(), 2u);
    STACK_OF(X509_EXTENSION)* from_template = nullptr;
    TKeyUsageExt templated;
    EXPECT_EQ(templated.addToStack(&from_template, &objects[0]), 0);
    std::unique_ptr<STACK_OF(X509_EXTENSION), StackFree> own_template(from_template);
    EXPECT_EQ(templated.addToStack(&from_template, &objects[0]), 1);  // already there
    EXPECT_EQ(templated.addToStack(&from_template, &objects[1]), 1);  // not a bit string
    EXPECT_EQ(sk_X509_EXTENSION_num(from_template), 1);
}

TEST_F(ExtStack, CopiesAreIndependent) {
    TKeyUsageExt ku;
    ku.setBits(0x1);
    auto copy = ku.clone();
    ku.setBits(0x2);
    TStack_V3EXT s;
    EXPECT_EQ(s.add(copy.get()), 1);
    EXPECT_EQ(value_of(s, NID_key_usage), std::string("\x03\x02\x07\x80", 4));
}

TEST_F(ExtStack, TemplateAddsReplacesAndSkips) {
    TStack_V3EXT s;
    const std::string xml = request(
        object("2.5.29.14", "04020102", "255") +           // subjectKeyIdentifier, critical
        object("subjectKeyIdentifier", "0401FF", "1") +    // replaces it; "1" is not critical
        object("keyUsage", "0x03020780") +                 // "0x" decodes as a zero byte first
        object("basicConstraints", "300302010", "TRUE") +  // odd last digit dropped
        object("1.3.6.1.4.1.99999.1", "0500") +            // unnamed: skipped
        object("", "0500") +                               // no OID: skipped
        "<Object><OID>2.5.29.17</OID><Data type=\"x\">1</Data><Other type=\"OCTET_STRING\">"
        "300C820A6578616D706C652E7275</Other></Object>");  // data found past its first sibling
    ASSERT_EQ(s.fillFromXMLTemplate(xml.c_str(), 0, 1), 1);
    bool critical = true;
    EXPECT_EQ(value_of(s, NID_subject_key_identifier, &critical), std::string("\x04\x01\xFF", 3));
    EXPECT_FALSE(critical);
    EXPECT_EQ(value_of(s, NID_key_usage), "");  // "0x..." gives 00 03 02 07 80: not a bit string
    EXPECT_EQ(value_of(s, NID_basic_constraints), "");  // cut short by the dropped digit
    EXPECT_EQ(value_of(s, NID_subject_alt_name).size(), 14u);
    EXPECT_EQ(s.stack() ? sk_X509_EXTENSION_num(s.stack()) : -1, 2);
}

TEST_F(ExtStack, ABrokenReplacementLeavesTheFirstValue) {
    TStack_V3EXT s;
    const std::string xml =
        request(object("2.5.29.14", "04020102") + object("2.5.29.14", "0402"));
    ASSERT_EQ(s.fillFromXMLTemplate(xml.c_str(), 0, 1), 1);
    EXPECT_EQ(value_of(s, NID_subject_key_identifier), std::string("\x04\x02\x01\x02", 4));
    // Without replace the second value is ignored.
    TStack_V3EXT keep;
    const std::string two = request(object("2.5.29.14", "04020102") + object("2.5.29.14", "0401AA"));
    ASSERT_EQ(keep.fillFromXMLTemplate(two.c_str(), 0, 0), 1);
    EXPECT_EQ(value_of(keep, NID_subject_key_identifier), std::string("\x04\x02\x01\x02", 4));
}

TEST_F(ExtStack, TemplatesThatCannotBeReadAddNothing) {
    TStack_V3EXT s;
    EXPECT_EQ(s.fillFromXMLTemplate(nullptr, 0, 1), 0);
    EXPECT_EQ(s.fillFromXMLTemplate("", 0, 1), 0);
    EXPECT_EQ(s.fillFromXMLTemplate("<not closed>", 0, 1), 0);
    const std::string entity = "<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY x SYSTEM "
                               "\"file:///etc/hostname\">]>" + request(object("&x;", "0500"));
    EXPECT_EQ(s.fillFromXMLTemplate(entity.c_str(), 0, 1), 0);
    EXPECT_EQ(s.fillFromXMLTemplate("http://example.com/template.xml", 1, 1), 0);
    EXPECT_EQ(s.fillFromXMLTemplate("/nonexistent/template.xml", 1, 1), 0);
    // A template with no matching element is read and adds nothing.
    EXPECT_EQ(s.fillFromXMLTemplate("<Request><Object><OID>2.5.29.14</OID></Object></Request>", 0, 1), 1);
    EXPECT_EQ(sk_X509_EXTENSION_num(s.stack()), 0);
}

TEST_F(ExtStack, TemplateFilesAreReadWithABound) {
    const auto dir = std::filesystem::temp_directory_path() / ("reqext-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto small = dir / "t.xml", big = dir / "big.xml";
    std::ofstream(small) << request(object("2.5.29.14", "04020102"));
    std::ofstream(big) << request(std::string(TStack_V3EXT::kMaxTemplateSize, ' '));
    TStack_V3EXT s;
    EXPECT_EQ(s.fillFromXMLTemplate(small.c_str(), 1, 1), 1);
    EXPECT_EQ(value_of(s, NID_subject_key_identifier), std::string("\x04\x02\x01\x02", 4));
    EXPECT_EQ(s.fillFromXMLTemplate(("file://" + big.string()).c_str(), 1, 1), 0);
    std::filesystem::remove_all(dir);
}

TEST(TemplateHex, DecodesAsTheTemplateFormatSays) {
    EXPECT_EQ(DecodeTemplateHex("0aFf"), std::string("\x0A\xFF", 2));
    EXPECT_EQ(DecodeTemplateHex("0x12"), std::string("\x00\x12", 2));
    EXPECT_EQ(DecodeTemplateHex("123"), std::string("\x12", 1));
    EXPECT_EQ(DecodeTemplateHex("zz"), std::string("\x00", 1));
}

}  // namespace
}  // namespace cadb
