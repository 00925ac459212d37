// The RFC 2253 and one-line forms of names, with quoting, local-code-page
// values, escapes and bounded buffers.
#include "crypto/cadb/name_print.h"

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

using NamePtr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;

NamePtr make(std::initializer_list<std::tuple<int, int, std::string>> entries) {
    NamePtr n(X509_NAME_new(), X509_NAME_free);
    for (const auto& [nid, type, value] : entries)
        X509_NAME_add_entry_by_OBJ(n.get(), const_cast<ASN1_OBJECT*>(OBJ_nid2obj(nid)), type,
                                   reinterpret_cast<const unsigned char*>(value.data()),
                                   static_cast<int>(value.size()), -1, 0);
    return n;
}

std::string rfc2253(const X509_NAME* n) {
    BufferPtr b(X509_NAME_get_rfc2253(n));
    return b ? std::string(reinterpret_cast<char*>(b->data), static_cast<std::size_t>(b->length))
             : "<null>";
}

TEST(NamePrint, Rfc2253QuotesOnlyWhatNeedsIt) {
    ASSERT_EQ(OBJ_init(), 1);
    struct Case {
        const char* value;
        const char* shown;
    } cases[] = {{"word", "CN=word"},
                 {"a, b", "CN=\"a, b\""},
                 {" lead", "CN=\" lead\""},
                 {"trail ", "CN=\"trail \""},
                 {"two  spaces", "CN=\"two  spaces\""},
                 {"one space", "CN=one space"},
                 {"x#y", "CN=\"x#y\""},
                 {"a=b", "CN=\"a=b\""},
                 {"q\"q", "CN=\"q\"q\""},
                 {"semi;", "CN=\"semi;\""}};
    for (const Case& c : cases) {
        NamePtr n = make({{13, V_ASN1_PRINTABLESTRING, c.value}});
        EXPECT_EQ(rfc2253(n.get()), c.shown) << c.value;
    }
    NamePtr several = make({{14, V_ASN1_PRINTABLESTRING, "RU"},
                            {13, V_ASN1_UTF8STRING, "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD"},
                            {NID_RU_INN, V_ASN1_PRINTABLESTRING, "007700000000"}});
    EXPECT_EQ(rfc2253(several.get()), "C=RU, CN=\xC8\xE2\xE0\xED, INN=007700000000");

    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    ASSERT_EQ(X509_NAME_print_rfc2253(mem.get(), several.get(), 3), 1);
    char* p = nullptr;
    const long len = BIO_get_mem_data(mem.get(), &p);
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(len)).substr(0, 6), "   C=R");
    EXPECT_EQ(X509_NAME_print_rfc2253(mem.get(), nullptr, 0), 0);
}

TEST(NamePrint, OnelineEscapesAndBounds) {
    ASSERT_EQ(OBJ_init(), 1);
    NamePtr n = make({{14, V_ASN1_PRINTABLESTRING, "RU"},
                      {13, V_ASN1_BMPSTRING, std::string("\x04\x18\x04\x01\x00\x41", 6)},
                      {17, V_ASN1_T61STRING, std::string("a\x01\x7F\xA8z", 5)}});
    char* line = cadb::X509_NAME_oneline(n.get(), nullptr, 0);
    ASSERT_NE(line, nullptr);
    // U+0401 is 0xA8 in code page 1251 and stays; 0x01 and 0x7F are escaped.
    EXPECT_STREQ(line,
                 "/C=RU/CN=\xC8\xA8"
                 "A/O=a\\x01\\x7F\xA8z");
    OPENSSL_free(line);

    char small[13];
    EXPECT_EQ(cadb::X509_NAME_oneline(n.get(), small, sizeof small), small);
    EXPECT_STREQ(small,
                 "/C=RU/CN=\xC8\xA8"
                 "A");
    char tiny[4];
    EXPECT_STREQ(cadb::X509_NAME_oneline(n.get(), tiny, sizeof tiny), "");
    char none[20];
    EXPECT_STREQ(cadb::X509_NAME_oneline(nullptr, none, sizeof none), "NO X509_NAME");

    BufferPtr text(X509_NAME_get_text(n.get(), 1));
    ASSERT_TRUE(text);
    EXPECT_STREQ(reinterpret_cast<char*>(text->data),
                 "/C=RU/CN=\xC8\xA8"
                 "A/O=a\\x01\\x7F\xA8z");
    ERR_clear_error();
    EXPECT_EQ(X509_NAME_get_text(nullptr, 1), nullptr);
    EXPECT_EQ(ERR_code_lib(ERR_get_error()), ERR_LIB_CADB);
}

// A long name stops at 2,048 bytes in the one-line form.
TEST(NamePrint, OnelineTextIsBounded) {
    ASSERT_EQ(OBJ_init(), 1);
    NamePtr n(X509_NAME_new(), X509_NAME_free);
    const std::string value(60, 'v');
    for (int i = 0; i < 100; ++i)
        X509_NAME_add_entry_by_NID(n.get(), 18, V_ASN1_PRINTABLESTRING,
                                   reinterpret_cast<const unsigned char*>(value.data()), 60, -1, 0);
    BufferPtr text(X509_NAME_get_text(n.get(), 1));
    ASSERT_TRUE(text);
    EXPECT_LE(text->length, 2048);
    EXPECT_EQ(text->length % 64, 0);  // whole "/OU=" + 60 entries only
}

}  // namespace
}  // namespace cadb
