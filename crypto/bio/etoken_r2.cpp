#include "crypto/bio/etoken_r2.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "crypto/bio/etoken.h"
#include "crypto/bio/held_file_stream.h"
#include "crypto/bio/media_pin.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "platform/module.h"
#include "platform/no_destructor.h"

namespace cadb {
namespace {

using vendor::ETOKEN_FILE_INFO;
using vendor::ETR2_SESSION;

struct Api {
#define CADB_ETR2_MEMBER(name) vendor::name##_t name = nullptr;
    CADB_ETOKEN_R2_ENTRIES(CADB_ETR2_MEMBER)
#undef CADB_ETR2_MEMBER
};

constexpr int kReasonSystemLib = 2;
constexpr std::size_t kMaxPathCopy = 260;
constexpr std::size_t kMaxReaderName = 255;
constexpr int kReaderAttempts = 10;
constexpr const char* kDefaultReader = "AKS ifdh ";

struct Driver {
    std::mutex mutex;
    Module library;
    Api api{};
    std::atomic<bool> loaded{false};
};

// The vendor library goes with ETR2_unload, never with a destructor at exit.
Driver& driver() {
    static NoDestructor<Driver> d;
    return *d;
}
bool loaded() { return driver().loaded.load(std::memory_order_acquire); }
const Api& api() { return driver().api; }

// A path taken apart: the reader to try and the identifier string.
struct Path {
    enum class Reader { any, number, name } reader = Reader::any;
    std::string reader_name;  // for number and name
    std::string ids;
};

// Files live below 3f00\e007 unless the path starts at the master file.
std::string ETR2_normalise_path(std::string path) {
    if (!iequal_prefix(path, "eTR2")) return path;
    std::size_t sep = path.find(":\\");
    if (sep == std::string::npos) sep = path.find(":/");
    if (sep == std::string::npos) return path;
    const std::string rest = path.substr(sep + 2);
    if (iequal_prefix(rest, "3f00")) return path;
    path.resize(sep + 2);
    path += "3f00\\e007";
    if (!rest.empty()) path += "\\" + rest;
    return path;
}

std::optional<Path> parse(const char* text) {
    if (text == nullptr || !BIO_media_is_eTR2(text)) return std::nullopt;
    const std::size_t len = strnlen(text, kMaxPathCopy + 1);
    if (len > kMaxPathCopy) return std::nullopt;
    const std::string path = ETR2_normalise_path(std::string(text, len));
    Path out;
    std::size_t files = std::string::npos;  // where the file part starts
    std::size_t pos = 4;
    while (pos < path.size() && path[pos] == ' ') ++pos;
    if (pos < path.size() && std::isdigit(static_cast<unsigned char>(path[pos]))) {
        out.reader = Path::Reader::number;
        out.reader_name = std::string(kDefaultReader) + path[pos];
    } else if (pos < path.size() && (path[pos] == '\\' || path[pos] == '/')) {
        std::size_t end = path.find(":/", pos + 1);
        if (end == std::string::npos) end = path.find(":\\", pos + 1);
        if (end == std::string::npos) return std::nullopt;
        out.reader = Path::Reader::name;
        out.reader_name = path.substr(pos + 1, std::min(end - pos - 1, kMaxReaderName));
        files = end + 1;
    }
    if (files == std::string::npos) {
        files = path.find(':');
        files = files == std::string::npos ? 0 : files + 1;
    }
    for (char c : path.substr(files)) {
        if (c == '\\' || c == '/') continue;
        // A malformed identifier string never reaches the library.
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        out.ids.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    }
    if (out.ids.empty() || out.ids.size() % 4 != 0) return std::nullopt;
    return out;
}

// The reader name of attempt i, or nullopt when the path allows no such
// attempt.
std::optional<std::string> reader_of(const Path& p, int attempt, bool name_every_time) {
    if (p.reader == Path::Reader::number) {
        if (attempt != 0) return std::nullopt;
        return p.reader_name;
    }
    if (p.reader == Path::Reader::name && (attempt == 0 || name_every_time)) return p.reader_name;
    return std::string(kDefaultReader) + std::to_string(attempt);
}

// The driver's name, and the one identity it gives every eToken R2 device
// (see identity below).
constexpr char kDriverName[] = "eToken R2";
constexpr char kEveryDevice[] = "any";

// The library asks the PIN itself, through the session's callback. While
// this thread holds the PIN asked before its hold of the device, the
// library is handed that answer instead of asking a person inside the hold.
// The answer was asked through the process-wide callback: a stream's own
// callback is still the one asked.
int handed_pin(char* buf, int size, int rwflag, void* arg) {
    return media_pin(kDriverName, kEveryDevice, nullptr, buf, size, rwflag, arg);
}

vendor::ETokenPasswdCb asker(pem_password_cb* cb) {
    return media_pin_in_hand(kDriverName, kEveryDevice) ? handed_pin : cb;
}

// Pushes the details of the library's last failure and clears them. A
// login the library failed with the PIN handed to it is not handed that
// PIN again.
void ETR2_session_report(ETR2_SESSION* s) {
    if (s == nullptr || s->err_func == 0) return;
    if (s->err_reason == vendor::ETR2_R_LOGIN_FAILED && s->passwd_cb == handed_pin)
        media_pin_refused(kDriverName, kEveryDevice);
    ERR_put_error(ERR_LIB_ETOKEN, static_cast<int>(s->err_func), static_cast<int>(s->err_reason),
                  s->err_file != nullptr ? s->err_file : "etapi", static_cast<int>(s->err_line));
    s->err_func = 0;
    s->err_reason = 0;
    s->err_file = nullptr;
    s->err_line = 0;
}

void ETR2_session_free(ETR2_SESSION* s) {
    if (s == nullptr) return;
    if (s->handle != 0 && loaded()) api().ETOKEN_close(s);
    if (s->ids != nullptr) OPENSSL_clear_free(s->ids, std::strlen(s->ids) + 1);
    OPENSSL_clear_free(s, sizeof(*s));
}

struct SessionFree {
    void operator()(ETR2_SESSION* s) const { ETR2_session_free(s); }
};
using SessionPtr = std::unique_ptr<ETR2_SESSION, SessionFree>;

SessionPtr ETR2_session_new(const std::string& reader) {
    SessionPtr s(static_cast<ETR2_SESSION*>(OPENSSL_zalloc(sizeof(ETR2_SESSION))));
    if (!s) {
        CADB_ERR(ERR_LIB_ETOKEN, vendor::ETR2_F_INIT, ERR_R_MALLOC);
        return nullptr;
    }
    if (api().ETOKEN_init(s.get(), reader.c_str()) == 0) {
        ETR2_session_report(s.get());
        CADB_ERR(ERR_LIB_ETOKEN, vendor::ETR2_F_INIT, kReasonSystemLib);
        return nullptr;
    }
    s->passwd_cb = asker(ETOKEN_get_passwd_cb());
    return s;
}

bool set_ids(ETR2_SESSION* s, const std::string& ids) {
    if (s->ids != nullptr) OPENSSL_clear_free(s->ids, std::strlen(s->ids) + 1);
    s->ids = OPENSSL_strdup(ids.c_str());
    return s->ids != nullptr;
}

bool exists(ETR2_SESSION* s, const char* ids) {
    std::int32_t there = 0;
    api().ETOKEN_is_file_exist(s, ids, &there);
    return there != 0;
}

// A session in which the path exists, with its file information read.
SessionPtr ETR2_open_path(const char* text) {
    if (!loaded()) return nullptr;
    const auto p = parse(text);
    if (!p) return nullptr;
    for (int i = 0; i < kReaderAttempts; ++i) {
        const auto reader = reader_of(*p, i, false);
        if (!reader) break;
        SessionPtr s = ETR2_session_new(*reader);
        if (!s) {
            CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_CTRL_, kReasonSystemLib);
            return nullptr;
        }
        if (!set_ids(s.get(), p->ids)) {
            CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_CTRL_, ERR_R_MALLOC);
            return nullptr;
        }
        if (!exists(s.get(), s->ids)) continue;
        if (api().ETOKEN_get_file_info(s.get(), s->ids, &s->info) == 0) {
            ETR2_session_report(s.get());
            CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_WRITE_, kReasonSystemLib);
            return nullptr;
        }
        return s;
    }
    return nullptr;
}

