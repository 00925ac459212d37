#include "crypto/bio/ikey.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken_fs.h"
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

struct IKeySim : test::SimModule {
    IKeySim() : SimModule("iKeyAPI") {
        bind(configure, "simConfigure");
        bind(busy, "simBusy");
        bind(lie, "simLie");
        bind(capacity, "simCapacity");
        bind(verifies, "simVerifies");
        bind(last_binary, "simLastBinaryPin");
        bind(deleted, "simDeletedContents");
        bind(open_contexts, "simOpenContexts");
    }
    bool ok() const {
        return configure && busy && lie && capacity && verifies && last_binary && deleted &&
               open_contexts;
    }
    std::vector<unsigned char> deleted_contents() const {
        std::vector<unsigned char> out(deleted(nullptr, 0));
        deleted(out.data(), out.size());
        return out;
    }
    void (*configure)(const char*, const char*, const unsigned char*) = nullptr;
    void (*busy)(int) = nullptr;
    void (*lie)(std::uint32_t, std::uint32_t) = nullptr;
    void (*capacity)(std::uint64_t) = nullptr;
    int (*verifies)() = nullptr;
    int (*last_binary)(unsigned char*) = nullptr;
    std::size_t (*deleted)(unsigned char*, std::size_t) = nullptr;
    int (*open_contexts)() = nullptr;
};

constexpr unsigned char kBinaryPin[4] = {0x34, 0x12, 0, 0};  // "1234" as a number

bool has_reason(int func, int reason) {
    bool found = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        found = found || (ERR_code_func(e) == func && ERR_code_reason(e) == reason);
    return found;
}

class IKeyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str(), "ikeypin", kBinaryPin);
        for (const char* d : {"0", "1", "2"}) fs::create_directories(root_.path() / d);
        ASSERT_EQ(IKEY_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        IKEY_unload();
        EXPECT_EQ(sim_.open_contexts(), 0);
        ERR_clear_error();
    }
    fs::path key(int n = 0) const { return root_.path() / std::to_string(n); }
    // Writes through a stream that gives its PIN.
    int write(const char* path, const std::string& text, const char* pin = "ikeypin",
              std::uint32_t flags = 0) {
        const std::uint32_t words = flags | 4;
        BioPtr b(BIO_new_media_file_ex(path, "wb", words, pin));
        if (!b) return 0;
        if (!text.empty() && BIO_write(b.get(), text.data(), static_cast<int>(text.size())) !=
                                 static_cast<int>(text.size()))
            return 0;
        return BIO_flush(b.get()) == 1 ? 1 : 0;
    }
    std::string read(const char* path, const char* pin = "ikeypin") {
        std::vector<char> buf(70000);
        const int n = CADB_read_file(path, buf.data(), static_cast<int>(buf.size()), 4, pin);
        return n < 0 ? std::string("<fail>") : std::string(buf.data(), static_cast<std::size_t>(n));
    }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    IKeySim sim_;
    test::TempDir root_;
};

