// The program's own error texts. The iKey driver's reasons as the program
// prints its error queue: the cases behind two of them (a session record
// that cannot be allocated, a refused PIN) are out of reach of the
// program's own commands, so the lines are queued here as the driver queues
// them. The sign-tool records and the library's message readers have codes
// of their own under the ASN.1 library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "admin/err_tables.h"
#include "admin/signtool.h"
#include "admin/tasset.h"
#include "crypto/cadb/err_str.h"
#include "crypto/pkcs7/crmf_records.h"
#include "crypto/bio/rutoken_fs.h"
#include "crypto/core/err_str.h"
#include "crypto/core/err.h"
#include "tests/admin/program.h"

namespace cadb {
namespace {

TEST(IKeyReasons, PrintedWithTheirTexts) {
    Tasset_load_error_strings();
    ERR_clear_error();
    CADB_ERR(ERR_LIB_BIO_, 234, TOKEN_R_NO_TOKEN);
    CADB_ERR(ERR_LIB_BIO_, 221, TOKEN_R_LOGIN_FAILED);
    CADB_ERR(ERR_LIB_BIO_, 221, TOKEN_R_PIN_TOO_LONG);
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() / ("ikey-reasons-" + std::to_string(getpid()));
    Tasset_print_errors(file.string().c_str());
    const std::string text = testing::read_file(file);
    std::filesystem::remove(file);
    const auto line = [&](const char* func, const char* reason) {
        return text.find(std::string(func) + ":" + reason) != std::string::npos;
    };
    EXPECT_TRUE(line("IKSDK_touch", "token not found")) << text;
    EXPECT_TRUE(line("IKSDK_login", "login failed")) << text;
    EXPECT_TRUE(line("IKSDK_login", "phrase is too short or reading failed")) << text;
}

TEST(SignToolCodes, AreNotTheMessageReaders) {
    ERR_load_CMC_strings();
    Tasset_load_error_strings();
    const auto name = [](unsigned long e) {
        const char* n = ERR_func_error_string(e);
        return std::string(n != nullptr ? n : "");
    };
    EXPECT_EQ(name(ERR_pack_code(ERR_LIB_ASN1_, ASN1_F_ISSUER_SIGN_TOOL_NEW, 0)),
              "ISSUER_SIGN_TOOL_new");
    EXPECT_EQ(name(ERR_pack_code(ERR_LIB_ASN1_, ASN1_F_D2I_ISSUER_SIGN_TOOL, 0)),
              "d2i_ISSUER_SIGN_TOOL");
    // A CertReqMsg that does not decode names its own reader.
    ERR_clear_error();
    const unsigned char junk[] = {0x30, 0x03, 0x02, 0x01, 0x01};
    EXPECT_EQ(CRMF_CERT_REQ_MSG_read(junk, sizeof junk), nullptr);
    EXPECT_EQ(name(ERR_peek_last_error()), "d2i_CRMF_CERT_REQ_MSG");
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
