// Stand-in for the eToken library that keeps the token state itself, over a
// directory. Under the configured root each subdirectory is a reader; a
// reader holds a token when it has a "token" subdirectory, the master file
// 3f00. Below it every 4-hex-digit identifier is a directory or file of
// that name, so "3f00e007a001" is token/e007/a001. Reading, writing,
// creating and deleting files need the PIN, which the library asks for
// through the session's password callback.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "platform/vendor/etoken_r2_api.h"
#include "tests/drivers/modules/sim_fs.h"

namespace fs = std::filesystem;
using namespace cadb::vendor;

namespace {

struct SimState {
    std::string root;
    std::string pin;
    int logins = 0;
    std::uint32_t size_extra = 0;    // added to reported file sizes
    std::uint64_t capacity = ~0ULL;  // bytes all files of a token may hold
    bool hostile_names = false;      // listing names fill the whole field
    bool fail_init = false;
    std::uint32_t next_handle = 1;
};
SimState sim;
std::recursive_mutex sim_mutex;

// The session's own state inside the record's vendor area.
struct Own {
    char reader[200];
    std::int32_t logged_in;
};
static_assert(sizeof(Own) <= sizeof(ETR2_SESSION::vendor));
Own& own(ETR2_SESSION* s) { return *reinterpret_cast<Own*>(s->vendor); }

int fail(ETR2_SESSION* s, std::uint32_t func, std::uint32_t reason, int line) {
    s->err_func = func;
    s->err_reason = reason;
    s->err_file = "etapi.cpp";
    s->err_line = static_cast<std::uint32_t>(line);
    return 0;
}
#define FAIL(func, reason) fail(s, (func), (reason), __LINE__)

fs::path token_dir(ETR2_SESSION* s) { return fs::path(sim.root) / own(s).reader / "token"; }

// The token path of an identifier string; false when it is not one.
bool locate(ETR2_SESSION* s, const char* ids, fs::path& out) {
    if (ids == nullptr) return false;
    std::string text(ids);
    if (text.size() < 4 || text.size() % 4 != 0) return false;
    for (char& c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    if (text.compare(0, 4, "3f00") != 0) return false;
    out = token_dir(s);
    for (std::size_t i = 4; i < text.size(); i += 4) out /= text.substr(i, 4);
    return true;
}

bool has_token(ETR2_SESSION* s) { return fs::is_directory(token_dir(s)); }

std::uint64_t used_bytes(ETR2_SESSION* s) { return sim_fs::bytes_below(token_dir(s)); }

// Asks for the PIN through the session's callback once per session.
bool ensure_login(ETR2_SESSION* s) {
    if (own(s).logged_in) return true;
    if (s->passwd_cb == nullptr) return false;
    char pin[256] = {};
    const int n = s->passwd_cb(pin, sizeof pin, 0, s->ids);
    ++sim.logins;
    const bool ok = n > 0 && n < static_cast<int>(sizeof pin) &&
                    sim.pin == std::string(pin, static_cast<std::size_t>(n));
    for (volatile char& c : pin) c = 0;
    own(s).logged_in = ok ? 1 : 0;
    return ok;
}

std::vector<unsigned char> slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

#define SIM_API extern "C" __attribute__((visibility("default")))

SIM_API int ETOKEN_init(ETR2_SESSION* s, const char* reader) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (s == nullptr || reader == nullptr) return 0;
    if (sim.fail_init || std::strlen(reader) >= sizeof(Own::reader))
        return FAIL(ETR2_F_INIT, ETR2_R_BAD_ARGUMENT);
    std::strcpy(own(s).reader, reader);
    own(s).logged_in = 0;
    s->handle = sim.next_handle++;
    return 1;
}

SIM_API void ETOKEN_close(ETR2_SESSION* s) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (s != nullptr) s->handle = 0;
}

SIM_API int ETOKEN_login(ETR2_SESSION* s, const char* pin) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (pin == nullptr || sim.pin != pin) return FAIL(ETR2_F_LOGIN, ETR2_R_LOGIN_FAILED);
    own(s).logged_in = 1;
    return 1;
}

SIM_API int ETOKEN_logout(ETR2_SESSION* s) {
    own(s).logged_in = 0;
    return 1;
}

SIM_API int ETOKEN_change_password(ETR2_SESSION* s, const char* old_pin, const char* new_pin) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (old_pin == nullptr || new_pin == nullptr || sim.pin != old_pin)
        return FAIL(ETR2_F_CHANGE_PASSWORD, ETR2_R_LOGIN_FAILED);
    sim.pin = new_pin;
    return 1;
}

SIM_API int ETOKEN_get_config(ETR2_SESSION* s, unsigned char* config) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (s->handle == 0 || !has_token(s)) return FAIL(ETR2_F_GET_CONFIG, ETR2_R_NO_TOKEN);
    std::memset(config, 0x5A, sizeof(s->config));
    return 1;
}

SIM_API int ETOKEN_is_file_exist(ETR2_SESSION* s, const char* ids, std::int32_t* there) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    if (there == nullptr) return FAIL(ETR2_F_IS_FILE_EXIST, ETR2_R_BAD_ARGUMENT);
    fs::path p;
    *there = has_token(s) && locate(s, ids, p) && fs::exists(p) ? 1 : 0;
    return 1;
}

SIM_API int ETOKEN_get_file_info(ETR2_SESSION* s, const char* ids, ETOKEN_FILE_INFO* out) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_GET_FILE_INFO, ETR2_R_NO_TOKEN);
    std::error_code ec;
    const fs::file_status st =
        out != nullptr && locate(s, ids, p) ? fs::status(p, ec) : fs::file_status{};
    if (!fs::exists(st)) return FAIL(ETR2_F_GET_FILE_INFO, ETR2_R_NOT_FOUND);
    *out = ETOKEN_FILE_INFO{};
    std::strncpy(out->name, ids + std::strlen(ids) - 4, 4);
    out->is_directory = fs::is_directory(st) ? 1 : 0;
    out->is_file = out->is_directory ? 0 : 1;
    out->attributes = 0x11;
    out->size = out->is_file ? sim_fs::size_of(p) + sim.size_extra : 0;
    return 1;
}