TEST_F(IKeyTest, FilesAndOneDirectoryLevel) {
    EXPECT_EQ(BIO_media_kind("iKey:\\a001"), BIO_MEDIUM_IKEY);
    ASSERT_EQ(write("iKey:\\aaaa\\0001", "a longer first version"), 1);
    EXPECT_EQ(file_bytes(key() / "aaaa" / "0001").size(), 22u);
    EXPECT_EQ(read("iKey0:/aaaa/0001"), "a longer first version");
    ASSERT_EQ(write("iKey:\\aaaa\\0001", "shorter"), 1);
    // The old contents were overwritten with zeros before the file went.
    EXPECT_EQ(sim_.deleted_contents(), std::vector<unsigned char>(22, 0));
    // 7 bytes are read as 8.
    EXPECT_EQ(read("iKey:\\aaaa\\0001"), std::string("shorter\0", 8));
    EXPECT_EQ(CADB_file_size_ex("iKey:\\aaaa\\0001", 4, "ikeypin"), 8);
    ASSERT_EQ(write("iKey:\\b001", "root file"), 1);
    EXPECT_TRUE(fs::exists(key() / "b001"));
    EXPECT_EQ(IKEY_file_exists("iKey:\\b001"), 1);
    EXPECT_EQ(IKEY_file_exists("iKey:\\aaaa"), 1);
    EXPECT_EQ(IKEY_file_exists("iKey:\\b002"), 0);
    EXPECT_EQ(IsMediaDirectory("iKey:\\aaaa"), 1);
    // Three identifiers are one level too many.
    EXPECT_EQ(write("iKey:\\aaaa\\bbbb\\0001", "x"), 0);
    EXPECT_EQ(IKEY_file_exists("iKey:\\aaaa\\bbbb\\0001"), 0);
    // The master-key flag makes the new file protected.
    ASSERT_EQ(write("iKey:\\c001", "mk", "ikeypin", BIO_MEDIA_FLAG_MASTER_KEY), 1);
    EXPECT_TRUE(fs::exists(key() / "c001.protected"));
    EXPECT_FALSE(fs::exists(key() / "b001.protected"));
    ASSERT_EQ(CADB_erase_file("iKey:\\b001", 4, "ikeypin"), 1);
    EXPECT_FALSE(fs::exists(key() / "b001"));
}

TEST_F(IKeyTest, DeviceNumbersOpenContextsInOrder) {
    put_file(key(2) / "a001", "on the third key");
    EXPECT_EQ(read("iKey 2:\\a001"), std::string("on the third key"));
    EXPECT_EQ(sim_.open_contexts(), 3);
    EXPECT_EQ(read("iKey 7:\\a001"), "<fail>");  // no such key
    EXPECT_EQ(read("iKey 99:\\a001"), "<fail>");
    EXPECT_EQ(read("iKeyX:\\a001"), "<fail>");
    // A key that went away leaves the table; the next one moves up.
    fs::remove_all(key(0));
    EXPECT_EQ(read("iKey 1:\\a001"), std::string("on the third key"));
    // A busy key is asked again.
    IKEY_unload();
    ASSERT_EQ(IKEY_load(), 1);
    sim_.busy(3);
    EXPECT_EQ(read("iKey 1:\\a001"), std::string("on the third key"));
}

int pin_cb_text(char* buf, int size, int, void*) {
    if (size < 7) return -1;
    std::memcpy(buf, "ikeypin", 7);
    return 7;
}
int pin_cb_hex(char* buf, int, int, void*) {
    std::memcpy(buf, "1234", 4);
    return 4;
}
int pin_cb_12(char* buf, int size, int, void*) {
    std::memset(buf, 'x', static_cast<std::size_t>(size));
    return 12;
}
int pin_cb_9(char* buf, int, int, void*) {
    std::memcpy(buf, "123456789", 9);
    return 9;
}

TEST_F(IKeyTest, LoginsByTextByNumberAndRefusals) {
    put_file(key() / "d001", "data");
    const auto read_with = [&](pem_password_cb* cb) {
        // A fresh context: no login left from before.
        IKEY_unload();
        if (IKEY_load() != 1) return std::string("<noload>");
        BioPtr b(BIO_new(BIO_s_ikey()));
        if (!b) return std::string("<nobio>");
        BIO_ctrl(b.get(), BIO_C_SET_TOKEN_PASSWD_CB, 0, reinterpret_cast<void*>(cb));
        if (BIO_ctrl(b.get(), BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ,
                     const_cast<char*>("iKey:\\d001")) != 1)
            return std::string("<fail>");
        char out[16] = {};
        const int n = BIO_read(b.get(), out, sizeof out);
        return std::string(out, static_cast<std::size_t>(n < 0 ? 0 : n));
    };
    EXPECT_EQ(read_with(pin_cb_text), "data");
    // Refused as text, the PIN is tried as a number.
    const int before = sim_.verifies();
    EXPECT_EQ(read_with(pin_cb_hex), "data");
    EXPECT_EQ(sim_.verifies() - before, 2);
    unsigned char bytes[4];
    ASSERT_EQ(sim_.last_binary(bytes), 1);
    EXPECT_EQ(std::vector<unsigned char>(bytes, bytes + 4), std::vector<unsigned char>(kBinaryPin, kBinaryPin + 4));
    // Twelve characters fail before the key is asked.
    const int again = sim_.verifies();
    ERR_clear_error();
    EXPECT_EQ(read_with(pin_cb_12), "<fail>");
    EXPECT_EQ(sim_.verifies(), again);
    EXPECT_TRUE(has_reason(IKSDK_F_LOGIN, TOKEN_R_PIN_TOO_LONG));
    // Nine characters refused as text are not tried as a number.
    ERR_clear_error();
    EXPECT_EQ(read_with(pin_cb_9), "<fail>");
    EXPECT_TRUE(has_reason(IKSDK_F_LOGIN, TOKEN_R_PIN_TOO_LONG));
    // A wrong PIN.
    ERR_clear_error();
    EXPECT_FALSE(BioPtr(BIO_new_media_file_ex("iKey:\\d001", "rb", 4, "wrong")));
    EXPECT_EQ(ERR_get_last_error(), TOKEN_STATUS_PIN_REFUSED);
    EXPECT_TRUE(has_reason(IKSDK_F_LOGIN, TOKEN_R_LOGIN_FAILED));
}

