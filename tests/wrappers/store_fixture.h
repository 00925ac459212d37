// Key stores on scratch drives, a generator that seeds from the stand-in's
// events, and the stand-in dialog library.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <memory>
#include <optional>

#include "crypto/core/err.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/pse_ctx.h"
#include "tests/support/kernel_random.h"
#include "tests/wrappers/standin.h"
#include "wrappers/ui_binding.h"

namespace cadb::testing {

// Cycle counts whose low bits are balanced, so that a seeding reaches its
// quality with the events asked for.
inline std::uint32_t balanced_cycles() {
    static std::uint64_t x = 7;
    static std::uint32_t last = 0;
    static bool odd = false;
    odd = !odd;
    if (!odd) return ~last;
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    last = static_cast<std::uint32_t>(z ^ (z >> 31));
    return last;
}
inline void no_sleep(unsigned) {}
inline const GRAND_TIME_SOURCE kBalancedClock{nullptr, balanced_cycles, no_sleep};

class StoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = scratch_dir("store");
        for (char d : std::string("abcde")) {
            fs::create_directories(dir_ / std::string(1, d));
            const std::string var = std::string("CADB_DRIVE_") + static_cast<char>(d - 32);
            setenv(var.c_str(), (dir_ / std::string(1, d)).c_str(), 1);
        }
        fs::create_directories(dir_ / "modules-none");
        GRAND_set_time_source(&kBalancedClock);
        PSE_rand_cleanup();
        previous_ = SetCurrentUI(&GlobalUI());
        ui_.emplace(dir_);
    }
    void TearDown() override {
        ui_.reset();
        SetCurrentUI(previous_);
        PSE_rand_cleanup();
        GRAND_set_seed_routine(GRAND_keyboard_seed);
        GRAND_set_time_source(nullptr);
        LoadUIString(nullptr, -1);
        ERR_clear_error();
        for (char d : std::string("ABCDE")) unsetenv((std::string("CADB_DRIVE_") + d).c_str());
        fs::remove_all(dir_);
    }
    // A complete store made with the kernel's source; the generator is
    // stopped again afterwards.
    void make_store(const char* path) {
        {
            KernelRandom random;
            PSE_CTX* ctx = PSE_CTX_new();
            ASSERT_EQ(PSE_CTX_set_path(ctx, path, 0), 1);
            ASSERT_EQ(PSE_CTX_create(ctx), 1);
            ASSERT_EQ(PSE_CTX_write(ctx), 1);
            PSE_CTX_free(ctx);
        }
        PSE_rand_cleanup();
        ERR_clear_error();
    }
    fs::path drive(char d) const { return dir_ / std::string(1, d); }
    StandIn& ui() { return *ui_; }

    fs::path dir_;
    std::optional<StandIn> ui_;
    TUICallbacks* previous_ = nullptr;
};

}  // namespace cadb::testing