// The state of one stream: the session, once opened, and the file's
// contents in memory (wiped before release).
struct Stream {
    ETR2_SESSION* session = nullptr;
    pem_password_cb* cb = nullptr;  // set by ctrl 143, handed to the next open
    bool open = false;
    bool has_buffer = false;
    // A write was refused: the file is not replaced by what was taken.
    bool failed = false;
    std::vector<unsigned char> buffer;
    std::size_t pos = 0;
    long open_size = -1;

    ~Stream() {
        wipe();
        ETR2_session_free(session);
    }
    void wipe() {
        held_wipe(buffer);
        pos = 0;
        has_buffer = false;
        failed = false;
    }
    int mode() const { return session != nullptr ? static_cast<int>(session->mode) : 0; }
};

Stream* stream_of(BIO* bio) {
    return bio != nullptr ? static_cast<Stream*>(BIO_get_data(bio)) : nullptr;
}

// Writes the memory back as a new file of exactly its length.
int ETR2_commit(Stream& st) {
    ETR2_SESSION* s = st.session;
    if (!st.open || s == nullptr || !(s->mode & BIO_FP_WRITE) || !st.has_buffer) return 1;
    if (!loaded()) return CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_WRITE_, kReasonSystemLib), 0;
    const Api& a = api();
    const auto failed = [&](bool vendor_failed) {
        if (vendor_failed) ETR2_session_report(s);
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_WRITE_, kReasonSystemLib);
        return 0;
    };
    if (st.failed || st.buffer.size() > TOKEN_FILE_MAX) return failed(false);
    const std::string ids = s->ids;
    ETOKEN_FILE_INFO info{};
    if (exists(s, ids.c_str())) {
        if (a.ETOKEN_get_file_info(s, ids.c_str(), &info) == 0) return failed(true);
        if (info.is_directory != 0) return failed(false);
        if (a.ETOKEN_delete(s, ids.c_str()) == 0) return failed(true);
    } else {
        for (std::size_t n = 4; n < ids.size(); n += 4) {
            const std::string dir = ids.substr(0, n);
            // Another writer may make the same directory between the look and
            // the creation: a directory that stands afterwards is as good.
            if (!exists(s, dir.c_str()) && a.ETOKEN_create_directory(s, dir.c_str(), 0) == 0 &&
                !exists(s, dir.c_str()))
                return failed(true);
            if (a.ETOKEN_get_file_info(s, dir.c_str(), &info) == 0) return failed(true);
            if (info.is_directory == 0) return failed(false);
        }
    }
    const auto length = static_cast<std::uint32_t>(st.buffer.size());
    if (a.ETOKEN_create_file(s, ids.c_str(), length, s->create_flags) == 0) return failed(true);
    if (length != 0 && a.ETOKEN_write(s, ids.c_str(), st.buffer.data(), 0, length) == 0)
        return failed(true);
    return 1;
}

