// Start and end of the enrolment library with its module. On load the
// initialiser of the object layer starts the library the object stands on,
// the log (its lines reach the enrolment object's log writer), the binding of
// the dialog library and the insert-the-medium question; it also keeps the
// global parameters of the request roads. On unload it stops them.
#include <atomic>
#include <memory>

#include "crypto/bio/touch_memory.h"
#include "crypto/init/init.h"
#include "enrol/log.h"
#include "enrol/module.h"
#include "platform/com/registry.h"
#include "wrappers/initializer.h"
#include "wrappers/log.h"

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

// The initialiser, held by a plain pointer so that it stays reachable when
// the process ends without stopping it (on the loading thread, or with no
// static destruction at all): leak checkers then see it as kept, not lost.
TCADBInitializer* g_initializer = nullptr;

void write_log(const char* line) { LogMessage("%s", line); }

class ModuleLife {
  public:
    ModuleLife() {
        // Machine settings the library's drivers read come from this
        // system's registry file.
        TM_set_registry_reader(com::registry_read_machine_text);
        g_initializer = new TCADBInitializer;
        (void)&t_loading_thread;
        started_ = CADB_use_count() > 0;
        log_bind(write_log);
        log_line("Start Quillon...");
    }
    ~ModuleLife() {
        log_line("Stop Quillon...");
        log_bind(nullptr);
        TM_set_registry_reader(nullptr);
        // The ending process frees what the stopped thread's state would.
        if (!g_loading_thread_ended) {
            delete g_initializer;
            g_initializer = nullptr;
        }
    }
    bool started() const { return started_; }
    TCADBInitializer& initializer() { return *g_initializer; }

  private:
    bool started_ = false;
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

TCADBInitializer& initializer() { return life().initializer(); }

}  // namespace cadb::enrol
