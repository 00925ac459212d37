// The sign-tool extensions: DER round trips checked against libcrypto's own
// decoder of the same structures, the printed text, and the string method.

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "admin/signtool.h"
#include "crypto/core/err.h"
#include "crypto/x509v3/ext_print.h"

namespace cadb {
namespace {

ASN1_UTF8STRING* utf8(const char* text) {
    ASN1_UTF8STRING* s = ASN1_UTF8STRING_new();
    ASN1_STRING_set(s, text, static_cast<int>(std::strlen(text)));
    return s;
}

void set(ASN1_UTF8STRING*& field, const char* text) {
    ASN1_UTF8STRING_free(field);
    field = utf8(text);
}

std::string printed(const ISSUER_SIGN_TOOL* v, int indent) {
    BIO* mem = BIO_new(BIO_s_mem());
    EXPECT_EQ(ISSUER_SIGN_TOOL_print(nullptr, v, mem, indent), 1);
    char* data = nullptr;
    const long n = BIO_get_mem_data(mem, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(mem);
    return s;
}

std::vector<unsigned char> der_of(const ISSUER_SIGN_TOOL* v) {
    const int n = i2d_ISSUER_SIGN_TOOL(v, nullptr);
    EXPECT_GT(n, 0);
    std::vector<unsigned char> der(static_cast<std::size_t>(n));
    unsigned char* p = der.data();
    EXPECT_EQ(i2d_ISSUER_SIGN_TOOL(v, &p), n);
    return der;
}

// Cyrillic tool names as certificates carry them (UTF-8).
const char* const kSignTool = "СКЗИ \"КриптоПро CSP\" версия 4.0";
const char* const kCaTool = "ПАК \"Удостоверяющий центр\"";

TEST(IssuerSignTool, NewRecordHoldsFourEmptyStrings) {
    ISSUER_SIGN_TOOL* v = ISSUER_SIGN_TOOL_new();
    ASSERT_NE(v, nullptr);
    for (const ASN1_UTF8STRING* s : {v->sign_tool, v->ca_tool, v->sign_tool_cert, v->ca_tool_cert}) {
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(ASN1_STRING_length(s), 0);
    }
    // SEQUENCE of four empty UTF8Strings.
    const std::vector<unsigned char> expected = {0x30, 0x08, 0x0C, 0x00, 0x0C, 0x00,
                                                 0x0C, 0x00, 0x0C, 0x00};
    EXPECT_EQ(der_of(v), expected);
    ISSUER_SIGN_TOOL_free(v);
    ISSUER_SIGN_TOOL_free(nullptr);
}

TEST(IssuerSignTool, RoundTripAgreesWithLibcrypto) {
    ISSUER_SIGN_TOOL* v = ISSUER_SIGN_TOOL_new();
    set(v->sign_tool, kSignTool);
    set(v->ca_tool, kCaTool);
    set(v->sign_tool_cert, "СФ/124-3966 от 15.01.2021");
    set(v->ca_tool_cert, "СФ/128-3868 от 23.07.2020");
    const std::vector<unsigned char> der = der_of(v);

    // libcrypto's record of the same extension reads our encoding.
    const unsigned char* p = der.data();
    ::ISSUER_SIGN_TOOL* theirs = ::d2i_ISSUER_SIGN_TOOL(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(theirs, nullptr);
    EXPECT_EQ(p, der.data() + der.size());
    EXPECT_EQ(ASN1_STRING_cmp(theirs->signTool, v->sign_tool), 0);
    EXPECT_EQ(ASN1_STRING_cmp(theirs->cATool, v->ca_tool), 0);
    EXPECT_EQ(ASN1_STRING_cmp(theirs->signToolCert, v->sign_tool_cert), 0);
    EXPECT_EQ(ASN1_STRING_cmp(theirs->cAToolCert, v->ca_tool_cert), 0);
    // ... and writes the same bytes.
    unsigned char* again = nullptr;
    const int n = ::i2d_ISSUER_SIGN_TOOL(theirs, &again);
    ASSERT_EQ(n, static_cast<int>(der.size()));
    EXPECT_EQ(std::memcmp(again, der.data(), der.size()), 0);
    OPENSSL_free(again);
    ::ISSUER_SIGN_TOOL_free(theirs);

    // Our decoder, into an existing record.
    ISSUER_SIGN_TOOL* back = ISSUER_SIGN_TOOL_new();
    ISSUER_SIGN_TOOL* into = back;
    p = der.data();
    ASSERT_EQ(d2i_ISSUER_SIGN_TOOL(&into, &p, static_cast<long>(der.size())), into);
    EXPECT_EQ(der_of(into), der);
    EXPECT_EQ(printed(into, 4), std::string("    signTool: ") + kSignTool + "\n    cATool: " +
                                    kCaTool +
                                    "\n    signToolCert: СФ/124-3966 от 15.01.2021\n"
                                    "    cAToolCert: СФ/128-3868 от 23.07.2020\n");
    ISSUER_SIGN_TOOL_free(into);
    ISSUER_SIGN_TOOL_free(v);
}

TEST(IssuerSignTool, HostileEncodingsAreRefused) {
    const std::vector<std::vector<unsigned char>> bad = {
        {},                                                    // nothing
        {0x30, 0x06, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00},      // three strings
        {0x30, 0x08, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00, 0x04, 0x00},  // wrong type
        {0x30, 0x09, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00},  // length past the end
        {0x30, 0x0A, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00, 0x0C, 0x00},  // five
    };
    for (const auto& der : bad) {
        ERR_clear_error();
        const unsigned char* p = der.data();
        EXPECT_EQ(d2i_ISSUER_SIGN_TOOL(nullptr, &p, static_cast<long>(der.size())), nullptr);
        const unsigned long e = ERR_peek_last_error();
        EXPECT_EQ(ERR_code_lib(e), ERR_LIB_ASN1_);
        EXPECT_EQ(ERR_code_func(e), ASN1_F_D2I_ISSUER_SIGN_TOOL);
    }
    ERR_clear_error();
}

TEST(IssuerSignTool, PrintShowsOnlyPresentStrings) {
    ISSUER_SIGN_TOOL v{};
    EXPECT_EQ(printed(&v, 2), "");
    v.ca_tool = utf8("CA tool");
    EXPECT_EQ(printed(&v, 2), "  cATool: CA tool\n");
    ASN1_UTF8STRING_free(v.ca_tool);
    EXPECT_EQ(ISSUER_SIGN_TOOL_print(nullptr, nullptr, nullptr, 0), 0);
}

TEST(SubjectSignTool, StringMethod) {
    ASN1_UTF8STRING* s = s2i_SUBJECT_SIGN_TOOL(nullptr, nullptr, kSignTool);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ASN1_STRING_length(s), static_cast<int>(std::strlen(kSignTool)));
    char* text = i2s_SUBJECT_SIGN_TOOL(nullptr, s);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, kSignTool);
    OPENSSL_free(text);
    ASN1_UTF8STRING_free(s);

    // From an empty text an empty string, which prints as nothing.
    s = s2i_SUBJECT_SIGN_TOOL(nullptr, nullptr, "");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ASN1_STRING_length(s), 0);
    EXPECT_EQ(i2s_SUBJECT_SIGN_TOOL(nullptr, s), nullptr);
    ASN1_UTF8STRING_free(s);

