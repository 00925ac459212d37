// Stand-in for the iKey library, over a directory. Under the configured root
// each subdirectory named by a number is a key: device contexts take the
// keys in order as they open them. On a key, files and the directories of
// the one level below the root are named by their identifiers as "%04x".
// Reading, writing, creating and deleting need a verified PIN: a text, or
// four bytes. A program a test runs, which cannot configure the library
// itself, names the root and the text PIN in IKEY_SIM_ROOT and IKEY_SIM_PIN.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/vendor/ikey_api.h"
#include "tests/drivers/modules/sim_fs.h"

namespace fs = std::filesystem;
using namespace cadb::vendor;

namespace {

struct Context {
    int device = -1;
    fs::path cwd;
    bool verified = false;
    std::uint32_t file = 0;
    bool file_open = false;
};

struct SimState {
    std::string root;
    std::string pin;
    std::vector<unsigned char> binary_pin;
    int busy = 0;
    std::uint32_t size_extra = 0;
    std::uint32_t read_extra = 0;
    std::uint64_t capacity = ~0ULL;
    int verifies = 0;
    std::vector<unsigned char> last_binary;
    std::vector<unsigned char> deleted_contents;
    std::set<Context*> contexts;
};
SimState sim;
std::recursive_mutex sim_mutex;
using Guard = std::lock_guard<std::recursive_mutex>;

std::string id_name(std::uint32_t id) {
    char name[16];
    std::snprintf(name, sizeof name, "%04x", id & 0xFFFF);
    return name;
}

fs::path device_root(const Context& c) { return fs::path(sim.root) / std::to_string(c.device); }

bool present(const Context* c) {
    return c != nullptr && c->device >= 0 && fs::is_directory(device_root(*c));
}

std::vector<unsigned char> slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void spit(const fs::path& p, const std::vector<unsigned char>& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::uint64_t used(const Context& c) { return sim_fs::bytes_below(device_root(c)); }

}  // namespace

void configure_from_environment() {
    if (!sim.root.empty()) return;
    if (const char* root = std::getenv("IKEY_SIM_ROOT")) sim.root = root;
    if (const char* pin = std::getenv("IKEY_SIM_PIN")) sim.pin = pin;
}

#define SIM_API extern "C" __attribute__((visibility("default")))

SIM_API IKeyRv ikey_CreateContext(void** ctx, std::uint32_t, std::uint32_t) {
    const Guard g(sim_mutex);
    configure_from_environment();
    if (ctx == nullptr) return kIKeyBadArgument;
    auto* c = new Context;
    sim.contexts.insert(c);
    *ctx = c;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_DeleteContext(void* ctx) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (sim.contexts.erase(c) == 0) return kIKeyBadArgument;
    delete c;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_OpenDevice(void* ctx, std::uint32_t, void*) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (sim.busy > 0) return --sim.busy, kIKeyBusy;
    for (int d = 0; d < 64; ++d) {
        if (!fs::is_directory(fs::path(sim.root) / std::to_string(d))) continue;
        const bool taken = std::any_of(sim.contexts.begin(), sim.contexts.end(),
                                       [&](const Context* o) { return o->device == d; });
        if (taken) continue;
        c->device = d;
        c->cwd = device_root(*c);
        return kIKeyOk;
    }
    return kIKeyNoDevice;
}

SIM_API IKeyRv ikey_CloseDevice(void* ctx) {
    const Guard g(sim_mutex);
    static_cast<Context*>(ctx)->device = -1;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_ChangeDir(void* ctx, std::uint32_t flags, std::uint32_t id, void*) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c) || flags != kIKeyDirectoryFlag) return kIKeyNoDevice;
    const fs::path p = id == 0 ? device_root(*c) : device_root(*c) / id_name(id);
    if (!fs::is_directory(p)) return kIKeyMissing;
    c->cwd = p;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_GetCurrentDir(void* ctx, std::uint32_t, std::uint32_t* id, std::uint32_t,
                                  std::uint32_t* type) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    const bool root = c->cwd == device_root(*c);
    *type = root ? kIKeyRootType : kIKeyDirType;
    *id = root ? 0 : static_cast<std::uint32_t>(std::stoul(c->cwd.filename().string(), nullptr, 16));
    return kIKeyOk;
}

