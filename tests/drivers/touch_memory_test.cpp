#include "crypto/bio/touch_memory.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
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

struct IbfsSim : test::SimModule {
    IbfsSim() : SimModule("ibfs32") {
        bind(configure, "simConfigure");
        bind(busy, "simBusy");
        bind(lie, "simLie");
        bind(capacity, "simCapacity");
        bind(fail_job, "simFailJob");
        bind(setups, "simSetups");
        bind(open_sessions, "simOpenSessions");
    }
    bool ok() const {
        return configure && busy && lie && capacity && fail_job && setups && open_sessions;
    }
    void (*configure)(const char*) = nullptr;
    void (*busy)(int) = nullptr;
    void (*lie)(short) = nullptr;
    void (*capacity)(std::uint64_t) = nullptr;
    void (*fail_job)(int) = nullptr;
    int (*setups)() = nullptr;
    int (*open_sessions)() = nullptr;
};

std::map<std::string, std::string> g_registry;
int registry_reader(const char* key, const char* name, char* out, int size) {
    if (std::string(key) != "Software\\Dallas Semiconductor\\iButton TMEX\\3.00") return 0;
    const auto it = g_registry.find(name);
    if (it == g_registry.end() || static_cast<int>(it->second.size()) >= size) return 0;
    std::memcpy(out, it->second.c_str(), it->second.size() + 1);
    return 1;
}

class TouchMemoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str());
        fs::create_directories(root_.path() / "COM3" / "button");
        fs::create_directories(root_.path() / "LPT1" / "button");
        g_registry.clear();
        TM_set_registry_reader(registry_reader);
        TM_unload();  // forgets the ports of earlier tests
        ASSERT_EQ(TM_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        EXPECT_EQ(sim_.open_sessions(), 0);  // every operation ended its session
        TM_set_registry_reader(nullptr);
        ERR_clear_error();
    }
    fs::path button(const char* port = "COM3") const { return root_.path() / port / "button"; }
    int write(const char* path, const std::string& text) { return test::write_plain(path, text); }
    std::string read(const char* path) { return test::read_plain(path, 10000); }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    IbfsSim sim_;
    test::TempDir root_;
};

TEST_F(TouchMemoryTest, WritesCreateDirectoriesAndReadBackExactly) {
    ASSERT_EQ(write("iButton:\\keys\\key .001", "first, the longer version"), 1);
    // The directory is made upper-case; the file keeps the path's case.
    EXPECT_EQ(file_bytes(button() / "KEYS" / "key.001").size(), 25u);
    EXPECT_EQ(read("iButton:/keys/key .001"), "first, the longer version");
    EXPECT_EQ(read("ibutton:\\KEYS\\KEY .001"), "first, the longer version");
    ASSERT_EQ(write("iButton:\\keys\\key .001", "short"), 1);
    EXPECT_EQ(read("iButton:\\keys\\key .001"), "short");
    EXPECT_EQ(CADB_file_size("iButton:\\keys\\key .001"), 5);
    EXPECT_EQ(TM_file_exists("iButton:\\keys\\key .001"), 1);
    EXPECT_EQ(TM_file_exists("iButton:\\keys\\key .002"), 0);
    // Five characters make no file name.
    EXPECT_EQ(TM_file_exists("iButton:\\keys\\keyss.001"), 0);
    EXPECT_EQ(write("iButton:\\keys\\keyss.001", "x"), 0);
    // Deleting a missing file succeeds; erase removes the file.
    EXPECT_EQ(TM_delete_path("iButton:\\keys\\gone.001"), 1);
    ASSERT_EQ(CADB_erase_file_plain("iButton:\\keys\\key .001"), 1);
    EXPECT_FALSE(fs::exists(button() / "KEYS" / "key.001"));
}