    // From no text an error.
    ERR_clear_error();
    EXPECT_EQ(s2i_SUBJECT_SIGN_TOOL(nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(34, 176, 116));
    ERR_clear_error();
}

X509_EXTENSION* extension(int nid, const std::vector<unsigned char>& der) {
    ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(data, der.data(), static_cast<int>(der.size()));
    X509_EXTENSION* ext = X509_EXTENSION_create_by_NID(nullptr, nid, 0, data);
    ASN1_OCTET_STRING_free(data);
    return ext;
}

// What print writes into a memory stream; its result in *result.
template <class Print>
std::string printed_by(Print print, int* result) {
    BIO* mem = BIO_new(BIO_s_mem());
    *result = print(mem);
    char* data = nullptr;
    const long n = BIO_get_mem_data(mem, &data);
    std::string s(data, static_cast<std::size_t>(n));
    BIO_free(mem);
    return s;
}

std::string print_ext(X509_EXTENSION* ext, int indent, int* result) {
    return printed_by([&](BIO* out) { return SIGNTOOL_print_extension(out, ext, indent); },
                      result);
}

TEST(SignToolExtensions, PrintedThroughTheProgramsPrinters) {
    ASSERT_EQ(SIGNTOOL_add_extensions(), 1);
    EXPECT_EQ(SIGNTOOL_subject_nid(), NID_subjectSignTool);
    EXPECT_EQ(SIGNTOOL_issuer_nid(), NID_issuerSignTool);

    // The subject's tool: a UTF8String.
    ASN1_UTF8STRING* s = utf8("Tool 1.0");
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_UTF8STRING(s, &der);
    X509_EXTENSION* ext = extension(NID_subjectSignTool, {der, der + n});
    OPENSSL_free(der);
    ASN1_UTF8STRING_free(s);
    int result = 0;
    EXPECT_EQ(print_ext(ext, 3, &result), "   Tool 1.0");
    EXPECT_EQ(result, 1);
    X509_EXTENSION_free(ext);

    // The issuer's tools.
    ISSUER_SIGN_TOOL* v = ISSUER_SIGN_TOOL_new();
    set(v->sign_tool, "a");
    set(v->ca_tool_cert, "d");
    ext = extension(NID_issuerSignTool, der_of(v));
    ISSUER_SIGN_TOOL_free(v);
    EXPECT_EQ(print_ext(ext, 1, &result), " signTool: a\n cATool: \n signToolCert: \n cAToolCert: d\n");
    EXPECT_EQ(result, 1);
    X509_EXTENSION_free(ext);

    // A broken value, and an extension of another kind.
    ext = extension(NID_issuerSignTool, {0x30, 0x01, 0x00});
    EXPECT_EQ(print_ext(ext, 0, &result), "");
    EXPECT_EQ(result, 0);
    X509_EXTENSION_free(ext);
    ext = extension(NID_basic_constraints, {0x30, 0x00});
    EXPECT_EQ(print_ext(ext, 0, &result), "");
    EXPECT_EQ(result, -1);
    X509_EXTENSION_free(ext);
    ERR_clear_error();
}

// Through the library's extension printer, as certificate texts print
// extensions.
std::string library_print(X509_EXTENSION* ext, int indent, int* result) {
    return printed_by([&](BIO* out) { return cadb::X509V3_EXT_print(out, ext, 0, indent); },
                      result);
}

X509_EXTENSION* subject_extension(const char* text) {
    ASN1_UTF8STRING* s = utf8(text);
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_UTF8STRING(s, &der);
    X509_EXTENSION* ext = extension(NID_subjectSignTool, {der, der + n});
    OPENSSL_free(der);
    ASN1_UTF8STRING_free(s);
    return ext;
}

TEST(SignToolExtensions, TheLibrarysExtensionPrinterUsesTheProgramsPrinters) {
    ASSERT_EQ(SIGNTOOL_add_extensions(), 1);
    X509_EXTENSION* ext = subject_extension("Tool 1.0");
    int result = 0;
    EXPECT_EQ(library_print(ext, 3, &result), "   Tool 1.0");
    EXPECT_EQ(result, 1);
    X509_EXTENSION_free(ext);

    ISSUER_SIGN_TOOL* v = ISSUER_SIGN_TOOL_new();
    set(v->sign_tool, kSignTool);
    set(v->ca_tool, kCaTool);
    ext = extension(NID_issuerSignTool, der_of(v));
    ISSUER_SIGN_TOOL_free(v);
    EXPECT_EQ(library_print(ext, 2, &result), std::string("  signTool: ") + kSignTool +
                                                  "\n  cATool: " + kCaTool +
                                                  "\n  signToolCert: \n  cAToolCert: \n");
    EXPECT_EQ(result, 1);
    X509_EXTENSION_free(ext);

    // A value that does not decode whole is not printed.
    ext = extension(NID_issuerSignTool, {0x30, 0x01, 0x00});
    EXPECT_EQ(library_print(ext, 0, &result), "");
    EXPECT_EQ(result, 0);
    X509_EXTENSION_free(ext);

    // Refused registrations change nothing.
    EXPECT_EQ(X509V3_EXT_add_printer(NID_undef, ASN1_UTF8STRING_it, nullptr), 0);
    EXPECT_EQ(X509V3_EXT_add_printer(NID_subjectSignTool, nullptr, nullptr), 0);
    ERR_clear_error();
}

TEST(SignToolExtensions, PrintingGoesOnWhilePrintersAreAdded) {
    ASSERT_EQ(SIGNTOOL_add_extensions(), 1);
    X509_EXTENSION* ext = subject_extension("concurrent");
    std::vector<std::thread> threads;
    std::vector<int> good(4, 1);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                int result = 0;
                if (library_print(ext, 1, &result) != " concurrent" || result != 1) good[t] = 0;
            }
        });
    threads.emplace_back([] {
        for (int i = 0; i < 200; ++i) SIGNTOOL_add_extensions();
    });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(good, std::vector<int>(4, 1));
    X509_EXTENSION_free(ext);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