SIM_API IKeyRv ikey_OpenFile(void* ctx, std::uint32_t, std::uint32_t id, IKeyFileInfo* info,
                             std::uint32_t len) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    const fs::path p = c->cwd / id_name(id);
    if (!fs::is_regular_file(p)) return kIKeyMissing;
    c->file = id;
    c->file_open = true;
    if (info != nullptr && len >= sizeof(IKeyFileInfo)) {
        *info = IKeyFileInfo{};
        info->id = id;
        info->size = sim_fs::size_of(p);
    }
    return kIKeyOk;
}

SIM_API IKeyRv ikey_CloseFile(void* ctx) {
    const Guard g(sim_mutex);
    static_cast<Context*>(ctx)->file_open = false;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_Directory(void*, std::uint32_t, void*, std::uint32_t) { return kIKeyBadArgument; }

SIM_API IKeyRv ikey_GetFileInfo(void* ctx, std::uint32_t flags, std::uint32_t id, std::uint32_t,
                                IKeyFileInfo* info, std::uint32_t len) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (info == nullptr || len < sizeof(IKeyFileInfo)) return kIKeyBadArgument;
    *info = IKeyFileInfo{};
    info->id = id;
    if (flags == kIKeyDirectoryFlag) {
        const fs::path p = id == 0 ? device_root(*c) : device_root(*c) / id_name(id);
        return fs::is_directory(p) ? kIKeyOk : kIKeyMissing;
    }
    const fs::path p = c->cwd / id_name(id);
    if (!fs::is_regular_file(p)) return kIKeyMissing;
    info->size = sim_fs::size_of(p) + sim.size_extra;
    info->type = 2;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_Read(void* ctx, std::uint32_t, std::uint32_t offset, void* buffer,
                         std::uint32_t length, std::uint32_t* count) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (!c->verified) return kIKeyPinNeeded;
    if (!c->file_open || count == nullptr) return kIKeyBadArgument;
    const auto bytes = slurp(c->cwd / id_name(c->file));
    // Files hold whole 16-bit words.
    const std::uint64_t room = bytes.size() + bytes.size() % 2;
    if (std::uint64_t{offset} + length > room) return kIKeyBadArgument;
    auto* out = static_cast<unsigned char*>(buffer);
    for (std::uint32_t i = 0; i < length; ++i)
        out[i] = offset + i < bytes.size() ? bytes[offset + i] : 0;
    *count = length + sim.read_extra;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_Write(void* ctx, std::uint32_t, std::uint32_t offset, const void* buffer,
                          std::uint32_t length, std::uint32_t* count) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (!c->verified) return kIKeyPinNeeded;
    if (!c->file_open || count == nullptr) return kIKeyBadArgument;
    const fs::path p = c->cwd / id_name(c->file);
    auto bytes = slurp(p);
    if (std::uint64_t{offset} + length > bytes.size()) return kIKeyNoSpace;
    std::memcpy(bytes.data() + offset, buffer, length);
    spit(p, bytes);
    *count = length;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_CreateDir(void* ctx, std::uint32_t, std::uint32_t, std::uint32_t,
                              IKeyDirRecord* record, std::uint32_t len) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (record == nullptr || len < sizeof(IKeyDirRecord) || record->kind != 0x10)
        return kIKeyBadArgument;
    if (!c->verified) return kIKeyPinNeeded;
    const fs::path p = device_root(*c) / id_name(record->id);
    if (fs::exists(p)) return kIKeyExists;
    std::error_code ec;
    if (!fs::create_directory(p, ec)) return fs::exists(p) ? kIKeyExists : kIKeyNoDevice;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_DeleteDir(void*, std::uint32_t, std::uint32_t) { return kIKeyBadArgument; }

SIM_API IKeyRv ikey_CreateFile(void* ctx, std::uint32_t, IKeyFileInfo* info, std::uint32_t len) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (info == nullptr || len < sizeof(IKeyFileInfo) || info->type != 2) return kIKeyBadArgument;
    if (!c->verified) return kIKeyPinNeeded;
    const fs::path p = c->cwd / id_name(info->id);
    if (fs::exists(p)) return kIKeyExists;
    if (used(*c) + info->size > sim.capacity) return kIKeyNoSpace;
    spit(p, std::vector<unsigned char>(info->size, 0));
    if (info->access[0] == 1 && info->access[1] == 1)
        std::ofstream(p.string() + ".protected") << "1";
    c->file = info->id;
    c->file_open = true;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_DeleteFile(void* ctx, std::uint32_t, std::uint32_t id) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    if (!c->verified) return kIKeyPinNeeded;
    const fs::path p = c->cwd / id_name(id);
    if (!fs::is_regular_file(p)) return kIKeyMissing;
    sim.deleted_contents = slurp(p);
    std::error_code ec;
    const bool removed = fs::remove(p, ec);
    fs::remove(p.string() + ".protected", ec);
    return removed ? kIKeyOk : kIKeyMissing;
}

