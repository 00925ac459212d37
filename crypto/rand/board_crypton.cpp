// The Crypton board over its vendor library "sccrptn.dll".
#include <cstdint>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/rand/board_buffer.h"
#include "crypto/rand/board_vendor.h"
#include "crypto/rand/boards.h"
#include "platform/module.h"
#include "platform/no_destructor.h"

namespace cadb {
namespace {

struct CryptonApi {
    vendor::crInitCryptonLib_t init_lib;
    vendor::crDoneCryptonLib_t done_lib;
    vendor::crInitService_t init_service;
    vendor::crInitService_t init_hardware_service;
    vendor::crInitService_t init_light_service;
    vendor::crDoneService_t done_service;
    vendor::crGetDriverType_t get_driver_type;
    vendor::crGetDriverVersion_t get_driver_version;
    vendor::crRandom_t random;
    vendor::crRandom_t controlled_random;
};

struct CryptonBoard {
    Module lib;
    CryptonApi api{};
    bool lib_started = false;
    void* service = nullptr;
    std::uint32_t flags = 0;
    std::uint32_t type = 0;
    BoardBuffer<512> out;
    bool ready = false;
};

// Guarded by CRYPTO_LOCK_RAND. The vendor library goes with crypton_cleanup, never
// with a destructor at exit.
CryptonBoard& board() {
    static NoDestructor<CryptonBoard> b;
    return *b;
}

bool load(CryptonBoard& b) {
    if (b.lib) return true;
    Module lib = module_load("sccrptn.dll");
    CryptonApi api{};
    const bool ok = lib && module_entry(lib, "crInitCryptonLib", api.init_lib) &&
                    module_entry(lib, "crDoneCryptonLib", api.done_lib) &&
                    module_entry(lib, "crInitService", api.init_service) &&
                    module_entry(lib, "crInitHardwareService", api.init_hardware_service) &&
                    module_entry(lib, "crInitLightService", api.init_light_service) &&
                    module_entry(lib, "crDoneService", api.done_service) &&
                    module_entry(lib, "crGetDriverType", api.get_driver_type) &&
                    module_entry(lib, "crGetDriverVersion", api.get_driver_version) &&
                    module_entry(lib, "crRandom", api.random) &&
                    module_entry(lib, "crControlledRandom", api.controlled_random);
    if (!ok) return false;
    b.lib = std::move(lib);
    b.api = api;
    return true;
}

// Opens the service the flags select; null when they select none.
void* open_service(const CryptonApi& api, std::uint32_t flags) {
    if (flags & CRYPTON_SERVICE) return api.init_service();
    if (flags & CRYPTON_LIGHT_SERVICE) return api.init_light_service();
    if (flags & CRYPTON_HARDWARE_SERVICE) return api.init_hardware_service();
    return nullptr;
}

bool selects_service(std::uint32_t flags) {
    return (flags & (CRYPTON_SERVICE | CRYPTON_LIGHT_SERVICE | CRYPTON_HARDWARE_SERVICE)) != 0;
}

int crypton_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (b.service != nullptr) b.api.done_service(b.service);
    if (b.lib_started) b.api.done_lib();
    b.out.wipe();
    b = CryptonBoard{};
    return 1;
}

void fail(int func) {
    ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
    CADB_ERR(ERR_LIB_PSE, func, ERR_R_INTERNAL);
}

int crypton_init(void*, void* arg) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    const std::uint32_t flags = arg ? static_cast<const CRYPTON_INIT_ARG*>(arg)->flags : 0;
    if (load(b) && !b.lib_started) b.lib_started = b.api.init_lib() != 0;
    if (!b.lib_started) {
        crypton_cleanup();
        fail(GRAND_F_CRYPTON_RAND_INIT);
        return 0;
    }
    if (selects_service(flags)) {
        if (b.service != nullptr) b.api.done_service(b.service);
        b.service = open_service(b.api, flags);
    }
    if (b.service == nullptr || !b.api.get_driver_type(b.service, &b.type)) {
        crypton_cleanup();
        fail(GRAND_F_CRYPTON_RAND_INIT);
        return 0;
    }
    b.flags = flags;
    b.ready = true;
    return 1;
}

int crypton_bytes(void* buf, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (!b.ready || buf == nullptr || len < 0) {
        fail(GRAND_F_CRYPTON_RAND_BYTES);
        return 0;
    }
    const auto fill =
        (b.flags & CRYPTON_CONTROLLED_RANDOM) ? b.api.controlled_random : b.api.random;
    const std::size_t got =
        b.out.draw(static_cast<unsigned char*>(buf), static_cast<std::size_t>(len),
                   [&](unsigned char* p, std::size_t n) {
                       return fill(b.service, p, static_cast<std::uint32_t>(n)) != 0;
                   });
    if (got != static_cast<std::size_t>(len)) fail(GRAND_F_CRYPTON_RAND_BYTES);
    return static_cast<int>(got);
}

// Reads type and version over a service of its own, so that the one the
// draws use stays open.
int crypton_info(void* out) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (!b.ready) {
        fail(GRAND_F_CRYPTON_RAND_INFO);
        return 0;
    }
    const bool own = selects_service(b.flags);
    void* service = own ? open_service(b.api, b.flags) : b.service;
    RAND_BOARD_INFO info{RAND_BOARD_CRYPTON, 0, 0};
    const bool ok = service != nullptr && b.api.get_driver_type(service, &info.type) &&
                    b.api.get_driver_version(service, &info.version);
    if (own && service != nullptr) b.api.done_service(service);
    if (!ok) {
        fail(GRAND_F_CRYPTON_RAND_INFO);
        return 0;
    }
    if (out != nullptr) *static_cast<RAND_BOARD_INFO*>(out) = info;
    return 1;
}

int crypton_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return board().ready ? 1 : 0;
}

const RAND_METHOD kCrypton{
    nullptr, crypton_bytes, crypton_cleanup, crypton_init, crypton_info, crypton_status, 0};

}  // namespace

const RAND_METHOD* CRYPTON_get_rand_method() { return &kCrypton; }

}  // namespace cadb
