#include "crypto/rand/boards.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rand/rand.h"
#include "platform/module.h"
#include "tests/rand/fake_source.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

// Sets (or, with null, removes) an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// A stand-in vendor library, held open by the test so that its controls
// reach the same copy the board loads.
class StandIn {
  public:
    explicit StandIn(const char* name)
        : handle_(dlopen((std::string(CADB_TEST_MODULES_DIR) + "/lib" + name + ".so").c_str(),
                         RTLD_NOW | RTLD_LOCAL)) {
        if (handle_) control<void (*)(std::uint64_t)>("fakeReset")(kSeed);
    }
    ~StandIn() {
        if (handle_) dlclose(handle_);
    }
    bool loaded() const { return handle_ != nullptr; }
    template <class Fn>
    Fn control(const char* entry) {
        return reinterpret_cast<Fn>(dlsym(handle_, entry));
    }
    void fail_next(int n) { control<void (*)(int)>("fakeFailNext")(n); }

    // The bytes the stand-in produces, from the start of its stream.
    static std::vector<unsigned char> expected(std::size_t n) {
        std::vector<unsigned char> v((n + 7) / 8 * 8);
        std::uint64_t x = kSeed;
        fake::fill_good(x, v.data(), v.size());
        v.resize(n);
        return v;
    }

  private:
    static constexpr std::uint64_t kSeed = 42;
    void* handle_;
};

class BoardTest : public fake::LayerTest {
  protected:
    void TearDown() override {
        for (int code : RAND_default_board_list) {
            if (const RAND_METHOD* m = RAND_get_board_method(code)) m->cleanup();
        }
        fake::LayerTest::TearDown();
    }
};

class StandInBoardTest : public BoardTest {
  protected:
    ScopedEnv path_{kModulePathEnv, CADB_TEST_MODULES_DIR};
};

CRYPTON_INIT_ARG crypton_arg(std::uint32_t flags) { return {0, flags}; }

TEST_F(BoardTest, AbsentVendorLibrariesFailCleanly) {
    ScopedEnv path(kModulePathEnv, nullptr);
    const struct {
        const RAND_METHOD* m;
        int init_func;
        int bytes_func;
    } boards[] = {
        {CRYPTON_get_rand_method(), GRAND_F_CRYPTON_RAND_INIT, GRAND_F_CRYPTON_RAND_BYTES},
        {ACCORD_get_rand_method(), GRAND_F_ACCORD_RAND_INIT, GRAND_F_ACCORD_RAND_BYTES},
        {SABLE_get_rand_method(), GRAND_F_SABLE_RAND_INIT, GRAND_F_SABLE_RAND_BYTES},
    };
    auto arg = crypton_arg(CRYPTON_DEFAULT_FLAGS);
    for (const auto& b : boards) {
        unsigned char buf[32] = {};
        EXPECT_EQ(b.m->init(nullptr, &arg), 0);
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(74, b.init_func, 12));
        EXPECT_EQ(b.m->status(), 0);
        EXPECT_EQ(b.m->bytes(buf, sizeof buf), 0);
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(74, b.bytes_func, 12));

        // Through the layer: not ready, no bytes, released on request.
        RAND_set_rand_method(b.m);
        EXPECT_EQ(RAND_init(nullptr, &arg), 0);
        EXPECT_EQ(RAND_status(), 0);
        EXPECT_EQ(RAND_bytes(buf, sizeof buf), 0);
        EXPECT_EQ(RAND_cleanup(), 1);
        ERR_clear_error();
    }
}

TEST_F(BoardTest, AVendorLibraryWithoutTheEntriesIsUnusable) {
    // Any shared object will do as an impostor: the compression library.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&zlibVersion), &info), 0);
    const fs::path dir = fs::temp_directory_path() / ("cadb-impostor-" + std::to_string(getpid()));
    fs::create_directories(dir);
    for (const char* name : {"libsccrptn.so", "libtmdrv32.so", "libsnellock.so"})
        fs::copy_file(info.dli_fname, dir / name, fs::copy_options::overwrite_existing);
    {
        ScopedEnv path(kModulePathEnv, dir.c_str());
        auto arg = crypton_arg(CRYPTON_DEFAULT_FLAGS);
        EXPECT_EQ(CRYPTON_get_rand_method()->init(nullptr, &arg), 0);
        EXPECT_EQ(ACCORD_get_rand_method()->init(nullptr, nullptr), 0);
        EXPECT_EQ(SABLE_get_rand_method()->init(nullptr, nullptr), 0);
    }
    fs::remove_all(dir);
}