TEST_F(IKeyTest, FaultsAreReportedAsErrors) {
    // Full: the file is not made.
    sim_.capacity(4);
    EXPECT_EQ(write("iKey:\\e001", "too long for it"), 0);
    EXPECT_FALSE(fs::exists(key() / "e001"));
    sim_.capacity(~0ULL);
    // Sizes beyond the file, counts beyond what was asked for.
    put_file(key() / "e002", "abcd");
    sim_.lie(4, 0);
    EXPECT_EQ(read("iKey:\\e002"), "<fail>");
    sim_.lie(0x10000, 0);
    EXPECT_EQ(read("iKey:\\e002"), "<fail>");
    sim_.lie(0, 3);
    EXPECT_EQ(read("iKey:\\e002"), "<fail>");
    sim_.lie(0, 0);
    EXPECT_EQ(read("iKey:\\e002"), "abcd");
    // More than a file holds is refused at the write.
    EXPECT_EQ(write("iKey:\\e003", std::string(0x10000, 'x')), 0);
    // No key at all.
    fs::remove_all(key(0));
    fs::remove_all(key(1));
    fs::remove_all(key(2));
    EXPECT_EQ(write("iKey:\\e004", "x"), 0);
    EXPECT_EQ(read("iKey:\\e002"), "<fail>");
    // Bad modes and paths.
    BioPtr b(BIO_new(BIO_s_ikey()));
    ASSERT_TRUE(b);
    ERR_clear_error();
    EXPECT_EQ(BIO_ctrl(b.get(), BIO_C_SET_FILENAME, 0, const_cast<char*>("iKey:\\a001")), 0);
    EXPECT_TRUE(has_reason(103, TOKEN_R_BAD_OPEN_MODE));
}

TEST_F(IKeyTest, ModesAndLines) {
    put_file(key() / "f001", "one\r\ntwo\n");
    BioPtr r(BIO_new_media_file_ex("iKey:\\f001", "rb", 4, "ikeypin"));
    ASSERT_TRUE(r);
    EXPECT_EQ(BIO_write(r.get(), "x", 1), -1);
    char line[8];
    EXPECT_EQ(BIO_gets(r.get(), line, sizeof line), 4);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(BIO_gets(r.get(), line, 3), 2);  // bounded by the caller's room
    EXPECT_STREQ(line, "tw");
    r.reset();
    BioPtr w(BIO_new_media_file_ex("iKey:\\f002", "wb", 4, "ikeypin"));
    ASSERT_TRUE(w);
    EXPECT_EQ(BIO_read(w.get(), line, 1), -1);
    EXPECT_EQ(BIO_puts(w.get(), "put"), 3);
    w.reset();
    EXPECT_EQ(file_bytes(key() / "f002"), (std::vector<unsigned char>{'p', 'u', 't'}));
}

