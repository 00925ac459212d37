// Stand-in for the touch-memory library, over a directory. Under the
// configured root each subdirectory "COMn" or "LPTn" is a port with an
// adapter; a button sits on it when the port has a "button" subdirectory.
// On the button, directories keep their names and files are named NAME.EXT
// with the name's padding blanks dropped; names compare without regard to
// case, as on the button. Writes inside a program job reach the button only
// when the job is run.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/vendor/tmex_api.h"
#include "tests/drivers/modules/sim_fs.h"

namespace fs = std::filesystem;
using namespace cadb::vendor;

namespace {

struct OpenFile {
    fs::path path;
    bool writing = false;
};

struct Sess {
    fs::path port;
    fs::path cwd;
    bool job = false;
    std::vector<fs::path> deleted_in_job;
    std::vector<std::function<void()>> pending;
    std::map<short, OpenFile> files;
    short next_file = 0;
};

struct SimState {
    std::string root;
    int busy = 0;                    // start attempts answered "in use"
    short read_extra = 0;            // added to read counts
    std::uint64_t capacity = ~0ULL;  // bytes a button holds
    bool fail_job = false;
    int setups = 0;
    long next_handle = 1;
    std::map<long, Sess> sessions;
};
SimState sim;
std::recursive_mutex sim_mutex;
using Guard = std::lock_guard<std::recursive_mutex>;

std::string trim(const char* name, std::size_t n) {
    std::string s(name, n);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The member of dir named so, without regard to case.
std::optional<fs::path> find(const fs::path& dir, const std::string& name) {
    for (const auto& e : sim_fs::members(dir))
        if (lower(e.path().filename().string()) == lower(name)) return e.path();
    return std::nullopt;
}

std::string file_name(const TmFileEntry& e) {
    char ext[8];
    std::snprintf(ext, sizeof ext, ".%03u", e.extension);
    return trim(e.name, 4) + ext;
}

Sess* session(long h) {
    auto it = sim.sessions.find(h);
    return it == sim.sessions.end() ? nullptr : &it->second;
}

fs::path button(const Sess& s) { return s.port / "button"; }

std::uint64_t used(const Sess& s) { return sim_fs::bytes_below(button(s)); }

// Runs now, or when the open job is run.
void apply(Sess& s, std::function<void()> op) {
    if (s.job)
        s.pending.push_back(std::move(op));
    else
        op();
}

std::vector<TmFileEntry> listing(const Sess& s) {
    std::vector<fs::path> members;
    for (const auto& e : sim_fs::members(s.cwd)) members.push_back(e.path());
    std::sort(members.begin(), members.end());
    std::vector<TmFileEntry> out;
    for (const auto& p : members) {
        TmFileEntry e{};
        std::string name = p.filename().string();
        int ext = kTmDirectoryExtension;
        if (!fs::is_directory(p)) {
            const auto dot = name.rfind('.');
            ext = dot == std::string::npos ? 0 : std::atoi(name.c_str() + dot + 1);
            name = name.substr(0, dot);
        }
        for (std::size_t i = 0; i < 4; ++i) e.name[i] = i < name.size() ? name[i] : ' ';
        e.extension = static_cast<std::uint8_t>(ext);
        out.push_back(e);
    }
    return out;
}

}  // namespace

#define SIM_API extern "C" __attribute__((visibility("default")))

SIM_API long TMExtendedStartSession(short number, short type, void*) {
    const Guard g(sim_mutex);
    if (sim.busy > 0) return --sim.busy, 0;
    if (type != kTmPortSerial && type != kTmPortParallel) return -1;
    const fs::path port =
        fs::path(sim.root) / ((type == kTmPortSerial ? "COM" : "LPT") + std::to_string(number));
    if (!fs::is_directory(port)) return -1;
    // One session on a port at a time.
    for (const auto& [other, open] : sim.sessions)
        if (open.port == port) return 0;
    const long h = sim.next_handle++;
    Sess& s = sim.sessions[h];
    s.port = port;
    s.cwd = port / "button";
    return h;
}

SIM_API short TMEndSession(long h) {
    const Guard g(sim_mutex);
    return sim.sessions.erase(h) == 1 ? 1 : -1;
}

SIM_API short TMSetup(long h) {
    const Guard g(sim_mutex);
    ++sim.setups;
    return session(h) != nullptr ? 1 : -1;
}

SIM_API short TMFirst(long h, void* state) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr) return -1;
    return fs::is_directory(button(*s)) ? 1 : 0;
}

SIM_API short TMChangeDirectory(long h, void* state, short, TmDirPath* path) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || path == nullptr || path->count > kTmMaxDirs) return -1;
    fs::path at = path->ref == '\\' ? button(*s) : s->cwd;
    for (int i = 0; i < path->count; ++i) {
        const auto next = find(at, trim(path->names[i], 4));
        if (!next || !fs::is_directory(*next)) return -1;
        at = *next;
    }
    s->cwd = at;
    return 1;
}

