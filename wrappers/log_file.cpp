// The log's files: appending stamped text, naming files by date, sweeping old
// files and keeping a file under its size limit.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <vector>

#include "wrappers/log.h"
#include "wrappers/log_state.h"

namespace cadb {
namespace log_detail {
namespace {

namespace fs = std::filesystem;

std::tm local_time(std::chrono::system_clock::time_point t) {
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    return tm;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n <= 0) return false;
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Drops the bytes before the first line boundary at or after `from`: the rest
// moves to the start of the file in pieces, so a large file never has to be
// held in memory.
void cut_head(int fd, off_t from, off_t size) {
    std::array<char, 65536> chunk{};
    off_t start = -1;
    char previous = '\0';
    for (off_t pos = from; pos < size && start < 0;) {
        const ssize_t n = pread(fd, chunk.data(), chunk.size(), pos);
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i) {
            if (previous == '\r' && chunk[static_cast<std::size_t>(i)] == '\n') {
                start = pos + i + 1;
                break;
            }
            previous = chunk[static_cast<std::size_t>(i)];
        }
        pos += n;
    }
    // No line boundary in the newest two thirds: nothing whole can be kept.
    if (start < 0) start = size;
    off_t out = 0;
    for (off_t in = start; in < size;) {
        const ssize_t n = pread(fd, chunk.data(), chunk.size(), in);
        if (n <= 0) return;
        if (pwrite(fd, chunk.data(), static_cast<std::size_t>(n), out) != n) return;
        in += n;
        out += n;
    }
    if (ftruncate(fd, out) != 0) return;
}

}  // namespace

void refresh_date_name(LogState& s, bool force) {
    if ((s.flags & LOG_DATE_NAMES) == 0 || s.directory.empty()) return;
    const std::tm tm = local_time(now(s));
    std::array<char, 32> date{};
    std::snprintf(date.data(), date.size(), "%02d%02d%02d", tm.tm_year % 100, tm.tm_mon + 1,
                  tm.tm_mday);
    if (!force && s.date_part == date.data()) return;
    std::array<char, 48> name{};
    std::snprintf(name.data(), name.size(), "%s-%02d%02d.log", date.data(), tm.tm_hour, tm.tm_min);
    const bool new_day = s.date_part != date.data();
    s.date_part = date.data();
    if (new_day && (s.flags & LOG_SWEEP_OLD) != 0) sweep_old_files(s);
    s.current_file = s.directory + s.base + name.data();
}

void sweep_old_files(LogState& s) {
    std::error_code ec;
    const auto cutoff = std::chrono::system_clock::to_time_t(now(s)) -
                        static_cast<std::time_t>(s.days_kept) * 86400;
    for (fs::directory_iterator it(s.directory, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < s.base.size() + 4 || name.compare(0, s.base.size(), s.base) != 0 ||
            name.compare(name.size() - 4, 4, ".log") != 0)
            continue;
        struct stat st {};
        if (lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        if (st.st_mtime < cutoff) unlink(it->path().c_str());
    }
}

void apply_size_policy(LogState& s, int fd) {
    if ((s.flags & (LOG_CUT_HEAD | LOG_NEW_FILE_AT_LIMIT)) == 0) return;
    struct stat st {};
    if (fstat(fd, &st) != 0 || st.st_size < s.size_limit) return;
    if ((s.flags & LOG_NEW_FILE_AT_LIMIT) != 0) {
        refresh_date_name(s, true);
    } else {
        cut_head(fd, static_cast<off_t>(s.size_limit / 3), st.st_size);
    }
}

}  // namespace log_detail

using namespace log_detail;

std::string LogFormatStamp(const std::tm& local, unsigned milliseconds) {
    static constexpr std::array<const char*, 12> kMonths{
        "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    std::array<char, 40> out{};
    std::snprintf(out.data(), out.size(), "%s %02d %02d:%02d:%02d.%03u - ", kMonths[month],
                  local.tm_mday % 100, local.tm_hour % 100, local.tm_min % 100,
                  local.tm_sec % 100, milliseconds % 1000);
    return out.data();
}

int LogFPEx(const char* text, int flags, const char* fileName) {
    if (text == nullptr || fileName == nullptr || fileName[0] == '\0') return 0;
    std::lock_guard g(lock());
    LogState& s = state();
    if (!s.started || s.level == LOG_LEVEL_OFF) return 0;
    const int fd = open(fileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return 0;
    std::string out;
    if ((flags & LOG_FP_STAMP) != 0) {
        const auto t = now(s);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            t.time_since_epoch()) % 1000;
        const std::time_t secs = std::chrono::system_clock::to_time_t(t);
        std::tm tm{};
        localtime_r(&secs, &tm);
        out = LogFormatStamp(tm, static_cast<unsigned>(ms.count()));
    }
    out += text;
    // One write per line, so that readers and other processes never see half
    // a stamp without its text.
    if (lseek(fd, 0, SEEK_END) >= 0 && write_all(fd, out)) apply_size_policy(s, fd);
    close(fd);
    s.line_open = false;
    return 0;
}

int LogFP(const char* text, const char* fileName) {
    std::lock_guard g(lock());
    return LogFPEx(text, (state().flags & LOG_STAMP) != 0 ? LOG_FP_STAMP : 0, fileName);
}

}  // namespace cadb
