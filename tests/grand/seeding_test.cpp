// Seeding from events: the entropy estimate, the seed record, the keyboard
// routine and the software method's init slot.
#include <algorithm>
#include <cctype>

#include "crypto/rand/grand.h"
#include "tests/grand/grand_fixture.h"

namespace cadb::test {
namespace {

// Bytes whose eight bit positions are set in exactly `ones` of n bytes (n
// even, ones <= n / 2 pairs of complements, the rest 0x00 / 0xFF pairs).
std::vector<unsigned char> balanced(std::size_t pairs) {
    std::vector<unsigned char> v;
    std::uint64_t x = 3;
    for (std::size_t i = 0; i < pairs; ++i) {
        const auto b = static_cast<unsigned char>(splitmix(x));
        v.push_back(b);
        v.push_back(static_cast<unsigned char>(~b));
    }
    return v;
}

TEST(EntropyEstimate, EdgeCases) {
    EXPECT_EQ(GRAND_entropy_estimate(nullptr, 10), 0);
    const unsigned char one = 0x5A;
    EXPECT_EQ(GRAND_entropy_estimate(&one, 0), 0);
    EXPECT_EQ(GRAND_entropy_estimate(&one, 1), 0);  // every bit always or never set

    // Bit 0 always set: nothing to estimate, however varied the rest.
    auto odd = balanced(20);
    for (auto& b : odd) b |= 1;
    EXPECT_EQ(GRAND_entropy_estimate(odd.data(), odd.size()), 0);
    const std::vector<unsigned char> zeros(64, 0), ones(64, 0xFF);
    EXPECT_EQ(GRAND_entropy_estimate(zeros.data(), zeros.size()), 0);
    EXPECT_EQ(GRAND_entropy_estimate(ones.data(), ones.size()), 0);
}

TEST(EntropyEstimate, KnownValues) {
    // p = 1/2 less 1.96 / (4 sqrt(2n)); H(p) x 8n, truncated.
    const auto two = balanced(1);
    EXPECT_EQ(GRAND_entropy_estimate(two.data(), two.size()), 13);
    const auto b32 = balanced(16);
    EXPECT_EQ(GRAND_entropy_estimate(b32.data(), b32.size()), 253);
    const auto b40 = balanced(20);
    EXPECT_EQ(GRAND_entropy_estimate(b40.data(), b40.size()), 317);
    auto b33 = b32;
    b33.push_back(0xFF);  // 17 of 33 set everywhere: min(16/33, 17/33) = 16/33
    EXPECT_EQ(GRAND_entropy_estimate(b33.data(), b33.size()), GRAND_QUALITY_BITS);
    std::vector<unsigned char> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
    EXPECT_EQ(GRAND_entropy_estimate(all.data(), all.size()), 2045);
    // One bit set in 10 of 40 bytes decides, whatever the others do.
    auto skewed = b40;
    for (std::size_t j = 0; j < skewed.size(); ++j) {
        skewed[j] = static_cast<unsigned char>((skewed[j] & ~0x10) | (j < 10 ? 0x10 : 0));
    }
    EXPECT_EQ(GRAND_entropy_estimate(skewed.data(), skewed.size()), 227);
}

TEST_F(GrandTest, EventsFeedTheAccumulatorWithTheirTimeHashes) {
    GRAND_set_time_source(&kFrozen);
    clock().cycles = varied_cycles(3);
    GRAND_SEED record;
    std::vector<unsigned char> expected(32, 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(GRAND_add_event(&record), 0);
        unsigned char h[32];
        ASSERT_NE(GRAND_time_hash(h, clock().cycles[i], nullptr, 0), nullptr);
        for (int k = 0; k < 32; ++k) expected[k] ^= h[k];
    }
    EXPECT_EQ(record.event_count, 3);
    EXPECT_TRUE(std::equal(clock().cycles.begin(), clock().cycles.end(), record.events.begin()));
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), record.accumulator));
    EXPECT_EQ(GRAND_add_event(nullptr), 0);

    // A record that says it is smaller takes only that much.
    GRAND_SEED small;
    small.size = 4;
    GRAND_add_event(&small);
    EXPECT_TRUE(std::all_of(small.accumulator + 4, small.accumulator + 32,
                            [](unsigned char b) { return b == 0; }));
}

