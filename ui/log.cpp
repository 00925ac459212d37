#include "ui/log.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace gorget {

void log_line(std::string_view line) {
    static std::mutex lock;
    const std::lock_guard guard(lock);
    std::string text = "Gorget: ";
    text.append(line);
    text.push_back('\n');
    std::fwrite(text.data(), 1, text.size(), stderr);
}

void log_flush() { std::fflush(nullptr); }

}  // namespace gorget
