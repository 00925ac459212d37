#include "crypto/bio/ikey.h"

#include <openssl/crypto.h>
#include <openssl/pem.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
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

using vendor::IKeyDirRecord;
using vendor::IKeyFileInfo;
using vendor::IKeyRv;

struct Api {
#define CADB_IKEY_MEMBER(name) vendor::name##_t name = nullptr;
    CADB_IKEY_ENTRIES(CADB_IKEY_MEMBER)
#undef CADB_IKEY_MEMBER
};

struct Driver {
    std::mutex mutex;
    Module library;
    Api api{};
    std::atomic<bool> loaded{false};
    std::vector<void*> devices;  // guarded by lock 37
};
// The vendor library goes with IKEY_unload, never with a destructor at exit.
Driver& driver() {
    static NoDestructor<Driver> d;
    return *d;
}
bool loaded() { return driver().loaded.load(std::memory_order_acquire); }
const Api& api() { return driver().api; }

// The stream layer's function code of the open.
constexpr int kBioCtrl = 103;
constexpr std::size_t kMaxPathCopy = 260;
constexpr std::size_t kPinMax = 11;
constexpr std::uint32_t kOptionLogout = 2;
constexpr std::uint32_t kDefaultDirSize = 6446;
// The device answers "busy" while it settles; it is asked again this often.
constexpr int kBusyRetries = 200;

void err(int func, int reason) { CADB_ERR(ERR_LIB_BIO_, func, reason); }

void IKEY_context_free(void* ctx) {
    if (ctx == nullptr || !loaded()) return;
    api().ikey_CloseFile(ctx);
    api().ikey_CloseDevice(ctx);
    api().ikey_DeleteContext(ctx);
}

bool device_there(void* ctx) {
    std::array<unsigned char, 8> out{};
    return api().ikey_GetProperty(ctx, vendor::kIKeyPropPresent, nullptr, out.data(),
                                  static_cast<std::uint32_t>(out.size())) == vendor::kIKeyOk;
}

void* IKEY_device_open() {
    void* ctx = nullptr;
    if (api().ikey_CreateContext(&ctx, 0, 512) != vendor::kIKeyOk || ctx == nullptr) return nullptr;
    IKeyRv rv = api().ikey_OpenDevice(ctx, 1, nullptr);
    for (int i = 0; rv == vendor::kIKeyBusy && i < kBusyRetries; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        rv = api().ikey_OpenDevice(ctx, 0, nullptr);
    }
    if (rv != vendor::kIKeyOk) {
        IKEY_context_free(ctx);
        return nullptr;
    }
    return ctx;
}

// The context of device n, opening contexts up to it; contexts of keys
// that went away are dropped first. Under lock 37.
void* device_for(int n) {
    LockGuard g(CRYPTO_LOCK_IKEY);
    auto& table = driver().devices;
    for (std::size_t i = 0; i < table.size();) {
        if (device_there(table[i])) {
            ++i;
            continue;
        }
        IKEY_context_free(table[i]);
        table.erase(table.begin() + static_cast<std::ptrdiff_t>(i));
    }
    if (n < 0 || n > IKEY_MAX_DEVICE) return nullptr;
    while (table.size() <= static_cast<std::size_t>(n)) {
        void* ctx = IKEY_device_open();
        if (ctx == nullptr) return nullptr;
        table.push_back(ctx);
    }
    return table[static_cast<std::size_t>(n)];
}

// Drops a context from the table (a session could not be made for it).
void device_drop(void* ctx) {
    LockGuard g(CRYPTO_LOCK_IKEY);
    auto& table = driver().devices;
    const auto it = std::find(table.begin(), table.end(), ctx);
    if (it == table.end()) return;
    table.erase(it);
    IKEY_context_free(ctx);
}

struct IKSDK_SESSION {
    void* ctx = nullptr;
    IKeyFileInfo file_info{};
    IKeyFileInfo dir_info{};
    int mode = 0;
    std::uint32_t protect = 0;
    bool logged_in = false;
    bool is_dir = false;
    std::vector<unsigned char> buffer;
    std::size_t pos = 0;
    bool has_buffer = false;
    std::array<char, kPinMax + 1> pin{};
    pem_password_cb* cb = nullptr;
    std::uint32_t file_id = 0;
    std::uint32_t dir_id = 0;
    std::string ids;
    std::string path;
    void* cb_arg = nullptr;
    std::uint32_t options = 0;
    long open_size = -1;
    bool deleted = false;
    // A write was refused: the file is not replaced by what was taken.
    bool failed = false;

