#include "crypto/bio/rutoken_fs.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "crypto/bio/held_file_stream.h"
#include "crypto/bio/media_pin.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"

namespace cadb {

using vendor::token_failed;
using vendor::TokenFsInfo;
using vendor::TokenRv;

int TokenFsDriver::load() {
    std::lock_guard<std::mutex> g(mutex_);
    if (loaded_.load()) return 1;
    // The vendor library needs the smart-card service; loading its library
    // proves the service is installed, nothing more is asked of it.
    if (!module_load("WinSCard.dll")) {
        CADB_ERR(profile_.err_lib, profile_.func.load, TOKEN_R_VENDOR_CALL_FAILED);
        return 0;
    }
    Module library = module_load(profile_.library);
    if (!library) {
        CADB_ERR(profile_.err_lib, profile_.func.load, TOKEN_R_VENDOR_CALL_FAILED);
        return 0;
    }
    TokenFsApi api{};
    int index = 0;
    bool all = true;
#define CADB_TOKEN_FS_RESOLVE(role, type, ru, et) \
    all = module_entry(library, profile_.entries[index++], api.role) && all;
    CADB_TOKEN_FS_ENTRIES(CADB_TOKEN_FS_RESOLVE)
#undef CADB_TOKEN_FS_RESOLVE
    if (!all) {
        CADB_ERR(profile_.err_lib, profile_.func.load, TOKEN_R_VENDOR_CALL_FAILED);
        return 0;
    }
    api_ = api;
    library_ = std::move(library);
    loaded_.store(true, std::memory_order_release);
    return 1;
}

void TokenFsDriver::unload() {
    std::lock_guard<std::mutex> g(mutex_);
    loaded_.store(false);
    api_ = TokenFsApi{};
    library_.reset();
}

namespace {

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<TokenFsPath> token_fs_parse_path(const TokenFsProfile& profile, const char* path) {
    if (path == nullptr) return std::nullopt;
    const std::string_view text(path);
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view head = text.substr(0, colon);
    bool matched = false;
    for (const char* const* p = profile.prefixes; *p != nullptr; ++p) {
        if (iequal_prefix(head, *p)) {
            head.remove_prefix(std::strlen(*p));
            matched = true;
            break;
        }
    }
    if (!matched) return std::nullopt;
    while (!head.empty() && head.front() == ' ') head.remove_prefix(1);
    while (!head.empty() && head.back() == ' ') head.remove_suffix(1);
    TokenFsPath out;
    out.reader_number = std::string(head);
    std::string ids;
    for (char c : text.substr(colon + 1))
        if (c != '\\' && c != '/')
            ids.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    ids = profile.rebase_ids(std::move(ids));
    if (ids.size() % 4 != 0) return std::nullopt;
    for (std::size_t i = 0; i < ids.size(); i += 4) {
        unsigned id = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const int v = hex_value(ids[i + k]);
            if (v < 0) return std::nullopt;
            id = id << 4 | static_cast<unsigned>(v);
        }
        out.ids.push_back(static_cast<std::uint16_t>(id));
    }
    return out;
}

namespace {

// The memory a stream holds a file in: every copy is wiped before release.
class WipedBuffer {
  public:
    ~WipedBuffer() { clear(); }
    void clear() { held_wipe(bytes_); }
    bool append(const unsigned char* data, std::size_t n) {
        held_append(bytes_, data, n, TOKEN_FILE_MAX);
        return true;
    }
    void resize_zeroed(std::size_t n) {
        clear();
        bytes_.assign(n, 0);
    }
    unsigned char* data() { return bytes_.data(); }
    const std::vector<unsigned char>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

  private:
    std::vector<unsigned char> bytes_;
};

struct TokenSession {
    TokenFsDriver* driver = nullptr;
    void* token = nullptr;
    void* dir = nullptr;  // the directory holding the file
    std::uint16_t file_id = 0;
    bool is_directory = false;
    int mode = 0;
    std::uint32_t create_flags = 0;
    std::array<char, 256> pin{};
    bool pin_set = false;
    pem_password_cb* cb = nullptr;
    void* cb_arg = nullptr;
    bool logout_allowed = false;
    bool logged_in = false;
    bool deleted = false;
    bool has_buffer = false;
    WipedBuffer buffer;
    std::size_t read_pos = 0;
    long open_size = -1;
    std::string path;
    std::string reader;  // the reader the token was bound in

