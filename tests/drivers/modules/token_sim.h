// A token file system kept in a directory, behind the vendor entries of the
// token libraries. Under the configured root each subdirectory is a reader;
// a reader holds a token when it has a "token" subdirectory, the token's
// root directory. Below it, directories and files are named by their
// identifiers as "%04x". File contents need a login with the configured PIN;
// a refused call returns SIM_LOGIN_NEEDED, which the including module
// defines.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/vendor/token_fs_api.h"
#include "tests/drivers/modules/sim_fs.h"

namespace fs = std::filesystem;
using cadb::vendor::TokenFsInfo;
using cadb::vendor::TokenRv;

namespace {

struct SimState {
    std::string root;
    std::string pin;
    int logins = 0;
    int refused_logins = 0;
    std::uint32_t report_size_extra = 0;  // added to reported file sizes
    std::uint32_t report_read_extra = 0;  // added to reported read counts
    std::vector<unsigned char> deleted_contents;
};
SimState sim;

// The stand-in serves every thread: one call at a time.
std::recursive_mutex sim_mutex;
struct SimLock {
    std::lock_guard<std::recursive_mutex> guard{sim_mutex};
};

struct SimToken {
    fs::path dir;
    bool logged_in = false;
};
struct SimDir {
    SimToken* token;
    fs::path path;
};
struct SimFile {
    SimToken* token;
    fs::path path;
};
struct SimReaders {
    std::vector<std::string> names;
    std::size_t next = 0;
};
struct SimItems {
    std::vector<TokenFsInfo> items;
    std::size_t next = 0;
};

std::string id_name(std::uint16_t id) {
    char name[5];
    std::snprintf(name, sizeof name, "%04x", id);
    return name;
}

bool parse_id(const std::string& name, std::uint16_t& id) {
    if (name.size() != 4) return false;
    unsigned v = 0;
    for (char c : name) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        v = v * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(c))
                                               ? c - '0'
                                               : (c | 0x20) - 'a' + 10);
    }
    id = static_cast<std::uint16_t>(v);
    return true;
}

std::vector<unsigned char> slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

SimItems* list(const fs::path& dir, bool directories) {
    auto* items = new SimItems;
    for (const auto& e : sim_fs::members(dir)) {
        std::uint16_t id = 0;
        if (!parse_id(e.path().filename().string(), id) || sim_fs::is_directory(e) != directories)
            continue;
        const auto size = directories ? 0 : sim_fs::size_of(e.path());
        items->items.push_back(
            TokenFsInfo{id, static_cast<std::uint16_t>(directories), 0x11, size});
    }
    return items;
}

}  // namespace