    ~IKSDK_SESSION() {
        wipe();
        OPENSSL_cleanse(pin.data(), pin.size());
    }
    void wipe() {
        held_wipe(buffer);
        pos = 0;
    }
};

int IKSDK_login(IKSDK_SESSION& s) {
    std::size_t n = 0;
    if (s.pin[0] == '\0' && s.cb != nullptr) {
        void* arg = s.cb_arg != nullptr ? s.cb_arg : s.path.data();
        const int got = s.cb(s.pin.data(), static_cast<int>(kPinMax), 0, arg);
        if (got < 0 || got > static_cast<int>(kPinMax)) {
            OPENSSL_cleanse(s.pin.data(), s.pin.size());
            return err(IKSDK_F_LOGIN, TOKEN_R_PIN_TOO_LONG), 0;
        }
        n = static_cast<std::size_t>(got);
        s.pin[n] = '\0';
    } else {
        n = strnlen(s.pin.data(), kPinMax);
    }
    if (n < 1 || s.pin[0] == '\0') return err(IKSDK_F_LOGIN, TOKEN_R_PIN_TOO_LONG), 0;
    if (api().ikey_Verify(s.ctx, 1, s.pin.data(), static_cast<std::uint32_t>(n)) ==
        vendor::kIKeyOk) {
        s.logged_in = true;
        return 1;
    }
    if (n > 8) return err(IKSDK_F_LOGIN, TOKEN_R_PIN_TOO_LONG), 0;
    // Refused as text: the PIN as a hexadecimal number, least significant
    // byte first.
    std::array<unsigned char, 4> bytes{};
    bool hex = true;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = s.pin[n - 1 - i];
        const int v = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                      : std::isxdigit(static_cast<unsigned char>(c)) ? (c | 0x20) - 'a' + 10
                                                                     : -1;
        if (v < 0) hex = false;
        bytes[i / 2] |= static_cast<unsigned char>((v & 0xF) << (4 * (i % 2)));
    }
    const IKeyRv rv = hex ? api().ikey_Verify(s.ctx, 0, bytes.data(), 4) : vendor::kIKeyPinRefused;
    OPENSSL_cleanse(bytes.data(), bytes.size());
    if (rv == vendor::kIKeyOk) {
        s.logged_in = true;
        return 1;
    }
    ERR_set_last_error(TOKEN_STATUS_PIN_REFUSED);
    return err(IKSDK_F_LOGIN, TOKEN_R_LOGIN_FAILED), 0;
}

void end_login(IKSDK_SESSION& s) {
    if (s.logged_in && (s.options & kOptionLogout) != 0) {
        api().ikey_ResetSecurityState(s.ctx, 0);
        s.logged_in = false;
    }
}

// The rule of every file and directory call: a PIN request logs in and
// repeats the call once. Returns the final result; failures are queued
// under func unless the result is one the caller expects.
template <class Call>
IKeyRv vendor_call(IKSDK_SESSION& s, int func, Call&& call, IKeyRv expected = vendor::kIKeyOk,
                   int fail_reason = TOKEN_R_VENDOR_CALL_FAILED) {
    IKeyRv rv = call();
    if (rv == vendor::kIKeyPinNeeded) {
        if (IKSDK_login(s) != 1) {
            err(func, TOKEN_R_LOGIN_FAILED);
            return rv;
        }
        rv = call();
    }
    if (rv != vendor::kIKeyOk && rv != expected) err(func, fail_reason);
    end_login(s);
    return rv;
}