TEST_F(GrandTest, QualityNeedsEnoughVariedEvents) {
    GRAND_set_time_source(&kScriptedCycles);
    // The best balance 32 events can have still estimates 253 bits.
    clock().cycles = varied_cycles(32);
    clock().cycles.push_back(0xFFFFFFFF);
    GRAND_SEED record;
    for (int i = 0; i < 32; ++i) EXPECT_EQ(GRAND_add_event(&record), 0) << i;
    EXPECT_EQ(record.quality, 0);
    EXPECT_EQ(GRAND_add_event(&record), 1);
    EXPECT_EQ(record.quality, 1);
    EXPECT_EQ(GRAND_add_event(&record), 1);  // stays set
}

TEST_F(GrandTest, IdenticalLowBitsNeverReachQuality) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = flat_cycles(GRAND_MAX_EVENTS + 10);
    GRAND_SEED record;
    for (int i = 0; i < GRAND_MAX_EVENTS + 10; ++i) ASSERT_EQ(GRAND_add_event(&record), 0);
    EXPECT_EQ(record.event_count, GRAND_MAX_EVENTS);  // the room is bounded
}

TEST_F(GrandTest, SeedRoutineIsReplaceable) {
    EXPECT_EQ(GRAND_get_seed_routine(), &GRAND_keyboard_seed);
    GRAND_set_seed_routine(ScriptedRoutine::run);
    EXPECT_EQ(GRAND_get_seed_routine(), &ScriptedRoutine::run);
    GRAND_SEED record;
    EXPECT_EQ(GRAND_call_seed_routine(&record, 3, nullptr, nullptr, GRAND_add_event), 1);
    EXPECT_EQ(record.event_count, 3);
    GRAND_set_seed_routine(nullptr);
    EXPECT_EQ(GRAND_call_seed_routine(&record, 3, nullptr, nullptr, GRAND_add_event), 0);
}

// A scripted user for the keyboard routine.
struct Typist {
    enum class Mode { Correct, WrongAt, Cancel, AlwaysWrong };
    static inline Mode mode = Mode::Correct;
    static inline int wrong_at_prompt = -1;  // this prompt (0-based) is answered wrongly
    static inline int cancel_at_prompt = 0;
    static inline std::vector<int> prompts, indexes, totals;
    static void reset(Mode m) {
        mode = m;
        wrong_at_prompt = -1;
        cancel_at_prompt = 0;
        prompts.clear();
        indexes.clear();
        totals.clear();
    }
    static int type(int ch, int index, int total, void* arg) {
        EXPECT_EQ(arg, &prompts);
        const int n = static_cast<int>(prompts.size());
        prompts.push_back(ch);
        indexes.push_back(index);
        totals.push_back(total);
        switch (mode) {
            case Mode::Cancel:
                return n == cancel_at_prompt ? 0 : ch;
            case Mode::AlwaysWrong:
                return ch == 'a' ? 'b' : 'a';
            case Mode::WrongAt:
                return n == wrong_at_prompt ? (ch == 'a' ? 'b' : 'a') : ch;
            default:
                return ch;
        }
    }
};

int keyboard(GRAND_SEED& record, int needed = GRAND_EVENTS_NEEDED) {
    return GRAND_keyboard_seed(&record, needed, Typist::type, &Typist::prompts, GRAND_add_event);
}

TEST_F(GrandTest, KeyboardRoutineAsksForVariedLettersAndDigits) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    Typist::reset(Typist::Mode::Correct);
    GRAND_SEED record;
    ASSERT_EQ(keyboard(record), 1);
    EXPECT_EQ(record.quality, 1);
    ASSERT_EQ(Typist::prompts.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED));
    for (std::size_t i = 0; i < Typist::prompts.size(); ++i) {
        EXPECT_TRUE(std::isalnum(Typist::prompts[i])) << Typist::prompts[i];
        if (i > 0) {
            EXPECT_NE(Typist::prompts[i], Typist::prompts[i - 1]);
        }
        EXPECT_EQ(Typist::indexes[i], static_cast<int>(i) + 1);
        EXPECT_EQ(Typist::totals[i], GRAND_KEYBOARD_TOTAL);
    }
    // One pause before every prompt, each below half a second.
    ASSERT_EQ(clock().sleeps.size(), Typist::prompts.size());
    EXPECT_TRUE(std::all_of(clock().sleeps.begin(), clock().sleeps.end(),
                            [](unsigned ms) { return ms < 500; }));
}

