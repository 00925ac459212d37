// The progress exports: Init makes a progress thread that waits, the first
// progress call starts it, Free ends it and waits for its window to go.
#include <memory>
#include <mutex>
#include <new>

#include "ui/exports.h"
#include "ui/progress.h"

namespace gorget {
namespace {

struct Progress {
    std::mutex lock;
    std::unique_ptr<CDisplayProgressAddThread> thread;
    int calls = 0;
};

Progress& progress() {
    static Progress p;
    return p;
}

}  // namespace

CDisplayProgressAddThread* current_progress() {
    const std::lock_guard guard(progress().lock);
    return progress().thread.get();
}

}  // namespace gorget

using namespace gorget;

GORGET_EXPORT std::int32_t Init() {
    Progress& p = progress();
    const std::lock_guard guard(p.lock);
    p.thread.reset();
    p.calls = 0;
    try {
        p.thread = std::make_unique<CDisplayProgressAddThread>();
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return 0;
}

GORGET_EXPORT std::int32_t getProgressCBK(std::int32_t, std::int32_t, std::int32_t) {
    Progress& p = progress();
    const std::lock_guard guard(p.lock);
    if (p.thread == nullptr) return 0;
    if (p.calls == 0) {
        p.thread->resume();
        p.thread->post(PM_RANGE, 100, 0);
    }
    ++p.calls;
    p.thread->post(PM_ADVANCE, 1, 0);
    return 0;
}

GORGET_EXPORT std::int32_t Free() {
    Progress& p = progress();
    std::unique_ptr<CDisplayProgressAddThread> ending;
    {
        const std::lock_guard guard(p.lock);
        ending = std::move(p.thread);
    }
    if (ending != nullptr) ending->end();
    return 0;
}