IKeyRv IKSDK_dir_change(IKSDK_SESSION& s, std::uint32_t id) {
    return vendor_call(s, IKSDK_F_DIR_OPEN, [&] {
        return api().ikey_ChangeDir(s.ctx, vendor::kIKeyDirectoryFlag, id, nullptr);
    });
}
bool IKSDK_dir_open(IKSDK_SESSION& s, std::uint32_t id) {
    return IKSDK_dir_change(s, id) == vendor::kIKeyOk;
}
bool IKSDK_root_dir_open(IKSDK_SESSION& s) {
    return vendor_call(s, IKSDK_F_ROOT_DIR_OPEN, [&] {
               return api().ikey_ChangeDir(s.ctx, vendor::kIKeyDirectoryFlag, 0, nullptr);
           }) == vendor::kIKeyOk;
}
IKeyRv IKSDK_file_open_rv(IKSDK_SESSION& s, std::uint32_t id,
                          std::uint32_t access = vendor::kIKeyAccessRead) {
    IKeyFileInfo info{};
    return vendor_call(
        s, IKSDK_F_FILE_OPEN,
        [&] { return api().ikey_OpenFile(s.ctx, access, id, &info, sizeof info); }, vendor::kIKeyOk,
        TOKEN_R_STEP_FAILED);
}
bool IKSDK_file_open(IKSDK_SESSION& s, std::uint32_t id,
                     std::uint32_t access = vendor::kIKeyAccessRead) {
    return IKSDK_file_open_rv(s, id, access) == vendor::kIKeyOk;
}
bool IKSDK_file_get_info(IKSDK_SESSION& s, std::uint32_t id, IKeyFileInfo& out) {
    return vendor_call(s, IKSDK_F_FILE_GET_INFO, [&] {
               return api().ikey_GetFileInfo(s.ctx, 0, id, 0, &out, sizeof out);
           }) == vendor::kIKeyOk;
}
bool IKSDK_dir_get_info(IKSDK_SESSION& s, std::uint32_t id) {
    return vendor_call(s, IKSDK_F_DIR_GET_INFO, [&] {
               return api().ikey_GetFileInfo(s.ctx, vendor::kIKeyDirectoryFlag, id, 0, &s.dir_info,
                                             sizeof s.dir_info);
           }) == vendor::kIKeyOk;
}
bool IKSDK_file_delete(IKSDK_SESSION& s, std::uint32_t id) {
    return vendor_call(s, IKSDK_F_FILE_DELETE,
                       [&] { return api().ikey_DeleteFile(s.ctx, 0, id); }) == vendor::kIKeyOk;
}

// Reads or writes exactly length bytes of the file at offset 0.
bool file_io(IKSDK_SESSION& s, bool write, std::uint32_t id, unsigned char* data,
             std::uint32_t length) {
    api().ikey_OpenFile(s.ctx, write ? vendor::kIKeyAccessWrite : vendor::kIKeyAccessRead, id,
                        nullptr, 0);
    std::uint32_t count = 0;
    const int func = write ? IKSDK_F_FILE_WRITE : IKSDK_F_FILE_READ;
    const IKeyRv rv = vendor_call(s, func, [&] {
        count = 0;
        return write ? api().ikey_Write(s.ctx, 0, 0, data, length, &count)
                     : api().ikey_Read(s.ctx, 0, 0, data, length, &count);
    });
    if (rv != vendor::kIKeyOk) return false;
    // A count other than asked for is no success, and never beyond the buffer.
    if (count != length) return err(func, TOKEN_R_STEP_FAILED), false;
    return true;
}

bool IKSDK_file_read(IKSDK_SESSION& s, std::uint32_t id, unsigned char* data,
                     std::uint32_t length) {
    return file_io(s, false, id, data, length);
}

bool IKSDK_file_write(IKSDK_SESSION& s, std::uint32_t id, unsigned char* data,
                      std::uint32_t length) {
    return file_io(s, true, id, data, length);
}

bool IKSDK_file_create(IKSDK_SESSION& s, std::uint32_t id, std::uint32_t size) {
    api().ikey_CloseFile(s.ctx);
    IKeyFileInfo info{};
    IKeyRv rv = vendor_call(
        s, IKSDK_F_FILE_CREATE,
        [&] {
            return api().ikey_OpenFile(s.ctx, vendor::kIKeyAccessCheck, id, &info, sizeof info);
        },
        vendor::kIKeyMissing);
    if (rv == vendor::kIKeyOk) return true;
    if (rv != vendor::kIKeyMissing) return false;
    info = IKeyFileInfo{};
    info.id = id;
    info.size = size;
    info.type = 2;
    info.access[0] = info.access[1] = s.protect != 0 ? 1 : 0;
    bool after_login = false;
    rv = api().ikey_CreateFile(s.ctx, 0, &info, sizeof info);
    if (rv == vendor::kIKeyPinNeeded) {
        if (IKSDK_login(s) != 1) return err(IKSDK_F_FILE_CREATE, TOKEN_R_LOGIN_FAILED), false;
        after_login = true;
        rv = api().ikey_CreateFile(s.ctx, 0, &info, sizeof info);
    }
    if (after_login && rv == vendor::kIKeyExists) {
        IKeyFileInfo again{};
        rv = api().ikey_OpenFile(s.ctx, vendor::kIKeyAccessCheck, id, &again, sizeof again);
    }
    end_login(s);
    if (rv != vendor::kIKeyOk) return err(IKSDK_F_FILE_CREATE, TOKEN_R_VENDOR_CALL_FAILED), false;
    return true;
}

