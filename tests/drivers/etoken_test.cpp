#include "crypto/bio/etoken.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "tests/drivers/token_fixture.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;
using test::file_bytes;
using test::put_file;
using test::BioPtr;

int pin_cb(char* buf, int size, int, void* arg) {
    // The path stands in for a missing callback argument.
    const bool by_path =
        arg != nullptr && std::strcmp(static_cast<const char*>(arg), "AKS ifdh 0:0200") == 0;
    const char* pin = by_path ? "wrong" : "secret";
    const int n = static_cast<int>(std::strlen(pin));
    if (n >= size) return -1;
    std::memcpy(buf, pin, static_cast<std::size_t>(n) + 1);
    return n;
}

class ETokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str(), "secret");
        fs::create_directories(root_.path() / "AKS ifdh 0" / "token");
        fs::create_directories(root_.path() / "Aladdin Token JC 1" / "token");
        fs::create_directories(root_.path() / "Other reader 2" / "token");
        ETOKEN_set_passwd_cb(pin_cb);
        ASSERT_EQ(ETOKEN_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        ETOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }
    fs::path token(const char* reader) const { return root_.path() / reader / "token"; }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::Simulator sim_{"etsdk"};
    test::TempDir root_;
};

TEST_F(ETokenTest, PathsLiveBelowTheApplicationDirectory) {
    const std::string text = "eToken contents";
    const int n = static_cast<int>(text.size());
    ASSERT_EQ(CADB_write_file_plain("eToken 0:1234", text.data(), n), n);
    EXPECT_EQ(file_bytes(token("AKS ifdh 0") / "1234").size(), text.size());
    // The same file by its full path and through the other prefixes.
    std::vector<char> buf(64);
    EXPECT_EQ(CADB_read_file_plain("eToken 0:3f00\\e007\\1234", buf.data(), 64), n);
    EXPECT_EQ(CADB_read_file_plain("AKS ifdh 0:1234", buf.data(), 64), n);
    EXPECT_EQ(std::string(buf.data(), text.size()), text);
    put_file(token("AKS ifdh 0") / "5678", "x");
    EXPECT_EQ(CADB_read_file_plain("eToken 0:3f00/6666/e007/5678", buf.data(), 64), 1);
    // Reader numbers pick by the text after the last blank.
    ASSERT_EQ(CADB_write_file_plain("Aladdin Token JC 1:0001\\0002", "jc", 2), 2);
    EXPECT_TRUE(fs::exists(token("Aladdin Token JC 1") / "0001" / "0002"));
    EXPECT_EQ(ETSDK_file_exists("eToken 1:00010002"), 1);
    EXPECT_EQ(ETSDK_file_exists("eToken 0:00010002"), 0);
    EXPECT_EQ(ETSDK_token_present("eToken 1:0001"), 1);
    EXPECT_EQ(ETSDK_token_present("eToken 2:0001"), 0);  // not an eToken reader
    EXPECT_FALSE(BioPtr(BIO_new_media_file("eToken:123", "rb")));
}

TEST_F(ETokenTest, OptionControlsAndDeleteThroughTheStream) {
    put_file(token("AKS ifdh 0") / "0100", "to be erased");
    BioPtr bio(BIO_new_media_file("eToken:0100", "r+b"));
    ASSERT_TRUE(bio);
    EXPECT_EQ(BIO_ctrl(bio.get(), BIO_C_GET_TOKEN_OPTIONS, 0, nullptr), 0);
    EXPECT_EQ(BIO_ctrl(bio.get(), BIO_C_SET_TOKEN_OPTIONS, TOKEN_OPTION_LOGOUT, nullptr), 1);
    EXPECT_EQ(BIO_ctrl(bio.get(), BIO_C_GET_TOKEN_OPTIONS, 0, nullptr), TOKEN_OPTION_LOGOUT);
    const int before = sim_.logins();
    ASSERT_EQ(BIO_media_driver(BIO_MEDIUM_ETOKEN)->delete_open(bio.get()), 1);
    // Logged out after every call: the write of zeros and the delete each
    // logged in anew.
    EXPECT_EQ(sim_.logins() - before, 2);
    EXPECT_EQ(BIO_ctrl(bio.get(), BIO_C_GET_TOKEN_OPTIONS, 0, nullptr),
              TOKEN_OPTION_LOGOUT | TOKEN_OPTION_DELETED);
    bio.reset();
    EXPECT_FALSE(fs::exists(token("AKS ifdh 0") / "0100"));
    EXPECT_EQ(sim_.deleted_contents(), std::vector<unsigned char>(12, 0));
}

TEST_F(ETokenTest, CallbackArgumentDefaultsToThePath) {
    // Without an argument of its own the callback sees the path, which this
    // one answers with a wrong PIN.
    BioPtr w(BIO_new_media_file("AKS ifdh 0:0200", "wb"));
    ASSERT_TRUE(w);
    BIO_write(w.get(), "x", 1);
    EXPECT_EQ(BIO_flush(w.get()), 0);
    EXPECT_EQ(ERR_get_last_error(), TOKEN_STATUS_PIN_REFUSED);
    char arg[] = "anything";
    EXPECT_EQ(BIO_ctrl(w.get(), BIO_C_SET_TOKEN_PASSWD_ARG, 0, arg), 1);
    BIO_write(w.get(), "y", 1);
    EXPECT_EQ(BIO_flush(w.get()), 1);
    EXPECT_EQ(file_bytes(token("AKS ifdh 0") / "0200"), std::vector<unsigned char>{'y'});
}

}  // namespace
}  // namespace cadb
