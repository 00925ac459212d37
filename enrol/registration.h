// Registration of the enrolment library: its class, ProgIDs and type-library
// entry in the registry, and its place in the component categories (safely
// scriptable, safely initialisable from persistent data).
#pragma once

#include "platform/com/types.h"

namespace cadb::enrol {

com::HRESULT register_server();
// Removes the class and ProgID entries and the class-implements-category
// entries; the categories themselves and their descriptions stay.
com::HRESULT unregister_server();

}  // namespace cadb::enrol