TEST_F(IKeyTest, StreamsOfThreadsFollowOneAnother) {
    constexpr int kThreads = 4;
    std::vector<int> results(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            char path[32];
            std::snprintf(path, sizeof path, "iKey:\\1000\\%04x", t + 1);
            const std::string text(40 + t * 2, static_cast<char>('a' + t));
            int ok = 1;
            for (int round = 0; round < 6 && ok; ++round) {
                ok = write(path, text);
                ok = ok && read(path) == text;
            }
            results[static_cast<std::size_t>(t)] = ok;
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(results, std::vector<int>(kThreads, 1));
}

TEST_F(IKeyTest, AStreamFreedOnAnotherThreadLetsTheNextOneOpen) {
    // The maker stays alive while its stream is freed elsewhere, so that a
    // lock still owned by it could not be taken over by a new thread.
    std::promise<BIO*> made;
    std::promise<void> finish;
    std::thread maker([&] {
        made.set_value(BIO_new(BIO_s_ikey()));
        finish.get_future().wait();
    });
    BIO* stream = made.get_future().get();
    ASSERT_NE(stream, nullptr);
    std::thread([stream] { BIO_free(stream); }).join();
    // The next stream, on a third thread. A lock left held would keep it
    // waiting for ever: the bound only keeps the test from hanging.
    auto opened = std::make_shared<std::promise<bool>>();
    std::future<bool> result = opened->get_future();
    std::thread([opened] {
        BIO* next = BIO_new(BIO_s_ikey());
        opened->set_value(next != nullptr);
        BIO_free(next);
    }).detach();
    const bool in_time = result.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    finish.set_value();
    maker.join();
    ASSERT_TRUE(in_time);
    EXPECT_TRUE(result.get());
    // And the maker's own thread is not needed to read and write.
    EXPECT_EQ(write("iKey:\\0001", "after!"), 1);
    EXPECT_EQ(read("iKey:\\0001"), "after!");
}

TEST_F(IKeyTest, KeyStoreOnAKey) {
    testing::KernelRandom random;
    struct CtxFree {
        void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
    };
    const char* pin = "ikeypin";
    std::unique_ptr<PSE_CTX, CtxFree> made(PSE_CTX_new());
    ASSERT_EQ(PSE_CTX_set_path(made.get(), "iKey:\\5000", 0), 1);
    ASSERT_EQ(PSE_CTX_set_password(made.get(), "pw", 0), 1);
    ASSERT_EQ(PSE_CTX_set_media_words(made.get(), 4, pin, 8), 1);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    EXPECT_TRUE(fs::exists(key() / "5000" / "a001"));
    // The master-key file is protected.
    EXPECT_TRUE(fs::exists(key() / "5000" / "a001.protected"));
    unsigned char kek[64];
    int kek_len = sizeof kek;
    ASSERT_EQ(PSE_CTX_get_kek(made.get(), kek, &kek_len), 1);
    std::unique_ptr<PSE_CTX, CtxFree> opened(PSE_CTX_new());
    PSE_CTX_set_path(opened.get(), "iKey:\\5000", 0);
    PSE_CTX_set_password(opened.get(), "pw", 0);
    PSE_CTX_set_media_words(opened.get(), 4, pin, 8);
    ASSERT_EQ(PSE_CTX_read(opened.get()), 1);
    unsigned char kek2[64];
    int kek2_len = sizeof kek2;
    ASSERT_EQ(PSE_CTX_get_kek(opened.get(), kek2, &kek2_len), 1);
    EXPECT_EQ(std::vector<unsigned char>(kek, kek + kek_len),
              std::vector<unsigned char>(kek2, kek2 + kek2_len));
}

TEST_F(IKeyTest, WithoutTheDriverIKeyPathsAreDiskPaths) {
    IKEY_unload();
    EXPECT_EQ(BIO_media_kind("iKey:\\a001"), BIO_MEDIUM_DISK);
    EXPECT_EQ(IKEY_file_exists("iKey:\\a001"), 0);
    test::TempDir empty;
    test::ScopedModulePath path(empty.path().string());
    EXPECT_EQ(IKEY_load(), 0);
    EXPECT_EQ(IKEY_loaded(), 0);
}

}  // namespace
}  // namespace cadb
