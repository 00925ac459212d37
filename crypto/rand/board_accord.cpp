// The Accord board over its vendor library "tmdrv32.dll".
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

struct AccordApi {
    vendor::TmGetVersion_t get_version;
    vendor::TmGetInfo_t get_info;
    vendor::TmGetRandomBytes_t get_random_bytes;
};

struct AccordBoard {
    Module lib;
    AccordApi api{};
    BoardBuffer<32> out;
    bool ready = false;
};

// Guarded by CRYPTO_LOCK_RAND. The vendor library goes with accord_cleanup, never
// with a destructor at exit.
AccordBoard& board() {
    static NoDestructor<AccordBoard> b;
    return *b;
}

void fail(int func) {
    ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
    CADB_ERR(ERR_LIB_PSE, func, ERR_R_INTERNAL);
}

bool load(AccordBoard& b) {
    if (b.lib) return true;
    Module lib = module_load("tmdrv32.dll");
    AccordApi api{};
    vendor::TmDriverPresent_t driver_present = nullptr;
    const bool ok = lib && module_entry(lib, "TmDriverPresent", driver_present) &&
                    module_entry(lib, "TmGetVersion", api.get_version) &&
                    module_entry(lib, "TmGetInfo", api.get_info) &&
                    module_entry(lib, "TmGetRandomBytes", api.get_random_bytes);
    if (!ok) return false;
    b.lib = std::move(lib);
    b.api = api;
    return true;
}

int accord_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    b.out.wipe();
    b = AccordBoard{};
    return 1;
}

int accord_init(void*, void*) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    std::uint32_t status = 0;
    if (!load(b) || b.api.get_info(vendor::kTmInfoStatus, &status) != 0 ||
        !(status & vendor::kTmDevicePresent)) {
        accord_cleanup();
        fail(GRAND_F_ACCORD_RAND_INIT);
        return 0;
    }
    b.ready = true;
    return 1;
}

int accord_bytes(void* buf, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (!b.ready || buf == nullptr || len < 0) {
        fail(GRAND_F_ACCORD_RAND_BYTES);
        return 0;
    }
    const std::size_t got =
        b.out.draw(static_cast<unsigned char*>(buf), static_cast<std::size_t>(len),
                   [&](unsigned char* p, std::size_t n) {
                       return b.api.get_random_bytes(p, static_cast<std::uint32_t>(n)) == 0;
                   });
    if (got != static_cast<std::size_t>(len)) fail(GRAND_F_ACCORD_RAND_BYTES);
    return static_cast<int>(got);
}

int accord_info(void* out) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    RAND_BOARD_INFO info{RAND_BOARD_ACCORD, 0, 0};
    if (!b.ready || b.api.get_info(vendor::kTmInfoDevice, &info.type) != 0 ||
        b.api.get_version(&info.version) != 0) {
        fail(GRAND_F_ACCORD_RAND_INFO);
        return 0;
    }
    if (out != nullptr) *static_cast<RAND_BOARD_INFO*>(out) = info;
    return 1;
}

int accord_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return board().ready ? 1 : 0;
}

const RAND_METHOD kAccord{
    nullptr, accord_bytes, accord_cleanup, accord_init, accord_info, accord_status, 0};

}  // namespace

const RAND_METHOD* ACCORD_get_rand_method() { return &kAccord; }

}  // namespace cadb