SIM_API short TMDirectoryMR(long h, void* state, short, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    const fs::path p = s->cwd / trim(entry->name, 4);
    if (find(s->cwd, trim(entry->name, 4))) return -3;
    apply(*s, [p] {
        std::error_code ec;
        fs::create_directory(p, ec);
    });
    return 1;
}

SIM_API short TMOpenFile(long h, void* state, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    if (entry->extension == kTmDirectoryExtension) return -1;
    const auto p = find(s->cwd, file_name(*entry));
    if (!p || !fs::is_regular_file(*p)) return -1;
    const short fh = s->next_file++;
    s->files[fh] = OpenFile{*p, false};
    return fh;
}

SIM_API short TMCreateFile(long h, void* state, short* max_write, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    const auto there = find(s->cwd, file_name(*entry));
    if (there && std::find(s->deleted_in_job.begin(), s->deleted_in_job.end(), *there) ==
                     s->deleted_in_job.end())
        return -4;  // exists
    if (used(*s) >= sim.capacity) return -5;          // full
    if (max_write != nullptr) *max_write = 29;
    const short fh = s->next_file++;
    const fs::path p = s->cwd / file_name(*entry);
    s->files[fh] = OpenFile{p, true};
    apply(*s, [p] { std::ofstream(p, std::ios::binary); });
    return fh;
}

SIM_API short TMCloseFile(long h, void*, short fh) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr) return -1;
    return s->files.erase(fh) == 1 ? 1 : -1;
}

SIM_API short TMReadFile(long h, void* state, short fh, unsigned char* buffer, short max) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || buffer == nullptr || max < 0) return -1;
    const auto it = s->files.find(fh);
    if (it == s->files.end()) return -1;
    std::ifstream in(it->second.path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), {}};
    const std::size_t n = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(max));
    if (n != 0) std::memcpy(buffer, bytes.data(), n);
    return static_cast<short>(n + static_cast<std::size_t>(sim.read_extra));
}

SIM_API short TMWriteFile(long h, void* state, short fh, const unsigned char* data, short length) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || length < 0 || (data == nullptr && length != 0))
        return -1;
    const auto it = s->files.find(fh);
    if (it == s->files.end() || !it->second.writing) return -1;
    if (used(*s) + static_cast<std::uint64_t>(length) > sim.capacity) return -5;
    const fs::path p = it->second.path;
    const std::string bytes(reinterpret_cast<const char*>(data), static_cast<std::size_t>(length));
    apply(*s, [p, bytes] { std::ofstream(p, std::ios::binary | std::ios::app) << bytes; });
    return length;
}

SIM_API short TMDeleteFile(long h, void* state, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    const auto p = find(s->cwd, file_name(*entry));
    if (!p) return kTmFileNotFound;
    const fs::path target = *p;
    if (s->job) s->deleted_in_job.push_back(target);
    apply(*s, [target] {
        std::error_code ec;
        fs::remove(target, ec);
    });
    return 1;
}

SIM_API short TMCreateProgramJob(long h, void* state) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr) return -1;
    s->job = true;
    s->pending.clear();
    s->deleted_in_job.clear();
    return 1;
}

SIM_API short TMDoProgramJob(long h, void* state) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || !s->job) return -1;
    s->job = false;
    auto ops = std::move(s->pending);
    s->pending.clear();
    s->deleted_in_job.clear();
    if (sim.fail_job) return -1;
    for (auto& op : ops) op();
    return 1;
}

SIM_API short TMFirstFile(long h, void* state, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    const auto all = listing(*s);
    std::memcpy(state, "\0\0\0\0", 4);
    if (all.empty()) return 0;
    *entry = all[0];
    const std::uint32_t next = 1;
    std::memcpy(state, &next, sizeof next);
    return 1;
}

SIM_API short TMNextFile(long h, void* state, TmFileEntry* entry) {
    const Guard g(sim_mutex);
    Sess* s = session(h);
    if (s == nullptr || state == nullptr || entry == nullptr) return -1;
    std::uint32_t next = 0;
    std::memcpy(&next, state, sizeof next);
    const auto all = listing(*s);
    if (next >= all.size()) return 0;
    *entry = all[next++];
    std::memcpy(state, &next, sizeof next);
    return 1;
}

// Controls for the tests.
SIM_API void simConfigure(const char* root) {
    const Guard g(sim_mutex);
    sim = SimState{};
    sim.root = root;
}
SIM_API void simBusy(int attempts) { sim.busy = attempts; }
SIM_API void simLie(short read_extra) { sim.read_extra = read_extra; }
SIM_API void simCapacity(std::uint64_t bytes) { sim.capacity = bytes; }
SIM_API void simFailJob(int on) { sim.fail_job = on != 0; }
SIM_API int simSetups() { return sim.setups; }
SIM_API int simOpenSessions() {
    const Guard g(sim_mutex);
    return static_cast<int>(sim.sessions.size());
}