bool IKSDK_dir_create(IKSDK_SESSION& s, std::uint32_t id) {
    std::array<std::uint32_t, 8> space{};
    std::uint32_t size = kDefaultDirSize;
    if (api().ikey_GetProperty(s.ctx, vendor::kIKeyPropSpace, nullptr, space.data(),
                               sizeof space) == vendor::kIKeyOk &&
        space[1] > 128)
        size = space[1] - 128;
    IKeyDirRecord record{};
    record.id = id;
    record.size = size;
    record.kind = 0x10;
    return vendor_call(s, IKSDK_F_DIR_CREATE, [&] {
               return api().ikey_CreateDir(s.ctx, 0, 0, 0, &record, sizeof record);
           }) == vendor::kIKeyOk;
}

// Enters the directory of the path, or makes the file ready; 1/0. missing,
// when given, tells whether a failure was the key's answer that the path is
// not there.
int IKSDK_chdir(IKSDK_SESSION& s, bool create, bool* missing = nullptr) {
    const std::size_t len = s.ids.size();
    if (len % 4 != 0 || len > 8) return 0;
    // The context is shared with every other session of the key: start at
    // the root whatever directory an earlier session left it in.
    if (!IKSDK_root_dir_open(s)) return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
    if (len == 8) {
        const IKeyRv rv = IKSDK_dir_change(s, s.dir_id);
        if (rv != vendor::kIKeyOk) {
            if (!create) {
                if (missing != nullptr) *missing = rv == vendor::kIKeyMissing;
                return 0;
            }
            if (!IKSDK_dir_create(s, s.dir_id) || !IKSDK_dir_open(s, s.dir_id))
                return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
        }
    }
    if (len == 0) {
        if (!IKSDK_dir_get_info(s, 0)) return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
        s.is_dir = true;
        return 1;
    }
    if (create) {
        s.is_dir = false;
        return 1;
    }
    const IKeyRv as_file = IKSDK_file_open_rv(s, s.file_id);
    if (as_file == vendor::kIKeyOk) {
        api().ikey_CloseFile(s.ctx);
        if (!IKSDK_file_get_info(s, s.file_id, s.file_info))
            return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
        s.is_dir = false;
        return 1;
    }
    const IKeyRv as_dir = len == 4 ? IKSDK_dir_change(s, s.file_id) : vendor::kIKeyMissing;
    if (as_dir != vendor::kIKeyOk) {
        if (missing != nullptr)
            *missing = as_file == vendor::kIKeyMissing && as_dir == vendor::kIKeyMissing;
        return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
    }
    s.dir_id = s.file_id;
    s.file_id = 0;
    if (!IKSDK_root_dir_open(s) || !IKSDK_dir_get_info(s, s.dir_id) || !IKSDK_dir_open(s, s.dir_id))
        return err(IKSDK_F_CHDIR, TOKEN_R_STEP_FAILED), 0;
    s.is_dir = true;
    return 1;
}

// Settings a stream keeps for its next session.
struct Pending {
    pem_password_cb* cb = nullptr;
    void* cb_arg = nullptr;
    std::array<char, kPinMax + 1> pin{};
    std::uint32_t protect = 0;
    bool protect_set = false;
    ~Pending() { OPENSSL_cleanse(pin.data(), pin.size()); }
};

int parse_hex_ids(const std::string& ids, std::uint32_t& dir, std::uint32_t& file) {
    std::vector<std::uint32_t> out;
    for (std::size_t i = 0; i < ids.size(); i += 4) {
        std::uint32_t v = 0;
        for (std::size_t k = 0; k < 4; ++k) {
            const char c = ids[i + k];
            if (!std::isxdigit(static_cast<unsigned char>(c))) return 0;
            v = v << 4 | static_cast<std::uint32_t>(std::isdigit(static_cast<unsigned char>(c))
                                                        ? c - '0'
                                                        : (c | 0x20) - 'a' + 10);
        }
        out.push_back(v);
    }
    dir = out.size() == 2 ? out[0] : 0;
    file = out.empty() ? 0 : out.back();
    return 1;
}