// Ends the file held by the stream: writes it back, wipes the memory; the
// session stays for a later open.
int close_file(Stream& st) {
    const int ok = ETR2_commit(st);
    st.wipe();
    if (st.session != nullptr && st.session->ids != nullptr) {
        OPENSSL_clear_free(st.session->ids, std::strlen(st.session->ids) + 1);
        st.session->ids = nullptr;
    }
    st.open = false;
    return ok;
}

int open_stream(BIO* bio, Stream& st, int mode, const char* text) {
    const auto fail = [](int reason) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_CTRL_, reason);
        return 0;
    };
    if (st.open && close_file(st) != 1) return fail(kReasonSystemLib);
    st.wipe();
    st.open_size = -1;
    if (!(mode & (BIO_FP_READ | BIO_FP_WRITE))) return fail(TOKEN_R_BAD_OPEN_MODE);
    const auto p = parse(text);
    if (!p) return fail(kReasonSystemLib);
    bool found = false;
    for (int i = 0; i < kReaderAttempts && !found; ++i) {
        const auto reader = reader_of(*p, i, true);
        if (!reader) break;
        if (i != 0 || st.session == nullptr) {
            ETR2_session_free(st.session);
            st.session = ETR2_session_new(*reader).release();
            if (st.session == nullptr) return fail(kReasonSystemLib);
        }
        if (api().ETOKEN_get_config(st.session, st.session->config) != 0) {
            found = true;
        } else {
            ETR2_session_free(st.session);
            st.session = nullptr;
        }
    }
    if (!found) return fail(kReasonSystemLib);
    ETR2_SESSION* s = st.session;
    s->err_func = 0;
    // A callback set on this stream stands in for the process-wide one.
    if (st.cb != nullptr) s->passwd_cb = st.cb;
    s->mode = static_cast<std::uint32_t>(mode);
    s->options = 0;
    s->buffer = &st.buffer;
    if (!set_ids(s, p->ids)) return fail(ERR_R_MALLOC);
    st.open = true;
    st.has_buffer = true;
    (void)bio;
    if (!(mode & BIO_FP_READ)) return 1;
    if (api().ETOKEN_get_file_info(s, s->ids, &s->info) == 0) {
        ETR2_session_report(s);
        st.open = false;
        st.has_buffer = false;
        return fail(kReasonSystemLib);
    }
    // A directory is no file, and a size beyond what a token file can hold
    // is refused before any memory is taken for it.
    if (s->info.is_directory != 0 || s->info.size > TOKEN_FILE_MAX) {
        st.open = false;
        st.has_buffer = false;
        return fail(kReasonSystemLib);
    }
    st.open_size = static_cast<long>(s->info.size);
    if (s->info.size == 0) return 1;
    st.buffer.assign(s->info.size, 0);
    if (api().ETOKEN_read(s, s->ids, st.buffer.data(), 0, s->info.size) == 0) {
        ETR2_session_report(s);
        st.wipe();
        st.open = false;
        return fail(kReasonSystemLib);
    }
    return 1;
}