SIM_API int ETOKEN_create_directory(ETR2_SESSION* s, const char* ids, std::uint32_t) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_CREATE_DIRECTORY, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p)) return FAIL(ETR2_F_CREATE_DIRECTORY, ETR2_R_BAD_ARGUMENT);
    if (fs::exists(p)) return FAIL(ETR2_F_CREATE_DIRECTORY, ETR2_R_EXISTS);
    std::error_code ec;
    if (!fs::create_directory(p, ec)) return FAIL(ETR2_F_CREATE_DIRECTORY, ETR2_R_NOT_FOUND);
    return 1;
}

SIM_API int ETOKEN_create_file(ETR2_SESSION* s, const char* ids, std::uint32_t size,
                               std::uint32_t) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_CREATE_FILE, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p) || !fs::is_directory(p.parent_path()))
        return FAIL(ETR2_F_CREATE_FILE, ETR2_R_NOT_FOUND);
    if (fs::exists(p)) return FAIL(ETR2_F_CREATE_FILE, ETR2_R_EXISTS);
    if (!ensure_login(s)) return FAIL(ETR2_F_CREATE_FILE, ETR2_R_LOGIN_FAILED);
    if (size > 0xFFFF || used_bytes(s) + size > sim.capacity)
        return FAIL(ETR2_F_CREATE_FILE, ETR2_R_NO_SPACE);
    std::ofstream(p, std::ios::binary) << std::string(size, '\0');
    return 1;
}

SIM_API int ETOKEN_write(ETR2_SESSION* s, const char* ids, const void* data, std::uint32_t offset,
                         std::uint32_t length) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_WRITE, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p) || !fs::is_regular_file(p)) return FAIL(ETR2_F_WRITE, ETR2_R_NOT_FOUND);
    if (!ensure_login(s)) return FAIL(ETR2_F_WRITE, ETR2_R_LOGIN_FAILED);
    auto bytes = slurp(p);
    // A file keeps the size it was created with.
    if (std::uint64_t{offset} + length > bytes.size()) return FAIL(ETR2_F_WRITE, ETR2_R_NO_SPACE);
    std::memcpy(bytes.data() + offset, data, length);
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return 1;
}

SIM_API int ETOKEN_read(ETR2_SESSION* s, const char* ids, void* buffer, std::uint32_t offset,
                        std::uint32_t length) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_READ, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p) || !fs::is_regular_file(p)) return FAIL(ETR2_F_READ, ETR2_R_NOT_FOUND);
    if (!ensure_login(s)) return FAIL(ETR2_F_READ, ETR2_R_LOGIN_FAILED);
    const auto bytes = slurp(p);
    if (std::uint64_t{offset} + length > bytes.size())
        return FAIL(ETR2_F_READ, ETR2_R_BAD_ARGUMENT);
    std::memcpy(buffer, bytes.data() + offset, length);
    return 1;
}

SIM_API int ETOKEN_delete(ETR2_SESSION* s, const char* ids) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_DELETE, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p) || !fs::exists(p)) return FAIL(ETR2_F_DELETE, ETR2_R_NOT_FOUND);
    if (!ensure_login(s)) return FAIL(ETR2_F_DELETE, ETR2_R_LOGIN_FAILED);
    std::error_code ec;
    return fs::remove(p, ec) ? 1 : FAIL(ETR2_F_DELETE, ETR2_R_EXISTS);
}

SIM_API int ETOKEN_list_files(ETR2_SESSION* s, const char* ids, void* list,
                              ETokenEntryNew entry_new, ETokenEntryPush push) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    fs::path p;
    if (!has_token(s)) return FAIL(ETR2_F_GET_FILE_INFO, ETR2_R_NO_TOKEN);
    if (!locate(s, ids, p) || !fs::is_directory(p))
        return FAIL(ETR2_F_GET_FILE_INFO, ETR2_R_NOT_FOUND);
    std::vector<fs::directory_entry> members = sim_fs::members(p);
    std::sort(members.begin(), members.end());
    for (const auto& e : members) {
        ETOKEN_FILE_INFO* info = entry_new();
        if (info == nullptr) return FAIL(ETR2_F_FILE_INFO_NEW, ETR2_R_NO_SPACE);
        const std::string name = e.path().filename().string();
        if (sim.hostile_names)
            std::memset(info->name, 'Z', sizeof info->name);
        else
            std::strncpy(info->name, name.c_str(), sizeof info->name - 1);
        info->is_directory = sim_fs::is_directory(e) ? 1 : 0;
        info->is_file = info->is_directory ? 0 : 1;
        info->size = info->is_file ? sim_fs::size_of(e.path()) : 0;
        push(list, info);
    }
    return 1;
}

// Controls for the tests.
SIM_API void simConfigure(const char* root, const char* pin) {
    const std::lock_guard<std::recursive_mutex> g(sim_mutex);
    sim = SimState{};
    sim.root = root;
    sim.pin = pin;
}
SIM_API int simLogins() { return sim.logins; }
SIM_API void simLie(std::uint32_t size_extra) { sim.size_extra = size_extra; }
SIM_API void simCapacity(std::uint64_t bytes) { sim.capacity = bytes; }
SIM_API void simHostileNames(int on) { sim.hostile_names = on != 0; }
SIM_API void simFailInit(int on) { sim.fail_init = on != 0; }
