// Integrity of the built-in GOST R 34.10-94 parameter tables.
#include <span>
#include <vector>

#include "crypto/check/integrity_digest.h"
#include "crypto/core/err.h"
#include "crypto/core/lock.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_params.h"
#include "crypto/rus/gosth.h"

namespace cadb {
namespace {

constexpr int kCheckFunc = 115;

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
    static RememberedDigest remembered(CRYPTO_LOCK_RAND);
    const bool ok = remembered.check([](GOSTH* h) {
        for (const auto block : covered_blocks()) {
            const auto n = static_cast<long>(block.size());
            if (GOSTH_update(h, block.data(), n) != n) return false;
        }
        return true;
    });
    return ok ? 1 : fail();
}

}  // namespace cadb