extern "C" {

TokenRv sim_OpenReadersEnum(void** readers) {
    const SimLock lock;
    if (readers == nullptr) return cadb::vendor::kTokenBadArgument;
    auto* r = new SimReaders;
    for (const auto& e : sim_fs::members(sim.root))
        if (sim_fs::is_directory(e)) r->names.push_back(e.path().filename().string());
    std::sort(r->names.begin(), r->names.end());
    *readers = r;
    return 0;
}

TokenRv sim_GetNextReader(void* readers, char* name, std::uint32_t size, int* has_token) {
    const SimLock lock;
    auto* r = static_cast<SimReaders*>(readers);
    if (r->next >= r->names.size()) return cadb::vendor::kTokenNoMoreItems;
    const std::string& n = r->names[r->next++];
    if (n.size() + 1 > size) return cadb::vendor::kTokenBadArgument;
    std::memcpy(name, n.c_str(), n.size() + 1);
    *has_token = fs::is_directory(fs::path(sim.root) / n / "token") ? 1 : 0;
    return 0;
}

TokenRv sim_CloseReadersEnum(void* readers) {
    const SimLock lock;
    delete static_cast<SimReaders*>(readers);
    return 0;
}

TokenRv sim_BindToken(const char* reader, void** token) {
    const SimLock lock;
    const fs::path dir = fs::path(sim.root) / reader / "token";
    if (!fs::is_directory(dir)) return cadb::vendor::kTokenNotFound;
    *token = new SimToken{dir};
    return 0;
}

TokenRv sim_UnbindToken(void* token) {
    const SimLock lock;
    delete static_cast<SimToken*>(token);
    return 0;
}

TokenRv sim_LoginToken(void* token, const char* pin) {
    const SimLock lock;
    ++sim.logins;
    if (pin == nullptr || sim.pin != pin) {
        ++sim.refused_logins;
        return cadb::vendor::kTokenPinRefused;
    }
    static_cast<SimToken*>(token)->logged_in = true;
    return 0;
}

TokenRv sim_LogoutToken(void* token) {
    const SimLock lock;
    static_cast<SimToken*>(token)->logged_in = false;
    return 0;
}

TokenRv sim_ChangeTokenPin(void* token, const char* old_pin, const char* new_pin) {
    const SimLock lock;
    if (sim.pin != old_pin) return cadb::vendor::kTokenPinRefused;
    (void)token;
    sim.pin = new_pin;
    return 0;
}

TokenRv sim_GetPinMaxLength(void*, std::uint32_t* length) { return *length = 32, 0; }
TokenRv sim_GetPinMinLength(void*, std::uint32_t* length) { return *length = 1, 0; }

TokenRv sim_GetTokenLabel(void*, char* text, std::uint32_t size) {
    const SimLock lock;
    return std::snprintf(text, size, "sim") >= 0 ? 0 : cadb::vendor::kTokenGeneral;
}
// Each token's serial number is its own: drawn from where its directory is,
// so that every process sees one token under one number.
TokenRv sim_GetTokenId(void* token, char* text, std::uint32_t size) {
    const SimLock lock;
    std::uint32_t serial = 2166136261u;
    for (const char c : static_cast<SimToken*>(token)->dir.string())
        serial = (serial ^ static_cast<unsigned char>(c)) * 16777619u;
    return std::snprintf(text, size, "%08x", serial) >= 0 ? 0 : cadb::vendor::kTokenGeneral;
}

TokenRv sim_OpenRootDir(void* token, void** dir) {
    const SimLock lock;
    auto* t = static_cast<SimToken*>(token);
    *dir = new SimDir{t, t->dir};
    return 0;
}

TokenRv sim_OpenDir(void* dir, std::uint16_t id, void** child) {
    const SimLock lock;
    auto* d = static_cast<SimDir*>(dir);
    const fs::path p = d->path / id_name(id);
    if (!fs::is_directory(p)) return cadb::vendor::kTokenNotFound;
    *child = new SimDir{d->token, p};
    return 0;
}

TokenRv sim_CreateDir(void* dir, std::uint16_t id, void** child) {
    const SimLock lock;
    auto* d = static_cast<SimDir*>(dir);
    const fs::path p = d->path / id_name(id);
    if (fs::exists(p)) return cadb::vendor::kTokenExists;
    std::error_code ec;
    if (!fs::create_directory(p, ec))
        return fs::exists(p) ? cadb::vendor::kTokenExists : cadb::vendor::kTokenNotFound;
    *child = new SimDir{d->token, p};
    return 0;
}

TokenRv sim_GetDirInfo(void* dir, TokenFsInfo* info) {
    const SimLock lock;
    std::uint16_t id = 0;
    parse_id(static_cast<SimDir*>(dir)->path.filename().string(), id);
    *info = TokenFsInfo{id, 1, 0, 0};
    return 0;
}

TokenRv sim_DeleteDir(void* dir, std::uint16_t id) {
    const SimLock lock;
    std::error_code ec;
    return fs::remove(static_cast<SimDir*>(dir)->path / id_name(id), ec)
               ? 0
               : cadb::vendor::kTokenNotFound;
}

TokenRv sim_CloseDir(void* dir) {
    const SimLock lock;
    delete static_cast<SimDir*>(dir);
    return 0;
}

TokenRv sim_OpenDirEnum(void* dir, void** items) {
    const SimLock lock;
    *items = list(static_cast<SimDir*>(dir)->path, true);
    return 0;
}
TokenRv sim_OpenFilesEnum(void* dir, void** items) {
    const SimLock lock;
    *items = list(static_cast<SimDir*>(dir)->path, false);
    return 0;
}
TokenRv next_item(void* items, TokenFsInfo* info) {
    auto* i = static_cast<SimItems*>(items);
    if (i->next >= i->items.size()) return cadb::vendor::kTokenNoMoreItems;
    *info = i->items[i->next++];
    return 0;
}
TokenRv sim_GetNextDir(void* items, TokenFsInfo* info) { return next_item(items, info); }
TokenRv sim_GetNextFile(void* items, TokenFsInfo* info) { return next_item(items, info); }
TokenRv sim_CloseDirEnum(void* items) {
    const SimLock lock;
    delete static_cast<SimItems*>(items);
    return 0;
}
TokenRv sim_CloseFilesEnum(void* items) { return sim_CloseDirEnum(items); }

TokenRv sim_OpenFile(void* dir, std::uint16_t id, void** file) {
    const SimLock lock;
    auto* d = static_cast<SimDir*>(dir);
    const fs::path p = d->path / id_name(id);
    if (!fs::is_regular_file(p)) return cadb::vendor::kTokenNotFound;
    *file = new SimFile{d->token, p};
    return 0;
}

TokenRv sim_CreateFile(void* dir, std::uint16_t id, std::uint32_t size, std::uint32_t,
                       void** file) {
    const SimLock lock;
    auto* d = static_cast<SimDir*>(dir);
    if (!d->token->logged_in) return SIM_LOGIN_NEEDED;
    if (size > 0xFFFF) return cadb::vendor::kTokenNoSpace;
    const fs::path p = d->path / id_name(id);
    if (fs::exists(p)) return cadb::vendor::kTokenExists;
    std::ofstream(p, std::ios::binary) << std::string(size, '\0');
    *file = new SimFile{d->token, p};
    return 0;
}

TokenRv sim_ReadFile(void* file, std::uint32_t offset, void* buffer, std::uint32_t length,
                     std::uint32_t* done) {
    const SimLock lock;
    auto* f = static_cast<SimFile*>(file);
    if (!f->token->logged_in) return SIM_LOGIN_NEEDED;
    const auto bytes = slurp(f->path);
    const std::size_t take =
        offset >= bytes.size() ? 0 : std::min<std::size_t>(length, bytes.size() - offset);
    if (take != 0) std::memcpy(buffer, bytes.data() + offset, take);
    *done = static_cast<std::uint32_t>(take) + sim.report_read_extra;
    return 0;
}

TokenRv sim_WriteFile(void* file, std::uint32_t offset, const void* buffer, std::uint32_t length) {
    const SimLock lock;
    auto* f = static_cast<SimFile*>(file);
    if (!f->token->logged_in) return SIM_LOGIN_NEEDED;
    auto bytes = slurp(f->path);
    // A file keeps the size it was created with.
    if (std::uint64_t{offset} + length > bytes.size()) return cadb::vendor::kTokenNoSpace;
    std::memcpy(bytes.data() + offset, buffer, length);
    std::ofstream(f->path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return 0;
}

TokenRv sim_DeleteFile(void* file) {
    const SimLock lock;
    auto* f = static_cast<SimFile*>(file);
    if (!f->token->logged_in) return SIM_LOGIN_NEEDED;
    sim.deleted_contents = slurp(f->path);
    std::error_code ec;
    return fs::remove(f->path, ec) ? 0 : cadb::vendor::kTokenNotFound;
}

TokenRv sim_GetFileInfo(void* file, TokenFsInfo* info) {
    const SimLock lock;
    auto* f = static_cast<SimFile*>(file);
    std::uint16_t id = 0;
    parse_id(f->path.filename().string(), id);
    *info = TokenFsInfo{id, 0, 0x11, sim_fs::size_of(f->path) + sim.report_size_extra};
    return 0;
}

TokenRv sim_CloseFile(void* file) {
    const SimLock lock;
    delete static_cast<SimFile*>(file);
    return 0;
}

// Controls for the tests.
__attribute__((visibility("default"))) void simConfigure(const char* root, const char* pin) {
    sim = SimState{};
    sim.root = root;
    sim.pin = pin;
}
__attribute__((visibility("default"))) int simLogins() { return sim.logins; }
__attribute__((visibility("default"))) void simLie(std::uint32_t size_extra,
                                                   std::uint32_t read_extra) {
    sim.report_size_extra = size_extra;
    sim.report_read_extra = read_extra;
}
// The contents the last deleted file had just before deletion.
__attribute__((visibility("default"))) std::size_t simDeletedContents(unsigned char* out,
                                                                      std::size_t size) {
    const std::size_t n = std::min(size, sim.deleted_contents.size());
    if (n != 0) std::memcpy(out, sim.deleted_contents.data(), n);
    return sim.deleted_contents.size();
}

}  // extern "C"

// Exports one entry of the library under its vendor name.
#define SIM_EXPORT_ENTRY(role, type, name)                                      \
    extern "C" __attribute__((visibility("default"))) decltype(sim_##role) name \
        __attribute__((alias("sim_" #role)));                                   \
    static_assert(std::is_same_v<decltype(&sim_##role), cadb::vendor::type>);
