#include "ui/seed_dialogs.h"

#include <algorithm>

#include "ui/password_dialogs.h"
#include "ui/strings.h"
#include "ui/text.h"

namespace gorget {

int KeyExchange::ask(int wanted, int done_before, int keys) {
    std::unique_lock guard(lock);
    key = wanted;
    done = done_before;
    total = keys;
    for (;;) {
        if (cancelled) return 0;
        asking = true;
        shown = false;
        answered = false;
        wake.notify_all();
        wake.wait(guard, [&] { return answered || cancelled; });
        asking = false;
        if (cancelled) return 0;
        if (typed == key) return key;
        done = std::max(0, done - 1);
    }
}

SeedKeysDialog::SeedKeysDialog(KeyExchange& exchange)
    : Dialog(kTemplate, "Инициализация датчика случайных чисел"), ex_(exchange) {
    add(Control{.id = kStatic, .kind = Kind::label, .text = "Нажмите клавишу '", .row = 0});
    add(Control{.id = kKey, .kind = Kind::label, .row = 0});
    add(Control{.id = kStatic, .kind = Kind::label, .text = "'", .row = 0});
    add(Control{.id = kField, .kind = Kind::edit, .row = 1, .max_chars = 1});
    add(Control{.id = kBar, .kind = Kind::progress, .row = 2, .max = 1});
    add(Control{.id = kCancel, .kind = Kind::button, .text = "Отмена", .row = -1});
    set_active(false);  // until the first question
}

void SeedKeysDialog::tick() {
    if (finished()) return;
    std::unique_lock guard(ex_.lock);
    if (ex_.worker_done) {
        guard.unlock();
        finish(IDOK);
        return;
    }
    if (!ex_.asking || ex_.shown) return;
    ex_.shown = true;
    const char key = static_cast<char>(ex_.key);
    const int done = ex_.done, total = ex_.total;
    guard.unlock();
    set_text(kKey, from_cp1251(std::string_view(&key, 1)));
    at(kBar).max = total + 1;
    at(kBar).value = done;
    set_text(kField, "");
    set_active(true);
}

void SeedKeysDialog::changed(int id) {
    if (id != kField || find(kField)->text.empty()) return;
    std::string narrow;
    const bool known = to_cp1251(find(kField)->text, narrow) && narrow.size() == 1;
    set_text(kField, "");
    set_active(false);
    const std::lock_guard guard(ex_.lock);
    if (!ex_.asking || !ex_.shown || ex_.answered) return;
    ex_.typed = known ? static_cast<unsigned char>(narrow[0]) : -1;
    ex_.answered = true;
    ex_.wake.notify_all();
}

void SeedKeysDialog::command(int id) {
    if (id == kCancel) cancel();
}

void SeedKeysDialog::cancel() {
    host().message_box(ui_string(IDS_SEED_CANCELLED), ui_string(IDS_RANDOM_SENSOR), MB_OK);
    {
        const std::lock_guard guard(ex_.lock);
        ex_.cancelled = true;
        ex_.wake.notify_all();
    }
    finish(IDCANCEL);
}

SeedEventsDialog::SeedEventsDialog(int needed, std::function<void()> on_event)
    : Dialog(kTemplate, "Инициализация генератора случайных чисел"),
      needed_(needed),
      on_event_(std::move(on_event)) {
    add(Control{.id = kStatic,
                .kind = Kind::label,
                .text = "Нажимайте клавиши или перемещайте мышь...",
                .row = 0});
    add(Control{.id = kCatcher, .kind = Kind::key_catcher, .row = 1});
    add(Control{.id = kBar, .kind = Kind::progress, .row = 2, .max = std::min(needed, kBarLimit)});
    add(Control{.id = IDCANCEL, .kind = Kind::button, .text = "Отмена", .row = -1});
}

void SeedEventsDialog::key(unsigned ch, std::uint32_t time_ms) {
    if (finished()) return;
    if (ch == 27) {
        finish(IDCANCEL);
        return;
    }
    // Tab moves the focus; a key held down repeats itself.
    if (ch == '\t' || ch == last_key_) return;
    last_key_ = ch;
    event(time_ms);
}

void SeedEventsDialog::mouse_move(std::uint32_t time_ms) {
    if (finished()) return;
    if (++moves_ % kMovesPerEvent == 0) event(time_ms);
}

void SeedEventsDialog::mouse_button(std::uint32_t time_ms) {
    if (!finished()) event(time_ms);
}

void SeedEventsDialog::event(std::uint32_t time_ms) {
    if (accepted_ >= needed_ || (any_ && time_ms - last_time_ <= kMinGapMs)) return;
    any_ = true;
    last_time_ = time_ms;
    ++accepted_;
    on_event_();
    at(kBar).value = needed_ > kBarLimit ? accepted_ * kBarLimit / needed_ : accepted_;
    touch();
    if (accepted_ >= needed_) finish(IDOK);
}

void SeedEventsDialog::command(int id) {
    if (id == IDCANCEL) finish(IDCANCEL);
}

}  // namespace gorget
