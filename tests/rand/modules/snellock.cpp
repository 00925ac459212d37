// Stand-in for the Sable board's vendor library.
#include <cstdint>
#include <type_traits>

#include "crypto/rand/board_vendor.h"
#include "tests/rand/splitmix.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::uint64_t stream = 1;
int failures_to_come = 0;
int card = 1;
}  // namespace

EXPORT int sbisCard() { return card ? 0 : 1; }
EXPORT int sbGetRand(void* buf, std::uint32_t len) {
    if (failures_to_come > 0) return --failures_to_come, 1;
    cadb::fake::fill_good(stream, static_cast<unsigned char*>(buf), len);
    return 0;
}

static_assert(std::is_same_v<decltype(&sbisCard), cadb::vendor::sbisCard_t>);
static_assert(std::is_same_v<decltype(&sbGetRand), cadb::vendor::sbGetRand_t>);

// Controls for the tests.
EXPORT void fakeReset(std::uint64_t seed) {
    stream = seed;
    failures_to_come = 0;
    card = 1;
}
EXPORT void fakeFailNext(int n) { failures_to_come = n; }
EXPORT void fakeCardPresent(int on) { card = on; }