// The number of the device a path names: "iKey" and at most two digits
// before the ':', none meaning 0; -1 for text that names no device.
int device_number(std::string_view path) {
    const std::size_t colon = path.find(':');
    std::string_view device = path.substr(4, colon == std::string_view::npos ? colon : colon - 4);
    while (!device.empty() && device.front() == ' ') device.remove_prefix(1);
    while (!device.empty() && device.back() == ' ') device.remove_suffix(1);
    if (device.size() > 2 || !std::all_of(device.begin(), device.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c)) != 0;
        }))
        return -1;
    int number = 0;
    for (const char c : device) number = number * 10 + (c - '0');
    return number;
}

// A session at the path: the device's context, the directory entered.
// missing, when given, tells whether a failure was the key's answer that the
// path is not there.
std::unique_ptr<IKSDK_SESSION> IKSDK_touch(const char* text, bool create,
                                           const BIO_MEDIA_WORDS* words, const Pending* pending,
                                           bool* missing = nullptr) {
    if (missing != nullptr) *missing = false;
    const auto fail = [](int reason) {
        err(IKSDK_F_TOUCH, reason);
        return nullptr;
    };
    if (!loaded() || text == nullptr || !BIO_media_is_iKey(text))
        return fail(TOKEN_R_VENDOR_CALL_FAILED);
    const std::size_t text_len = strnlen(text, kMaxPathCopy + 1);
    if (text_len > kMaxPathCopy) return fail(TOKEN_R_STEP_FAILED);
    std::string path(text, text_len);
    if (path.find(":\\") == std::string::npos && path.find(":/") == std::string::npos) path += ":/";
    const std::size_t colon = path.find(':');
    // A device text that is no number names no device.
    const int number = device_number(path);
    if (number < 0) return fail(TOKEN_R_NO_TOKEN);
    std::string ids;
    for (char c : path.substr(colon + 1))
        if (c != '\\' && c != '/') ids.push_back(c);
    std::uint32_t dir_id = 0, file_id = 0;
    if (ids.size() % 4 != 0 || ids.size() > 8 || !parse_hex_ids(ids, dir_id, file_id))
        return fail(TOKEN_R_STEP_FAILED);
    void* ctx = device_for(number);
    if (ctx == nullptr) return fail(TOKEN_R_VENDOR_CALL_FAILED);
    std::unique_ptr<IKSDK_SESSION> s(new (std::nothrow) IKSDK_SESSION);
    if (!s) {
        CADB_ERR(ERR_LIB_IKSDK, IKSDK_F_NEW, ERR_R_MALLOC);
        device_drop(ctx);
        return fail(TOKEN_R_NO_TOKEN);
    }
    s->ctx = ctx;
    if (pending != nullptr) {
        s->cb = pending->cb;
        s->cb_arg = pending->cb_arg;
        s->pin = pending->pin;
        if (pending->protect_set) s->protect = pending->protect;
    }
    if (words != nullptr) {
        if (words->flags & 1) s->options |= kOptionLogout;
        if (words->flags & BIO_MEDIA_FLAG_MASTER_KEY) s->protect = 1;
        if ((words->flags & 4) && words->credential != nullptr) {
            const char* pin = static_cast<const char*>(words->credential);
            const std::size_t n = strnlen(pin, kPinMax);
            s->pin.fill('\0');
            std::memcpy(s->pin.data(), pin, n);
        }
    }
    s->path = path;
    s->ids = ids;
    s->dir_id = dir_id;
    s->file_id = file_id;
    ERR_set_mark();
    if (!IKSDK_chdir(*s, create, missing)) {
        ERR_clear_last_mark();
        return fail(TOKEN_R_STEP_FAILED);
    }
    // The failed attempts on the way are no error.
    ERR_pop_to_mark();
    return s;
}

