// libcrypto's own draws (BN_rand, prime generation, blinding) go through a
// legacy method record that forwards to this library's current method, so
// that every random byte of the process has one source and draws fail while
// none is current.
#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <mutex>
#include <vector>

#include "crypto/rand/rand.h"

namespace cadb {
namespace {

// The current method may overwrite its seed with its own output; libcrypto's
// seed is const, so it is mixed in through a copy.
int adapter_seed(const void* buf, int num) {
    if (num < 0 || (buf == nullptr && num > 0)) return 0;
    const auto* src = static_cast<const unsigned char*>(buf);
    std::vector<unsigned char> copy(src, src + num);
    const int ok = RAND_seed(copy.data(), num);
    OPENSSL_cleanse(copy.data(), copy.size());
    return ok;
}

int adapter_add(const void* buf, int num, double) { return adapter_seed(buf, num); }

int adapter_bytes(unsigned char* buf, int num) { return RAND_bytes(buf, num) == num ? 1 : 0; }

// libcrypto calls this at its own exit; the current method belongs to this
// library and is released by it, not here.
void adapter_cleanup() {}

int adapter_status() { return RAND_status(); }

const ::RAND_METHOD kAdapter = {
    adapter_seed, adapter_bytes, adapter_cleanup, adapter_add, adapter_bytes, adapter_status,
};

}  // namespace

void RAND_install_openssl_adapter() {
    static std::once_flag once;
    std::call_once(once, [] {
        // libcrypto 3.0 makes its own generator state lazily; made for the
        // first time inside its exit-time cleanup, as happens once a legacy
        // method is set, that state is never freed. Making it now keeps the
        // exit clean.
        ::RAND_get0_primary(nullptr);
        ::RAND_set_rand_method(&kAdapter);
    });
}

}  // namespace cadb
