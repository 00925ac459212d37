// Whole-file reads and writes of byte buffers ask a token for its PIN
// through the caller's callback and argument, not the process-wide one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "crypto/bio/rutoken.h"
#include "crypto/cadb/buffer.h"
#include "crypto/core/err.h"
#include "tests/drivers/token_fixture.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

int refusing_cb(char*, int, int, void*) { return -1; }

// Serves the PIN held in its argument and counts the calls.
struct Pin {
    const char* pin;
    int calls = 0;
};
int pin_cb(char* buf, int size, int, void* arg) {
    auto* p = static_cast<Pin*>(arg);
    ++p->calls;
    const int n = static_cast<int>(std::strlen(p->pin));
    if (n > size) return -1;
    std::memcpy(buf, p->pin, static_cast<std::size_t>(n));
    return n;
}

class BufferOnToken : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(root_.path().c_str(), "1234");
        fs::create_directories(root_.path() / "Aktiv Co. ruToken 0" / "token");
        RUTOKEN_set_passwd_cb(refusing_cb);
        ASSERT_EQ(RUTOKEN_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        RUTOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::Simulator sim_{"rtapilt"};
    test::TempDir root_;
};

TEST_F(BufferOnToken, CallersCallbackServesThePin) {
    BufferPtr data(BUFFER_fill("key store", -1));
    Pin pin{"1234"};
    ASSERT_EQ(BUFFER_write_file("ruToken 0:0001\\a0b1", data.get(), pin_cb, &pin), 9);
    EXPECT_GE(pin.calls, 1);
    pin.calls = 0;
    BufferPtr back(BUFFER_read_file("ruToken 0:0001\\a0b1", pin_cb, &pin));
    ASSERT_TRUE(back);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back->data), 9), "key store");
    EXPECT_GE(pin.calls, 1);
    // Without a callback of its own the process-wide one answers, and refuses.
    EXPECT_EQ(BUFFER_load_file("ruToken 0:0001\\a0b1"), nullptr);
    Pin wrong{"9999"};
    EXPECT_EQ(BUFFER_read_file("ruToken 0:0001\\a0b1", pin_cb, &wrong), nullptr);
}

}  // namespace
}  // namespace cadb
