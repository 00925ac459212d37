// The progress window (dialog 1003) and the thread that drives it: the
// caller only posts messages, so its long operation never waits on a window.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ui/model.h"

namespace gorget {

class ProgressDialog : public Dialog {
  public:
    enum : int { kTemplate = 1003, kBar = 1625, kStep = 1626 };
    ProgressDialog();
    // Moves the bar on by n; a full bar starts the next step. False once the
    // operation was cancelled.
    bool advance(int n);
    void set_range(int bound);
    // The caption with a note after the title.
    void note(const std::string& text);
    void set_title(const std::string& title);
    int step() const { return step_; }

  protected:
    void command(int id) override;
    void closing() override {}  // only Cancel ends the operation

  private:
    void show_step();
    int bound_ = 100;
    int total_ = 0;
    int step_ = 1;
    bool cancelled_ = false;
    std::string title_;
};

// Messages of the progress thread.
enum ProgressMessage : int {
    PM_ADVANCE = 3025,  // by w units
    PM_RANGE = 3026,    // 0..w; l > 0 also starts the 2-second tick
    PM_NOTE = 3027,     // text after the title
    PM_TITLE = 3028,    // text becomes the title
    PM_END = 3029,
};

class ProgressThread {
  public:
    // The queue exists from here on: nothing posted before the thread runs
    // is lost.
    ProgressThread();
    ~ProgressThread();
    ProgressThread(const ProgressThread&) = delete;
    ProgressThread& operator=(const ProgressThread&) = delete;

    void resume();
    bool started() const { return thread_.joinable(); }
    void post(int message, std::intptr_t w, std::intptr_t l = 0, std::string text = {});
    // Posts the end and, when the thread runs, waits for it.
    void end();
    // Waits until every message posted so far was handled (tests).
    void settle();

  private:
    struct Message {
        int id;
        std::intptr_t w, l;
        std::string text;
    };
    void run();
    void handle(const Message& m);

    ProgressDialog dialog_;
    class Renderer* renderer_ = nullptr;  // chosen when the thread starts
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_, handled_;
    std::deque<Message> queue_;
    std::uint64_t posted_ = 0, done_ = 0;
    bool ticking_ = false;
    bool ended_ = false;
};

// The current progress thread, for tests; null when none.
ProgressThread* current_progress();

}  // namespace gorget