SIM_API IKeyRv ikey_Verify(void* ctx, std::uint32_t kind, const void* pin, std::uint32_t length) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c)) return kIKeyNoDevice;
    ++sim.verifies;
    const auto* bytes = static_cast<const unsigned char*>(pin);
    bool ok = false;
    if (kind == 1) {
        ok = std::string(static_cast<const char*>(pin), length) == sim.pin;
    } else if (kind == 0 && length == 4) {
        sim.last_binary.assign(bytes, bytes + 4);
        ok = sim.last_binary == sim.binary_pin;
    }
    c->verified = ok;
    return ok ? kIKeyOk : kIKeyPinRefused;
}

SIM_API IKeyRv ikey_ResetSecurityState(void* ctx, std::uint32_t) {
    const Guard g(sim_mutex);
    static_cast<Context*>(ctx)->verified = false;
    return kIKeyOk;
}

SIM_API IKeyRv ikey_Cleanup() { return kIKeyOk; }

SIM_API IKeyRv ikey_GetProperty(void* ctx, std::uint32_t property, void*, void* out,
                                std::uint32_t len) {
    const Guard g(sim_mutex);
    auto* c = static_cast<Context*>(ctx);
    if (!present(c) || out == nullptr) return kIKeyNoDevice;
    std::memset(out, 0, len);
    if (property == kIKeyPropSpace && len >= 8) {
        const std::uint32_t space = 8192;
        std::memcpy(static_cast<unsigned char*>(out) + 4, &space, 4);
    }
    return kIKeyOk;
}

// Controls for the tests.
SIM_API void simConfigure(const char* root, const char* pin, const unsigned char* binary_pin) {
    const Guard g(sim_mutex);
    sim.root = root;
    sim.pin = pin;
    sim.binary_pin.assign(binary_pin, binary_pin + 4);
    sim.busy = 0;
    sim.size_extra = sim.read_extra = 0;
    sim.capacity = ~0ULL;
    sim.verifies = 0;
    sim.last_binary.clear();
    sim.deleted_contents.clear();
}
SIM_API void simBusy(int n) { sim.busy = n; }
SIM_API void simLie(std::uint32_t size_extra, std::uint32_t read_extra) {
    sim.size_extra = size_extra;
    sim.read_extra = read_extra;
}
SIM_API void simCapacity(std::uint64_t bytes) { sim.capacity = bytes; }
SIM_API int simVerifies() { return sim.verifies; }
SIM_API int simLastBinaryPin(unsigned char* out) {
    if (sim.last_binary.size() != 4) return 0;
    std::memcpy(out, sim.last_binary.data(), 4);
    return 1;
}
SIM_API std::size_t simDeletedContents(unsigned char* out, std::size_t size) {
    const std::size_t n = std::min(size, sim.deleted_contents.size());
    if (n != 0) std::memcpy(out, sim.deleted_contents.data(), n);
    return sim.deleted_contents.size();
}
SIM_API int simOpenContexts() {
    const Guard g(sim_mutex);
    int n = 0;
    for (const Context* c : sim.contexts) n += c->device >= 0 ? 1 : 0;
    return n;
}