TEST_F(TouchMemoryTest, PortsAreScannedOnceAndRegistryDefaultsHonoured) {
    // No defaults: serial ports 1 to 15 first; the first that answers is
    // remembered.
    ASSERT_EQ(write("iButton:\\a.001", "x"), 1);
    EXPECT_TRUE(fs::exists(button("COM3") / "a.001"));
    const int setups = sim_.setups();
    ASSERT_EQ(write("iButton:\\b.001", "y"), 1);
    EXPECT_EQ(sim_.setups(), setups);
    // Defaults name the parallel port.
    TM_unload();
    ASSERT_EQ(TM_load(), 1);
    g_registry = {{"DefaultPortNum", "1"}, {"DefaultPortType", "2"}};
    ASSERT_EQ(write("iButton:\\c.001", "z"), 1);
    EXPECT_TRUE(fs::exists(button("LPT1") / "c.001"));
    // A port number of 16 is no default: the scan takes over.
    TM_unload();
    ASSERT_EQ(TM_load(), 1);
    g_registry = {{"DefaultPortNum", "16"}, {"DefaultPortType", "2"}};
    ASSERT_EQ(write("iButton:\\d.001", "w"), 1);
    EXPECT_TRUE(fs::exists(button("COM3") / "d.001"));
    // A busy port is tried again.
    sim_.busy(5);
    EXPECT_EQ(read("iButton:\\d.001"), "w");
}

TEST_F(TouchMemoryTest, StreamControlsAndLines) {
    put_file(button() / "KEYS" / "txt.002", "one\r\ntwo\n");
    BioPtr r(BIO_new_media_file("iButton:\\keys\\txt .002", "rb"));
    ASSERT_TRUE(r);
    char line[32];
    EXPECT_EQ(BIO_gets(r.get(), line, sizeof line), 4);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_IBUTTON)->open_size(r.get()), 9);
    EXPECT_EQ(BIO_ctrl(r.get(), BIO_CTRL_GET_CLOSE, 0, nullptr), 1);
    EXPECT_EQ(BIO_ctrl(r.get(), 4, 1, line), 0);  // a foreign state is not taken
    r.reset();
    // The file is written at the flush, which reports the outcome.
    BioPtr w(BIO_new_media_file("iButton:\\keys\\new .003", "wb"));
    ASSERT_TRUE(w);
    EXPECT_EQ(BIO_puts(w.get(), "abc"), 3);
    EXPECT_FALSE(fs::exists(button() / "KEYS" / "new.003"));
    EXPECT_EQ(BIO_flush(w.get()), 1);
    EXPECT_EQ(file_bytes(button() / "KEYS" / "new.003"), (std::vector<unsigned char>{'a', 'b', 'c'}));
    EXPECT_EQ(BIO_write(w.get(), "late", 4), -1);
}

TEST_F(TouchMemoryTest, ListsADirectory) {
    put_file(button() / "KEYS" / "mk.001", "1");
    put_file(button() / "KEYS" / "rand.001", "22");
    fs::create_directories(button() / "KEYS" / "SUB");
    std::vector<std::string> names;
    ASSERT_EQ(CADB_walk_dir("iButton:\\keys", CADB_WALK_DIRECTORIES,
                            [](const char* name, void* arg) {
                                static_cast<std::vector<std::string>*>(arg)->push_back(name);
                                return 1;
                            },
                            &names),
              1);
    // In the button's order.
    EXPECT_EQ(names, (std::vector<std::string>{"iButton:\\keys\\SUB", "iButton:\\keys\\mk.001",
                                               "iButton:\\keys\\rand.001"}));
    names.clear();
    EXPECT_EQ(CADB_walk_dir("iButton:\\none", 0, [](const char*, void*) { return 1; }, &names), 0);
}

