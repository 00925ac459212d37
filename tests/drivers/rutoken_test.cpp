#include "crypto/bio/rutoken.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "tests/drivers/token_fixture.h"

namespace cadb {
namespace {

using test::file_bytes;
using test::put_file;
namespace fs = std::filesystem;

using test::BioPtr;

const char* g_pin = "1234";
int pin_cb(char* buf, int size, int, void*) {
    const int n = static_cast<int>(std::strlen(g_pin));
    if (n >= size) return -1;
    std::memcpy(buf, g_pin, static_cast<std::size_t>(n) + 1);
    return n;
}
int long_pin_cb(char* buf, int size, int, void*) {
    std::memset(buf, 'x', static_cast<std::size_t>(size));
    return 300;
}
int failing_cb(char*, int, int, void*) { return -1; }

class RuTokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str(), "1234");
        token_ = root_.path() / "Aktiv Co. ruToken 0" / "token";
        fs::create_directories(token_);
        fs::create_directories(root_.path() / "Aktiv Co. ruToken 1");  // empty reader
        g_pin = "1234";
        RUTOKEN_set_passwd_cb(pin_cb);
        ASSERT_EQ(RUTOKEN_load(), 1);
        ERR_clear_error();
        ERR_reset_last_rv(0, 0);
    }
    void TearDown() override {
        RUTOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }

    // 1 when the whole text was written.
    int write(const char* path, const std::string& text) { return test::write_plain(path, text); }
    std::string read(const char* path) { return test::read_plain(path, 70000); }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::Simulator sim_{"rtapilt"};
    test::TempDir root_;
    fs::path token_;
};

TEST_F(RuTokenTest, WriteReadEraseThroughFileLayer) {
    ASSERT_EQ(write("ruToken 0:0001\\a0b1", "key store"), 1);
    EXPECT_EQ(file_bytes(token_ / "0001" / "a0b1").size(), 9u);
    EXPECT_EQ(read("ruToken 0:0001/a0b1"), "key store");
    EXPECT_EQ(read("Aktiv Co. ruToken 0:0000f001\\0001\\A0B1"), "key store");
    EXPECT_EQ(CADB_file_size("ruToken:0001a0b1"), 9);
    EXPECT_EQ(IsMediaPathPresent("ruToken:0001a0b1"), 1);
    EXPECT_EQ(IsMediaDirectory("ruToken:0001"), 1);
    EXPECT_EQ(IsMediaDirectory("ruToken:0001a0b1"), 0);
    ASSERT_EQ(CADB_erase_file_plain("ruToken:0001a0b1"), 1);
    EXPECT_FALSE(fs::exists(token_ / "0001" / "a0b1"));
    EXPECT_EQ(IsMediaPathPresent("ruToken:0001a0b1"), 0);
    // The contents were overwritten with zeros before the file went.
    EXPECT_EQ(sim_.deleted_contents(), std::vector<unsigned char>(9, 0));
}

// A write into a folder that is there makes no folder on the token.
TEST_F(RuTokenTest, WriteIntoAFolderMakesNone) {
    const std::string text = "data";
    const int n = static_cast<int>(text.size());
    EXPECT_EQ(CADB_write_file_in_dir("ruToken:\\bbbb\\0001", text.data(), n), 0);
    EXPECT_FALSE(fs::exists(token_ / "bbbb"));
    fs::create_directories(token_ / "bbbb");
    EXPECT_EQ(CADB_write_file_in_dir("ruToken:\\bbbb\\0001", text.data(), n), n);
    EXPECT_EQ(CADB_write_file_in_dir("ruToken:\\0002", text.data(), n), n);
    EXPECT_EQ(read("ruToken:\\bbbb\\0001"), text);
}

TEST_F(RuTokenTest, RewriteLeavesExactLengthAndWipesOld) {
    ASSERT_EQ(write("ruToken:1000", "a much longer first version"), 1);
    ASSERT_EQ(write("ruToken:1000", "short"), 1);
    EXPECT_EQ(file_bytes(token_ / "1000"), std::vector<unsigned char>({'s', 'h', 'o', 'r', 't'}));
    EXPECT_EQ(sim_.deleted_contents(), std::vector<unsigned char>(27, 0));
    ASSERT_EQ(write("ruToken:1001", ""), 1);
    EXPECT_EQ(read("ruToken:1001"), "");
}

