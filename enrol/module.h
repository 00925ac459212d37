// The enrolment library as a module: its count of live objects and server
// locks, and whether its start succeeded.
#pragma once

#include "platform/com/object.h"

namespace cadb {
class TCADBInitializer;
}

namespace cadb::enrol {

com::ModuleCount& module_count();

// Starts the library the object stands on (once per load); false when it
// could not be started.
bool module_started();

// The initialiser of the object layer, with the global parameters of the
// request roads (key-store path in use, random start).
TCADBInitializer& initializer();

}  // namespace cadb::enrol