// Appends to the memory; sizes are 16-bit on the token, so more is refused
// here rather than wrapped at write-back.
int append(Stream& st, const char* data, std::size_t n) {
    if (st.buffer.size() + n > TOKEN_FILE_MAX) {
        st.failed = true;
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_WRITE_, TOKEN_R_STEP_FAILED);
        return -1;
    }
    held_append(st.buffer, data, n, TOKEN_FILE_MAX);
    st.has_buffer = true;
    return static_cast<int>(n);
}

int ETR2_write(BIO* bio, const char* data, int n) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || !st->open || data == nullptr || n < 0 ||
        !(st->mode() & BIO_FP_WRITE))
        return -1;
    return append(*st, data, static_cast<std::size_t>(n));
}

int ETR2_read(BIO* bio, char* out, int n) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || !st->open || out == nullptr || n < 0 ||
        !(st->mode() & BIO_FP_READ))
        return -1;
    return held_read(st->buffer, st->pos, out, n);
}

// puts and gets work in any mode, as long as the stream holds a file.
int ETR2_puts(BIO* bio, const char* text) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || st->session == nullptr || !st->open ||
        text == nullptr)
        return 0;
    const int n = append(*st, text, strnlen(text, TOKEN_FILE_MAX + 1));
    return n < 0 ? 0 : n;
}

int ETR2_gets(BIO* bio, char* out, int size) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || st->session == nullptr || !st->open ||
        out == nullptr || size <= 0)
        return 0;
    return held_gets(st->buffer, st->pos, out, size, true);
}