TEST_F(BoardTest, KernelSourceServesDraws) {
    ScopedEnv off(kNoOsRandomEnv, nullptr);
    const RAND_METHOD* os = RAND_get_board_method(RAND_BOARD_OS);
    ASSERT_EQ(os, OS_get_rand_method());
    RAND_set_rand_method(os);
    EXPECT_EQ(RAND_status(), 0);
    ASSERT_EQ(RAND_init(nullptr, nullptr), 1);
    EXPECT_EQ(RAND_status(), 1);
    std::vector<unsigned char> a(RAND_STAT_BLOCK_SIZE), b(RAND_STAT_BLOCK_SIZE);
    ASSERT_EQ(RAND_bytes(a.data(), RAND_STAT_BLOCK_SIZE), RAND_STAT_BLOCK_SIZE);
    ASSERT_EQ(RAND_bytes(b.data(), RAND_STAT_BLOCK_SIZE), RAND_STAT_BLOCK_SIZE);
    EXPECT_NE(a, b);
    // Good random blocks fail the statistical tests about once in a thousand:
    // one of two passing is what a working source shows.
    EXPECT_TRUE(RAND_statistical_test(a.data(), 0) || RAND_statistical_test(b.data(), 0));
    RAND_BOARD_INFO info{};
    EXPECT_EQ(os->info(&info), 1);
    EXPECT_EQ(info.board, static_cast<std::uint32_t>(RAND_BOARD_OS));
    EXPECT_EQ(RAND_cleanup(), 1);
    EXPECT_EQ(os->status(), 0);
}

TEST_F(BoardTest, SwitchKeepsTheKernelSourceOff) {
    const RAND_METHOD* os = OS_get_rand_method();
    {
        ScopedEnv off(kNoOsRandomEnv, "1");
        EXPECT_EQ(os->init(nullptr, nullptr), 0);
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(69, RAND_F_OS_RAND_INIT, 12));
        EXPECT_EQ(os->status(), 0);
        unsigned char buf[8];
        EXPECT_EQ(os->bytes(buf, sizeof buf), 0);
    }
    for (const char* on : {"0", ""}) {
        ScopedEnv off(kNoOsRandomEnv, on);
        EXPECT_EQ(os->init(nullptr, nullptr), 1) << '"' << on << '"';
        os->cleanup();
    }
}

// The start-up walk over the board list: the first board that starts and
// draws wins. Here that is the kernel, unless it is switched off.
int first_ready_board() {
    auto arg = crypton_arg(CRYPTON_DEFAULT_FLAGS);
    for (const int* code = RAND_default_board_list; *code != 0; ++code) {
        RAND_set_rand_method(RAND_get_board_method(*code));
        unsigned char out[32];
        if (RAND_init(nullptr, &arg) && RAND_bytes(out, sizeof out) == sizeof out) return *code;
        RAND_cleanup();
    }
    return 0;
}

TEST_F(BoardTest, BoardListFallsThroughToTheKernel) {
    ScopedEnv path(kModulePathEnv, nullptr);
    {
        ScopedEnv off(kNoOsRandomEnv, nullptr);
        EXPECT_EQ(first_ready_board(), RAND_BOARD_OS);
        RAND_cleanup();
    }
    ScopedEnv off(kNoOsRandomEnv, "yes");
    EXPECT_EQ(first_ready_board(), 0);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(RAND_get_board_method(2), nullptr);
    EXPECT_EQ(RAND_get_board_method(0), nullptr);
}

TEST_F(StandInBoardTest, CryptonDeliversAfterFourFailedRefills) {
    StandIn lib("sccrptn");
    ASSERT_TRUE(lib.loaded());
    const RAND_METHOD* m = CRYPTON_get_rand_method();
    auto arg = crypton_arg(CRYPTON_DEFAULT_FLAGS);
    ASSERT_EQ(m->init(nullptr, &arg), 1);
    EXPECT_EQ(m->status(), 1);
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 1);

    lib.fail_next(4);
    std::vector<unsigned char> got(700);
    ASSERT_EQ(m->bytes(got.data(), 700), 700);
    EXPECT_EQ(got, StandIn::expected(700));
    // Flag 8 asks for the controlled generator: 4 failures, then 2 refills.
    EXPECT_EQ(lib.control<int (*)(int)>("fakeCalls")(1), 6);
    EXPECT_EQ(lib.control<int (*)(int)>("fakeCalls")(0), 0);

    // 324 bytes are left in the buffer; the fifth failed refill fails.
    lib.fail_next(5);
    EXPECT_EQ(m->bytes(got.data(), 400), 324);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(74, GRAND_F_CRYPTON_RAND_BYTES, 12));

    RAND_BOARD_INFO info{};
    ASSERT_EQ(m->info(&info), 1);
    EXPECT_EQ(info.board, 1u);
    EXPECT_EQ(info.type, 7u);
    EXPECT_EQ(info.version, 0x0203u);
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 1);

    EXPECT_EQ(m->cleanup(), 1);
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 0);
    EXPECT_EQ(lib.control<int (*)()>("fakeLibStarts")(), 0);
    EXPECT_EQ(m->status(), 0);
}

