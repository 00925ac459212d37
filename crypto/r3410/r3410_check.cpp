// Integrity of the built-in GOST R 34.10-94 parameter tables: a digest taken
// on the first check of the process and compared on every later one, so that
// a table damaged in memory is caught before a key is made on it.
#include <cstring>
#include <span>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_params.h"
#include "crypto/rus/gosth.h"

namespace cadb {
namespace {

constexpr int kCheckFunc = 115;

struct RememberedDigest {
    bool set = false;
    unsigned char value[GOSTH_DIGEST_LENGTH]{};
};

RememberedDigest& remembered() {
    static RememberedDigest d;
    return d;
}

// The covered blocks in the order they are hashed: every built-in set, then
// the test set.
std::vector<std::span<const unsigned char>> covered_blocks() {
    std::vector<std::span<const unsigned char>> blocks;
    auto add = [&blocks](const R3410_PARAM_SET& s) {
        blocks.insert(blocks.end(), {s.p, s.q, s.a});
    };
    for (const auto& s : R3410_param_sets()) add(s);
    add(R3410_test_param_set());
    return blocks;
}

int fail() {
    ERR_set_last_error(ERR_CLASS_INTERNAL);
    CADB_ERR(ERR_LIB_GOSTE, kCheckFunc, ERR_R_INTERNAL);
    return 0;
}

}  // namespace

int R3410_check_params() {
    GOSTH h;
    unsigned char digest[GOSTH_DIGEST_LENGTH];
    bool ok = GOSTH_init(&h, nullptr, nullptr) == 1;
    for (const auto block : covered_blocks()) {
        const auto n = static_cast<long>(block.size());
        ok = ok && GOSTH_update(&h, block.data(), n) == n;
    }
    ok = ok && GOSTH_final(&h, digest) == GOSTH_DIGEST_LENGTH;
    if (!ok) return fail();

    LockGuard guard(CRYPTO_LOCK_RAND);
    RememberedDigest& r = remembered();
    if (!r.set) {
        std::memcpy(r.value, digest, sizeof digest);
        r.set = true;
        return 1;
    }
    return std::memcmp(r.value, digest, sizeof digest) == 0 ? 1 : fail();
}

}  // namespace cadb