long ETR2_ctrl(BIO* bio, int cmd, long num, void* ptr) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr) return 0;
    switch (cmd) {
        case BIO_C_SET_FILENAME:
            return open_stream(bio, *st, static_cast<int>(num), static_cast<const char*>(ptr));
        case BIO_CTRL_FLUSH:
        case BIO_CTRL_RESET:
            return close_file(*st);
        case BIO_C_SET_TOKEN_PASSWD_CB:
            st->cb = reinterpret_cast<pem_password_cb*>(ptr);
            if (st->session != nullptr && st->cb != nullptr) st->session->passwd_cb = st->cb;
            return 1;
        case BIO_C_SET_TOKEN_CREATE_FLAGS:
            if (st->session == nullptr) return 0;
            st->session->create_flags = static_cast<std::uint32_t>(num);
            return 1;
        default:
            return 0;
    }
}

int ETR2_new(BIO* bio) {
    if (!loaded()) return 0;
    BIO_set_data(bio, new Stream);
    BIO_set_init(bio, 1);
    return 1;
}

int ETR2_free(BIO* bio) {
    if (bio == nullptr) return 0;
    std::unique_ptr<Stream> st(stream_of(bio));
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    if (!st || st->session == nullptr) return 0;
    const bool deleted = (st->session->options & 1) != 0;
    return deleted ? 1 : ETR2_commit(*st);
}

const BIO_METHOD* method() {
    static const BIO_METHOD* m = held_file_method_new(
        "eToken R2", {ETR2_write, ETR2_read, ETR2_puts, ETR2_gets, ETR2_ctrl, ETR2_new, ETR2_free});
    return m;
}

// The media layer's view of the driver.
int ready(const char*) { return loaded() ? 1 : 0; }
int present(const char* path) { return ETR2_media_present(path); }
// 1 when the path is on a token of its readers, looked for as a read looks;
// 0 when a token answers and none of those looked in holds it; -1 when no
// token answers or a token does not say.
int exists_path(const char* path) {
    if (!loaded()) return -1;
    const auto p = parse(path);
    if (!p) return 0;
    int state = -1;
    ERR_set_mark();
    for (int i = 0; i < kReaderAttempts && state != 1; ++i) {
        const auto reader = reader_of(*p, i, false);
        if (!reader) break;
        const SessionPtr s = ETR2_session_new(*reader);
        if (!s) break;
        // The library answers "not there" for a reader without a token too:
        // a reader counts only when its token answers.
        if (api().ETOKEN_get_config(s.get(), s->config) == 0) continue;
        std::int32_t there = 0;
        if (api().ETOKEN_is_file_exist(s.get(), p->ids.c_str(), &there) == 0) {
            state = -1;
            break;
        }
        state = there != 0 ? 1 : 0;
    }
    ERR_pop_to_mark();
    return state;
}
int is_directory(const char* path) {
    ERR_set_mark();
    const int mode = ETOKEN_file_mode(path);
    ERR_pop_to_mark();
    return mode == ETOKEN_MODE_DIRECTORY ? 1 : 0;
}
long open_size(BIO* bio) {
    const Stream* st = stream_of(bio);
    return st != nullptr && st->open && (st->mode() & BIO_FP_READ) ? st->open_size : -1;
}

int push_entry(void* list, ETOKEN_FILE_INFO* entry) {
    static_cast<std::vector<TOKEN_FILE_INFO*>*>(list)->push_back(entry);
    return 1;
}

int list_dir(const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg) {
    if (cb == nullptr) return 0;
    std::vector<TOKEN_FILE_INFO*> entries;
    const int ok = ETR2_list_dir(path, &entries, push_entry);
    bool go = ok == 1;
    for (TOKEN_FILE_INFO* e : entries) {
        if (go && e != nullptr) {
            e->name[sizeof(e->name) - 1] = '\0';  // the library's text is not trusted to end
            const BIO_MEDIA_ENTRY entry{e->name, 0, e->is_directory != 0 ? 1 : 0,
                                        static_cast<long>(e->size)};
            go = cb(&entry, arg) != 0;
        }
        ETOKEN_FILE_INFO_free(e);
    }
    return ok;
}

// The library tells no serial number the driver could read, and the reader
// whose token answers first may change while another process uses a token:
// every eToken R2 device of the user is known by one name, whenever the
// library is there to reach one.
int identity(const char* path, char* out, std::size_t size) {
    if (!loaded() || out == nullptr || size < sizeof kEveryDevice || !parse(path)) return 0;
    std::memcpy(out, kEveryDevice, sizeof kEveryDevice);
    return 1;
}

