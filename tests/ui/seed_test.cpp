#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/pse_ctx.h"
#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"
#include "ui/seed_dialogs.h"

namespace gorget::test {
namespace {

// Cycle counts whose low bits are balanced, so the generator's quality
// estimate is reached with the events it asks for; and no pauses.
std::uint32_t balanced_cycles() {
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
void no_sleep(unsigned) {}
const cadb::GRAND_TIME_SOURCE kClock{nullptr, balanced_cycles, no_sleep};

class Seed : public Scripted {
  protected:
    void SetUp() override {
        Scripted::SetUp();
        cadb::RAND_set_rand_method(nullptr);
        cadb::GRAND_set_time_source(&kClock);
        cadb::GRAND_set_seed_routine(cadb::GRAND_keyboard_seed);
    }
    void TearDown() override {
        cadb::PSE_rand_cleanup();
        cadb::GRAND_set_seed_routine(cadb::GRAND_keyboard_seed);
        cadb::GRAND_set_time_source(nullptr);
        cadb::ERR_clear_error();
        Scripted::TearDown();
    }
};

// Plays the key dialog: waits for each question and answers it with what
// answer gives, until the dialog closes.
void play_keys(DialogHandle& h, const std::function<std::string(const std::string&, int)>& answer) {
    int question = 0;
    while (!h.finished()) {
        h.tick();
        if (h.finished()) break;
        if (!h.active()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const std::string reply = answer(h.text(1589), question++);
        if (reply.empty()) return;
        h.type(1588, reply);
    }
}

std::vector<int> g_answers;
std::vector<int> g_done_seen;

// A routine asking for "a", "b" and "c" as keys 0, 1 and 2 of 3.
int ask_abc(cadb::PSE*, unsigned char*, cadb::GRAND_CHAR_CB cb, void*) {
    for (int i = 0; i < 3; ++i) {
        const int r = cb("abc"[i], i, 3, nullptr);
        g_answers.push_back(r);
        if (r == 0) return 0;
    }
    return 1;
}

TEST_F(Seed, KeyDialogAsksUntilTheRightKeyAndLowersTheCountOnAWrongOne) {
    g_answers.clear();
    g_done_seen.clear();
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 519);
        play_keys(h, [&](const std::string& key, int question) {
            g_done_seen.push_back(h.value(1590));
            EXPECT_EQ(h.max(1590), 4);
            // A wrong key on the first and on the third question.
            if (question == 0 || question == 3) return std::string("z");
            return key;
        });
    });
    EXPECT_EQ(rndInitCBK(ask_abc), 1);
    EXPECT_EQ(g_answers, (std::vector<int>{'a', 'b', 'c'}));
    // a: at 0, wrong, stays 0; b: at 1; c: at 2, wrong, back to 1, then c.
    EXPECT_EQ(g_done_seen, (std::vector<int>{0, 0, 1, 2, 1}));
    EXPECT_EQ(driver::failures(), 0);
}

TEST_F(Seed, CancellingTheKeyDialogStopsTheRoutineAndStillReturnsOne) {
    g_answers.clear();
    driver::answer_box(IDOK);
    driver::expect([](DialogHandle& h) {
        play_keys(h, [&](const std::string& key, int question) {
            if (question == 1) {
                h.press(1005);
                return std::string();
            }
            return key;
        });
    });
    EXPECT_EQ(rndInitCBK(ask_abc), 1);
    EXPECT_EQ(g_answers, (std::vector<int>{'a', 0}));
    const auto boxes = driver::boxes_seen();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Инициализация прервана пользователем");
    EXPECT_EQ(boxes[0].caption, "Датчик случайных чисел");
    EXPECT_EQ(boxes[0].type, MB_OK);
}

// A routine that goes on after its dialog is gone, until the test lets it.
std::promise<void>* g_let_go = nullptr;
std::promise<void>* g_gone = nullptr;
int ask_then_linger(cadb::PSE*, unsigned char*, cadb::GRAND_CHAR_CB cb, void*) {
    g_answers.push_back(cb('a', 0, 1, nullptr));
    g_let_go->get_future().wait();
    g_gone->set_value();
    return 0;
}

TEST_F(Seed, KeyDialogReturnsWithoutWaitingForeverForItsRoutine) {
    g_answers.clear();
    std::promise<void> let_go, gone;
    g_let_go = &let_go;
    g_gone = &gone;
    driver::answer_box(IDOK);
    driver::expect([](DialogHandle& h) {
        play_keys(h, [&](const std::string&, int) {
            h.press(1005);
            return std::string();
        });
    });
    EXPECT_EQ(rndInitCBK(ask_then_linger), 1);
    // Returned while the routine still runs.
    std::future<void> ended = gone.get_future();
    EXPECT_EQ(ended.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
    EXPECT_EQ(g_answers, std::vector<int>{0});
    let_go.set_value();
    ended.wait();
}

TEST_F(Seed, KeyboardRoutineSeedsTheGeneratorThroughTheKeyDialog) {
    driver::expect(
        [](DialogHandle& h) { play_keys(h, [](const std::string& key, int) { return key; }); });
    ASSERT_EQ(cadb::RAND_status(), 0);
    EXPECT_EQ(rndInitCBK(cadb::CADB_rand_init_pse), 1);
    EXPECT_EQ(cadb::PSE_rand_is_ready(), 1);
}

TEST_F(Seed, EventDialogSeedsTheGeneratorAndUnregistersItsRoutine) {
    driver::expect([](DialogHandle& h) {
        EXPECT_EQ(h.template_id(), 101);
        EXPECT_EQ(h.max(1003), 40);
        std::uint32_t t = 1000;
        for (int i = 0; !h.finished() && i < 200; ++i) {
            t += 150;
            if (i % 3 == 0)
                h.mouse_button(t);
            else if (i % 3 == 1)
                h.key("qwertyuiop"[i % 10], t);
            else
                for (int m = 0; m < 9; ++m) h.mouse_move(t);
        }
        EXPECT_EQ(h.value(1003), 40);
    });
    EXPECT_EQ(rndInitCBK_Vambrace32(cadb::GRAND_set_seed_routine, cadb::PSE_rand_init), 1);
    EXPECT_EQ(cadb::PSE_rand_is_ready(), 1);
    EXPECT_EQ(cadb::GRAND_get_seed_routine(), nullptr);
}

TEST_F(Seed, CancelledEventDialogLeavesTheGeneratorUnseeded) {
    driver::expect([](DialogHandle& h) {
        h.key('a', 500);
        h.key(27, 900);
    });
    EXPECT_EQ(rndInitCBK_Vambrace32(cadb::GRAND_set_seed_routine, cadb::PSE_rand_init), 0);
    EXPECT_EQ(cadb::RAND_status(), 0);
    EXPECT_EQ(cadb::GRAND_get_seed_routine(), nullptr);
}

cadb::GRAND_SEED_ROUTINE g_registered = nullptr;
void capture(cadb::GRAND_SEED_ROUTINE r) {
    if (r != nullptr) g_registered = r;
}
int call_without_event_fn(cadb::PSE*, unsigned char*, int*, cadb::GRAND_CHAR_CB, void*) {
    return g_registered(nullptr, 40, nullptr, nullptr, nullptr);
}

TEST_F(Seed, EventRoutineWithoutEventFunctionShowsNothing) {
    EXPECT_EQ(rndInitCBK_Vambrace32(capture, call_without_event_fn), 0);
    EXPECT_TRUE(driver::dialogs_seen().empty());
    EXPECT_EQ(rndInitCBK_Vambrace32(nullptr, cadb::PSE_rand_init), 0);
}

TEST(SeedEvents, ThreeHundredEventsMoveTheBarEveryThirdEvent) {
    int calls = 0;
    SeedEventsDialog d(300, [&] { ++calls; });
    EXPECT_EQ(d.find(SeedEventsDialog::kBar)->max, 100);
    std::vector<int> bar;
    for (int i = 0; i < 6; ++i) {
        d.mouse_button(1000 + 200 * std::uint32_t(i));
        bar.push_back(d.find(SeedEventsDialog::kBar)->value);
    }
    EXPECT_EQ(bar, (std::vector<int>{0, 0, 1, 1, 1, 2}));
    EXPECT_EQ(calls, 6);
}

TEST(SeedEvents, HeldKeysRapidEventsAndMouseMoves) {
    int calls = 0;
    SeedEventsDialog d(10, [&] { ++calls; });
    d.key('a', 1000);
    d.key('a', 1500);  // auto-repeat
    EXPECT_EQ(d.accepted(), 1);
    d.key('b', 1100);  // not more than 100 ms later
    d.key('a', 1201);
    EXPECT_EQ(d.accepted(), 2);
    d.key('\t', 2000);
    EXPECT_EQ(d.accepted(), 2);
    for (int m = 0; m < 8; ++m) d.mouse_move(3000);
    EXPECT_EQ(d.accepted(), 2);
    d.mouse_move(3000);  // the ninth
    EXPECT_EQ(d.accepted(), 3);
    EXPECT_EQ(calls, 3);
    EXPECT_FALSE(d.finished());
    d.key(27, 4000);
    EXPECT_TRUE(d.finished());
    EXPECT_EQ(d.result(), IDCANCEL);
}

}  // namespace
}  // namespace gorget::test