TEST_F(RuTokenTest, StreamModesAndLineFunctions) {
    put_file(token_ / "2000", "line one\nline two\n");
    BioPtr r(BIO_new_media_file("ruToken:2000", "rb"));
    ASSERT_TRUE(r);
    EXPECT_EQ(BIO_write(r.get(), "x", 1), -1);
    char line[64];
    EXPECT_EQ(BIO_gets(r.get(), line, sizeof line), 9);
    EXPECT_STREQ(line, "line one\n");
    EXPECT_EQ(BIO_gets(r.get(), line, 5), 4);
    EXPECT_STREQ(line, "line");
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN)->open_size(r.get()), 18);

    BioPtr w(BIO_new_media_file("ruToken:2001", "wb"));
    ASSERT_TRUE(w);
    EXPECT_EQ(BIO_read(w.get(), line, 1), -1);
    EXPECT_EQ(BIO_puts(w.get(), "hello "), 6);
    EXPECT_EQ(BIO_write(w.get(), "token", 5), 5);
    EXPECT_FALSE(fs::exists(token_ / "2001"));
    EXPECT_EQ(BIO_flush(w.get()), 1);
    EXPECT_EQ(read("ruToken:2001"), "hello token");
}

TEST_F(RuTokenTest, BadPathsAndModesDoNotOpen) {
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:001", "rb")));
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:00g1", "rb")));
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:", "wb")));
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:7777", "rb")));  // missing
    fs::create_directories(token_ / "3000");
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:3000", "rb")));  // a directory
    BioPtr raw(BIO_new(BIO_s_rutoken()));
    ASSERT_TRUE(raw);
    ERR_clear_error();
    EXPECT_EQ(BIO_ctrl(raw.get(), BIO_C_SET_FILENAME, 0, const_cast<char*>("ruToken:1000")), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), TOKEN_R_BAD_OPEN_MODE);
}

TEST_F(RuTokenTest, WrongMissingAndOverlongPins) {
    g_pin = "0000";
    ERR_clear_error();
    EXPECT_EQ(write("ruToken:4000", "data"), 0);
    EXPECT_FALSE(fs::exists(token_ / "4000"));
    BioPtr refused(BIO_new_media_file("ruToken:4000", "wb"));
    ASSERT_TRUE(refused);
    ERR_reset_last_rv(0, 0);
    BIO_write(refused.get(), "x", 1);
    EXPECT_EQ(BIO_flush(refused.get()), 0);
    EXPECT_EQ(ERR_get_last_rv(), vendor::kTokenPinRefused);
    EXPECT_EQ(ERR_get_last_rv_kind(), TOKEN_CODE_VENDOR);
    EXPECT_EQ(ERR_get_last_error(), TOKEN_STATUS_PIN_REFUSED);

    for (pem_password_cb* cb : {long_pin_cb, failing_cb}) {
        RUTOKEN_set_passwd_cb(cb);
        ERR_clear_error();
        BioPtr w(BIO_new_media_file("ruToken:4000", "wb"));
        ASSERT_TRUE(w);
        BIO_write(w.get(), "x", 1);
        EXPECT_EQ(BIO_flush(w.get()), 0);
        bool saw = false;
        for (unsigned long e; (e = ERR_get_error()) != 0;)
            saw = saw ||
                  (ERR_code_lib(e) == ERR_LIB_BIO_ && ERR_code_reason(e) == TOKEN_R_PIN_TOO_LONG);
        EXPECT_TRUE(saw);
    }
    g_pin = "";
    RUTOKEN_set_passwd_cb(pin_cb);
    EXPECT_EQ(write("ruToken:4000", "data"), 0);

    // A PIN set on the stream wins over the callback.
    RUTOKEN_set_passwd_cb(failing_cb);
    BioPtr w(BIO_new_media_file("ruToken:4001", "wb"));
    ASSERT_TRUE(w);
    EXPECT_EQ(BIO_ctrl(w.get(), BIO_C_SET_TOKEN_PIN, 0, const_cast<char*>("1234")), 1);
    BIO_write(w.get(), "ok", 2);
    EXPECT_EQ(BIO_flush(w.get()), 1);
    EXPECT_EQ(file_bytes(token_ / "4001").size(), 2u);
}