TEST_F(GrandTest, KeyboardWrongKeyAtTheFirstIndexStaysThere) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    Typist::reset(Typist::Mode::WrongAt);
    Typist::wrong_at_prompt = 0;
    GRAND_SEED record;
    ASSERT_EQ(keyboard(record), 1);
    EXPECT_EQ(Typist::indexes[0], 1);
    EXPECT_EQ(Typist::indexes[1], 1);
    EXPECT_EQ(Typist::indexes[2], 2);
    EXPECT_EQ(Typist::prompts.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED + 1));
}

TEST_F(GrandTest, KeyboardWrongKeyLaterStepsBackOne) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(64);
    Typist::reset(Typist::Mode::WrongAt);
    Typist::wrong_at_prompt = 4;  // asked at index 5
    GRAND_SEED record;
    ASSERT_EQ(keyboard(record), 1);
    EXPECT_EQ(Typist::indexes[4], 5);
    EXPECT_EQ(Typist::indexes[5], 4);
    EXPECT_EQ(Typist::indexes[6], 5);
    // The lost event is asked for again: one wrong key costs two prompts.
    EXPECT_EQ(Typist::prompts.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED + 2));
}

TEST_F(GrandTest, KeyboardCancelFailsWithClass22) {
    GRAND_set_time_source(&kNoSleep);
    for (int at : {0, 5}) {
        Typist::reset(Typist::Mode::Cancel);
        Typist::cancel_at_prompt = at;
        GRAND_SEED record;
        ERR_set_last_error(ERR_CLASS_NONE);
        EXPECT_EQ(keyboard(record), 0);
        EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SEEDING_CANCELLED);
        EXPECT_EQ(Typist::prompts.size(), static_cast<std::size_t>(at + 1));
    }
}

TEST_F(GrandTest, KeyboardGivesUpOnAUserWhoNeverTypesTheKey) {
    GRAND_set_time_source(&kNoSleep);
    Typist::reset(Typist::Mode::AlwaysWrong);
    GRAND_SEED record;
    EXPECT_EQ(keyboard(record), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(Typist::prompts.size(),
              static_cast<std::size_t>(GRAND_EVENTS_NEEDED * GRAND_KEYBOARD_PROMPTS_PER_EVENT));
    EXPECT_EQ(record.event_count, 0);
}

TEST_F(GrandTest, KeyboardKeepsAskingUntilTheTimingsCountThenGivesUp) {
    GRAND_set_time_source(&kScriptedCycles);
    // Flat timings never reach the quality: the routine goes past the count
    // asked for, but only up to its bound.
    clock().cycles = flat_cycles(16);
    Typist::reset(Typist::Mode::Correct);
    GRAND_SEED record;
    EXPECT_EQ(keyboard(record), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(Typist::prompts.size(),
              static_cast<std::size_t>(GRAND_EVENTS_NEEDED * GRAND_KEYBOARD_PROMPTS_PER_EVENT));

    // Timings that turn varied after 40 keys finish as soon as they count.
    clock() = FakeClock{};
    clock().cycles = flat_cycles(40);
    const auto varied = varied_cycles(40);
    clock().cycles.insert(clock().cycles.end(), varied.begin(), varied.end());
    Typist::reset(Typist::Mode::Correct);
    GRAND_SEED later;
    EXPECT_EQ(keyboard(later), 1);
    EXPECT_GT(Typist::prompts.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED));
    EXPECT_LE(Typist::prompts.size(), static_cast<std::size_t>(80));
}

TEST_F(GrandTest, KeyboardRefusesBadArguments) {
    GRAND_SEED record;
    Typist::reset(Typist::Mode::Correct);
    EXPECT_EQ(GRAND_keyboard_seed(nullptr, 40, Typist::type, &Typist::prompts, GRAND_add_event), 0);
    EXPECT_EQ(GRAND_keyboard_seed(&record, 40, nullptr, nullptr, GRAND_add_event), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_EQ(GRAND_keyboard_seed(&record, 40, Typist::type, &Typist::prompts, nullptr), 0);
    EXPECT_EQ(keyboard(record, 0), 0);
    EXPECT_EQ(keyboard(record, -3), 0);
    EXPECT_EQ(keyboard(record, GRAND_MAX_EVENTS + 1), 0);
    EXPECT_TRUE(Typist::prompts.empty());
}

TEST_F(GrandTest, InitSeedsFromSimulatedEvents) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    GRAND_set_seed_routine(ScriptedRoutine::run);
    RAND_set_rand_method(GRAND_get_method());
    EXPECT_EQ(RAND_status(), 0);
    unsigned char out[32] = {};
    ASSERT_EQ(RAND_init(out, nullptr), 1);
    EXPECT_EQ(ScriptedRoutine::calls, 1);
    EXPECT_EQ(ScriptedRoutine::last_needed, GRAND_EVENTS_NEEDED);
    EXPECT_EQ(RAND_status(), 1);
    EXPECT_FALSE(std::all_of(out, out + 32, [](unsigned char b) { return b == 0; }));
    unsigned char buf[64];
    EXPECT_EQ(RAND_bytes(buf, sizeof buf), 64);

    // Ready: the user is not asked again, out still receives fresh bytes.
    unsigned char again[32];
    ASSERT_EQ(RAND_init(again, nullptr), 1);
    EXPECT_EQ(ScriptedRoutine::calls, 1);
    EXPECT_NE(std::memcmp(again, out, 32), 0);
}

TEST_F(GrandTest, InitWithTheKeyboardRoutine) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    Typist::reset(Typist::Mode::Correct);
    GRAND_SEED_SOURCE source{Typist::type, &Typist::prompts};
    ASSERT_EQ(GRAND_gamma_rand_init(nullptr, &source), 1);
    EXPECT_EQ(GRAND_status(), 1);
    EXPECT_EQ(Typist::prompts.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED));
}

