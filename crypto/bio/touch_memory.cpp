#include "crypto/bio/touch_memory.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/held_file_stream.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken_fs.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "platform/module.h"
#include "platform/no_destructor.h"

namespace cadb {
namespace {

using vendor::TmDirPath;
using vendor::TmFileEntry;

struct Api {
#define CADB_TM_MEMBER(name) vendor::name##_t name = nullptr;
    CADB_TMEX_ENTRIES(CADB_TM_MEMBER)
#undef CADB_TM_MEMBER
};

struct Driver {
    std::mutex mutex;
    Module library;
    Api api{};
    std::atomic<bool> loaded{false};
};
// The vendor library goes with TM_unload, never with a destructor at exit.
Driver& driver() {
    static NoDestructor<Driver> d;
    return *d;
}
bool loaded() { return driver().loaded.load(std::memory_order_acquire); }
const Api& api() { return driver().api; }

std::atomic<TM_REGISTRY_READER> g_registry_reader{nullptr};

constexpr std::size_t kMaxPathCopy = 260;
constexpr auto kBusyWait = std::chrono::seconds(10);
constexpr int kMaxKnownPorts = 10;
constexpr int kMaxPortNumber = 15;

// Ports found to work, so that later operations skip the setup check.
// Guarded by lock 18.
struct KnownPort {
    short number;
    short type;
};
std::array<KnownPort, kMaxKnownPorts> g_ports{};
int g_port_count = 0;

// A session and the state buffer its calls share. The buffer belongs to
// the operation, so that operations of different threads never share one.
class Session {
  public:
    Session(short number, short type) : state_(vendor::kTmStateSize, 0) {
        if (!loaded()) return;
        const auto start = std::chrono::steady_clock::now();
        // 0: the port is in use by another session; try again for a while.
        for (;;) {
            handle_ = api().TMExtendedStartSession(number, type, nullptr);
            if (handle_ != 0 || std::chrono::steady_clock::now() - start >= kBusyWait) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~Session() {
        if (handle_ > 0 && loaded()) api().TMEndSession(handle_);
        OPENSSL_cleanse(state_.data(), state_.size());
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    bool ok() const { return handle_ > 0; }
    long handle() const { return handle_; }
    void* state() { return state_.data(); }

  private:
    std::vector<unsigned char> state_;
    long handle_ = 0;
};

void pad_name(char (&out)[4], std::string_view name, bool upper) {
    for (std::size_t i = 0; i < 4; ++i) {
        char c = i < name.size() ? name[i] : ' ';
        if (upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        out[i] = c;
    }
}

// Where a path points: port, directories and the file entry.
struct Location {
    short port_number = -1;
    short port_type = -1;
    TmDirPath dir{};
    TmFileEntry entry{};
};

// Takes a path apart; false when it names no port. A malformed name leaves
// the entry marked as a directory, so that it finds no regular file.
bool TM_parse_path(const char* text, Location& out) {
    if (text == nullptr) return false;
    std::string path(text, strnlen(text, kMaxPathCopy));
    const std::size_t colon = path.find(':');
    if (colon == std::string::npos) return false;
    std::replace(path.begin(), path.end(), '/', '\\');
    const std::string_view port(path.data(), colon);
    if (iequal_prefix(port, "COM") || iequal_prefix(port, "LPT")) {
        const std::string digits(port.substr(3));
        if (digits.empty() ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }) ||
            digits.size() > 4)
            return false;
        out.port_type =
            iequal_prefix(port, "COM") ? vendor::kTmPortSerial : vendor::kTmPortParallel;
        out.port_number = static_cast<short>(std::atoi(digits.c_str()));
    } else if (iequal_prefix(port, "iButton")) {
        out.port_type = vendor::kTmPortAuto;
        out.port_number = 0;
    } else {
        return false;
    }
    out.dir = TmDirPath{};
    out.dir.ref = '\\';
    out.entry = TmFileEntry{};
    pad_name(out.entry.name, "", false);
    const auto as_directory = [&] {
        out.entry.extension = vendor::kTmDirectoryExtension;
        return true;
    };
    const std::size_t last = path.rfind('\\');
    if (last == std::string::npos || last < colon) return as_directory();
    const std::string component = path.substr(last + 1);
    const std::size_t dot = component.rfind('.');
    const std::string name = component.substr(0, dot);
    if (dot != std::string::npos) {
        // Read as a decimal number as far as it goes ("*" reads as 0); a
        // number past a byte names no file.
        const std::string ext = component.substr(dot + 1, 4);
        const int value = std::atoi(ext.c_str());
        if (value < 0 || value > 255) return as_directory();
        out.entry.extension = static_cast<std::uint8_t>(value);
    }
    if (name.size() > 4) return as_directory();
    pad_name(out.entry.name, name, false);
    if (colon + 1 < path.size() && path[colon + 1] != '\\') return as_directory();
    // The directories between ":\" and the last "\": more than the button
    // holds is malformed, not cut short (that would write elsewhere).
    std::size_t pos = colon + 2;
    while (pos < last) {
        std::size_t end = path.find('\\', pos);
        if (end == std::string::npos || end > last) end = last;
        const std::string part = path.substr(pos, end - pos);
        pos = end + 1;
        if (part.empty()) continue;
        if (part.size() > 4 || out.dir.count >= vendor::kTmMaxDirs) return as_directory();
        pad_name(out.dir.names[out.dir.count++], part, false);
    }
    return true;
}

bool is_directory_entry(const TmFileEntry& e) {
    return e.extension == vendor::kTmDirectoryExtension;
}

// The port defaults in the registry, when both values read as numbers from
// 0 to 15.
bool TM_port_from_registry(short& number, short& type) {
    const TM_REGISTRY_READER reader = g_registry_reader.load();
    if (reader == nullptr) return false;
    static constexpr const char* kKey = "Software\\Dallas Semiconductor\\iButton TMEX\\3.00";
    std::array<char, 255> num{}, typ{};
    if (reader(kKey, "DefaultPortNum", num.data(), static_cast<int>(num.size())) != 1 ||
        reader(kKey, "DefaultPortType", typ.data(), static_cast<int>(typ.size())) != 1)
        return false;
    num.back() = typ.back() = '\0';
    const auto to_number = [](const char* s, short& out) {
        char* end = nullptr;
        const long v = std::strtol(s, &end, 10);
        if (end == s || *end != '\0' || v < 0 || v > kMaxPortNumber) return false;
        out = static_cast<short>(v);
        return true;
    };
    return to_number(num.data(), number) && to_number(typ.data(), type);
}

bool TM_port_usable(short number, short type) {
    LockGuard g(CRYPTO_LOCK_INIT_COUNT);
    for (int i = 0; i < g_port_count; ++i)
        if (g_ports[static_cast<std::size_t>(i)].number == number &&
            g_ports[static_cast<std::size_t>(i)].type == type)
            return true;
    if (g_port_count >= kMaxKnownPorts) return false;
    Session s(number, type);
    if (!s.ok()) return false;
    const short r = api().TMSetup(s.handle());
    if (r != 1 && r != 2) return false;
    g_ports[static_cast<std::size_t>(g_port_count++)] = {number, type};
    return true;
}

bool TM_resolve_port(Location& loc) {
    short reg_number = 0, reg_type = 0;
    const bool defaults = TM_port_from_registry(reg_number, reg_type);
    if (loc.port_type > 0) {
        if (loc.port_number > 0) return TM_port_usable(loc.port_number, loc.port_type);
        if (defaults && reg_type == loc.port_type && TM_port_usable(reg_number, reg_type)) {
            loc.port_number = reg_number;
            return true;
        }
        for (short n = 1; n <= kMaxPortNumber; ++n)
            if (TM_port_usable(n, loc.port_type)) return loc.port_number = n, true;
        return false;
    }
    if (defaults && TM_port_usable(reg_number, reg_type)) {
        loc.port_number = reg_number;
        loc.port_type = reg_type;
        return true;
    }
    for (short type : {vendor::kTmPortSerial, vendor::kTmPortParallel})
        for (short n = 1; n <= kMaxPortNumber; ++n)
            if (TM_port_usable(n, type)) {
                loc.port_number = n;
                loc.port_type = type;
                return true;
            }
    return false;
}

// Into the location's directory; 1 when there.
bool TM_change_dir(Session& s, TmDirPath& dir) {
    return api().TMChangeDirectory(s.handle(), s.state(), 0, &dir) == 1;
}

// A session on the location's port with a button answering.
bool start(Session& s) { return s.ok() && api().TMFirst(s.handle(), s.state()) == 1; }

// Creates the missing directories of the path, upper-cased, and ends in the
// last one.
bool TM_make_dirs(Session& s, const TmDirPath& dir) {
    TmDirPath work{};
    work.ref = '\\';
    if (!TM_change_dir(s, work)) return false;
    for (int i = 0; i < dir.count; ++i) {
        if (work.count >= vendor::kTmMaxDirs) return false;
        const std::string_view name(dir.names[i], 4);
        pad_name(work.names[work.count++], name, true);
        if (TM_change_dir(s, work)) continue;
        TmDirPath parent = work;
        --parent.count;
        if (!TM_change_dir(s, parent)) return false;
        TmFileEntry entry{};
        pad_name(entry.name, name, true);
        const bool job = api().TMCreateProgramJob(s.handle(), s.state()) == 1;
        if (api().TMDirectoryMR(s.handle(), s.state(), 0, &entry) != 1) return false;
        if (job && api().TMDoProgramJob(s.handle(), s.state()) != 1) return false;
        if (!TM_change_dir(s, work)) return false;
    }
    return true;
}

bool TM_delete_file(Session& s, TmFileEntry& entry) {
    const short r = api().TMDeleteFile(s.handle(), s.state(), &entry);
    return r == 1 || r == vendor::kTmFileNotFound;
}

// The state of one stream.
struct TM_STREAM {
    Location loc;
    std::vector<unsigned char> buffer;
    std::size_t pos = 0;
    bool has_buffer = false;
    int mode = 0;
    long open_size = -1;
    bool committed = false;  // written by a flush; nothing more is taken
    // A write was refused: the file is not replaced by what was taken.
    bool failed = false;

    ~TM_STREAM() { wipe(); }
    void wipe() {
        held_wipe(buffer);
        pos = 0;
    }
};

TM_STREAM* stream_of(BIO* bio) {
    return bio != nullptr ? static_cast<TM_STREAM*>(BIO_get_data(bio)) : nullptr;
}

int commit_fail(int reason) {
    CADB_ERR(ERR_LIB_BUF_, TM_F_COMMIT, reason);
    return 0;
}

// Writes what is left unread in the memory as the new file.
int TM_STREAM_commit(TM_STREAM& st) {
    if (!(st.mode & BIO_FP_WRITE) || st.loc.port_number < 0 || st.loc.port_type < 0 ||
        !st.has_buffer)
        return 1;
    if (!loaded() || st.failed) return commit_fail(TM_R_SYSTEM_LIB);
    Session s(st.loc.port_number, st.loc.port_type);
    if (!start(s)) return commit_fail(TM_R_SYSTEM_LIB);
    if (!TM_change_dir(s, st.loc.dir) && !TM_make_dirs(s, st.loc.dir))
        return commit_fail(TM_R_SYSTEM_LIB);
    const bool job = api().TMCreateProgramJob(s.handle(), s.state()) == 1;
    const auto drop_job = [&] {
        if (job) api().TMCreateProgramJob(s.handle(), s.state());
        return commit_fail(TM_R_SYSTEM_LIB);
    };
    if (!TM_delete_file(s, st.loc.entry)) return drop_job();
    short max_write = 0;
    const short handle = api().TMCreateFile(s.handle(), s.state(), &max_write, &st.loc.entry);
    if (handle < 0) return drop_job();
    const std::size_t length = st.buffer.size() - std::min(st.pos, st.buffer.size());
    const unsigned char* data = st.buffer.data() + std::min(st.pos, st.buffer.size());
    if (data == nullptr && length != 0) {
        api().TMCloseFile(s.handle(), s.state(), handle);
        if (job) api().TMCreateProgramJob(s.handle(), s.state());
        return commit_fail(TM_R_NO_BUFFER_DATA);
    }
    const short written =
        api().TMWriteFile(s.handle(), s.state(), handle, data, static_cast<short>(length));
    api().TMCloseFile(s.handle(), s.state(), handle);
    // A short write is no success.
    if (written < 0 || static_cast<std::size_t>(written) != length) return drop_job();
    if (job && api().TMDoProgramJob(s.handle(), s.state()) != 1) return drop_job();
    return 1;
}

// Ends the file held by the stream as destroy does.
int close_file(BIO* bio) {
    std::unique_ptr<TM_STREAM> st(stream_of(bio));
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    if (!st) return 1;
    return BIO_get_shutdown(bio) ? TM_STREAM_commit(*st) : 1;
}

int open_fail(int reason) {
    CADB_ERR(ERR_LIB_BUF_, TM_F_OPEN, reason);
    return 0;
}

int open_stream(BIO* bio, int mode, const char* path) {
    close_file(bio);
    std::unique_ptr<TM_STREAM> fresh(new (std::nothrow) TM_STREAM);
    if (!fresh) {
        CADB_ERR(ERR_LIB_BUF_, TM_F_STREAM_NEW, ERR_R_MALLOC);
        return open_fail(ERR_R_MALLOC);
    }
    TM_STREAM* st = fresh.get();
    BIO_set_data(bio, fresh.release());
    BIO_set_init(bio, 1);
    if (!loaded() || !TM_parse_path(path, st->loc) || !TM_resolve_port(st->loc))
        return open_fail(TM_R_SYSTEM_LIB);
    // A directory, or a malformed name, is no file to read or write.
    if (is_directory_entry(st->loc.entry)) return open_fail(TM_R_SYSTEM_LIB);
    if (!(mode & BIO_FP_READ)) {
        st->mode = mode;
        st->has_buffer = true;
        return 1;
    }
    // One byte more than a file may hold tells a longer file from a full one.
    std::vector<unsigned char> data(vendor::kTmReadMax + 1, 0);
    Session s(st->loc.port_number, st->loc.port_type);
    if (!s.ok()) return open_fail(TM_R_SYSTEM_LIB);
    if (api().TMFirst(s.handle(), s.state()) != 1 || !TM_change_dir(s, st->loc.dir))
        return open_fail(TM_R_SYSTEM_LIB);
    const short handle = api().TMOpenFile(s.handle(), s.state(), &st->loc.entry);
    if (handle < 0) return open_fail(TM_R_SYSTEM_LIB);
    const short got = api().TMReadFile(s.handle(), s.state(), handle, data.data(),
                                       static_cast<short>(data.size()));
    api().TMCloseFile(s.handle(), s.state(), handle);
    // A count beyond what was asked for, or a file longer than a read brings,
    // is an error: a key cut short would pass for a whole, damaged one.
    if (got < 0 || got > vendor::kTmReadMax) {
        OPENSSL_cleanse(data.data(), data.size());
        return open_fail(TM_R_SYSTEM_LIB);
    }
    st->buffer.assign(data.begin(), data.begin() + got);
    OPENSSL_cleanse(data.data(), data.size());
    st->open_size = got;
    st->mode = mode;
    st->has_buffer = true;
    return 1;
}

int TM_write(BIO* bio, const char* data, int n) {
    TM_STREAM* st = stream_of(bio);
    if (st == nullptr || !BIO_get_init(bio) || data == nullptr || n < 0 || !st->has_buffer)
        return st != nullptr && st->committed ? -1 : 0;
    // What one read cannot bring back is not written.
    if (st->buffer.size() + static_cast<std::size_t>(n) > vendor::kTmReadMax) {
        st->failed = true;
        CADB_ERR(ERR_LIB_BUF_, TM_F_COMMIT, TM_R_SYSTEM_LIB);
        return -1;
    }
    held_append(st->buffer, data, static_cast<std::size_t>(n), vendor::kTmReadMax);
    return n;
}

int TM_read(BIO* bio, char* out, int n) {
    TM_STREAM* st = stream_of(bio);
    if (st == nullptr || !BIO_get_init(bio) || out == nullptr || n < 0 || !st->has_buffer) return 0;
    return held_read(st->buffer, st->pos, out, n);
}

int TM_puts(BIO* bio, const char* text) {
    if (text == nullptr) return 0;
    const int n = TM_write(bio, text, static_cast<int>(strnlen(text, vendor::kTmReadMax + 1)));
    return n < 0 ? 0 : n;
}

int TM_gets(BIO* bio, char* out, int size) {
    TM_STREAM* st = stream_of(bio);
    if (st == nullptr || !st->has_buffer || out == nullptr || size <= 0) return 0;
    return held_gets(st->buffer, st->pos, out, size, true);
}

long TM_ctrl(BIO* bio, int cmd, long num, void* ptr) {
    TM_STREAM* st = stream_of(bio);
    switch (cmd) {
        case BIO_CTRL_RESET:
            if (st == nullptr) return 1;
            st->pos = 0;
            return 1;
        case BIO_CTRL_EOF:
            if (st == nullptr) return 1;
            return st->pos >= st->buffer.size() ? 1 : 0;
        case BIO_CTRL_INFO:
            return st == nullptr ? 1 : static_cast<long>(st->buffer.size());
        case BIO_CTRL_SET:
            // Ends the current file; a state record handed in from outside
            // cannot be told from any other pointer, so none is taken over.
            if (ptr != nullptr) return 0;
            close_file(bio);
            BIO_set_shutdown(bio, static_cast<int>(num));
            return 1;
        case BIO_CTRL_GET:
            return 1;
        case BIO_CTRL_GET_CLOSE:
            return BIO_get_shutdown(bio);
        case BIO_CTRL_SET_CLOSE:
            BIO_set_shutdown(bio, static_cast<int>(num));
            return 1;
        case BIO_CTRL_PENDING:
            return st != nullptr ? st->open_size : -1;
        case BIO_C_SET_FILENAME:
            return open_stream(bio, static_cast<int>(num), static_cast<const char*>(ptr));
        case BIO_CTRL_FLUSH: {
            // Writes the file now and reports whether it could: freeing the
            // stream reports nothing, so a writer learns of a failure only
            // here. Nothing is written again afterwards.
            if (st == nullptr) return 0;
            const int ok = TM_STREAM_commit(*st);
            st->committed = true;
            st->has_buffer = false;
            return ok;
        }
        default:
            return 0;
    }
}

int tm_create(BIO* bio) {
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    BIO_set_shutdown(bio, 1);
    return 1;
}

int TM_free(BIO* bio) {
    if (bio == nullptr) return 0;
    if (!BIO_get_shutdown(bio) || !BIO_get_init(bio) || stream_of(bio) == nullptr) {
        std::unique_ptr<TM_STREAM> st(stream_of(bio));
        BIO_set_data(bio, nullptr);
        return 1;
    }
    return close_file(bio);
}

const BIO_METHOD* method() {
    static const BIO_METHOD* m = held_file_method_new(
        "Touch Memory", {TM_write, TM_read, TM_puts, TM_gets, TM_ctrl, tm_create, TM_free});
    return m;
}

// A session at the location's directory.
bool session_at(Location& loc, Session*& out, std::unique_ptr<Session>& holder) {
    if (!TM_resolve_port(loc)) return false;
    holder = std::make_unique<Session>(loc.port_number, loc.port_type);
    if (!start(*holder) || !TM_change_dir(*holder, loc.dir)) return false;
    out = holder.get();
    return true;
}

int ready(const char*) { return loaded() ? 1 : 0; }

// A path names a directory when all its components do.
int is_directory(const char* path) {
    Location loc;
    if (!loaded() || !TM_parse_path(path, loc)) return 0;
    if (!is_directory_entry(loc.entry)) {
        if (loc.dir.count >= vendor::kTmMaxDirs || loc.entry.extension != 0) return 0;
        std::memcpy(loc.dir.names[loc.dir.count++], loc.entry.name, 4);
    }
    Session* s = nullptr;
    std::unique_ptr<Session> holder;
    return session_at(loc, s, holder) ? 1 : 0;
}

// Whether the directory at lists want: 1, 0, or -1 when it cannot be
// listed. A name is compared without regard to case; an extension of 0
// also finds a directory of that name.
int lists(Session& s, TmDirPath at, const TmFileEntry& want) {
    if (!TM_change_dir(s, at)) return -1;
    const auto same = [&want](const TmFileEntry& e) {
        for (std::size_t i = 0; i < 4; ++i)
            if (std::toupper(static_cast<unsigned char>(e.name[i])) !=
                std::toupper(static_cast<unsigned char>(want.name[i])))
                return false;
        return e.extension == want.extension || (want.extension == 0 && is_directory_entry(e));
    };
    TmFileEntry e{};
    short r = api().TMFirstFile(s.handle(), s.state(), &e);
    for (int left = 0x10000; r > 0 && left > 0; --left) {
        if (same(e)) return 1;
        r = api().TMNextFile(s.handle(), s.state(), &e);
    }
    return r == 0 ? 0 : -1;
}

// 1 when the path is on the button, 0 when the button answers it is not,
// -1 when it cannot tell. The library has no answer of its own for a
// missing entry: an entry is missing when the listing of the directory
// above it, or of a directory on the way, does not name it.
int exists(const char* path) {
    if (!loaded()) return -1;
    if (TM_file_exists(path) == 1 || is_directory(path) == 1) return 1;
    Location loc;
    if (!TM_parse_path(path, loc)) return 0;
    if (!TM_resolve_port(loc)) return -1;
    Session s(loc.port_number, loc.port_type);
    if (!start(s)) return -1;
    TmDirPath at{};
    at.ref = '\\';
    for (int i = 0; i < loc.dir.count; ++i) {
        TmFileEntry dir{};
        std::memcpy(dir.name, loc.dir.names[i], 4);
        dir.extension = vendor::kTmDirectoryExtension;
        const int found = lists(s, at, dir);
        if (found != 1) return found;
        std::memcpy(at.names[at.count++], loc.dir.names[i], 4);
    }
    // Named in the listing though it could not be opened: no answer.
    return lists(s, at, loc.entry) == 0 ? 0 : -1;
}

long open_size(BIO* bio) {
    const TM_STREAM* st = stream_of(bio);
    return st != nullptr && (st->mode & BIO_FP_READ) ? st->open_size : -1;
}

int list_dir(const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg) {
    if (path == nullptr || cb == nullptr) return 0;
    std::string pattern(path, strnlen(path, kMaxPathCopy));
    while (!pattern.empty() && (pattern.back() == '\\' || pattern.back() == '/'))
        pattern.pop_back();
    pattern += "\\*.*";
    TM_DIR dir;
    const auto close = [&](int result) {
        TM_dir_close(&dir);
        return result;
    };
    // An empty directory lists nothing; a directory that cannot be entered
    // fails.
    int more = TM_dir_first(pattern.c_str(), &dir);
    if (dir.session <= 0) return close(0);
    for (int left = 0x10000; more > 0 && left > 0; --left) {
        char name[5];
        std::memcpy(name, dir.entry.name, 4);
        name[4] = '\0';
        const int ext = dir.entry.extension;
        const BIO_MEDIA_ENTRY entry{name, ext, ext == vendor::kTmDirectoryExtension ? 1 : 0, -1};
        if (cb(&entry, arg) == 0) break;
        more = TM_dir_next(&dir);
    }
    return close(1);
}

// A button is known by the port its adapter sits on: the library tells
// nothing of the button itself before a session, and one port serves one
// button at a time.
int identity(const char* path, char* out, std::size_t size) {
    Location loc;
    if (!loaded() || out == nullptr || !TM_parse_path(path, loc) || !TM_resolve_port(loc)) return 0;
    const char* type = loc.port_type == vendor::kTmPortSerial ? "COM" : "LPT";
    const int n = std::snprintf(out, size, "%s%d", type, loc.port_number);
    return n > 0 && static_cast<std::size_t>(n) < size ? 1 : 0;
}

const BIO_MEDIA_DRIVER kDriver = {
    "Touch Memory", method,         ready,   ready,    exists,   is_directory,
    open_size,      TM_delete_path, nullptr, list_dir, identity, nullptr,
};

}  // namespace

int TM_file_exists(const char* path) {
    Location loc;
    if (!loaded() || !TM_parse_path(path, loc)) return 0;
    Session* s = nullptr;
    std::unique_ptr<Session> holder;
    if (!session_at(loc, s, holder)) return 0;
    const short handle = api().TMOpenFile(s->handle(), s->state(), &loc.entry);
    if (handle < 0) return 0;
    api().TMCloseFile(s->handle(), s->state(), handle);
    return 1;
}

int TM_delete_path(const char* path) {
    Location loc;
    if (!loaded() || !TM_parse_path(path, loc) || is_directory_entry(loc.entry)) return 0;
    Session* s = nullptr;
    std::unique_ptr<Session> holder;
    if (!session_at(loc, s, holder)) return 0;
    const bool job = api().TMCreateProgramJob(s->handle(), s->state()) == 1;
    if (!TM_delete_file(*s, loc.entry)) {
        if (job) api().TMCreateProgramJob(s->handle(), s->state());
        return 0;
    }
    if (job && api().TMDoProgramJob(s->handle(), s->state()) != 1) return 0;
    return 1;
}

int TM_dir_first(const char* path, TM_DIR* dir) {
    if (dir == nullptr) return 0;
    TM_dir_close(dir);
    Location loc;
    if (!loaded() || !TM_parse_path(path, loc) || !TM_resolve_port(loc)) return 0;
    auto* state = static_cast<unsigned char*>(OPENSSL_zalloc(vendor::kTmStateSize));
    if (state == nullptr) return 0;
    dir->state = state;
    dir->dir = loc.dir;
    dir->port_number = loc.port_number;
    dir->port_type = loc.port_type;
    long handle = 0;
    const auto start_time = std::chrono::steady_clock::now();
    for (;;) {
        handle = api().TMExtendedStartSession(loc.port_number, loc.port_type, nullptr);
        if (handle != 0 || std::chrono::steady_clock::now() - start_time >= kBusyWait) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (handle <= 0) return 0;
    dir->session = handle;
    if (api().TMFirst(handle, state) != 1 ||
        api().TMChangeDirectory(handle, state, 0, &dir->dir) != 1) {
        TM_dir_close(dir);
        return 0;
    }
    const short r = api().TMFirstFile(handle, state, &dir->entry);
    return r >= 0 ? r : 0;
}

int TM_dir_next(TM_DIR* dir) {
    if (dir == nullptr || dir->session <= 0 || !loaded()) return 0;
    const short r = api().TMNextFile(dir->session, dir->state, &dir->entry);
    return r >= 0 ? r : 0;
}

void TM_dir_close(TM_DIR* dir) {
    if (dir == nullptr) return;
    if (dir->session > 0 && loaded()) api().TMEndSession(dir->session);
    dir->session = 0;
    if (dir->state != nullptr) OPENSSL_clear_free(dir->state, vendor::kTmStateSize);
    dir->state = nullptr;
}

const BIO_METHOD* BIO_s_touch_memory() { return method(); }

int TM_load() {
    Driver& d = driver();
    {
        std::lock_guard<std::mutex> g(d.mutex);
        if (!d.loaded.load()) {
            Module library = module_load("ibfs32.dll");
            if (!library) return vendor::kTmMissingEntry;
            Api resolved{};
            bool all = true;
#define CADB_TM_RESOLVE(name) all = module_entry(library, #name, resolved.name) && all;
            CADB_TMEX_ENTRIES(CADB_TM_RESOLVE)
#undef CADB_TM_RESOLVE
            if (!all) return vendor::kTmMissingEntry;
            d.api = resolved;
            d.library = std::move(library);
            d.loaded.store(true, std::memory_order_release);
        }
    }
    if (method() == nullptr) return 0;
    BIO_media_register_driver(BIO_MEDIUM_IBUTTON, &kDriver);
    return 1;
}

int TM_init() {
    TM_load();
    return 1;
}

void TM_unload() {
    if (BIO_media_driver(BIO_MEDIUM_IBUTTON) == &kDriver)
        BIO_media_register_driver(BIO_MEDIUM_IBUTTON, nullptr);
    // Lock 18 first, then the driver's own: the order of start-up, which
    // loads the driver while it holds lock 18, so that an unload beside a
    // start or a stop cannot deadlock.
    LockGuard ports(CRYPTO_LOCK_INIT_COUNT);
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.mutex);
    d.loaded.store(false);
    d.api = Api{};
    d.library.reset();
    g_port_count = 0;
}

int TM_loaded() { return loaded() ? 1 : 0; }

void TM_set_registry_reader(TM_REGISTRY_READER reader) { g_registry_reader.store(reader); }

}  // namespace cadb