// Writes the memory back as a new file of exactly its length, over the
// old file's contents overwritten with zeros.
int IKSDK_flush(IKSDK_SESSION& s, bool open) {
    if (!open || !s.has_buffer || !(s.mode & BIO_FP_WRITE) || s.deleted) return 1;
    const auto fail = [](int reason) {
        err(IKSDK_F_FLUSH, reason);
        return 0;
    };
    if (!loaded() || s.failed) return fail(TOKEN_R_STEP_FAILED);
    if (s.buffer.size() > IKEY_FILE_MAX) return fail(TOKEN_R_STEP_FAILED);
    // Back into the file's directory: other sessions share the context.
    if (!IKSDK_root_dir_open(s) || (s.dir_id != 0 && !IKSDK_dir_open(s, s.dir_id)))
        return fail(TOKEN_R_STEP_FAILED);
    ERR_set_mark();
    if (IKSDK_file_open(s, s.file_id)) {
        ERR_clear_last_mark();
        IKeyFileInfo info{};
        if (!IKSDK_file_get_info(s, s.file_id, info)) return fail(TOKEN_R_STEP_FAILED);
        if (info.size > IKEY_FILE_MAX) return fail(TOKEN_R_STEP_FAILED);
        std::vector<unsigned char> zeros(info.size, 0);
        if (!zeros.empty() &&
            !IKSDK_file_write(s, s.file_id, zeros.data(), static_cast<std::uint32_t>(zeros.size())))
            return fail(TOKEN_R_STEP_FAILED);
        api().ikey_CloseFile(s.ctx);
        if (!IKSDK_file_delete(s, s.file_id)) return fail(TOKEN_R_STEP_FAILED);
    } else {
        ERR_pop_to_mark();
    }
    const auto length = static_cast<std::uint32_t>(s.buffer.size());
    if (!IKSDK_file_create(s, s.file_id, length)) return fail(TOKEN_R_STEP_FAILED);
    if (length != 0 && !IKSDK_file_write(s, s.file_id, s.buffer.data(), length))
        return fail(TOKEN_R_STEP_FAILED);
    end_login(s);
    return 1;
}

struct Stream {
    std::unique_ptr<IKSDK_SESSION> session;
    bool open = false;
    bool holds_lock = false;
    Pending pending;
};

Stream* stream_of(BIO* bio) {
    return bio != nullptr ? static_cast<Stream*>(BIO_get_data(bio)) : nullptr;
}

// Writes back, wipes the memory; the session stays until destroy.
int close_file(Stream& st) {
    if (!st.session) return 1;
    const int ok = IKSDK_flush(*st.session, st.open);
    st.session->wipe();
    st.session->has_buffer = false;
    st.session->ids.clear();
    st.open = false;
    return ok;
}

int open_stream(BIO* bio, Stream& st, int mode, const char* path) {
    if (st.open && close_file(st) != 1) return err(kBioCtrl, IKSDK_R_SYSTEM_LIB), 0;
    if (!(mode & (BIO_FP_READ | BIO_FP_WRITE))) return err(kBioCtrl, TOKEN_R_BAD_OPEN_MODE), 0;
    const bool create = !(mode & BIO_FP_READ);
    std::unique_ptr<IKSDK_SESSION> s =
        IKSDK_touch(path, create, BIO_get_media_words(bio), &st.pending);
    if (!s) return err(kBioCtrl, TOKEN_R_STEP_FAILED), 0;
    st.session = std::move(s);
    IKSDK_SESSION& ss = *st.session;
    if (create) {
        ss.mode = mode;
        ss.has_buffer = true;
        st.open = true;
        return 1;
    }
    IKeyFileInfo info{};
    if (ss.is_dir || !IKSDK_file_open(ss, ss.file_id) || !IKSDK_file_get_info(ss, ss.file_id, info))
        return err(kBioCtrl, TOKEN_R_STEP_FAILED), 0;
    // Files are read in whole 16-bit words.
    std::uint32_t size = info.size;
    if (size > IKEY_FILE_MAX) return err(kBioCtrl, TOKEN_R_STEP_FAILED), 0;
    if (size % 2 != 0) ++size;
    ss.open_size = static_cast<long>(size);
    if (size != 0) {
        ss.buffer.assign(size, 0);
        if (!IKSDK_file_read(ss, ss.file_id, ss.buffer.data(), size)) {
            ss.wipe();
            return err(kBioCtrl, TOKEN_R_STEP_FAILED), 0;
        }
    }
    ss.mode = mode;
    ss.has_buffer = true;
    st.open = true;
    return 1;
}

int append(IKSDK_SESSION& s, const char* data, std::size_t n) {
    if (s.buffer.size() + n > IKEY_FILE_MAX) {
        s.failed = true;
        return err(IKSDK_F_FILE_WRITE, TOKEN_R_STEP_FAILED), -1;
    }
    held_append(s.buffer, data, n, IKEY_FILE_MAX);
    s.has_buffer = true;
    return static_cast<int>(n);
}

