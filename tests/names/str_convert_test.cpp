// Text between code page 1251, UTF-8 and BMPString; the directory-string type
// chosen for local text; invalid bytes refused.
#include "crypto/cadb/str_convert.h"

#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <string>

#include "crypto/cadb/passwd.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

// "Привет, мир" in code page 1251, UTF-8 and UTF-16BE.
const std::string kLocal = "\xCF\xF0\xE8\xE2\xE5\xF2, \xEC\xE8\xF0";
const std::string kUtf8 =
    "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, \xD0\xBC\xD0\xB8\xD1\x80";

using Conv = char* (*)(const char*, int, int*);

// The converted text, read with the length the conversion reports.
std::string conv(Conv f, const std::string& in, int len) {
    int n = 0;
    char* p = f(in.data(), len, &n);
    if (p == nullptr) return "<null>";
    std::string s(p, static_cast<std::size_t>(n));
    OPENSSL_free(p);
    return s;
}

TEST(StrConvert, CyrillicRoundTripsThroughEveryForm) {
    int n = 0;
    EXPECT_EQ(conv(STR_local_to_utf8, kLocal, -1), kUtf8);
    EXPECT_EQ(conv(STR_utf8_to_local, kUtf8, static_cast<int>(kUtf8.size())), kLocal);
    char* bmp = STR_local_to_bmp(kLocal.c_str(), -1, &n);
    ASSERT_NE(bmp, nullptr);
    ASSERT_EQ(n, 2 * static_cast<int>(kLocal.size()));
    EXPECT_EQ(std::string(bmp, 2), "\x04\x1F");
    EXPECT_EQ(bmp[n], 0);
    EXPECT_EQ(bmp[n + 1], 0);
    const std::string b(bmp, static_cast<std::size_t>(n));
    OPENSSL_free(bmp);
    EXPECT_EQ(conv(STR_bmp_to_local, b + std::string(2, '\0'), -1), kLocal);  // up to a zero character
    EXPECT_EQ(conv(STR_bmp_to_utf8, b, static_cast<int>(b.size())), kUtf8);
    EXPECT_EQ(conv(STR_utf8_to_bmp, kUtf8, -1), b);
    EXPECT_EQ(conv(STR_copy, "abc", 0), "abc");
    EXPECT_EQ(conv(STR_decode_name, kUtf8, -1), kLocal);
}

TEST(StrConvert, InvalidBytesAreAnErrorNotGarbage) {
    ERR_clear_error();
    int n = 0;
    EXPECT_EQ(STR_utf8_to_local("\xD0", -1, &n), nullptr);            // cut sequence
    EXPECT_EQ(STR_utf8_to_local("\xC0\xAF", -1, &n), nullptr);        // overlong
    EXPECT_EQ(STR_utf8_to_local("\xE4\xB8\xAD", -1, &n), nullptr);    // no place in 1251
    EXPECT_EQ(STR_local_to_utf8("a\x98", -1, &n), nullptr);           // undefined in 1251
    EXPECT_EQ(STR_bmp_to_local("\x04", 1, &n), nullptr);              // half a character
    EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_X509_);
    EXPECT_EQ(STR_local_to_utf8(nullptr, -1, &n), nullptr);
}

TEST(StrConvert, PasswordsInTheStoredEncoding) {
    int n = 0;
    char* enc = PASSWD_encode(kLocal.c_str(), -1, &n);
    ASSERT_NE(enc, nullptr);
    EXPECT_EQ(std::string(enc, static_cast<std::size_t>(n)), kUtf8);
    OPENSSL_clear_free(enc, static_cast<std::size_t>(n) + 1);
    EXPECT_EQ(conv(PASSWD_decode, "secret", -1), "secret");
    EXPECT_EQ(conv(PASSWD_to_bmp, "ab", -1), std::string("\0a\0b", 4));
}

int chosen(int nid, const std::string& text, int type = 0, int flags = 0) {
    return X509_NAME_ENTRY_choose_type(nid, &type, text.c_str(), static_cast<int>(text.size()),
                                       flags)
               ? type
               : -1;
}

TEST(StrConvert, TypeChoiceByAttribute) {
    ASSERT_EQ(OBJ_init(), 1);
    EXPECT_EQ(chosen(14, "RU"), V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(chosen(14, "RUS"), -1);
    EXPECT_EQ(chosen(13, "Ivan Petrov"), V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(chosen(13, kLocal), V_ASN1_BMPSTRING);
    EXPECT_EQ(chosen(13, kLocal, V_ASN1_UTF8STRING), V_ASN1_UTF8STRING);  // the caller's stays
    EXPECT_EQ(chosen(13, "a@b", V_ASN1_PRINTABLESTRING, NAME_ENTRY_KEEP_TYPE), -1);
    EXPECT_EQ(chosen(13, "a@b"), V_ASN1_T61STRING);
    EXPECT_EQ(chosen(13, "a@b", 0, NAME_ENTRY_NO_T61), V_ASN1_BMPSTRING);
    EXPECT_EQ(chosen(48, "user@example.ru"), V_ASN1_IA5STRING);
    EXPECT_EQ(chosen(48, "\xE8\xE2@example.ru"), -1);  // Cyrillic e-mail
    EXPECT_EQ(chosen(13, std::string(65, 'a')), -1);
    EXPECT_EQ(chosen(13, std::string(65, 'a'), 0, NAME_ENTRY_ANY_LENGTH), V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(chosen(NID_RU_INN, "770000000000"), V_ASN1_PRINTABLESTRING);
    EXPECT_EQ(chosen(9999, "x"), -1);  // outside the table
}

TEST(StrConvert, EncodedTextPerType) {
    int len = 0;
    unsigned char* u = X509_NAME_ENTRY_encode_text(kLocal.c_str(), &len, V_ASN1_UTF8STRING);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(u), static_cast<std::size_t>(len)), kUtf8);
    OPENSSL_free(u);
    len = 0;
    EXPECT_EQ(X509_NAME_ENTRY_encode_text(kLocal.c_str(), &len, V_ASN1_PRINTABLESTRING), nullptr);
    len = 0;
    EXPECT_EQ(X509_NAME_ENTRY_encode_text("x", &len, V_ASN1_OCTET_STRING), nullptr);
    ASN1_STRING* s = ASN1_STRING_new();
    ASSERT_EQ(X509_NAME_ENTRY_set_text(s, kLocal.c_str(), 0, V_ASN1_BMPSTRING), 1);
    EXPECT_EQ(ASN1_STRING_type(s), V_ASN1_BMPSTRING);
    EXPECT_EQ(ASN1_STRING_length(s), 2 * static_cast<int>(kLocal.size()));
    ASN1_STRING_free(s);
}

}  // namespace
}  // namespace cadb
