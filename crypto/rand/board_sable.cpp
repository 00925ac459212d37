// The Sable board over its vendor library "snellock.dll".
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

struct SableBoard {
    Module lib;
    vendor::sbGetRand_t get_rand = nullptr;
    BoardBuffer<32> out;
    bool ready = false;
};

// Guarded by CRYPTO_LOCK_RAND. The vendor library goes with sable_cleanup, never
// with a destructor at exit.
SableBoard& board() {
    static NoDestructor<SableBoard> b;
    return *b;
}

void fail(int func) {
    ERR_set_last_error(ERR_CLASS_RANDOM_GENERATOR);
    CADB_ERR(ERR_LIB_PSE, func, ERR_R_INTERNAL);
}

int sable_cleanup() {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    b.out.wipe();
    b = SableBoard{};
    return 1;
}

int sable_init(void*, void*) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (!b.lib) {
        Module lib = module_load("snellock.dll");
        vendor::sbisCard_t is_card = nullptr;
        vendor::sbGetRand_t get_rand = nullptr;
        if (lib && module_entry(lib, "sbisCard", is_card) &&
            module_entry(lib, "sbGetRand", get_rand) && is_card() == 0) {
            b.lib = std::move(lib);
            b.get_rand = get_rand;
        }
    }
    if (!b.lib) {
        sable_cleanup();
        fail(GRAND_F_SABLE_RAND_INIT);
        return 0;
    }
    b.ready = true;
    return 1;
}

int sable_bytes(void* buf, int len) {
    LockGuard g(CRYPTO_LOCK_RAND);
    auto& b = board();
    if (!b.ready || buf == nullptr || len < 0) {
        fail(GRAND_F_SABLE_RAND_BYTES);
        return 0;
    }
    const std::size_t got =
        b.out.draw(static_cast<unsigned char*>(buf), static_cast<std::size_t>(len),
                   [&](unsigned char* p, std::size_t n) {
                       return b.get_rand(p, static_cast<std::uint32_t>(n)) == 0;
                   });
    if (got != static_cast<std::size_t>(len)) fail(GRAND_F_SABLE_RAND_BYTES);
    return static_cast<int>(got);
}

int sable_status() {
    LockGuard g(CRYPTO_LOCK_RAND);
    return board().ready ? 1 : 0;
}

// Sable has no info operation.
const RAND_METHOD kSable{nullptr, sable_bytes, sable_cleanup, sable_init, nullptr, sable_status, 0};

}  // namespace

const RAND_METHOD* SABLE_get_rand_method() { return &kSable; }

}  // namespace cadb
