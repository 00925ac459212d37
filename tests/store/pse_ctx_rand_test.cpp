// The store's random generator: started from the store's saved state, or
// through the seed callback when there is none, and its next state saved.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/pse_ctx.h"
#include "tests/support/kernel_random.h"
#include "tests/support/process_race.h"
#include "tests/store/store_util.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::CtxPtr;
using testing::load;
using testing::save;

// Cycle counts whose low bits are balanced, so that the seeding's quality
// estimate is reached with the events asked for.
std::uint32_t balanced_cycles() {
    static std::uint64_t x = 11;
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
void no_sleep(unsigned) {}
const GRAND_TIME_SOURCE kClock{nullptr, balanced_cycles, no_sleep};

int g_routine_calls = 0;
int instant_routine(GRAND_SEED* record, int needed, GRAND_CHAR_CB, void*, GRAND_EVENT_CB event_cb) {
    ++g_routine_calls;
    for (int i = 0; i < needed; ++i) event_cb(record);
    return 1;
}
int seed_char(int ch, int, int, void*) { return ch; }

std::vector<int> g_events;
void record_event(int event) { g_events.push_back(event); }

class PseCtxRandom : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        root_ = testing::make_drive_a("psectx-rand");
        GRAND_set_time_source(&kClock);
        GRAND_set_seed_routine(instant_routine);
        g_routine_calls = 0;
        g_events.clear();
        // The store is made with the kernel's source; the generator starts
        // from nothing afterwards.
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
        ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
        RAND_set_rand_method(nullptr);
        ERR_clear_error();
    }
    void TearDown() override {
        PSE_rand_cleanup();
        GRAND_set_seed_routine(GRAND_keyboard_seed);
        GRAND_set_time_source(nullptr);
        ERR_clear_error();
        fs::remove_all(root_);
    }

    CtxPtr context(bool seed_cb) {
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        PSE_CTX_set_notify_cb(ctx.get(), record_event);
        if (seed_cb) PSE_CTX_set_rand_cb(ctx.get(), seed_char);
        return ctx;
    }
    fs::path rand_file() const { return root_ / "store" / "rand.opq"; }

    static constexpr const char* kPath = "a:\\store";
    fs::path root_;
    testing::KernelRandom random_;
};

TEST_F(PseCtxRandom, SavedStateStartsTheGeneratorOnce) {
    const Bytes first = load(rand_file());
    ASSERT_EQ(first.size(), 36u);
    CtxPtr ctx = context(false);
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    EXPECT_EQ(g_routine_calls, 0);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
    EXPECT_EQ(CADB_rand_status(), 1);
    const Bytes next = load(rand_file());
    ASSERT_EQ(next.size(), 36u);
    EXPECT_NE(next, first);
    EXPECT_EQ(g_events, (std::vector<int>{13, 14, 13, 14}));
    unsigned char clear[32];
    EXPECT_NE(PSE_read_opaque(PSE_CTX_get_pse(ctx.get()), next.data(), clear), nullptr);
}

TEST_F(PseCtxRandom, MissingStateIsSeededAndCreated) {
    fs::remove(rand_file());
    CtxPtr ctx = context(true);
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    EXPECT_EQ(g_routine_calls, 1);
    EXPECT_EQ(load(rand_file()).size(), 36u);
}

TEST_F(PseCtxRandom, UnusableStateFallsBackToTheSeedCallback) {
    Bytes state = load(rand_file());
    state[5] ^= 1;
    save(rand_file(), state);
    CtxPtr without = context(false);
    EXPECT_EQ(PSE_CTX_read(without.get()), 0);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    CtxPtr with = context(true);
    ASSERT_EQ(PSE_CTX_read(with.get()), 1);
    EXPECT_EQ(g_routine_calls, 1);
}

TEST_F(PseCtxRandom, StateOfTheWrongSizeFailsTheRead) {
    for (std::size_t size : {37u, 40u}) {
        Bytes state = load(rand_file());
        state.resize(size);
        save(rand_file(), state);
        CtxPtr ctx = context(true);
        EXPECT_EQ(PSE_CTX_read(ctx.get()), 0) << size;
        EXPECT_EQ(g_routine_calls, 0);
        EXPECT_EQ(RAND_get_rand_method(), nullptr);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
        ERR_clear_error();
    }
}

TEST_F(PseCtxRandom, FlagLeavesTheGeneratorAlone) {
    CtxPtr ctx = context(true);
    ASSERT_EQ(PSE_CTX_set_flags(ctx.get(), PSE_CTX_FLAG_NO_RAND_INIT), 1);
    const Bytes before = load(rand_file());
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(load(rand_file()), before);
    EXPECT_TRUE(g_events.empty());
}

TEST_F(PseCtxRandom, WriteWithoutGeneratorWritesThreeFiles) {
    CtxPtr ctx = context(false);
    ASSERT_EQ(PSE_CTX_set_flags(ctx.get(), PSE_CTX_FLAG_NO_RAND_INIT), 1);
    ASSERT_EQ(PSE_CTX_read(ctx.get()), 1);
    fs::remove(rand_file());
    ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
    EXPECT_FALSE(fs::exists(rand_file()));
    EXPECT_TRUE(fs::exists(root_ / "store" / "kek.opq"));
}

TEST_F(PseCtxRandom, CreateWithoutMethodNeedsTheSeedCallback) {
    CtxPtr without = context(false);
    EXPECT_EQ(PSE_CTX_create(without.get()), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    CtxPtr with = context(true);
    ASSERT_EQ(PSE_CTX_create(with.get()), 1);
    EXPECT_EQ(g_routine_calls, 1);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
}

// Processes opening one store at once, each asking its user for the
// password: each starts its generator from a state no other process
// started from. The state a process starts from is the file as it stands
// when its read of the state ends.
int typed_password(char* buf, int size, int, void*) {
    static constexpr char kTyped[] = "secret";
    ::usleep(20000);  // the user types
    if (size < static_cast<int>(sizeof kTyped)) return -1;
    std::memcpy(buf, kTyped, sizeof kTyped);
    return static_cast<int>(sizeof kTyped) - 1;
}

fs::path g_rand_file;
std::string g_started_from;
void note_state_read(int event) {
    if (event == PSE_CTX_EVENT_RAND_END && g_started_from.empty()) {
        const Bytes state = load(g_rand_file);
        g_started_from.assign(state.begin(), state.end());
    }
}

TEST_F(PseCtxRandom, ProcessesOpeningOneStoreAtOnceStartFromStatesOfTheirOwn) {
    RAND_set_rand_method(&testing::kKernelSource);
    CtxPtr made = context(false);
    PSE_CTX_set_password(made.get(), "secret", 0);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    RAND_set_rand_method(nullptr);
    g_rand_file = rand_file();
    constexpr int kProcesses = 4;
    constexpr std::size_t kState = 36;
    const testing::Race race = testing::race_processes(kProcesses, kState, [&](int, int fd) {
        CtxPtr ctx = context(false);
        PSE_CTX_set_passwd_cb(ctx.get(), typed_password, nullptr);
        PSE_CTX_set_notify_cb(ctx.get(), note_state_read);
        if (PSE_CTX_read(ctx.get()) != 1 || g_started_from.size() != kState) return 1;
        return testing::tell(fd, g_started_from.data(), kState) ? 0 : 2;
    });
    EXPECT_TRUE(race.all_exited_zero);
    ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kProcesses));
    const std::set<std::string> distinct(race.records.begin(), race.records.end());
    EXPECT_EQ(distinct.size(), race.records.size());
}

}  // namespace
}  // namespace cadb