TEST_F(StandInBoardTest, CryptonServiceChoice) {
    StandIn lib("sccrptn");
    ASSERT_TRUE(lib.loaded());
    const RAND_METHOD* m = CRYPTON_get_rand_method();
    // No service flag and no service opened before: nothing to draw from.
    auto none = crypton_arg(0);
    EXPECT_EQ(m->init(nullptr, &none), 0);
    EXPECT_EQ(m->init(nullptr, nullptr), 0);
    EXPECT_EQ(lib.control<int (*)()>("fakeLibStarts")(), 0);

    lib.control<void (*)(int)>("fakeRefuseService")(1);
    auto hw = crypton_arg(CRYPTON_HARDWARE_SERVICE);
    EXPECT_EQ(m->init(nullptr, &hw), 0);
    lib.control<void (*)(int)>("fakeRefuseService")(0);

    // Without flag 8 the plain generator serves.
    auto light = crypton_arg(CRYPTON_LIGHT_SERVICE);
    ASSERT_EQ(m->init(nullptr, &light), 1);
    unsigned char buf[16];
    ASSERT_EQ(m->bytes(buf, sizeof buf), 16);
    EXPECT_EQ(lib.control<int (*)(int)>("fakeCalls")(0), 1);
    // Starting again keeps the service opened before.
    ASSERT_EQ(m->init(nullptr, &none), 1);
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 1);
    m->cleanup();
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 0);
}

TEST_F(StandInBoardTest, CryptonThroughTheLayer) {
    StandIn lib("sccrptn");
    ASSERT_TRUE(lib.loaded());
    RAND_set_rand_method(CRYPTON_get_rand_method());
    auto arg = crypton_arg(CRYPTON_DEFAULT_FLAGS);
    ASSERT_EQ(RAND_init(nullptr, &arg), 1);
    std::vector<unsigned char> got(64);
    ASSERT_EQ(RAND_bytes(got.data(), 64), 64);
    // After the power-up block, the caller's bytes.
    const auto expected = StandIn::expected(RAND_STAT_BLOCK_SIZE + 64);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.begin() + RAND_STAT_BLOCK_SIZE));
    RAND_set_rand_method(nullptr);
    EXPECT_EQ(lib.control<int (*)()>("fakeOpenServices")(), 0);
}

TEST_F(StandInBoardTest, AccordNeedsThePresentDevice) {
    StandIn lib("tmdrv32");
    ASSERT_TRUE(lib.loaded());
    const RAND_METHOD* m = ACCORD_get_rand_method();
    lib.control<void (*)(int)>("fakeDevicePresent")(0);
    EXPECT_EQ(m->init(nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(74, GRAND_F_ACCORD_RAND_INIT, 12));
    lib.control<void (*)(int)>("fakeDevicePresent")(1);
    ASSERT_EQ(m->init(nullptr, nullptr), 1);

    lib.fail_next(4);
    std::vector<unsigned char> got(100);
    ASSERT_EQ(m->bytes(got.data(), 100), 100);
    EXPECT_EQ(got, StandIn::expected(100));
    lib.fail_next(5);
    EXPECT_EQ(m->bytes(got.data(), 100), 28);

    RAND_BOARD_INFO info{};
    ASSERT_EQ(m->info(&info), 1);
    EXPECT_EQ(info.board, 3u);
    EXPECT_EQ(info.type, 0x33u);
    EXPECT_EQ(info.version, 0x0105u);
}

TEST_F(StandInBoardTest, SableNeedsTheCard) {
    StandIn lib("snellock");
    ASSERT_TRUE(lib.loaded());
    const RAND_METHOD* m = SABLE_get_rand_method();
    EXPECT_EQ(m->info, nullptr);
    lib.control<void (*)(int)>("fakeCardPresent")(0);
    EXPECT_EQ(m->init(nullptr, nullptr), 0);
    lib.control<void (*)(int)>("fakeCardPresent")(1);
    ASSERT_EQ(m->init(nullptr, nullptr), 1);
    lib.fail_next(4);
    std::vector<unsigned char> got(40);
    ASSERT_EQ(m->bytes(got.data(), 40), 40);
    EXPECT_EQ(got, StandIn::expected(40));
}

}  // namespace
}  // namespace cadb
