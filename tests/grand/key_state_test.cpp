// The key store's generator started from a saved state under the store's
// key-encryption key or from events, and its state saved.
#include <algorithm>
#include <memory>

#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/boards.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rus/sbox.h"
#include "tests/grand/grand_fixture.h"

namespace cadb::test {
namespace {

using State = std::vector<unsigned char>;

struct PseFree {
    void operator()(PSE* p) const { PSE_free(p); }
};
using PsePtr = std::unique_ptr<PSE, PseFree>;

int identity(int ch, int, int, void*) { return ch; }
int cancel(int, int, int, void*) { return 0; }

class KeyStateTest : public KeyStoreRandTest {
  protected:
    // A store with a fixed key-encryption key under the CryptoPro A set.
    static PsePtr store() {
        PsePtr pse(PSE_new());
        EXPECT_NE(pse, nullptr);
        std::copy_n(GOSTE_get_sbox_by_code(GOSTE_SBOX_CODE_CP_A), sizeof pse->sbox, pse->sbox);
        unsigned char kek[32];
        for (int i = 0; i < 32; ++i) kek[i] = static_cast<unsigned char>(0xA0 + i);
        EXPECT_EQ(PSE_key32_load(&pse->kek, kek), 1);
        return pse;
    }
    static State clear_of(PSE* pse, const State& block) {
        State out(32);
        EXPECT_NE(PSE_read_opaque(pse, block.data(), out.data()), nullptr);
        return out;
    }
    // A saved state made from the kernel's source.
    static State saved_state(PSE* pse) {
        ScopedEnv on(kNoOsRandomEnv, nullptr);
        EXPECT_EQ(PSE_rand_init_device(nullptr), 1);
        State block(PSE_RAND_STATE_SIZE);
        EXPECT_EQ(PSE_rand_save_state(pse, block.data()), 1);
        PSE_rand_cleanup();
        return block;
    }
};

TEST_F(KeyStateTest, SavedStateStartsTheGeneratorOnce) {
    auto pse = store();
    const State saved = saved_state(pse.get());
    const State saved_clear = clear_of(pse.get(), saved);
    ASSERT_EQ(RAND_get_rand_method(), nullptr);

    State block = saved;
    int len = -1;
    ASSERT_EQ(PSE_rand_init(pse.get(), block.data(), &len, nullptr, nullptr), 1);
    EXPECT_EQ(len, PSE_RAND_STATE_SIZE);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
    EXPECT_EQ(RAND_status(), 1);
    // The block now holds the next state, never the one just used.
    EXPECT_NE(block, saved);
    EXPECT_NE(clear_of(pse.get(), block), saved_clear);

    // A fresh save decrypts to the 32 bytes the generator gave.
    State next(PSE_RAND_STATE_SIZE);
    ASSERT_EQ(PSE_rand_save_state(pse.get(), next.data()), 1);
    EXPECT_EQ(clear_of(pse.get(), next).size(), 32u);
    EXPECT_NE(next, block);
}

// With the clocks held still a saved state replays its stream exactly; with
// the system's clocks two starts from one copied state never agree.
TEST_F(KeyStateTest, SameStateSameStreamOnlyWhileTheClocksStandStill) {
    auto pse = store();
    const State saved = saved_state(pse.get());
    auto start = [&](State& block) {
        int len = 0;
        EXPECT_EQ(PSE_rand_init(pse.get(), block.data(), &len, nullptr, nullptr), 1);
        State stream(300);
        EXPECT_EQ(RAND_bytes(stream.data(), 300), 300);
        PSE_rand_cleanup();
        return stream;
    };

    GRAND_set_time_source(&kFrozen);
    State b1 = saved, b2 = saved;
    const State s1 = start(b1);
    const State s2 = start(b2);
    EXPECT_EQ(s1, s2);
    EXPECT_EQ(clear_of(pse.get(), b1), clear_of(pse.get(), b2));

    GRAND_set_time_source(nullptr);
    State b3 = saved, b4 = saved;
    const State s3 = start(b3);
    const State s4 = start(b4);
    EXPECT_NE(s3, s4);
    EXPECT_NE(s3, s1);
}

TEST_F(KeyStateTest, StateThatDoesNotDecryptNeedsACallback) {
    auto pse = store();
    State block = saved_state(pse.get());
    block[3] ^= 1;
    const State damaged = block;
    int len = 7;
    EXPECT_EQ(PSE_rand_init(pse.get(), block.data(), &len, nullptr, nullptr), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(block, damaged);
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_LIB_PSE));
    bool saw_no_source = false;
    while (unsigned long e = ERR_get_error())
        saw_no_source |= e == ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_R_INTERNAL);
    EXPECT_TRUE(saw_no_source);

