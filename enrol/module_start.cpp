// Start and end of the enrolment library with its module. On load the
// library the object stands on is started once; on unload it is stopped.
//
// Seam: the initialiser of the object layer (COM, the cryptographic library,
// the log, the binding of the dialog library) takes the place of the plain
// library start below when it is built; it binds its log writer with
// log_bind and keeps the "Start Quillon..." and "Stop Quillon..." lines.
#include <atomic>

#include <atomic>

#include "crypto/cadb/init.h"
#include "enrol/log.h"
#include "enrol/module.h"

namespace cadb::enrol {

namespace {

// The library keeps per-thread state. When the process ends, the loading
// thread's state is destroyed before this module's statics; the library must
// not be stopped on that thread then (the ending process frees everything).
std::atomic<bool> g_loading_thread_ended{false};
struct LoadingThread {
    ~LoadingThread() { g_loading_thread_ended = true; }
};
thread_local LoadingThread t_loading_thread;

class ModuleLife {
  public:
    ModuleLife() : started_(CADB_init() == 1) {
        (void)&t_loading_thread;
        log_line("Start Quillon...");
    }
    ~ModuleLife() {
        log_line("Stop Quillon...");
        if (started_ && !g_loading_thread_ended) CADB_cleanup();
    }
    bool started() const { return started_; }

  private:
    bool started_;
};

ModuleLife& life() {
    static ModuleLife instance;
    return instance;
}

// The library starts when the module is loaded, not at the first object.
[[maybe_unused]] const bool g_started_on_load = life().started();

}  // namespace

com::ModuleCount& module_count() {
    static com::ModuleCount count;
    return count;
}

bool module_started() { return life().started(); }

}  // namespace cadb::enrol