const BIO_MEDIA_DRIVER kDriver = {
    kDriverName, method,  ready,       present,  exists_path, is_directory,
    open_size,   nullptr, ETR2_delete, list_dir, identity,    ETOKEN_get_passwd_cb,
};

}  // namespace

int ETR2_load() {
    Driver& d = driver();
    {
        std::lock_guard<std::mutex> g(d.mutex);
        if (!d.loaded.load()) {
            // The library needs the smart-card service; loading its library
            // proves the service is installed.
            if (!module_load("WinSCard.dll")) return 0;
            Module library = module_load("etapi.dll");
            if (!library) return 0;
            Api resolved{};
            bool all = true;
#define CADB_ETR2_RESOLVE(name) all = module_entry(library, #name, resolved.name) && all;
            CADB_ETOKEN_R2_ENTRIES(CADB_ETR2_RESOLVE)
#undef CADB_ETR2_RESOLVE
            if (!all) return 0;
            d.api = resolved;
            d.library = std::move(library);
            d.loaded.store(true, std::memory_order_release);
        }
    }
    if (method() == nullptr) return 0;
    BIO_media_register_driver(BIO_MEDIUM_ETR2, &kDriver);
    return 1;
}

void ETR2_unload() {
    if (BIO_media_driver(BIO_MEDIUM_ETR2) == &kDriver)
        BIO_media_register_driver(BIO_MEDIUM_ETR2, nullptr);
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.mutex);
    d.loaded.store(false);
    d.api = Api{};
    d.library.reset();
}

int ETR2_driver_loaded() { return loaded() ? 1 : 0; }

const BIO_METHOD* BIO_s_etoken_r2() { return method(); }

int ETOKEN_file_mode(const char* path) {
    if (BIO_media_is_eToken(path)) return ETSDK_file_exists(path);
    SessionPtr s = ETR2_open_path(path);
    if (!s) return 0;
    return s->info.is_directory != 0 ? ETOKEN_MODE_DIRECTORY : ETOKEN_MODE_FILE;
}

int ETR2_media_present(const char* path) {
    if (BIO_media_is_eToken(path)) return ETSDK_token_present(path);
    std::string copy = path != nullptr ? std::string(path, strnlen(path, kMaxPathCopy)) : "eTR2";
    const std::size_t colon = copy.find(':');
    if (colon != std::string::npos) copy.resize(colon);
    copy += ":/3f00";
    ERR_set_mark();
    const int mode = ETOKEN_file_mode(copy.c_str());
    ERR_pop_to_mark();
    return mode != 0 ? 1 : 0;
}

int ETR2_delete(BIO* bio) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || st->session == nullptr || !st->open) return 0;
    if (ETR2_commit(*st) != 1) return 0;
    ETR2_SESSION* s = st->session;
    s->options |= 1;
    st->wipe();
    if (api().ETOKEN_delete(s, s->ids) == 0) {
        ETR2_session_report(s);
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_WRITE_, kReasonSystemLib);
        return 0;
    }
    return 1;
}

int ETR2_list_dir(const char* path, void* list, vendor::ETokenEntryPush push) {
    if (path == nullptr || list == nullptr || push == nullptr) return 0;
    SessionPtr s = ETR2_open_path(path);
    if (!s || s->info.is_directory == 0) return 0;
    if (api().ETOKEN_list_files(s.get(), s->ids, list, ETOKEN_FILE_INFO_new, push) == 0) {
        ETR2_session_report(s.get());
        return 0;
    }
    return 1;
}

int ETR2_file_info(const char* path, TOKEN_FILE_INFO* out) {
    if (path == nullptr || out == nullptr) return 0;
    SessionPtr s = ETR2_open_path(path);
    if (!s) return 0;
    if (api().ETOKEN_get_file_info(s.get(), s->ids, out) == 0) {
        ETR2_session_report(s.get());
        return 0;
    }
    return 1;
}

}  // namespace cadb
