// Stand-in for the Crypton board's vendor library: a deterministic stream,
// with controls that make refills fail or services refuse to open.
#include <cstdint>
#include <type_traits>

#include "crypto/rand/board_vendor.h"
#include "tests/rand/splitmix.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::uint64_t stream = 1;
int failures_to_come = 0;
int refuse_service = 0;
int lib_starts = 0;
int open_services = 0;
int plain_calls = 0;
int controlled_calls = 0;
int service_token;

void* open() {
    if (refuse_service) return nullptr;
    ++open_services;
    return &service_token;
}

int fill(void* service, void* buf, std::uint32_t len) {
    if (service != &service_token || lib_starts == 0) return 0;
    if (failures_to_come > 0) {
        --failures_to_come;
        return 0;
    }
    cadb::fake::fill_good(stream, static_cast<unsigned char*>(buf), len);
    return 1;
}

}  // namespace

EXPORT int crInitCryptonLib() { return ++lib_starts, 1; }
EXPORT int crDoneCryptonLib() { return --lib_starts, 1; }
EXPORT void* crInitService() { return open(); }
EXPORT void* crInitHardwareService() { return open(); }
EXPORT void* crInitLightService() { return open(); }
EXPORT int crDoneService(void* service) {
    if (service != &service_token) return 0;
    return --open_services, 1;
}
EXPORT int crGetDriverType(void* service, std::uint32_t* type) {
    *type = 7;
    return service == &service_token;
}
EXPORT int crGetDriverVersion(void* service, std::uint32_t* version) {
    *version = 0x0203;
    return service == &service_token;
}
EXPORT int crRandom(void* service, void* buf, std::uint32_t len) {
    ++plain_calls;
    return fill(service, buf, len);
}
EXPORT int crControlledRandom(void* service, void* buf, std::uint32_t len) {
    ++controlled_calls;
    return fill(service, buf, len);
}

static_assert(std::is_same_v<decltype(&crInitService), cadb::vendor::crInitService_t>);
static_assert(std::is_same_v<decltype(&crRandom), cadb::vendor::crRandom_t>);
static_assert(std::is_same_v<decltype(&crGetDriverType), cadb::vendor::crGetDriverType_t>);
static_assert(std::is_same_v<decltype(&crGetDriverVersion), cadb::vendor::crGetDriverVersion_t>);
static_assert(std::is_same_v<decltype(&crDoneService), cadb::vendor::crDoneService_t>);

// Controls for the tests.
EXPORT void fakeReset(std::uint64_t seed) {
    stream = seed;
    failures_to_come = refuse_service = 0;
    plain_calls = controlled_calls = 0;
}
EXPORT void fakeFailNext(int n) { failures_to_come = n; }
EXPORT void fakeRefuseService(int on) { refuse_service = on; }
EXPORT int fakeOpenServices() { return open_services; }
EXPORT int fakeLibStarts() { return lib_starts; }
EXPORT int fakeCalls(int controlled) { return controlled ? controlled_calls : plain_calls; }
