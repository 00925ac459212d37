#include "crypto/bio/etoken_r2.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/etoken.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/store/media_io.h"
#include "crypto/store/pse_ctx.h"
#include "tests/drivers/token_fixture.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;
using test::file_bytes;
using test::put_file;
using test::BioPtr;

// The controls of the stand-in library.
struct EtapiSim : test::SimModule {
    EtapiSim() : SimModule("etapi") {
        bind(configure, "simConfigure");
        bind(logins, "simLogins");
        bind(lie, "simLie");
        bind(capacity, "simCapacity");
        bind(hostile_names, "simHostileNames");
        bind(fail_init, "simFailInit");
    }
    bool ok() const { return configure && logins && lie && capacity && hostile_names && fail_init; }
    void (*configure)(const char*, const char*) = nullptr;
    int (*logins)() = nullptr;
    void (*lie)(std::uint32_t) = nullptr;
    void (*capacity)(std::uint64_t) = nullptr;
    void (*hostile_names)(int) = nullptr;
    void (*fail_init)(int) = nullptr;
};

const char* g_pin = "r2pin";
int pin_cb(char* buf, int size, int, void*) {
    const int n = static_cast<int>(std::strlen(g_pin));
    if (n >= size) return -1;
    std::memcpy(buf, g_pin, static_cast<std::size_t>(n) + 1);
    return n;
}
int other_pin_cb(char* buf, int size, int, void*) {
    if (size < 6) return -1;
    std::memcpy(buf, "other", 6);
    return 5;
}

bool has_error(int lib, int func) {
    bool found = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        found = found || (ERR_code_lib(e) == lib && ERR_code_func(e) == func);
    return found;
}

class ETokenR2Test : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str(), "r2pin");
        fs::create_directories(root_.path() / "AKS ifdh 0");  // a reader without a token
        fs::create_directories(token(1));
        fs::create_directories(token(3));
        g_pin = "r2pin";
        ETOKEN_set_passwd_cb(pin_cb);
        ASSERT_EQ(ETR2_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        ETOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }
    fs::path token(int reader) const {
        return root_.path() / ("AKS ifdh " + std::to_string(reader)) / "token";
    }
    int write(const char* path, const std::string& text) { return test::write_plain(path, text); }
    std::string read(const char* path) { return test::read_plain(path, 70000); }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    EtapiSim sim_;
    test::TempDir root_;
};

TEST_F(ETokenR2Test, FilesLiveBelowTheApplicationDirectoryOfTheFirstAnsweringReader) {
    ASSERT_EQ(write("eTR2:\\aaaa\\0001", "first version, long"), 1);
    EXPECT_EQ(file_bytes(token(1) / "e007" / "aaaa" / "0001").size(), 19u);
    EXPECT_EQ(read("eTR2:/3f00/e007/aaaa/0001"), "first version, long");
    EXPECT_EQ(CADB_file_size("eTR2:\\aaaa\\0001"), 19);
    // Rewritten shorter: a new file of exactly the new length.
    ASSERT_EQ(write("eTR2:\\aaaa\\0001", "short"), 1);
    EXPECT_EQ(file_bytes(token(1) / "e007" / "aaaa" / "0001"),
              (std::vector<unsigned char>{'s', 'h', 'o', 'r', 't'}));
    ASSERT_EQ(write("eTR2:\\aaaa\\0002", ""), 1);
    EXPECT_EQ(read("eTR2:\\aaaa\\0002"), "");
    // A digit selects its reader alone.
    put_file(token(3) / "e007" / "a001", "reader three");
    EXPECT_EQ(read("eTR2 3:\\3f00\\e007\\a001"), "reader three");
    EXPECT_EQ(read("eTR2:\\a001"), "<fail>");  // not on reader 1
    EXPECT_EQ(read("eTR2 1:\\aaaa\\0001"), "short");
    // A literal reader name.
    EXPECT_EQ(read("eTR2\\AKS ifdh 3:\\a001"), "reader three");
}

TEST_F(ETokenR2Test, ModesHelpersAndErase) {
    put_file(token(1) / "e007" / "b001", "line one\r\nline two\n");
    BioPtr r(BIO_new_media_file("eTR2:\\b001", "rb"));
    ASSERT_TRUE(r);
    EXPECT_EQ(BIO_write(r.get(), "x", 1), -1);
    char line[64];
    EXPECT_EQ(BIO_gets(r.get(), line, sizeof line), 9);
    EXPECT_STREQ(line, "line one\n");
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_ETR2)->open_size(r.get()), 19);
    r.reset();
    BioPtr w(BIO_new_media_file("eTR2:\\b002", "wb"));
    ASSERT_TRUE(w);
    EXPECT_EQ(BIO_read(w.get(), line, 1), -1);
    EXPECT_EQ(BIO_puts(w.get(), "put"), 3);
    w.reset();
    EXPECT_EQ(file_bytes(token(1) / "e007" / "b002"), (std::vector<unsigned char>{'p', 'u', 't'}));

    EXPECT_EQ(ETOKEN_file_mode("eTR2:\\b001"), ETOKEN_MODE_FILE);
    EXPECT_EQ(ETOKEN_file_mode("eTR2:/3f00/e007"), ETOKEN_MODE_DIRECTORY);
    EXPECT_EQ(ETOKEN_file_mode("eTR2:\\c001"), 0);
    EXPECT_EQ(ETR2_media_present("eTR2 3:\\x"), 1);
    EXPECT_EQ(ETR2_media_present("eTR2 0:\\x"), 0);
    EXPECT_EQ(ETR2_media_present("eTR2 2:\\x"), 0);
    EXPECT_EQ(IsMediaDirectory("eTR2:\\3f00\\e007"), 1);

    ASSERT_EQ(CADB_erase_file_plain("eTR2:\\b001"), 1);
    EXPECT_FALSE(fs::exists(token(1) / "e007" / "b001"));
    EXPECT_EQ(IsMediaPathPresent("eTR2:\\b001"), 0);
}