TEST_F(RuTokenTest, ReaderSelectionAndAbsentToken) {
    ERR_clear_error();
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken 1:0001", "wb")));  // reader without token
    bool saw = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        saw = saw || ERR_code_reason(e) == TOKEN_R_NO_TOKEN;
    EXPECT_TRUE(saw);
    EXPECT_EQ(CADB_token_inserted("ruToken 0:0001"), 1);
    EXPECT_EQ(CADB_token_inserted("ruToken 1:0001"), 0);
    EXPECT_EQ(CADB_token_inserted("ruToken 9:0001"), 0);

    fs::remove_all(root_.path() / "Aktiv Co. ruToken 0");
    fs::remove_all(root_.path() / "Aktiv Co. ruToken 1");
    ERR_clear_error();
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:0001", "wb")));
    saw = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        saw = saw || ERR_code_reason(e) == TOKEN_R_NO_READER;
    EXPECT_TRUE(saw);
}

TEST_F(RuTokenTest, LengthsFromTheTokenAreChecked) {
    put_file(token_ / "5000", "twelve bytes");
    sim_.lie(100, 0);  // a size beyond the contents: the read comes up short
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:5000", "rb")));
    sim_.lie(0, 1000);  // a count beyond what was asked for
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:5000", "rb")));
    sim_.lie(0, 0);
    EXPECT_EQ(read("ruToken:5000"), "twelve bytes");
}

TEST_F(RuTokenTest, FilesAreLimitedTo16BitSizes) {
    BioPtr w(BIO_new_media_file("ruToken:6000", "wb"));
    ASSERT_TRUE(w);
    const std::string big(0xFFFF, 'a');
    EXPECT_EQ(BIO_write(w.get(), big.data(), static_cast<int>(big.size())), 0xFFFF);
    EXPECT_EQ(BIO_write(w.get(), "b", 1), -1);
    EXPECT_EQ(BIO_flush(w.get()), 1);
    EXPECT_EQ(file_bytes(token_ / "6000").size(), 0xFFFFu);
}

TEST_F(RuTokenTest, ThreadsWriteAndReadTheirOwnFiles) {
    constexpr int kThreads = 4;
    constexpr int kRounds = 25;
    std::vector<int> good(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &good] {
            const std::string path = "ruToken:0700\\000" + std::to_string(t);
            for (int r = 0; r < kRounds; ++r) {
                const std::string text(static_cast<std::size_t>(100 + 37 * r + t),
                                       static_cast<char>('a' + t));
                const int n = static_cast<int>(text.size());
                if (CADB_write_file_plain(path.c_str(), text.data(), n) != n) continue;
                std::vector<char> back(4096);
                const int got =
                    CADB_read_file_plain(path.c_str(), back.data(), static_cast<int>(back.size()));
                if (got == n && std::string(back.data(), text.size()) == text)
                    ++good[static_cast<std::size_t>(t)];
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(good, std::vector<int>(kThreads, kRounds));
}

int collect(const BIO_MEDIA_ENTRY* e, void* arg) {
    static_cast<std::vector<std::string>*>(arg)->push_back(
        std::string(e->name) + (e->is_directory ? "/" : ":" + std::to_string(e->size)));
    return 1;
}

TEST_F(RuTokenTest, ListsDirectoriesThenFiles) {
    put_file(token_ / "0001" / "00aa", "abc");
    put_file(token_ / "0001" / "0bbb" / "0ccc", "x");
    put_file(token_ / "0001" / "notanid", "ignored");
    std::vector<std::string> names;
    ASSERT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN)->list_dir("ruToken:0001", collect, &names), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"0bbb/", "00aa:3"}));
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN)->list_dir("ruToken:0002", collect, &names), 0);
    TOKEN_FILE_INFO* info = RUTOKEN_FILE_INFO_new();
    ASSERT_NE(info, nullptr);
    RUTOKEN_FILE_INFO_free(info);
}

TEST_F(RuTokenTest, LibraryOrCardServiceAbsentLeavesDriverOff) {
    RUTOKEN_unload();
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
    EXPECT_FALSE(BioPtr(BIO_new_media_file("ruToken:0001", "wb")));
    EXPECT_EQ(write("ruToken:0001", "x"), 0);
    {
        // The vendor library alone, without the smart-card service.
        test::TempDir lonely;
        fs::copy_file(fs::path(CADB_TEST_MODULES_DIR) / "librtapilt.so",
                      lonely.path() / "librtapilt.so");
        test::ScopedModulePath only(lonely.path().string());
        EXPECT_EQ(RUTOKEN_load(), 0);
        EXPECT_EQ(RUTOKEN_loaded(), 0);
    }
    {
        test::TempDir empty;
        test::ScopedModulePath none(empty.path().string());
        EXPECT_EQ(RUTOKEN_load(), 0);
    }
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_RUTOKEN), nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
