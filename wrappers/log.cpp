#include "wrappers/log.h"

#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "wrappers/log_state.h"

namespace cadb {
namespace log_detail {

LogState& state() {
    static LogState s;
    return s;
}
std::recursive_mutex& lock() {
    // Never destroyed: writers may still log while static objects are torn
    // down at exit.
    static auto* m = new std::recursive_mutex;
    return *m;
}

std::chrono::system_clock::time_point now(const LogState& s) {
    return s.clock != nullptr ? s.clock() : std::chrono::system_clock::now();
}

}  // namespace log_detail

namespace {

using namespace log_detail;
namespace fs = std::filesystem;

std::string executable_path(const void* module) {
    if (module != nullptr) {
        Dl_info info{};
        if (dladdr(module, &info) != 0 && info.dli_fname != nullptr) return info.dli_fname;
    }
    std::array<char, 4096> buf{};
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<std::size_t>(n)) : std::string();
}

bool writable_directory(const std::string& dir) {
    struct stat st {};
    return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && access(dir.c_str(), W_OK) == 0;
}

// $XDG_STATE_HOME/cadb/log, made 0700 when missing; empty when no home is
// known or it cannot be made.
std::string state_log_directory() {
    std::string root;
    if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && xdg[0] == '/') {
        root = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        root = std::string(home) + "/.local/state";
    } else {
        return {};
    }
    const std::string dir = root + "/cadb/log";
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (!writable_directory(dir)) return {};
    chmod((root + "/cadb").c_str(), 0700);
    chmod(dir.c_str(), 0700);
    return dir + "/";
}

// A path longer than the system allows is refused rather than cut: a cut
// path would name another file.
bool fits(const std::string& path) { return path.size() < 4096; }

int write_line(const char* text) {
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started || s.level == LOG_LEVEL_OFF) return 0;
    if (s.line_open) {
        s.line_open = false;
        LogFPEx("\r\n", 0, s.current_file.c_str());
    }
    refresh_date_name(s, false);
    return LogFP(text, s.current_file.c_str());
}

int vlog(const char* format, va_list args, bool crlf) {
    if (format == nullptr) return 0;
    std::array<char, LOG_LINE_MAX> line{};
    // Room is left for the "\r\n" and the terminator whatever the text's length.
    const std::size_t room = line.size() - 3;
    const int n = std::vsnprintf(line.data(), room + 1, format, args);
    if (n < 0) return 0;
    std::size_t len = std::min<std::size_t>(static_cast<std::size_t>(n), room);
    if (crlf) {
        line[len++] = '\r';
        line[len++] = '\n';
    }
    line[len] = '\0';
    return write_line(line.data());
}

}  // namespace

int LogInit(const void* module, const char* modulePath, const char* /*sectionName*/,
            int /*value*/) {
    std::lock_guard g(lock());
    LogState& s = state();
    std::string file = modulePath != nullptr ? std::string(modulePath) : executable_path(module);
    for (char& c : file)
        if (c == '\\') c = '/';
    const auto slash = file.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string(".") : file.substr(0, slash);
    const std::string name = slash == std::string::npos ? file : file.substr(slash + 1);
    const auto dot = name.rfind('.');
    // A name without an extension (as Linux executables have) takes the
    // fallback name, as a module without a separator or a dot always did.
    s.stem = (slash == std::string::npos || dot == std::string::npos || dot == 0)
                 ? std::string("qq.")
                 : name.substr(0, dot + 1);
    if (!fits(dir)) return 0;

    const std::string beside = dir + "/log";
    s.directory = writable_directory(beside) ? beside + "/" : state_log_directory();
    s.current_file = s.directory.empty() ? std::string() : s.directory + s.stem + "log";
    s.base = s.stem.substr(0, std::min<std::size_t>(2, s.stem.size()));
    s.date_part = "720718";
    s.flags = 0;
    s.line_open = false;
    s.started = true;
    return 1;
}

void LogConfigure(unsigned flags, const char* baseName) {
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started) return;
    s.flags = flags;
    if (baseName != nullptr && std::strlen(baseName) < 200) s.base = baseName;
    if ((flags & LOG_DATE_NAMES) != 0) s.date_part.clear();
    if ((flags & LOG_DELETE_CURRENT) != 0) {
        refresh_date_name(s, false);
        if (!s.current_file.empty()) unlink(s.current_file.c_str());
    }
}

void LogSetDaysToKeep(int days) {
    std::lock_guard g(lock());
    if (days > 0) state().days_kept = days;
}
void LogSetSizeLimit(std::int64_t bytes) {
    std::lock_guard g(lock());
    if (bytes > 0) state().size_limit = bytes;
}
void LogSetLevel(int level) {
    std::lock_guard g(lock());
    state().level = level;
}
int LogIsStarted() {
    std::lock_guard g(lock());
    return state().started ? 1 : 0;
}
void LogSetClock(LogClock clock) {
    std::lock_guard g(lock());
    state().clock = clock;
}

int LogMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = vlog(format, args, true);
    va_end(args);
    return r;
}

int LogMessageNoCRLF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int r = vlog(format, args, false);
    va_end(args);
    return r;
}

int LogWriteText(const char* text) {
    if (text == nullptr) return 0;
    return write_line((std::string(text) + "\r\n").c_str());
}

int LogWriteLine(const char* text) { return text == nullptr ? 0 : write_line(text); }

int LogWriteRaw(const char* text) {
    if (text == nullptr) return 0;
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started || s.level == LOG_LEVEL_OFF) return 0;
    refresh_date_name(s, false);
    const int r = LogFPEx(text, 0, s.current_file.c_str());
    s.line_open = true;
    return r;
}

void FreeIniLogPathes() {
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started) return;
    LogMessage("FreeIniLogPathes() - deleting critical section...");
    LogMessage("FreeIniLogPathes() - deleting buffers...");
    const LogClock clock = s.clock;
    s = LogState{};
    s.clock = clock;
}

std::string LogCurrentFile() {
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started) return {};
    refresh_date_name(s, false);
    return s.current_file;
}

std::string LogDirectory() {
    std::lock_guard g(lock());
    return state().started ? state().directory : std::string();
}

}  // namespace cadb
