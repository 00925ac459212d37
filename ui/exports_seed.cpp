// The random-seed exports. Only one seeding runs at a time in the process;
// each returns only after everything it started has stopped touching its
// dialog, and leaves no routine of this library registered with the
// generator.
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

// The key dialog of the seeding under way.
KeyExchange* g_exchange = nullptr;

int key_callback(int ch, int done, int total, void*) {
    KeyExchange* ex = g_exchange;
    return ex != nullptr ? ex->ask(ch, done, total) : 0;
}

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
    if (!r.shows()) {
        log_line("rndInitCBK: no dialog can be shown, nothing seeded");
        return 1;
    }
    const std::lock_guard one_at_a_time(seeding());
    KeyExchange ex;
    g_exchange = &ex;
    SeedKeysDialog d(ex);
    std::thread worker;
    try {
        worker = std::thread([&] {
            seed(nullptr, nullptr, key_callback, nullptr);
            const std::lock_guard guard(ex.lock);
            ex.worker_done = true;
        });
    } catch (const std::system_error& e) {
        log_line(std::string("rndInitCBK: no worker thread: ") + e.what());
        g_exchange = nullptr;
        return 1;
    }
    r.run(d);
    // The dialog is gone: whatever the routine still asks is cancelled, and
    // the routine is waited for before the exchange goes away.
    {
        const std::lock_guard guard(ex.lock);
        ex.cancelled = true;
        ex.wake.notify_all();
    }
    worker.join();
    g_exchange = nullptr;
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
