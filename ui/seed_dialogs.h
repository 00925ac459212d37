// The random-seed dialogs. Dialog 519 asks for particular keys on behalf of
// a seeding routine that runs on a worker thread; dialog 101 takes timed key
// presses and mouse events and hands each accepted one to the generator.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "ui/model.h"

namespace gorget {

// Where the worker running the seeding routine and the key dialog meet.
struct KeyExchange {
    std::mutex lock;
    std::condition_variable wake;
    bool asking = false;    // the worker waits for the user's key
    bool shown = false;     // the question is on screen
    bool answered = false;  // the user typed typed
    int typed = 0;
    int key = 0, done = 0, total = 0;
    bool cancelled = false;
    bool worker_done = false;

    // Called by the worker: the key the user typed when it equals key (a
    // wrong one lowers done by one and asks again), 0 once cancelled.
    int ask(int key, int done, int total);
};

class SeedKeysDialog : public Dialog {
  public:
    enum : int { kTemplate = 519, kField = 1588, kKey = 1589, kBar = 1590, kCancel = 1005 };
    explicit SeedKeysDialog(KeyExchange& exchange);
    int timer_interval_ms() const override { return 100; }
    // Shows a new question, or closes once the worker finished.
    void tick() override;

  protected:
    void changed(int id) override;
    void command(int id) override;
    void closing() override { cancel(); }

  private:
    void cancel();
    KeyExchange& ex_;
};

class SeedEventsDialog : public Dialog {
  public:
    enum : int { kTemplate = 101, kCatcher = 1000, kBar = 1003 };
    // Most events the bar shows one by one; above, it shows a share of them.
    static constexpr int kBarLimit = 100;
    static constexpr std::uint32_t kMinGapMs = 100;
    static constexpr int kMovesPerEvent = 9;

    SeedEventsDialog(int needed, std::function<void()> on_event);
    void key(unsigned ch, std::uint32_t time_ms) override;
    void mouse_move(std::uint32_t time_ms) override;
    void mouse_button(std::uint32_t time_ms) override;
    int accepted() const { return accepted_; }

  protected:
    void command(int id) override;

  private:
    void event(std::uint32_t time_ms);
    int needed_;
    std::function<void()> on_event_;
    int accepted_ = 0;
    bool any_ = false;
    std::uint32_t last_time_ = 0;
    unsigned last_key_ = 0;
    int moves_ = 0;
};

}  // namespace gorget
