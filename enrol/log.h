// The enrolment object's log lines. The log facility of the object layer
// binds its writer here when it starts (module_start.cpp); until then lines
// go nowhere. Lines never carry passwords or PINs.
#pragma once

namespace cadb::enrol {

using LogWriter = void (*)(const char* line);

// The writer that receives every line from now on (null: none).
void log_bind(LogWriter writer);

// Formats one line as printf does and hands it to the writer.
void log_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace cadb::enrol
