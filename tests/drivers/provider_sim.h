// The stand-in CryptoAPI provider's controls: what it is told to hold, how
// many hashes it made and still holds, and a signature made to fail.
#pragma once

#include <cstdint>

#include "platform/vendor/capi_api.h"
#include "tests/drivers/token_fixture.h"

namespace cadb::test {

struct ProviderSim : SimModule {
    ProviderSim() : SimModule("advapi32") {
        bind(configure, "simConfigure");
        bind(acquire, "CryptAcquireContextA");
        bind(release, "CryptReleaseContext");
        bind(hashes_made, "simHashesMade");
        bind(live_hashes, "simLiveHashes");
        bind(fail_sign, "simFailSign");
    }
    bool ok() const { return configure && acquire && release && hashes_made && live_hashes && fail_sign; }
    void (*configure)(const char*) = nullptr;
    int (*acquire)(vendor::HCRYPTPROV*, const char*, const char*, std::uint32_t, std::uint32_t) =
        nullptr;
    int (*release)(vendor::HCRYPTPROV, std::uint32_t) = nullptr;
    int (*hashes_made)() = nullptr;
    int (*live_hashes)() = nullptr;
    void (*fail_sign)(int) = nullptr;
};

}  // namespace cadb::test
