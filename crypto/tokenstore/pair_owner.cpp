#include "crypto/tokenstore/pair_owner.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <exception>
#include <functional>
#include <mutex>
#include <set>
#include <vector>

namespace cadb {
namespace {

// The text of a small file of the kernel's; nothing when it cannot be read.
// errno tells why.
std::optional<std::string> read_small(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    std::array<char, 1024> buf;
    for (;;) {
        const ssize_t n = ::read(fd, buf.data(), buf.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int e = errno;
            ::close(fd);
            errno = e;
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buf.data(), static_cast<std::size_t>(n));
    }
    ::close(fd);
    return text;
}

// The running boot, alike for every process; empty when the kernel does
// not tell.
const std::string& boot_id() {
    static const std::string id = [] {
        try {
            std::string text = read_small("/proc/sys/kernel/random/boot_id").value_or("");
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
            return text.find_first_of(" \n") == std::string::npos ? text : std::string();
        } catch (const std::exception&) {
            return std::string();
        }
    }();
    return id;
}

enum class Process { running, ended, unknown };

bool to_number(std::string_view text, unsigned long long* out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

// Whether process pid runs, and when it was started (clock ticks after the
// boot, field 22 of its stat line). A process that has died and waits to be
// reaped has ended; a process that may not be looked at is unknown.
Process process_state(unsigned long long pid, unsigned long long* start) {
    std::optional<std::string> stat = read_small("/proc/" + std::to_string(pid) + "/stat");
    if (!stat) return errno == ENOENT || errno == ESRCH ? Process::ended : Process::unknown;
    // The command name in parentheses may hold anything: the fields are
    // counted from its last ")".
    const auto close = stat->rfind(')');
    if (close == std::string::npos) return Process::unknown;
    std::vector<std::string_view> fields;
    std::string_view rest = std::string_view(*stat).substr(close + 1);
    while (!rest.empty() && fields.size() < 20) {
        const auto begin = rest.find_first_not_of(" \n");
        if (begin == std::string_view::npos) break;
        rest.remove_prefix(begin);
        const auto end = rest.find_first_of(" \n");
        fields.push_back(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end);
    }
    // fields[0] is the state (field 3), fields[19] the start time.
    if (fields.size() < 20 || !to_number(fields[19], start)) return Process::unknown;
    return fields[0] == "Z" || fields[0] == "X" ? Process::ended : Process::running;
}

// The marks of the pairs this process's keys hold.
std::mutex g_held_mutex;
std::set<std::string, std::less<>> g_held;

bool held(std::string_view mark) {
    std::lock_guard<std::mutex> lock(g_held_mutex);
    return g_held.find(mark) != g_held.end();
}

}  // namespace

std::optional<std::string> pair_mark_new() {
    static std::atomic<unsigned long> made{0};
    const unsigned long long pid = static_cast<unsigned long long>(::getpid());
    unsigned long long start = 0;
    if (boot_id().empty() || process_state(pid, &start) != Process::running) return std::nullopt;
    try {
        return boot_id() + " " + std::to_string(pid) + " " + std::to_string(start) + " " +
               std::to_string(++made);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool pair_mark_hold(const std::string& mark) {
    std::lock_guard<std::mutex> lock(g_held_mutex);
    try {
        g_held.insert(mark);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

void pair_mark_release(const std::string& mark) {
    std::lock_guard<std::mutex> lock(g_held_mutex);
    g_held.erase(mark);
}

bool pair_mark_left_over(std::string_view mark) {
    std::array<std::string_view, 4> fields;
    std::string_view rest = mark;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const auto end = rest.find(' ');
        if ((end == std::string_view::npos) != (i + 1 == fields.size())) return false;
        fields[i] = rest.substr(0, end);
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    }
    unsigned long long pid = 0, start = 0, number = 0;
    if (fields[0].empty() || !to_number(fields[1], &pid) || pid == 0 ||
        !to_number(fields[2], &start) || !to_number(fields[3], &number))
        return false;
    if (boot_id().empty()) return false;
    if (fields[0] != boot_id()) return true;
    unsigned long long running_since = 0;
    switch (process_state(pid, &running_since)) {
        case Process::ended:
            return true;
        case Process::unknown:
            return false;
        case Process::running:
            break;
    }
    if (running_since != start) return true;
    // This process's own pair is left over once no key of it holds it.
    return pid == static_cast<unsigned long long>(::getpid()) && !held(mark);
}

}  // namespace cadb
