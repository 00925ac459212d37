#include "crypto/core/err_str.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/keys/pkey.h"
#include "crypto/pkcs11/pkcs11_err.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/store/shared_secret.h"
#include "crypto/x509/cert_codes.h"
#include "crypto/x509/pkcs10.h"

namespace cadb {
namespace {

std::string text_or_null(const char* s) { return s != nullptr ? s : "(null)"; }

std::string lib_text(int lib) {
    return text_or_null(ERR_lib_error_string(ERR_pack_code(lib, 0, 0)));
}
std::string func_text(int lib, int func) {
    return text_or_null(ERR_func_error_string(ERR_pack_code(lib, func, 0)));
}
std::string reason_text(int lib, int reason) {
    return text_or_null(ERR_reason_error_string(ERR_pack_code(lib, 0, reason)));
}

class ErrorStrings : public ::testing::Test {
  protected:
    void SetUp() override {
        ERR_load_cadb_strings();
        ERR_clear_error();
    }
};

TEST_F(ErrorStrings, LibraryNamesOfTheSystemEndInRoutines) {
    const std::pair<int, const char*> names[] = {
        {65, "R3410"},  {66, "CADB"},    {67, "Greave"},   {68, "Couter"}, {69, "RAND"},
        {70, "ETOKEN"}, {71, "FORM"},    {72, "GOSTE"},    {73, "GOSTH"},  {74, "PSE"},
        {75, "ECGOST"}, {76, "SHAMIR"},  {77, "CRMF"},     {78, "GOSTS"},  {81, "PKCS11"},
        {83, "GNIVC"},  {84, "RUTOKEN"}, {87, "KEYCHAIN"},
    };
    for (const auto& [lib, name] : names) EXPECT_EQ(lib_text(lib), std::string(name) + " routines");
    EXPECT_EQ(lib_text(ERR_LIB_BN_), "bignum routines");
    EXPECT_EQ(lib_text(ERR_LIB_ASN1_), "asn1 encoding routines");
    EXPECT_EQ(lib_text(79), "(null)");
}

TEST_F(ErrorStrings, CommonReasonsOfEveryLibrary) {
    const std::pair<int, const char*> common[] = {
        {4, "nested asn1 error"},
        {5, "bad asn1 object header"},
        {6, "bad get asn1 object call"},
        {7, "expecting an asn1 sequence"},
        {8, "asn1 length mismatch"},
        {9, "missing asn1 eos"},
        {10, "check RAM failure"},
        {11, "self-testing error"},
        {12, "internal error"},
        {33, "memory alloc failure"},
        {34, "called a function you should not call"},
        {35, "passed a null parameter"},
        {66, "CADB lib"},
        {74, "PSE lib"},
        {69, "RAND lib"},
        {72, "GOSTE lib"},
        {73, "GOSTH lib"},
        {75, "ECGOST lib"},
        {76, "SHAMIR lib"},
        {78, "GOSTS lib"},
        {65, "R3410 lib"},
        {70, "ETOKEN lib"},
        {83, "GNIVC lib"},
        // libcrypto's own, where the system has no entry of its own.
        {2, "system lib"},
        {3, "BN lib"},
        {13, "ASN1 lib"},
        {32, "BIO lib"},
    };
    for (int lib :
         {int{ERR_LIB_CADB}, int{ERR_LIB_PSE}, int{ERR_LIB_GOSTE}, int{ERR_LIB_PKCS7_}, 99}) {
        for (const auto& [reason, text] : common) EXPECT_EQ(reason_text(lib, reason), text) << lib;
    }
    // Libraries outside the list have no " lib" text.
    EXPECT_EQ(reason_text(ERR_LIB_CADB, ERR_LIB_PKCS11), "(null)");
}

TEST_F(ErrorStrings, ALibrarysOwnReasonComesBeforeTheCommonOne) {
    EXPECT_EQ(reason_text(ERR_LIB_GOSTE, 100), "MAC is too short");
    EXPECT_EQ(reason_text(ERR_LIB_PSE, 100), "invalid MAC");
    EXPECT_EQ(reason_text(ERR_LIB_ECGOST, 100), "invalid parameters");
    EXPECT_EQ(reason_text(ERR_LIB_RAND_, 100), "method not set");
    EXPECT_EQ(reason_text(ERR_LIB_R3410, 100), "invalid length of 'p' and/or 'q'");
    EXPECT_EQ(reason_text(ERR_LIB_CADB, 100), "error add attribute");
    EXPECT_EQ(reason_text(ERR_LIB_SHAMIR, 100), "(null)");
    // Both GOST R 34.10-94 libraries share their texts; 106-108 are GOSTS's.
    EXPECT_EQ(reason_text(ERR_LIB_GOSTS, 103), "'s' is greater or equal to 'q'");
    EXPECT_EQ(reason_text(ERR_LIB_R3410, 104), "'r' is greater or equal to 'q'");
    EXPECT_EQ(reason_text(ERR_LIB_GOSTS, 106), "invalid k");
    EXPECT_EQ(reason_text(ERR_LIB_R3410, 106), "(null)");
    // A reason without a text of its own.
    EXPECT_EQ(reason_text(ERR_LIB_ECGOST, 107), "(null)");
}

TEST_F(ErrorStrings, FunctionNamesAsTheLibrariesReportThem) {
    EXPECT_EQ(func_text(ERR_LIB_GOSTE, 100), "GOSTE_new");
    EXPECT_EQ(func_text(ERR_LIB_GOSTE, 113), "GOSTE_mac_update");
    EXPECT_EQ(func_text(ERR_LIB_GOSTE, 114), "(null)");
    EXPECT_EQ(func_text(ERR_LIB_GOSTE, 115), "(null)");
    EXPECT_EQ(func_text(ERR_LIB_GOSTH, 106), "GOSTH_check");
    EXPECT_EQ(func_text(ERR_LIB_ECGOST, 126), "ECGOST_do_signDO_SIGN");
    EXPECT_EQ(func_text(ERR_LIB_ECGOST, 156), "ECGOST_check_params");
    EXPECT_EQ(func_text(ERR_LIB_R3410, 107), "R3410_test_prime");
    EXPECT_EQ(func_text(ERR_LIB_GOSTS, 138), "R3410_DH_check");
    EXPECT_EQ(func_text(ERR_LIB_PSE, 118), "PSE_save_mkey");
    EXPECT_EQ(func_text(ERR_LIB_PSE, 114), "PSE_rand_init");
    EXPECT_EQ(func_text(ERR_LIB_PSE, 110), "GRAND_gamma_rand_seed");
    EXPECT_EQ(func_text(ERR_LIB_RAND_, 121), "RAND_operational_check");
    EXPECT_EQ(func_text(ERR_LIB_SHAMIR, 116), "SHAMIR_SHARED_SECRET_PARAMS_to_asn1");
    EXPECT_EQ(func_text(ERR_LIB_BN_, 120), "BN_mod_binary_inverse");
    EXPECT_EQ(func_text(ERR_LIB_EVP_, 122), "EVP_PKEY_load_private");
    EXPECT_EQ(func_text(ERR_LIB_X509_, 119), "X509_PUBKEY_get");
    EXPECT_EQ(func_text(ERR_LIB_ASN1_, 171), "D2I_ECGOSTPRIVATEKEY");
    EXPECT_EQ(func_text(ERR_LIB_CADB, 319), "CADB_read_file");
    EXPECT_EQ(func_text(ERR_LIB_CADB, 242), "x2text");
    EXPECT_EQ(reason_text(ERR_LIB_CADB, 127), "encrypted data expected");
    EXPECT_EQ(func_text(7, 134), "BUFFER_read_file");
    // Library 66 is whole when its folders' parts are loaded.
    EXPECT_EQ(func_text(ERR_LIB_CADB, CADB_F_PKEY_PARAMS_GENERATE), "PKEY_PARAMS_generate");
    EXPECT_EQ(func_text(ERR_LIB_CADB, CADB_F_CERT_VERIFY), "CERT_verify");
    EXPECT_EQ(func_text(ERR_LIB_CADB, CADB_F_ADD_ATTRIBUTE_OBJECT), "add_attribute_object");
    EXPECT_EQ(func_text(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE), "PSE_CTX_erase");
    EXPECT_EQ(func_text(ERR_LIB_CADB, CADB_F_SHARED_SECRET_GET_SECRET), "SHARED_SECRET_get_secret");
    EXPECT_EQ(reason_text(ERR_LIB_CADB, CADB_R_KEY_STORE_EXISTS), "key store already exists");
    EXPECT_EQ(reason_text(ERR_LIB_CADB, CADB_R_KEY_NAME_TAKEN), "key name already taken");
    EXPECT_EQ(reason_text(ERR_LIB_CADB, CADB_R_INVALID_KEY_SIZE), "invalid key size");
    // A function code is named only under its own library.
    EXPECT_EQ(func_text(ERR_LIB_CADB, 100), "(null)");
}

TEST_F(ErrorStrings, ErrorStringHasCodeAndThreeTexts) {
    EXPECT_STREQ(ERR_error_string(ERR_pack_code(74, 104, 100), nullptr),
                 "error:4A068064:PSE routines:PSE_decrypt32:invalid MAC");
    EXPECT_STREQ(ERR_error_string(ERR_pack_code(99, 1, 200), nullptr),
                 "error:630010C8:lib(99):func(1):reason(200)");
    char buf[ERR_STRING_BUF_SIZE];
    EXPECT_EQ(ERR_error_string(ERR_pack_code(72, 114, 12), buf), buf);
    EXPECT_STREQ(buf, "error:4807200C:GOSTE routines:func(114):internal error");
}

TEST_F(ErrorStrings, BoundedErrorStringIsAPrefixAtEveryLength) {
    const unsigned long e = ERR_pack_code(75, 126, 75);
    const std::string full = ERR_error_string(e, nullptr);
    ASSERT_EQ(full, "error:4B07E04B:ECGOST routines:ECGOST_do_signDO_SIGN:ECGOST lib");
    for (std::size_t len = 0; len <= full.size() + 4; ++len) {
        std::vector<char> buf(full.size() + 16, '#');
        ERR_error_string_n(e, buf.data(), len);
        for (std::size_t i = len; i < buf.size(); ++i) ASSERT_EQ(buf[i], '#') << len;
        if (len == 0) continue;
        const std::string got(buf.data());
        EXPECT_EQ(got, full.substr(0, std::min(len - 1, full.size()))) << len;
    }
    ERR_error_string_n(e, nullptr, 10);  // nothing to write into
}

TEST_F(ErrorStrings, EachThreadHasItsOwnStaticBuffer) {
    const char* mine = ERR_error_string(ERR_pack_code(74, 102, 33), nullptr);
    const char* theirs = nullptr;
    std::string their_text;
    std::thread([&] {
        theirs = ERR_error_string(ERR_pack_code(72, 100, 33), nullptr);
        their_text = theirs;
    }).join();
    EXPECT_NE(mine, theirs);
    EXPECT_STREQ(mine, "error:4A066021:PSE routines:PSE_new:memory alloc failure");
    EXPECT_EQ(their_text, "error:48064021:GOSTE routines:GOSTE_new:memory alloc failure");
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start < s.size()) {
        const std::size_t end = s.find('\n', start);
        if (end == std::string::npos) {
            out.push_back(s.substr(start) + "<no newline>");
            break;
        }
        out.push_back(s.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

TEST_F(ErrorStrings, PrintingEmptiesTheQueueOldestFirst) {
    ERR_put_error(ERR_LIB_PSE, 104, 100, "pse", 17);
    ERR_put_error(ERR_LIB_PSE, 108, ERR_LIB_PSE, "pse", 230);
    BIO* mem = BIO_new(BIO_s_mem());
    ASSERT_NE(mem, nullptr);
    cadb::ERR_print_errors(mem);
    char* data = nullptr;
    const long n = BIO_get_mem_data(mem, &data);
    const std::vector<std::string> lines = lines_of(std::string(data, static_cast<std::size_t>(n)));
    BIO_free(mem);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    ASSERT_EQ(lines.size(), 2U);
    const std::string tid = lines[0].substr(0, lines[0].find(':'));
    EXPECT_FALSE(tid.empty());
    EXPECT_EQ(lines[0], tid + ":error:4A068064:PSE routines:PSE_decrypt32:invalid MAC:pse:17");
    EXPECT_EQ(lines[1], tid + ":error:4A06C04A:PSE routines:PSE_read_opaque:PSE lib:pse:230");

    ERR_put_error(ERR_LIB_GOSTE, 100, ERR_R_MALLOC, nullptr, 5);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    cadb::ERR_print_errors_fp(f);
    std::rewind(f);
    char buf[256] = {};
    const std::size_t got = std::fread(buf, 1, sizeof buf - 1, f);
    std::fclose(f);
    EXPECT_EQ(std::string(buf, got),
              tid + ":error:48064021:GOSTE routines:GOSTE_new:memory alloc failure::5\n");
    EXPECT_EQ(ERR_peek_error(), 0UL);

    ERR_put_error(ERR_LIB_GOSTE, 100, ERR_R_MALLOC, "x", 1);
    cadb::ERR_print_errors(nullptr);  // no sink: nothing printed, nothing lost
    cadb::ERR_print_errors_fp(nullptr);
    EXPECT_NE(ERR_get_error(), 0UL);
}

TEST_F(ErrorStrings, ErrorsMovedFromLibcryptoKeepLibcryptosTexts) {
    const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01};
    const unsigned char* p = junk;
    ::ERR_clear_error();
    EXPECT_EQ(d2i_X509(nullptr, &p, sizeof junk), nullptr);
    // Library 66 has a reason 127 of its own ("encrypted data expected").
    ERR_move_openssl_errors(ERR_LIB_GOSTE, 5);
    const unsigned long first = ERR_get_error();
    ASSERT_EQ(ERR_code_lib(first), ERR_LIB_OPENSSL);
    EXPECT_EQ(ERR_code_func(first), ERR_LIB_ASN1);
    EXPECT_EQ(lib_text(ERR_LIB_OPENSSL), "OpenSSL routines");
    EXPECT_EQ(text_or_null(ERR_func_error_string(first)), "asn1 encoding routines");
    EXPECT_NE(ERR_reason_error_string(first), nullptr);
    unsigned long last = first;
    while (unsigned long e = ERR_get_error()) last = e;
    EXPECT_EQ(last, ERR_pack_code(ERR_LIB_GOSTE, 5, ERR_LIB_OPENSSL));
    EXPECT_EQ(text_or_null(ERR_reason_error_string(last)), "OpenSSL lib");

    // The closing reason is above every library's own reasons: under CADB,
    // whose reason 127 has a text, it still reads as the move.
    ERR_put_error(ERR_LIB_CADB, 5, ERR_LIB_OPENSSL, __FILE__, __LINE__);
    EXPECT_EQ(text_or_null(ERR_reason_error_string(ERR_get_error())), "OpenSSL lib");
}

// Start-up names the PKCS#11 library only; its own texts are loaded by the
// token administration program.
TEST(ErrorStringTables, StartupLeavesOutThePkcsElevenTexts) {
    ERR_free_strings();
    ERR_load_cadb_strings();
    EXPECT_EQ(lib_text(ERR_LIB_PKCS11), "PKCS11 routines");
    EXPECT_EQ(reason_text(ERR_LIB_PKCS11, 106), "(null)");
    EXPECT_EQ(func_text(ERR_LIB_PKCS11, 100), "(null)");
    ERR_load_PKCS11_strings();
    EXPECT_EQ(reason_text(ERR_LIB_PKCS11, 106), "login failed");
    ERR_free_strings();
    ERR_load_cadb_strings();
}

TEST(ErrorStringTables, LaterEntriesReplaceAndFreeingMakesLoadersDueAgain) {
    static constexpr ERR_STRING_DATA first[] = {{ERR_FUNC(3), "first"}, {ERR_REASON(3), "why"}};
    static constexpr ERR_STRING_DATA second[] = {{ERR_FUNC(3), "second"}};
    ERR_LOAD_FLAG flag;
    EXPECT_EQ(ERR_load_strings_once(flag, {{120, first}}), 1);
    EXPECT_EQ(func_text(120, 3), "first");
    EXPECT_EQ(reason_text(120, 3), "why");
    ERR_load_strings(120, second);
    EXPECT_EQ(func_text(120, 3), "second");
    // Loaded once: a second call changes nothing.
    EXPECT_EQ(ERR_load_strings_once(flag, {{120, first}}), 0);
    EXPECT_EQ(func_text(120, 3), "second");

    ERR_load_cadb_strings();
    ERR_free_strings();
    EXPECT_EQ(func_text(120, 3), "(null)");
    EXPECT_EQ(reason_text(ERR_LIB_PSE, ERR_R_INTERNAL), "(null)");
    EXPECT_STREQ(ERR_error_string(ERR_pack_code(74, 104, 100), nullptr),
                 "error:4A068064:lib(74):func(104):reason(100)");

    EXPECT_EQ(ERR_load_strings_once(flag, {{120, first}}), 1);
    EXPECT_EQ(func_text(120, 3), "first");
    ERR_load_cadb_strings();
    EXPECT_EQ(reason_text(ERR_LIB_PSE, ERR_R_INTERNAL), "internal error");
}

TEST(ErrorStringTables, LookupsWhileTablesAreLoadedAndFreed) {
    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            const std::string named = "error:4A068064:PSE routines:PSE_decrypt32:invalid MAC";
            const std::string bare = "error:4A068064:lib(74):func(104):reason(100)";
            while (!stop.load()) {
                const std::string s = ERR_error_string(ERR_pack_code(74, 104, 100), nullptr);
                // Each text is there or not; a half-written string never is.
                if (s.rfind("error:4A068064:", 0) != 0 || s.size() < bare.size() - 12 ||
                    s.size() > named.size())
                    ++bad;
            }
        });
    }
    for (int i = 0; i < 300; ++i) {
        ERR_load_cadb_strings();
        ERR_free_strings();
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
    ERR_load_cadb_strings();
}

}  // namespace
}  // namespace cadb