TEST_F(ETokenR2Test, ListsTheMembersOfADirectory) {
    put_file(token(1) / "e007" / "c001", "abc");
    fs::create_directories(token(1) / "e007" / "cccc");
    std::vector<std::string> names;
    const auto collect = [](const BIO_MEDIA_ENTRY* e, void* arg) {
        static_cast<std::vector<std::string>*>(arg)->push_back(
            std::string(e->name) + (e->is_directory ? "/" : ":" + std::to_string(e->size)));
        return 1;
    };
    const BIO_MEDIA_DRIVER* d = BIO_media_driver(BIO_MEDIUM_ETR2);
    ASSERT_EQ(d->list_dir("eTR2:\\3f00\\e007", collect, &names), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"c001:3", "cccc/"}));
    EXPECT_EQ(d->list_dir("eTR2:\\c001", collect, &names), 0);  // a file
    // Names that fill their whole field are cut, not read past.
    sim_.hostile_names(1);
    names.clear();
    ASSERT_EQ(d->list_dir("eTR2:\\3f00\\e007", collect, &names), 1);
    EXPECT_EQ(names, (std::vector<std::string>{"ZZZZZZZ:3", "ZZZZZZZ/"}));
}

TEST_F(ETokenR2Test, FaultsAreReportedAsErrors) {
    // Wrong PIN: nothing is written, and the library's reason is queued.
    g_pin = "wrong";
    EXPECT_EQ(write("eTR2:\\d001", "secret"), 0);
    EXPECT_FALSE(fs::exists(token(1) / "e007" / "d001"));
    g_pin = "r2pin";
    // A callback of the stream's own stands in for the process-wide one.
    {
        BioPtr w(BIO_new_media_file("eTR2:\\d001", "wb"));
        ASSERT_TRUE(w);
        EXPECT_EQ(BIO_ctrl(w.get(), BIO_C_SET_TOKEN_PASSWD_CB, 0, reinterpret_cast<void*>(other_pin_cb)), 1);
        EXPECT_EQ(BIO_write(w.get(), "x", 1), 1);
        ERR_clear_error();
        EXPECT_EQ(BIO_flush(w.get()), 0);
        EXPECT_TRUE(has_error(ERR_LIB_ETOKEN, vendor::ETR2_F_CREATE_FILE));
    }
    // Device absent: no reader answers.
    fs::remove_all(token(1));
    fs::remove_all(token(3));
    ERR_clear_error();
    EXPECT_EQ(write("eTR2:\\d002", "x"), 0);
    EXPECT_TRUE(has_error(ERR_LIB_BIO_, BIO_F_BIO_CTRL_));
    fs::create_directories(token(1));
    // Full: the create is refused and the file never appears.
    sim_.capacity(10);
    ERR_clear_error();
    EXPECT_EQ(write("eTR2:\\d003", "more than ten bytes"), 0);
    EXPECT_TRUE(has_error(ERR_LIB_ETOKEN, vendor::ETR2_F_CREATE_FILE));
    EXPECT_FALSE(fs::exists(token(1) / "e007" / "d003"));
    sim_.capacity(~0ULL);
    // Short reads: a size larger than the file fails the read.
    ASSERT_EQ(write("eTR2:\\d004", "twelve bytes"), 1);
    sim_.lie(5);
    ERR_clear_error();
    EXPECT_EQ(read("eTR2:\\d004"), "<fail>");
    EXPECT_TRUE(has_error(ERR_LIB_ETOKEN, vendor::ETR2_F_READ));
    // A size past the 16-bit limit is refused before any memory is taken.
    sim_.lie(0x10000);
    EXPECT_EQ(read("eTR2:\\d004"), "<fail>");
    sim_.lie(0);
    // More than a token file holds is refused at the write, not wrapped.
    const std::string big(0x10000, 'b');
    EXPECT_EQ(write("eTR2:\\d005", big), 0);
    EXPECT_FALSE(fs::exists(token(1) / "e007" / "d005"));
    // The library refusing a session.
    sim_.fail_init(1);
    ERR_clear_error();
    EXPECT_EQ(read("eTR2:\\d004"), "<fail>");
    EXPECT_TRUE(has_error(ERR_LIB_ETOKEN, vendor::ETR2_F_INIT));
    sim_.fail_init(0);
    EXPECT_EQ(read("eTR2:\\d004"), "twelve bytes");
}

