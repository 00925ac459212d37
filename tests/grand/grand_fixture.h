// A clock the tests control (frozen time stamps, scripted cycle counts, no
// sleeping), scripted seeding routines, and a fixture that leaves the random
// layer, the generator and the clock as it found them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rand/boards.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/gosth.h"
#include "platform/module.h"

namespace cadb::test {

struct FakeClock {
    GRAND_TIME_STAMP stamp{1700000000, 1700000000, 123, -180, 0, 4567, 1};
    std::vector<std::uint32_t> cycles;  // handed out in turn, cycling
    std::size_t next_cycle = 0;
    std::vector<unsigned> sleeps;
    int stamps_taken = 0;
};

inline FakeClock& clock() {
    static FakeClock c;
    return c;
}

inline void fake_stamp(GRAND_TIME_STAMP* out) {
    ++clock().stamps_taken;
    *out = clock().stamp;
}

inline std::uint32_t fake_cycles() {
    auto& c = clock();
    if (c.cycles.empty()) return 0x5A5A5A5A;
    return c.cycles[c.next_cycle++ % c.cycles.size()];
}

inline void fake_sleep(unsigned ms) { clock().sleeps.push_back(ms); }

// Frozen stamps and scripted cycles: every hash the generator takes is a
// function of its input alone.
inline const GRAND_TIME_SOURCE kFrozen{fake_stamp, fake_cycles, fake_sleep};
// The system's clocks, without the keyboard routine's pauses.
inline const GRAND_TIME_SOURCE kNoSleep{nullptr, nullptr, fake_sleep};
// The system's clocks, scripted cycle counts, no pauses.
inline const GRAND_TIME_SOURCE kScriptedCycles{nullptr, fake_cycles, fake_sleep};

inline std::uint64_t splitmix(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

// n cycle counts whose low bits are perfectly balanced: every second value is
// the complement of the one before.
inline std::vector<std::uint32_t> varied_cycles(std::size_t n) {
    std::vector<std::uint32_t> v(n);
    std::uint64_t x = 7;
    for (std::size_t j = 0; j < n; ++j)
        v[j] = j % 2 == 0 ? static_cast<std::uint32_t>(splitmix(x)) : ~v[j - 1];
    return v;
}

// n cycle counts that differ only above bit 11: nothing the estimate reads.
inline std::vector<std::uint32_t> flat_cycles(std::size_t n) {
    std::vector<std::uint32_t> v(n);
    for (std::size_t j = 0; j < n; ++j) v[j] = static_cast<std::uint32_t>(j + 1) << 12;
    return v;
}

inline std::vector<unsigned char> gosth(const std::vector<unsigned char>& data) {
    GOSTH h;
    std::vector<unsigned char> out(32);
    EXPECT_EQ(GOSTH_init(&h, nullptr, nullptr), 1);
    if (!data.empty()) GOSTH_update(&h, data.data(), static_cast<long>(data.size()));
    EXPECT_EQ(GOSTH_final(&h, out.data()), 32);
    return out;
}

// A seeding routine that delivers its events at once, unless told to cancel
// or to stop short.
struct ScriptedRoutine {
    static inline int events_to_give = -1;  // -1: as many as asked
    static inline bool cancel = false;
    static inline int calls = 0;
    static inline int last_needed = 0;
    static int run(GRAND_SEED* record, int needed, GRAND_CHAR_CB, void*, GRAND_EVENT_CB event_cb) {
        ++calls;
        last_needed = needed;
        if (cancel) return 0;
        const int n = events_to_give < 0 ? needed : events_to_give;
        for (int i = 0; i < n; ++i) event_cb(record);
        return 1;
    }
    static void reset() {
        events_to_give = -1;
        cancel = false;
        calls = 0;
        last_needed = 0;
    }
};

class GrandTest : public ::testing::Test {
  protected:
    void SetUp() override {
        clock() = FakeClock{};
        ScriptedRoutine::reset();
        RAND_set_rand_method(nullptr);
        GRAND_cleanup();
        ERR_clear_error();
        ERR_set_last_error(ERR_CLASS_NONE);
    }
    void TearDown() override {
        RAND_set_rand_method(nullptr);
        GRAND_cleanup();
        GRAND_set_time_source(nullptr);
        GRAND_set_seed_routine(GRAND_keyboard_seed);
        ERR_clear_error();
        ERR_set_last_error(ERR_CLASS_NONE);
    }

    // Seeds the generator directly; returns what the seed became.
    static std::vector<unsigned char> seed_with(std::vector<unsigned char> seed) {
        EXPECT_EQ(GRAND_gamma_rand_seed(seed.data(), static_cast<int>(seed.size())), 1);
        return seed;
    }
    static std::vector<unsigned char> draw(int n) {
        std::vector<unsigned char> out(static_cast<std::size_t>(n));
        EXPECT_EQ(GRAND_rand_bytes(out.data(), n), n);
        return out;
    }
};

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
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

// The key store's generator, with no vendor board library to be found.
class KeyStoreRandTest : public GrandTest {
  protected:
    void SetUp() override {
        GrandTest::SetUp();
        PSE_rand_cleanup();
    }
    void TearDown() override {
        PSE_rand_cleanup();
        GrandTest::TearDown();
    }

    ScopedEnv no_vendor_{kModulePathEnv, nullptr};
};

inline std::vector<unsigned char> bytes_of(const char* text) {
    return {text, text + std::strlen(text)};
}

}  // namespace cadb::test
