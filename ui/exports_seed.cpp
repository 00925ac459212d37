// The random-seed exports. Only one seeding runs at a time in the process;
// each returns only after everything it started has stopped touching its
// dialog (the key export waits a bounded time for the caller's routine
// itself), and leaves no routine of this library registered with the
// generator.
#include <chrono>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "ui/exports.h"
#include "ui/log.h"
#include "ui/renderer.h"
#include "ui/seed_dialogs.h"

namespace gorget {
namespace {

std::mutex& seeding() {
    static std::mutex m;
    return m;
}

// The key exchange of the seeding under way; set and read only under the
// seeding lock, which the worker holds for the whole seeding.
std::shared_ptr<KeyExchange> g_exchange;

int key_callback(int ch, int done, int total, void*) {
    KeyExchange* ex = g_exchange.get();
    return ex != nullptr ? ex->ask(ch, done, total) : 0;
}

// How long the key dialog, once closed, waits for the routine to end.
constexpr auto kWorkerWait = std::chrono::milliseconds(3000);

int identity(int ch, int, int, void*) { return ch; }

int event_routine(cadb::GRAND_SEED* record, int needed, cadb::GRAND_CHAR_CB, void*,
                  cadb::GRAND_EVENT_CB event_fn) {
    if (event_fn == nullptr || needed <= 0) return 0;
    SeedEventsDialog d(needed, [&] { event_fn(record); });
    renderer().run(d);
    return d.result() == IDOK ? 1 : 0;
}

}  // namespace
}  // namespace gorget

using namespace gorget;

GORGET_EXPORT std::int32_t rndInitCBK(KeySeedFn seed) {
    if (seed == nullptr) return 1;
    Renderer& r = renderer();
    auto ex = std::make_shared<KeyExchange>();
    // Without a display no key can be asked: the routine still runs, seeding
    // from whatever needs no keys, and every key it asks is refused at once.
    const bool shows = r.shows();
    if (!shows) {
        log_line("rndInitCBK: no dialog can be shown, no key can be asked");
        ex->cancelled = true;
    }
    std::unique_lock creation(seeding());
    std::thread worker;
    try {
        worker = std::thread([ex, seed] {
            const std::lock_guard whole_seeding(seeding());
            seed(nullptr, nullptr, key_callback, nullptr);
            g_exchange.reset();
            const std::lock_guard guard(ex->lock);
            ex->worker_done = true;
            ex->wake.notify_all();
        });
    } catch (const std::system_error& e) {
        log_line(std::string("rndInitCBK: no worker thread: ") + e.what());
        return 1;
    }
    g_exchange = ex;
    if (shows) {
        SeedKeysDialog d(*ex);
        creation.unlock();
        r.run(d);
    } else {
        creation.unlock();
    }
    // The dialog is gone: whatever the routine still asks is refused. A
    // routine that does not end in time is left to finish on its own; the
    // next seeding waits for it.
    std::unique_lock guard(ex->lock);
    ex->cancelled = true;
    ex->wake.notify_all();
    const bool ended = ex->wake.wait_for(guard, kWorkerWait, [&] { return ex->worker_done; });
    guard.unlock();
    if (ended)
        worker.join();
    else
        worker.detach();
    return 1;
}

GORGET_EXPORT std::int32_t rndInitCBK_Vambrace32(RegisterFn register_routine, EventSeedFn seed) {
    if (register_routine == nullptr || seed == nullptr) return 0;
    const std::lock_guard one_at_a_time(seeding());
    register_routine(event_routine);
    const int seeded = seed(nullptr, nullptr, nullptr, identity, nullptr);
    register_routine(nullptr);
    return seeded != 0 ? 1 : 0;
}