    explicit TokenSession(TokenFsDriver* d) : driver(d) {}
    ~TokenSession() {
        close();
        OPENSSL_cleanse(pin.data(), pin.size());
    }
    const TokenFsApi& api() const { return driver->api(); }
    const TokenFsProfile& profile() const { return driver->profile(); }

    // Releases the handles; the buffer and options stay.
    void close() {
        if (!driver->loaded()) return;
        if (dir != nullptr) api().CloseDir(dir);
        dir = nullptr;
        if (token != nullptr) {
            if (logged_in) api().LogoutToken(token);
            api().UnbindToken(token);
        }
        token = nullptr;
        logged_in = false;
    }
};

void fail(const TokenSession& s, int func, int reason) {
    CADB_ERR(s.profile().err_lib, func, reason);
}

// What tells the bound token from the other devices of the medium: its
// serial number and the reader it sits in. A token whose serial does not
// come is not named at all: named by its reader alone, it would be named
// otherwise by a process that read the serial.
bool bound_identity(const TokenSession& s, char* out, std::size_t size) {
    std::array<char, 64> serial{};
    if (token_failed(s.api().GetTokenId(s.token, serial.data(),
                                        static_cast<std::uint32_t>(serial.size() - 1))))
        return false;
    serial.back() = '\0';  // the library's text is not trusted to end
    if (serial[0] == '\0') return false;
    const int n = std::snprintf(out, size, "%s %s", serial.data(), s.reader.c_str());
    return n > 0 && static_cast<std::size_t>(n) < size;
}

int login(TokenSession& s) {
    const int func = s.profile().func.login;
    std::array<char, 256> typed{};
    // The token's identity, as its driver record gives it to the device's
    // lock, while this thread holds a PIN asked before a hold of a device:
    // the answer asked for this token is taken rather than a person asked
    // inside the hold.
    std::array<char, 256> device{};
    const char* pin = nullptr;
    if (s.pin_set) {
        pin = s.pin.data();
    } else {
        pem_password_cb* cb = s.cb != nullptr ? s.cb : s.driver->passwd_cb();
        if (cb == nullptr) return fail(s, func, TOKEN_R_LOGIN_FAILED), 0;
        void* arg = s.cb_arg != nullptr ? s.cb_arg : s.path.data();
        // The answer in hand was asked through the process-wide callback: a
        // stream's own callback is still the one asked.
        if (s.cb == nullptr && media_pins_in_hand() &&
            !bound_identity(s, device.data(), device.size()))
            device[0] = '\0';
        const int n = device[0] != '\0'
                          ? media_pin(s.profile().name, device.data(), cb, typed.data(),
                                      static_cast<int>(typed.size()), 0, arg)
                          : cb(typed.data(), static_cast<int>(typed.size()), 0, arg);
        if (n < 0 || n > 255) {
            OPENSSL_cleanse(typed.data(), typed.size());
            return fail(s, func, TOKEN_R_PIN_TOO_LONG), 0;
        }
        typed[static_cast<std::size_t>(n)] = '\0';
        pin = typed.data();
    }
    if (pin[0] == '\0') {
        OPENSSL_cleanse(typed.data(), typed.size());
        return fail(s, func, TOKEN_R_LOGIN_FAILED), 0;
    }
    const TokenRv rv = s.api().LoginToken(s.token, pin);
    OPENSSL_cleanse(typed.data(), typed.size());
    if (token_failed(rv)) {
        if (device[0] != '\0') media_pin_refused(s.profile().name, device.data());
        ERR_set_last_rv(rv, TOKEN_CODE_VENDOR);
        ERR_set_last_error(TOKEN_STATUS_PIN_REFUSED);
        return fail(s, func, TOKEN_R_LOGIN_FAILED), 0;
    }
    s.logged_in = true;
    return 1;
}

// Every vendor call: a refusal for want of a login logs in and repeats the
// call once; the code is kept as the last token code; the token is logged
// out afterwards when the stream allows it. An expected answer (the end of
// an enumeration, a missing file looked for) is not kept as a failure.
template <class Call>
TokenRv vendor_call(TokenSession& s, Call&& call, TokenRv expected = vendor::kTokenNoMoreItems) {
    TokenRv rv = call();
    if (s.profile().login_needed(rv) && login(s) == 1) rv = call();
    if (token_failed(rv) && rv != expected)
        ERR_set_last_rv(rv, TOKEN_CODE_VENDOR);
    else if (ERR_get_last_rv_kind() == TOKEN_CODE_VENDOR || ERR_get_last_rv() == 0)
        ERR_reset_last_rv(0, TOKEN_CODE_VENDOR);
    if (s.logout_allowed && s.logged_in) {
        s.api().LogoutToken(s.token);
        s.logged_in = false;
    }
    return rv;
}

constexpr int kMaxReaders = 256;

int bind_token(TokenSession& s, const TokenFsPath& path) {
    const TokenFsApi& api = s.api();
    const int func = s.profile().func.bind;
    void* readers = nullptr;
    TokenRv rv = api.OpenReadersEnum(&readers);
    if (token_failed(rv)) {
        ERR_set_last_rv(rv, TOKEN_CODE_VENDOR);
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    }
    int seen = 0;
    std::array<char, 256> name{};
    // A library that never ends the enumeration is not followed forever.
    for (int left = kMaxReaders; left > 0; --left) {
        int has_token = 0;
        name.fill('\0');
        rv = api.GetNextReader(readers, name.data(), name.size() - 1, &has_token);
        if (token_failed(rv)) break;
        ++seen;
        name.back() = '\0';  // the library's text is not trusted to end
        if (!has_token || !s.profile().reader_matches(name.data(), path.reader_number)) continue;
        void* token = nullptr;
        const TokenRv bound = api.BindToken(name.data(), &token);
        if (!token_failed(bound) && token != nullptr) {
            s.token = token;
            s.reader = name.data();
            break;
        }
        ERR_set_last_rv(bound, TOKEN_CODE_VENDOR);
    }
    api.CloseReadersEnum(readers);
    if (s.token != nullptr) {
        ERR_reset_last_rv(0, TOKEN_CODE_VENDOR);
        return 1;
    }
    return fail(s, func, seen == 0 ? TOKEN_R_NO_READER : TOKEN_R_NO_TOKEN), 0;
}

// Binds the token and opens the directories down to the one holding the
// last identifier (the root for an empty list), creating missing ones when
// asked to. missing, when given, tells whether a failure was a directory on
// the way that is not there.
int open_parent(TokenSession& s, const TokenFsPath& path, bool create, bool* missing = nullptr) {
    if (missing != nullptr) *missing = false;
    if (!bind_token(s, path)) return 0;
    const TokenFsApi& api = s.api();
    const int func = s.profile().func.open;
    void* dir = nullptr;
    if (token_failed(vendor_call(s, [&] { return api.OpenRootDir(s.token, &dir); })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    s.dir = dir;
    for (std::size_t i = 0; i + 1 < path.ids.size(); ++i) {
        void* child = nullptr;
        const std::uint16_t id = path.ids[i];
        TokenRv rv = vendor_call(
            s, [&] { return api.OpenDir(s.dir, id, &child); },
            create ? vendor::kTokenNotFound : vendor::kTokenNoMoreItems);
        if (rv == vendor::kTokenNotFound && create) {
            rv = vendor_call(
                s, [&] { return api.CreateDir(s.dir, id, &child); }, vendor::kTokenExists);
            // Another stream made it meanwhile.
            if (rv == vendor::kTokenExists)
                rv = vendor_call(s, [&] { return api.OpenDir(s.dir, id, &child); });
        }
        if (token_failed(rv)) {
            if (missing != nullptr) *missing = rv == vendor::kTokenNotFound;
            return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
        }
        api.CloseDir(s.dir);
        s.dir = child;
    }
    return 1;
}

// Whether the last identifier names a directory under the open parent.
bool probe_directory(TokenSession& s, std::uint16_t id) {
    void* child = nullptr;
    if (token_failed(vendor_call(
            s, [&] { return s.api().OpenDir(s.dir, id, &child); }, vendor::kTokenNotFound)))
        return false;
    s.api().CloseDir(child);
    return true;
}

// Reads the whole file into the buffer; the size and the counts the library
// reports are checked against what was asked for.
int read_whole_file(TokenSession& s, void* file) {
    const TokenFsApi& api = s.api();
    const int func = s.profile().func.read;
    TokenFsInfo info{};
    if (token_failed(vendor_call(s, [&] { return api.GetFileInfo(file, &info); })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    const std::uint32_t size = info.size & 0xFFFF;
    s.buffer.resize_zeroed(size);
    std::uint32_t offset = 0;
    while (offset < size) {
        std::uint32_t done = 0;
        const TokenRv rv = vendor_call(s, [&] {
            return api.ReadFile(file, offset, s.buffer.data() + offset, size - offset, &done);
        });
        if (token_failed(rv)) return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
        if (done == 0 || done > size - offset) return fail(s, func, TOKEN_R_STEP_FAILED), 0;
        offset += done;
    }
    s.open_size = size;
    return 1;
}

// Overwrites an open file with zeros and deletes it.
int wipe_and_delete(TokenSession& s, void* file, int func) {
    const TokenFsApi& api = s.api();
    TokenFsInfo info{};
    if (token_failed(vendor_call(s, [&] { return api.GetFileInfo(file, &info); })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    const std::vector<unsigned char> zeros(info.size & 0xFFFF, 0);
    if (!zeros.empty() && token_failed(vendor_call(s, [&] {
            return api.WriteFile(file, 0, zeros.data(), static_cast<std::uint32_t>(zeros.size()));
        })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    if (token_failed(vendor_call(s, [&] { return api.DeleteFile(file); })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    return 1;
}

// Replaces the file by one holding exactly the buffer.
int write_back(TokenSession& s) {
    if (!(s.mode & BIO_FP_WRITE) || !s.has_buffer || s.deleted) return 1;
    const int func = s.profile().func.write_back;
    if (!s.driver->loaded() || s.dir == nullptr) return fail(s, func, TOKEN_R_STEP_FAILED), 0;
    const TokenFsApi& api = s.api();
    LockGuard g(s.profile().io_lock);
    void* old = nullptr;
    const TokenRv found = vendor_call(
        s, [&] { return api.OpenFile(s.dir, s.file_id, &old); }, vendor::kTokenNotFound);
    if (!token_failed(found)) {
        const int ok = wipe_and_delete(s, old, func);
        api.CloseFile(old);
        if (!ok) return 0;
    } else if (found != vendor::kTokenNotFound) {
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    }
    const auto size = static_cast<std::uint32_t>(s.buffer.size());
    void* file = nullptr;
    if (token_failed(vendor_call(
            s, [&] { return api.CreateFile(s.dir, s.file_id, size, s.create_flags, &file); })))
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    const TokenRv written =
        size == 0 ? vendor::kTokenOk
                  : vendor_call(s, [&] { return api.WriteFile(file, 0, s.buffer.data(), size); });
    api.CloseFile(file);
    if (token_failed(written)) return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    s.has_buffer = false;
    s.buffer.clear();
    s.read_pos = 0;
    return 1;
}

int open_stream(TokenSession& s, int mode, const char* path_text) {
    const int func = s.profile().func.open;
    if (!s.driver->loaded()) return fail(s, func, TOKEN_R_STEP_FAILED), 0;
    if (!(mode & (BIO_FP_READ | BIO_FP_WRITE))) return fail(s, func, TOKEN_R_BAD_OPEN_MODE), 0;
    const auto path = token_fs_parse_path(s.profile(), path_text);
    if (!path || path->ids.empty()) return fail(s, func, TOKEN_R_STEP_FAILED), 0;
    s.path = path_text;
    s.mode = mode;
    s.file_id = path->ids.back();
    if (!open_parent(s, *path, (mode & BIO_FP_WRITE) != 0)) return 0;
    if (!(mode & BIO_FP_READ)) {
        s.has_buffer = true;
        return 1;
    }
    LockGuard g(s.profile().io_lock);
    void* file = nullptr;
    const TokenRv rv = vendor_call(s, [&] { return s.api().OpenFile(s.dir, s.file_id, &file); });
    if (token_failed(rv)) {
        // A directory opens no stream; a missing file is a failure too.
        s.is_directory = rv == vendor::kTokenNotFound && probe_directory(s, s.file_id);
        return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    }
    const int ok = read_whole_file(s, file);
    s.api().CloseFile(file);
    s.has_buffer = ok == 1 && (mode & BIO_FP_WRITE);
    return ok;
}

TokenSession* session_of(BIO* bio) { return static_cast<TokenSession*>(BIO_get_data(bio)); }

int token_write(BIO* bio, const char* data, int n) {
    TokenSession* s = session_of(bio);
    if (s == nullptr || data == nullptr || n < 0 || !(s->mode & BIO_FP_WRITE)) return -1;
    if (s->buffer.size() + static_cast<std::size_t>(n) > TOKEN_FILE_MAX) {
        fail(*s, s->profile().func.write, TOKEN_R_STEP_FAILED);
        return -1;
    }
    s->buffer.append(reinterpret_cast<const unsigned char*>(data), static_cast<std::size_t>(n));
    s->has_buffer = true;
    return n;
}

int token_read(BIO* bio, char* out, int n) {
    TokenSession* s = session_of(bio);
    if (s == nullptr || out == nullptr || n < 0 || !(s->mode & BIO_FP_READ)) return -1;
    return held_read(s->buffer.bytes(), s->read_pos, out, n);
}

int token_puts(BIO* bio, const char* text) {
    if (text == nullptr) return -1;
    return token_write(bio, text, static_cast<int>(std::strlen(text)));
}

int token_gets(BIO* bio, char* out, int size) {
    TokenSession* s = session_of(bio);
    if (s == nullptr || out == nullptr || size <= 0 || !(s->mode & BIO_FP_READ)) return -1;
    // Lines come out as stored, CR LF and all.
    return held_gets(s->buffer.bytes(), s->read_pos, out, size, false);
}

long token_ctrl(BIO* bio, int cmd, long num, void* ptr) {
    TokenSession* s = session_of(bio);
    if (s == nullptr) return 0;
    switch (cmd) {
        case BIO_C_SET_FILENAME: {
            if (s->has_buffer) write_back(*s);
            s->close();
            s->buffer.clear();
            s->read_pos = 0;
            s->deleted = false;
            s->has_buffer = false;
            s->open_size = -1;
            return open_stream(*s, static_cast<int>(num), static_cast<const char*>(ptr));
        }
        case BIO_CTRL_FLUSH:
        case BIO_CTRL_RESET: {
            const int ok = write_back(*s);
            s->buffer.clear();
            s->read_pos = 0;
            s->has_buffer = false;
            return ok;
        }
        case BIO_C_SET_TOKEN_PASSWD_CB:
            s->cb = reinterpret_cast<pem_password_cb*>(ptr);
            return 1;
        case BIO_C_SET_TOKEN_CREATE_FLAGS:
            s->create_flags = static_cast<std::uint32_t>(num);
            return 1;
        case BIO_C_SET_TOKEN_PIN: {
            const char* pin = static_cast<const char*>(ptr);
            OPENSSL_cleanse(s->pin.data(), s->pin.size());
            s->pin_set = false;
            if (pin == nullptr) return 1;
            const std::size_t len = strnlen(pin, 256);
            if (len > 255) return 0;
            std::memcpy(s->pin.data(), pin, len);
            s->pin[len] = '\0';
            s->pin_set = true;
            return 1;
        }
        case BIO_C_SET_TOKEN_PASSWD_ARG:
            s->cb_arg = ptr;
            return 1;
        case BIO_C_GET_TOKEN_OPTIONS:
            if (!s->profile().has_option_ctrls) return 0;
            return (s->logout_allowed ? TOKEN_OPTION_LOGOUT : 0) |
                   (s->deleted ? TOKEN_OPTION_DELETED : 0);
        case BIO_C_SET_TOKEN_OPTIONS:
            if (!s->profile().has_option_ctrls) return 0;
            s->logout_allowed = (num & TOKEN_OPTION_LOGOUT) != 0;
            s->deleted = (num & TOKEN_OPTION_DELETED) != 0;
            return 1;
        default:
            return 0;
    }
}

int token_destroy(BIO* bio) {
    if (bio == nullptr) return 0;
    std::unique_ptr<TokenSession> s(session_of(bio));
    if (s && s->has_buffer && !s->deleted) write_back(*s);
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    return 1;
}

}  // namespace

const BIO_METHOD* TokenFsDriver::method(int (*create)(BIO*)) {
    std::lock_guard<std::mutex> g(mutex_);
    if (method_ != nullptr) return method_;
    method_ = held_file_method_new(profile_.name, {token_write, token_read, token_puts, token_gets,
                                                   token_ctrl, create, token_destroy});
    return method_;
}

int token_fs_create(BIO* bio, TokenFsDriver& driver) {
    auto s = std::make_unique<TokenSession>(&driver);
    BIO_set_data(bio, s.release());
    BIO_set_init(bio, 1);
    return 1;
}

namespace {

// The path a helper works on, when the driver is loaded. Helpers run a
// session of their own without a stream: logins use the process-wide
// password callback.
std::optional<TokenFsPath> helper_path(TokenFsDriver& driver, const char* path) {
    if (!driver.loaded()) return std::nullopt;
    return token_fs_parse_path(driver.profile(), path);
}

}  // namespace

int token_fs_identity(TokenFsDriver& driver, const char* path, char* out, std::size_t size) {
    const auto parsed = helper_path(driver, path);
    if (!parsed || out == nullptr || size == 0) return 0;
    TokenSession s(&driver);
    ERR_set_mark();
    const int bound = bind_token(s, *parsed);
    ERR_pop_to_mark();
    // The one token a stream of the path binds.
    return bound && bound_identity(s, out, size) ? 1 : 0;
}

int token_fs_token_present(TokenFsDriver& driver, const char* path) {
    const auto parsed = helper_path(driver, path);
    if (!parsed) return 0;
    TokenSession s(&driver);
    ERR_set_mark();
    const int ok = bind_token(s, *parsed);
    ERR_pop_to_mark();
    return ok;
}

namespace {

// 1 when the path names a directory, 0 a file, -1 nothing, -2 when the
// token cannot tell (it does not bind, or a call fails otherwise than on a
// missing entry).
constexpr int kCannotTell = -2;

int path_kind(TokenFsDriver& driver, const char* path) {
    if (!driver.loaded()) return kCannotTell;
    const auto parsed = helper_path(driver, path);
    if (!parsed) return -1;
    TokenSession s(&driver);
    s.path = path;
    ERR_set_mark();
    int kind = kCannotTell;
    bool missing = false;
    if (open_parent(s, *parsed, false, &missing)) {
        if (parsed->ids.empty()) {
            kind = 1;
        } else {
            void* child = nullptr;
            const std::uint16_t id = parsed->ids.back();
            const TokenRv as_dir = vendor_call(
                s, [&] { return s.api().OpenDir(s.dir, id, &child); }, vendor::kTokenNotFound);
            void* file = nullptr;
            if (!token_failed(as_dir)) {
                s.api().CloseDir(child);
                kind = 1;
            } else if (const TokenRv as_file =
                           vendor_call(s, [&] { return s.api().OpenFile(s.dir, id, &file); });
                       !token_failed(as_file)) {
                s.api().CloseFile(file);
                kind = 0;
            } else if (as_dir == vendor::kTokenNotFound && as_file == vendor::kTokenNotFound) {
                kind = -1;
            }
        }
    } else if (missing) {
        kind = -1;
    }
    ERR_pop_to_mark();
    return kind;
}

}  // namespace

int token_fs_exists(TokenFsDriver& driver, const char* path) {
    return path_kind(driver, path) >= 0 ? 1 : 0;
}

int token_fs_path_state(TokenFsDriver& driver, const char* path) {
    const int kind = path_kind(driver, path);
    return kind >= 0 ? 1 : kind == -1 ? 0 : -1;
}

int token_fs_is_directory(TokenFsDriver& driver, const char* path) {
    return path_kind(driver, path) == 1 ? 1 : 0;
}

long token_fs_open_size(BIO* bio) {
    const TokenSession* s = bio != nullptr ? session_of(bio) : nullptr;
    return s != nullptr && (s->mode & BIO_FP_READ) ? s->open_size : -1;
}

int token_fs_delete_open(BIO* bio) {
    TokenSession* s = bio != nullptr ? session_of(bio) : nullptr;
    if (s == nullptr || s->dir == nullptr || !s->driver->loaded()) return 0;
    const int func = s->profile().func.remove;
    LockGuard g(s->profile().io_lock);
    void* file = nullptr;
    if (token_failed(vendor_call(*s, [&] { return s->api().OpenFile(s->dir, s->file_id, &file); })))
        return fail(*s, func, TOKEN_R_VENDOR_CALL_FAILED), 0;
    const int ok = wipe_and_delete(*s, file, func);
    s->api().CloseFile(file);
    if (!ok) return 0;
    s->deleted = true;
    s->has_buffer = false;
    s->buffer.clear();
    return 1;
}

TOKEN_FILE_INFO* token_fs_info_new(const TokenFsProfile& profile) {
    auto* info = static_cast<TOKEN_FILE_INFO*>(OPENSSL_zalloc(sizeof(TOKEN_FILE_INFO)));
    if (info == nullptr)
        CADB_ERR(profile.info_err_lib, profile.func.info_new, TOKEN_R_MALLOC_FAILURE);
    return info;
}

void token_fs_info_free(TOKEN_FILE_INFO* info) { OPENSSL_clear_free(info, sizeof(*info)); }

namespace {

struct InfoFree {
    void operator()(TOKEN_FILE_INFO* info) const { token_fs_info_free(info); }
};

// Walks one enumeration of the open directory into cb; false on a failure
// or when cb stops the listing (stopped then true).
bool list_items(TokenSession& s, bool directories, BIO_MEDIA_ENTRY_CB cb, void* arg,
                bool& stopped) {
    const TokenFsApi& api = s.api();
    const int func = s.profile().func.list;
    void* items = nullptr;
    const TokenRv opened = vendor_call(s, [&] {
        return directories ? api.OpenDirEnum(s.dir, &items) : api.OpenFilesEnum(s.dir, &items);
    });
    if (token_failed(opened)) return fail(s, func, TOKEN_R_VENDOR_CALL_FAILED), false;
    bool ok = true;
    // At most one entry per 16-bit identifier, whatever the library says.
    for (long left = 0x10000; left > 0; --left) {
        TokenFsInfo found{};
        const TokenRv rv = vendor_call(s, [&] {
            return directories ? api.GetNextDir(items, &found) : api.GetNextFile(items, &found);
        });
        if (rv == vendor::kTokenNoMoreItems) break;
        if (token_failed(rv)) {
            ok = false;
            fail(s, func, TOKEN_R_VENDOR_CALL_FAILED);
            break;
        }
        std::unique_ptr<TOKEN_FILE_INFO, InfoFree> info(token_fs_info_new(s.profile()));
        if (!info) {
            ok = false;
            break;
        }
        std::snprintf(info->name, sizeof(info->name), "%04x", found.id);
        info->is_directory = directories ? 1 : 0;
        info->is_file = directories ? 0 : 1;
        info->attributes = found.attributes;
        info->size = directories ? 0 : (found.size & 0xFFFF);
        const BIO_MEDIA_ENTRY entry{info->name, 0, info->is_directory, static_cast<long>(info->size)};
        if (cb(&entry, arg) == 0) {
            stopped = true;
            break;
        }
    }
    if (directories)
        api.CloseDirEnum(items);
    else
        api.CloseFilesEnum(items);
    return ok;
}

}  // namespace

int token_fs_list_dir(TokenFsDriver& driver, const char* path, BIO_MEDIA_ENTRY_CB cb, void* arg) {
    const auto parsed = helper_path(driver, path);
    if (!parsed || cb == nullptr) return 0;
    auto dir_path = *parsed;
    TokenSession s(&driver);
    s.path = path;
    // The last identifier is a directory too: open it as a parent.
    dir_path.ids.push_back(0);
    if (!open_parent(s, dir_path, false)) return 0;
    bool stopped = false;
    if (!list_items(s, true, cb, arg, stopped)) return 0;
    if (!stopped && !list_items(s, false, cb, arg, stopped)) return 0;
    return 1;
}

}  // namespace cadb
