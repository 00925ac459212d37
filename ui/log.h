// The library's own trace: one line per event worth knowing afterwards (a
// dialog that could not be shown and why). Lines go to standard error.
#pragma once

#include <string_view>

namespace gorget {

void log_line(std::string_view line);
// Pushes every buffered stream out, before the process is ended on the
// user's request.
void log_flush();

}  // namespace gorget