int IKEY_write(BIO* bio, const char* data, int n) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || !st->open || !st->session || data == nullptr || n < 0 ||
        !(st->session->mode & BIO_FP_WRITE))
        return -1;
    return append(*st->session, data, static_cast<std::size_t>(n));
}

int IKEY_read(BIO* bio, char* out, int n) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || !st->open || !st->session || out == nullptr || n < 0 ||
        !(st->session->mode & BIO_FP_READ))
        return -1;
    return held_read(st->session->buffer, st->session->pos, out, n);
}

int IKEY_puts(BIO* bio, const char* text) {
    Stream* st = stream_of(bio);
    if (st == nullptr || !st->session || !st->session->has_buffer || text == nullptr) return 0;
    const int n = append(*st->session, text, strnlen(text, IKEY_FILE_MAX + 1));
    return n < 0 ? 0 : n;
}

// One line into out, bounded by size.
int IKEY_gets(BIO* bio, char* out, int size) {
    Stream* st = stream_of(bio);
    if (st == nullptr || !st->session || !st->session->has_buffer || out == nullptr || size <= 0)
        return 0;
    return held_gets(st->session->buffer, st->session->pos, out, size, true);
}

long IKEY_ctrl(BIO* bio, int cmd, long num, void* ptr) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr) return 0;
    switch (cmd) {
        case BIO_C_SET_FILENAME:
            return open_stream(bio, *st, static_cast<int>(num), static_cast<const char*>(ptr));
        case BIO_CTRL_FLUSH:
        case BIO_CTRL_RESET:
            return close_file(*st);
        case BIO_C_SET_TOKEN_PASSWD_CB:
            st->pending.cb = reinterpret_cast<pem_password_cb*>(ptr);
            if (st->session) st->session->cb = st->pending.cb;
            return 1;
        case BIO_C_SET_TOKEN_CREATE_FLAGS:
            if (!st->session) return 0;
            st->session->protect = static_cast<std::uint32_t>(num);
            return 1;
        case BIO_C_SET_TOKEN_PIN: {
            st->pending.pin.fill('\0');
            if (ptr != nullptr)
                std::memcpy(st->pending.pin.data(), ptr,
                            strnlen(static_cast<const char*>(ptr), kPinMax - 1));
            if (st->session) st->session->pin = st->pending.pin;
            return 1;
        }
        case BIO_C_SET_TOKEN_PASSWD_ARG:
            st->pending.cb_arg = ptr;
            if (st->session) st->session->cb_arg = ptr;
            return 1;
        default:
            return 0;
    }
}

int IKEY_new(BIO* bio) {
    if (!loaded()) return 0;
    auto* st = new (std::nothrow) Stream;
    if (st == nullptr) return 0;
    // Held until the stream goes: the iKey streams of different threads
    // follow one another.
    CRYPTO_hold_lock(CRYPTO_LOCK_IKEY);
    st->holds_lock = true;
    BIO_set_data(bio, st);
    BIO_set_init(bio, 1);
    return 1;
}

int IKEY_free(BIO* bio) {
    if (bio == nullptr) return 0;
    std::unique_ptr<Stream> st(stream_of(bio));
    BIO_set_data(bio, nullptr);
    BIO_set_init(bio, 0);
    if (!st) return 0;
    int ok = 1;
    if (st->session) ok = loaded() ? IKSDK_flush(*st->session, st->open) : 0;
    st->session.reset();
    // Given back whichever thread frees the stream.
    if (st->holds_lock) CRYPTO_release_lock_hold(CRYPTO_LOCK_IKEY);
    return ok;
}

const BIO_METHOD* method() {
    static const BIO_METHOD* m = held_file_method_new(
        "iKey", {IKEY_write, IKEY_read, IKEY_puts, IKEY_gets, IKEY_ctrl, IKEY_new, IKEY_free});
    return m;
}

int ready(const char*) { return loaded() ? 1 : 0; }

int present(const char* path) {
    if (!loaded() || path == nullptr) return 0;
    std::string root(path, strnlen(path, kMaxPathCopy));
    const std::size_t colon = root.find(':');
    if (colon != std::string::npos) root.resize(colon);
    root += ":/";
    return IKEY_file_exists(root.c_str());
}

