// Stand-in for the Accord board's vendor library.
#include <cstdint>
#include <type_traits>

#include "crypto/rand/board_vendor.h"
#include "tests/rand/splitmix.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
std::uint64_t stream = 1;
int failures_to_come = 0;
std::uint32_t status = cadb::vendor::kTmDevicePresent;
}  // namespace

EXPORT int TmDriverPresent() { return 1; }
EXPORT int TmGetVersion(std::uint32_t* version) { return *version = 0x0105, 0; }
EXPORT int TmGetInfo(std::uint32_t code, std::uint32_t* out) {
    if (code == cadb::vendor::kTmInfoStatus) return *out = status, 0;
    if (code == cadb::vendor::kTmInfoDevice) return *out = 0x33, 0;
    return 1;
}
EXPORT int TmGetRandomBytes(void* buf, std::uint32_t len) {
    if (failures_to_come > 0) return --failures_to_come, 1;
    cadb::fake::fill_good(stream, static_cast<unsigned char*>(buf), len);
    return 0;
}

static_assert(std::is_same_v<decltype(&TmGetInfo), cadb::vendor::TmGetInfo_t>);
static_assert(std::is_same_v<decltype(&TmGetRandomBytes), cadb::vendor::TmGetRandomBytes_t>);
static_assert(std::is_same_v<decltype(&TmGetVersion), cadb::vendor::TmGetVersion_t>);

// Controls for the tests.
EXPORT void fakeReset(std::uint64_t seed) {
    stream = seed;
    failures_to_come = 0;
    status = cadb::vendor::kTmDevicePresent;
}
EXPORT void fakeFailNext(int n) { failures_to_come = n; }
EXPORT void fakeDevicePresent(int on) { status = on ? cadb::vendor::kTmDevicePresent : 0; }