TEST_F(TouchMemoryTest, FaultsAreReportedAsErrors) {
    // No button on any port.
    fs::remove_all(button("COM3"));
    fs::remove_all(button("LPT1"));
    ERR_clear_error();
    EXPECT_EQ(write("iButton:\\a.001", "x"), 0);
    EXPECT_EQ(ERR_code_func(ERR_peek_error()), TM_F_COMMIT);
    EXPECT_EQ(read("iButton:\\a.001"), "<fail>");
    fs::create_directories(button("COM3"));
    // Full.
    sim_.capacity(4);
    EXPECT_EQ(write("iButton:\\b.001", "too long"), 0);
    EXPECT_FALSE(fs::exists(button() / "b.001"));
    sim_.capacity(~0ULL);
    // The program job not written: nothing reaches the button.
    sim_.fail_job(1);
    EXPECT_EQ(write("iButton:\\c.001", "job"), 0);
    EXPECT_FALSE(fs::exists(button() / "c.001"));
    sim_.fail_job(0);
    // A file longer than one read is an error, not read short.
    put_file(button() / "big.001", std::string(8193, 'b'));
    EXPECT_EQ(read("iButton:\\big.001"), "<fail>");
    put_file(button() / "max.001", std::string(8192, 'm'));
    EXPECT_EQ(read("iButton:\\max.001"), std::string(8192, 'm'));
    // A count beyond what was asked for.
    put_file(button() / "lie.001", "abc");
    sim_.lie(9000);
    EXPECT_EQ(read("iButton:\\lie.001"), "<fail>");
    sim_.lie(0);
    // More than a read brings back is not written.
    EXPECT_EQ(write("iButton:\\huge.001", std::string(8193, 'h')), 0);
    // Ports that do not parse.
    EXPECT_FALSE(BioPtr(BIO_new_media_file("iButton\\a.001", "rb")));
}

TEST_F(TouchMemoryTest, KeyStoreOnAButton) {
    testing::KernelRandom random;
    struct CtxFree {
        void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
    };
    std::unique_ptr<PSE_CTX, CtxFree> made(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(made.get(), "iButton:\\ks", 0), 1);
    ASSERT_EQ(PSE_CTX_set_password(made.get(), "pw", 0), 1);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    EXPECT_TRUE(fs::exists(button() / "KS" / "mk.001"));
    unsigned char kek[64];
    int kek_len = sizeof kek;
    ASSERT_EQ(PSE_CTX_get_kek(made.get(), kek, &kek_len), 1);
    std::unique_ptr<PSE_CTX, CtxFree> opened(PSE_CTX_new());
    PSE_CTX_set_path(opened.get(), "iButton:\\ks", 0);
    PSE_CTX_set_password(opened.get(), "pw", 0);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    unsigned char kek2[64];
    int kek2_len = sizeof kek2;
    ASSERT_EQ(PSE_CTX_get_kek(opened.get(), kek2, &kek2_len), 1);
    EXPECT_EQ(std::vector<unsigned char>(kek, kek + kek_len),
              std::vector<unsigned char>(kek2, kek2 + kek2_len));
}

TEST_F(TouchMemoryTest, ThreadsShareTheButton) {
    constexpr int kThreads = 6;
    std::vector<int> results(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            char path[32];
            std::snprintf(path, sizeof path, "iButton:\\thr\\f%d.001", t);
            const std::string text(50 + t * 31, static_cast<char>('a' + t));
            results[static_cast<std::size_t>(t)] = test::plain_rounds(path, text, 8) ? 1 : 0;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(results, std::vector<int>(kThreads, 1));
}

TEST_F(TouchMemoryTest, WithoutTheLibraryPathsFailAndStartUpGoesOn) {
    TM_unload();
    EXPECT_EQ(BIO_media_driver(BIO_MEDIUM_IBUTTON), nullptr);
    EXPECT_EQ(write("iButton:\\a.001", "x"), 0);
    test::TempDir empty;
    test::ScopedModulePath path(empty.path().string());
    EXPECT_EQ(TM_load(), vendor::kTmMissingEntry);
    EXPECT_EQ(TM_init(), 1);
    EXPECT_EQ(TM_loaded(), 0);
}

}  // namespace
}  // namespace cadb