// 1 when the path is on the key, 0 when the key answers it is not, -1 when
// it cannot tell.
int exists(const char* path) {
    if (!loaded()) return -1;
    // Not while another thread's stream uses the device table.
    const LockHold hold(CRYPTO_LOCK_IKEY);
    bool missing = false;
    ERR_set_mark();
    const std::unique_ptr<IKSDK_SESSION> s = IKSDK_touch(path, false, nullptr, nullptr, &missing);
    ERR_pop_to_mark();
    return s ? 1 : missing ? 0 : -1;
}

int is_directory(const char* path) {
    if (!loaded()) return 0;
    // Not while another thread's stream uses the device table.
    const LockHold hold(CRYPTO_LOCK_IKEY);
    ERR_set_mark();
    const std::unique_ptr<IKSDK_SESSION> s = IKSDK_touch(path, false, nullptr, nullptr);
    ERR_pop_to_mark();
    return s && s->is_dir ? 1 : 0;
}

long open_size(BIO* bio) {
    const Stream* st = stream_of(bio);
    return st != nullptr && st->open && st->session && (st->session->mode & BIO_FP_READ)
               ? st->session->open_size
               : -1;
}

// Writes the stream's file back (the zeros of an erase reach the key), then
// deletes it.
int delete_open(BIO* bio) {
    Stream* st = stream_of(bio);
    if (!loaded() || st == nullptr || !st->open || !st->session) return 0;
    IKSDK_SESSION& s = *st->session;
    if (IKSDK_flush(s, st->open) != 1) return 0;
    s.deleted = true;
    s.wipe();
    if (!IKSDK_root_dir_open(s) || (s.dir_id != 0 && !IKSDK_dir_open(s, s.dir_id))) return 0;
    return IKSDK_file_delete(s, s.file_id) ? 1 : 0;
}

// The library tells no serial number: a key is known by its number, the
// order in which device contexts take the keys.
int identity(const char* path, char* out, std::size_t size) {
    if (!loaded() || path == nullptr || out == nullptr || !BIO_media_is_iKey(path)) return 0;
    const int number = device_number(std::string_view(path, strnlen(path, kMaxPathCopy)));
    if (number < 0) return 0;
    const int n = std::snprintf(out, size, "%d", number);
    return n > 0 && static_cast<std::size_t>(n) < size ? 1 : 0;
}

const BIO_MEDIA_DRIVER kDriver = {
    "iKey",    method,  ready,       present, exists,   is_directory,
    open_size, nullptr, delete_open, nullptr, identity, nullptr,
};

}  // namespace

int IKEY_load() {
    Driver& d = driver();
    {
        std::lock_guard<std::mutex> g(d.mutex);
        if (!d.loaded.load()) {
            if (!module_load("WinSCard.dll")) return 0;
            Module library = module_load("iKeyAPI.dll");
            if (!library) return 0;
            Api resolved{};
            bool all = true;
#define CADB_IKEY_RESOLVE(name) all = module_entry(library, #name, resolved.name) && all;
            CADB_IKEY_ENTRIES(CADB_IKEY_RESOLVE)
#undef CADB_IKEY_RESOLVE
            if (!all) return 0;
            {
                LockGuard table(CRYPTO_LOCK_IKEY);
                d.devices.clear();
            }
            d.api = resolved;
            d.library = std::move(library);
            d.loaded.store(true, std::memory_order_release);
        }
    }
    if (method() == nullptr) return 0;
    BIO_media_register_driver(BIO_MEDIUM_IKEY, &kDriver);
    return 1;
}

void IKEY_unload() {
    if (BIO_media_driver(BIO_MEDIUM_IKEY) == &kDriver)
        BIO_media_register_driver(BIO_MEDIUM_IKEY, nullptr);
    Driver& d = driver();
    std::lock_guard<std::mutex> g(d.mutex);
    {
        LockGuard table(CRYPTO_LOCK_IKEY);
        for (void* ctx : d.devices) IKEY_context_free(ctx);
        d.devices.clear();
    }
    d.loaded.store(false);
    d.api = Api{};
    d.library.reset();
}

int IKEY_loaded() { return loaded() ? 1 : 0; }

const BIO_METHOD* BIO_s_ikey() { return method(); }

int IKEY_file_exists(const char* path) {
    if (!loaded()) return 0;
    // Not while another thread's stream uses the device table.
    const LockHold hold(CRYPTO_LOCK_IKEY);
    ERR_set_mark();
    const std::unique_ptr<IKSDK_SESSION> s = IKSDK_touch(path, false, nullptr, nullptr);
    ERR_pop_to_mark();
    return s ? 1 : 0;
}

}  // namespace cadb