// The library's numbers for its own functions are the ETOKEN library's
// 100-112: a session it refuses is reported, by the library and then by the
// driver, as ETOKEN_init, code 100.
TEST_F(ETokenR2Test, ARefusedSessionIsReportedAsETokenInit) {
    ERR_load_ETOKEN_strings();
    sim_.fail_init(1);
    EXPECT_EQ(read("eTR2:\\d001"), "<fail>");
    sim_.fail_init(0);
    std::vector<unsigned long> queued;
    for (unsigned long e; (e = ERR_get_error()) != 0;) queued.push_back(e);
    const auto has = [&](unsigned long code) {
        return std::find(queued.begin(), queued.end(), code) != queued.end();
    };
    EXPECT_TRUE(has(ERR_pack_code(70, 100, vendor::ETR2_R_BAD_ARGUMENT)));
    EXPECT_TRUE(has(ERR_pack_code(70, 100, 2)));
    EXPECT_STREQ(ERR_func_error_string(ERR_pack_code(70, 100, 2)), "ETOKEN_init");
}

TEST_F(ETokenR2Test, BadPathsAndModesDoNotOpen) {
    EXPECT_FALSE(BioPtr(BIO_new_media_file("eTR2:\\a0011", "wb")));  // not whole identifiers
    EXPECT_FALSE(BioPtr(BIO_new_media_file("eTR2:\\a0g1", "wb")));
    EXPECT_FALSE(BioPtr(BIO_new_media_file("eTR2:\\", "rb")));
    BioPtr b(BIO_new(BIO_s_etoken_r2()));
    ASSERT_TRUE(b);
    ERR_clear_error();
    EXPECT_EQ(BIO_ctrl(b.get(), BIO_C_SET_FILENAME, 0, const_cast<char*>("eTR2:\\a001")), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_error()), TOKEN_R_BAD_OPEN_MODE);
    // A directory is no file to read.
    EXPECT_EQ(read("eTR2:\\3f00\\e007"), "<fail>");
}

TEST_F(ETokenR2Test, KeyStoreOnTheToken) {
    testing::KernelRandom random;
    struct CtxFree {
        void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
    };
    std::unique_ptr<PSE_CTX, CtxFree> made(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(made.get(), "eTR2:\\5000", 0), 1);
    ASSERT_EQ(PSE_CTX_set_password(made.get(), "pw", 0), 1);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    unsigned char kek[64];
    int kek_len = sizeof kek;
    ASSERT_EQ(PSE_CTX_get_kek(made.get(), kek, &kek_len), 1);
    EXPECT_TRUE(fs::exists(token(1) / "e007" / "5000" / "a001"));

    std::unique_ptr<PSE_CTX, CtxFree> opened(PSE_CTX_new());
    PSE_CTX_set_path(opened.get(), "eTR2:\\5000", 0);
    PSE_CTX_set_password(opened.get(), "pw", 0);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    unsigned char kek2[64];
    int kek2_len = sizeof kek2;
    ASSERT_EQ(PSE_CTX_get_kek(opened.get(), kek2, &kek2_len), 1);
    EXPECT_EQ(std::vector<unsigned char>(kek, kek + kek_len),
              std::vector<unsigned char>(kek2, kek2 + kek2_len));
    ASSERT_EQ(PSE_CTX_erase(opened.get()), 1);
    EXPECT_FALSE(fs::exists(token(1) / "e007" / "5000" / "a001"));
}

TEST_F(ETokenR2Test, ThreadsWriteAndReadTheirOwnFiles) {
    constexpr int kThreads = 6;
    std::vector<int> results(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            char path[32];
            std::snprintf(path, sizeof path, "eTR2:\\f000\\%04x", t + 1);
            const std::string text(100 + t * 37, static_cast<char>('a' + t));
            results[static_cast<std::size_t>(t)] = test::plain_rounds(path, text, 10) ? 1 : 0;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(results, std::vector<int>(kThreads, 1));
}

TEST_F(ETokenR2Test, WithoutTheLibraryEveryPathFails) {
    ETR2_unload();
    EXPECT_EQ(ETR2_driver_loaded(), 0);
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_ETR2), nullptr);
    EXPECT_EQ(write("eTR2:\\a001", "x"), 0);
    EXPECT_EQ(ETOKEN_file_mode("eTR2:\\3f00"), 0);
    test::TempDir empty;
    {
        test::ScopedModulePath path(empty.path().string());
        EXPECT_EQ(ETR2_load(), 0);
    }
    EXPECT_EQ(ETR2_driver_loaded(), 0);
}

}  // namespace
}  // namespace cadb