TEST_F(GrandTest, InitFailsWhenTheTimingsCarryNoEntropy) {
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = flat_cycles(GRAND_EVENTS_NEEDED);
    GRAND_set_seed_routine(ScriptedRoutine::run);
    unsigned char out[32];
    EXPECT_EQ(GRAND_gamma_rand_init(out, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(ERR_get_error(),
              ERR_pack_code(ERR_LIB_PSE, GRAND_F_GRAND_GAMMA_RAND_INIT, ERR_LIB_RAND_));
    EXPECT_EQ(GRAND_status(), 0);

    // Too few events from a routine that says it finished: same.
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    ScriptedRoutine::events_to_give = 20;
    EXPECT_EQ(GRAND_gamma_rand_init(out, nullptr), 0);
    EXPECT_EQ(GRAND_status(), 0);
}

TEST_F(GrandTest, CancelledInitFailsCleanlyWithClass22) {
    GRAND_set_seed_routine(ScriptedRoutine::run);
    ScriptedRoutine::cancel = true;
    RAND_set_rand_method(GRAND_get_method());
    unsigned char out[32];
    EXPECT_EQ(RAND_init(out, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SEEDING_CANCELLED);
    EXPECT_EQ(ERR_get_error(),
              ERR_pack_code(ERR_LIB_PSE, GRAND_F_GRAND_GAMMA_RAND_INIT, ERR_LIB_RAND_));
    EXPECT_EQ(ERR_get_error(), 0u);
    EXPECT_EQ(RAND_status(), 0);

    // The keyboard routine's cancel reaches the caller the same way.
    GRAND_set_seed_routine(GRAND_keyboard_seed);
    GRAND_set_time_source(&kNoSleep);
    Typist::reset(Typist::Mode::Cancel);
    GRAND_SEED_SOURCE source{Typist::type, &Typist::prompts};
    EXPECT_EQ(RAND_init(out, &source), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SEEDING_CANCELLED);
    EXPECT_EQ(RAND_status(), 0);
}

TEST_F(GrandTest, InitWithoutAnySeedSourceFailsAtOnce) {
    GRAND_set_time_source(&kNoSleep);
    // The keyboard routine with no one to ask.
    EXPECT_EQ(GRAND_gamma_rand_init(nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    EXPECT_TRUE(clock().sleeps.empty());
    // No routine at all.
    GRAND_set_seed_routine(nullptr);
    EXPECT_EQ(GRAND_gamma_rand_init(nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_RANDOM_GENERATOR);
    EXPECT_EQ(GRAND_status(), 0);
}

}  // namespace
}  // namespace cadb::test
