#include "enrol/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace cadb::enrol {

namespace {
std::atomic<LogWriter> g_writer{nullptr};
}

void log_bind(LogWriter writer) { g_writer.store(writer); }

void log_line(const char* format, ...) {
    LogWriter writer = g_writer.load();
    if (!writer) return;
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int size = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (size >= 0) {
        std::vector<char> line(static_cast<std::size_t>(size) + 1);
        std::vsnprintf(line.data(), line.size(), format, again);
        writer(line.data());
    }
    va_end(again);
}

}  // namespace cadb::enrol
