#include "ui/progress.h"

#include <chrono>
#include <cstdlib>
#include <system_error>

#include "ui/log.h"
#include "ui/renderer.h"
#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {
namespace {

constexpr auto kTickInterval = std::chrono::milliseconds(2000);
constexpr int kQuitExitCode = 3;

}  // namespace

ProgressDialog::ProgressDialog() : Dialog(kTemplate, "Выполнение операции") {
    add(Control{.id = kBar, .kind = Kind::progress, .label = "Прогресс", .row = 0, .max = bound_});
    add(Control{.id = kStep, .kind = Kind::label, .row = 1});
    add(Control{.id = IDCANCEL, .kind = Kind::button, .text = "Отмена", .row = -1});
    show_step();
}

void ProgressDialog::show_step() {
    set_text(kStep, format(ui_string(IDS_STEP).c_str(), step_));
    at(kBar).value = total_;
    at(kBar).max = bound_;
    touch();
}

bool ProgressDialog::advance(int n) {
    total_ += n;
    if (total_ >= bound_) {
        total_ = 0;
        ++step_;
    }
    show_step();
    return !cancelled_;
}

void ProgressDialog::set_range(int bound) {
    bound_ = bound > 0 ? bound : 1;
    if (total_ >= bound_) total_ = 0;
    show_step();
}

void ProgressDialog::note(const std::string& text) {
    set_caption(title_.empty() ? format(ui_string(IDS_OPERATION_RUNNING).c_str(), text.c_str())
                               : format("%s [%s]", title_.c_str(), text.c_str()));
}

void ProgressDialog::set_title(const std::string& title) {
    title_ = title;
    set_caption(title_.empty() ? format(ui_string(IDS_OPERATION_RUNNING).c_str(), "") : title_);
}

void ProgressDialog::command(int id) {
    if (id != IDCANCEL) return;
    if (host().message_box(ui_string(IDS_QUIT_QUESTION), ui_string(IDS_WARNING),
                           MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    cancelled_ = true;
    // The user ends the whole program; what the log holds goes out first.
    log_line("progress: the user ended the program");
    log_flush();
    std::_Exit(kQuitExitCode);
}

void CDisplayAddThread::resume() {
    if (started() || ended_) return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        log_line(std::string("progress: no thread for the window: ") + e.what());
    }
}

void CDisplayAddThread::post(int message, std::intptr_t w, std::intptr_t l, std::string text) {
    const std::lock_guard guard(lock_);
    queue_.push_back({message, w, l, std::move(text)});
    ++posted_;
    wake_.notify_all();
}

void CDisplayAddThread::end() {
    if (!started()) {
        ended_ = true;
        return;
    }
    post(PM_END, 0);
    thread_.join();
}

void CDisplayAddThread::settle() {
    std::unique_lock guard(lock_);
    const std::uint64_t target = posted_;
    handled_.wait(guard, [&] { return done_ >= target || !started(); });
}

void CDisplayAddThread::start_ticking() {
    const std::lock_guard guard(lock_);
    ticking_ = true;
}

void CDisplayAddThread::run() {
    started_thread();
    for (;;) {
        Message m;
        {
            std::unique_lock guard(lock_);
            if (ticking_) {
                if (!wake_.wait_for(guard, kTickInterval, [&] { return !queue_.empty(); })) {
                    guard.unlock();
                    tick();
                    continue;
                }
            } else {
                wake_.wait(guard, [&] { return !queue_.empty(); });
            }
            m = std::move(queue_.front());
            queue_.pop_front();
        }
        if (m.id == PM_END) {
            ending();
            const std::lock_guard guard(lock_);
            ended_ = true;
            done_ = posted_;
            handled_.notify_all();
            return;
        }
        handle(m);
        const std::lock_guard guard(lock_);
        ++done_;
        handled_.notify_all();
    }
}

void CDisplayProgressAddThread::started_thread() {
    renderer_ = &renderer();
    renderer_->show_modeless(dialog_);
}

void CDisplayProgressAddThread::tick() {
    renderer_->update_modeless(dialog_, [&] { dialog_.advance(1); });
}

void CDisplayProgressAddThread::ending() { renderer_->hide_modeless(dialog_); }

void CDisplayProgressAddThread::handle(const Message& m) {
    Renderer& r = *renderer_;
    switch (m.id) {
        case PM_ADVANCE:
            r.update_modeless(dialog_, [&] { dialog_.advance(int(m.w)); });
            break;
        case PM_RANGE:
            r.update_modeless(dialog_, [&] { dialog_.set_range(int(m.w)); });
            if (m.l > 0) start_ticking();
            break;
        case PM_NOTE:
            r.update_modeless(dialog_, [&] { dialog_.note(m.text); });
            break;
        case PM_TITLE:
            r.update_modeless(dialog_, [&] { dialog_.set_title(m.text); });
            break;
        default:
            break;
    }
}

}  // namespace gorget