    // With a callback the events seed it instead, and the failed decryption
    // leaves no trace.
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    GRAND_set_seed_routine(ScriptedRoutine::run);
    block = damaged;
    ASSERT_EQ(PSE_rand_init(pse.get(), block.data(), &len, identity, nullptr), 1);
    EXPECT_EQ(ERR_peek_error(), 0u);
    EXPECT_EQ(ScriptedRoutine::calls, 1);
    EXPECT_EQ(len, PSE_RAND_STATE_SIZE);
    EXPECT_EQ(clear_of(pse.get(), block).size(), 32u);
    EXPECT_EQ(RAND_status(), 1);
}

TEST_F(KeyStateTest, EventsThroughTheKeyboardRoutineWithoutAStore) {
    // As the dialog library starts it: no store, no state, a callback that
    // echoes every prompt.
    GRAND_set_time_source(&kScriptedCycles);
    clock().cycles = varied_cycles(GRAND_EVENTS_NEEDED);
    ASSERT_EQ(PSE_rand_init(nullptr, nullptr, nullptr, identity, nullptr), 1);
    EXPECT_EQ(RAND_get_rand_method(), GRAND_get_method());
    EXPECT_EQ(RAND_status(), 1);
    EXPECT_EQ(clock().sleeps.size(), static_cast<std::size_t>(GRAND_EVENTS_NEEDED));
}

TEST_F(KeyStateTest, CancelledSeedingLeavesNoMethod) {
    GRAND_set_time_source(&kNoSleep);
    int len = 5;
    EXPECT_EQ(PSE_rand_init(nullptr, nullptr, &len, cancel, nullptr), 0);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_SEEDING_CANCELLED);
    EXPECT_EQ(ERR_peek_last_error(), ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_LIB_PSE));
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
    EXPECT_EQ(GRAND_status(), 0);
}

TEST_F(KeyStateTest, NoSeedSourceAtAllFails) {
    EXPECT_EQ(PSE_rand_init(nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_R_INTERNAL));
    EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_INIT, ERR_LIB_PSE));
    EXPECT_EQ(RAND_get_rand_method(), nullptr);
}

TEST_F(KeyStateTest, ReadyGeneratorIsLeftAlone) {
    auto pse = store();
    ScopedEnv on(kNoOsRandomEnv, nullptr);
    ASSERT_EQ(PSE_rand_init_device(nullptr), 1);
    State block(PSE_RAND_STATE_SIZE, 0x11);
    int len = 9;
    EXPECT_EQ(PSE_rand_init(pse.get(), block.data(), &len, cancel, nullptr), 1);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(block, State(PSE_RAND_STATE_SIZE, 0x11));
}

TEST_F(KeyStateTest, SavingNeedsAGeneratorAndAStore) {
    auto pse = store();
    State out(PSE_RAND_STATE_SIZE, 0x11);
    EXPECT_EQ(PSE_rand_save_state(pse.get(), out.data()), 0);
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_pack_code(ERR_LIB_PSE, PSE_F_PSE_RAND_SAVE_STATE, ERR_LIB_PSE));
    EXPECT_EQ(out, State(PSE_RAND_STATE_SIZE, 0));  // no half-made state left
    ERR_clear_error();
    EXPECT_EQ(PSE_rand_save_state(nullptr, out.data()), 0);
    EXPECT_EQ(PSE_rand_save_state(pse.get(), nullptr), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
}

}  // namespace
}  // namespace cadb::test
