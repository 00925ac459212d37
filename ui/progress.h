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

// A user-interface thread of the library driven by thread messages: made
// waiting, started by resume, ended by its end message. The messages posted
// before it starts wait in its queue. While ticking, tick() runs every two
// seconds without a message.
class CDisplayAddThread {
  public:
    // The queue exists from here on: nothing posted before the thread runs
    // is lost.
    CDisplayAddThread() = default;
    // A derived thread ends itself before its members go.
    virtual ~CDisplayAddThread() = default;
    CDisplayAddThread(const CDisplayAddThread&) = delete;
    CDisplayAddThread& operator=(const CDisplayAddThread&) = delete;

    void resume();
    bool started() const { return thread_.joinable(); }
    void post(int message, std::intptr_t w, std::intptr_t l = 0, std::string text = {});
    // Posts the end and, when the thread runs, waits for it.
    void end();
    // Waits until every message posted so far was handled (tests).
    void settle();

  protected:
    struct Message {
        int id;
        std::intptr_t w, l;
        std::string text;
    };
    // On the thread: before the first message, for each message but the
    // end, on each tick, and at the end.
    virtual void started_thread() = 0;
    virtual void handle(const Message& m) = 0;
    virtual void tick() = 0;
    virtual void ending() = 0;
    // From handle: the ticks start.
    void start_ticking();

  private:
    void run();

    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_, handled_;
    std::deque<Message> queue_;
    std::uint64_t posted_ = 0, done_ = 0;
    bool ticking_ = false;
    bool ended_ = false;
};

// The progress window's thread.
class CDisplayProgressAddThread : public CDisplayAddThread {
  public:
    ~CDisplayProgressAddThread() override { end(); }

  protected:
    void started_thread() override;
    void handle(const Message& m) override;
    void tick() override;
    void ending() override;

  private:
    ProgressDialog dialog_;
    class Renderer* renderer_ = nullptr;  // chosen when the thread starts
};

// The current progress thread, for tests; null when none.
CDisplayProgressAddThread* current_progress();

}  // namespace gorget
