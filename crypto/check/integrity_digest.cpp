#include "crypto/check/integrity_digest.h"

#include <openssl/crypto.h>

#include <cstring>

#include "crypto/core/lock.h"
#include "crypto/rus/gosth.h"

namespace cadb {

bool RememberedDigest::check(const std::function<bool(GOSTH*)>& feed) {
    GOSTH h;
    unsigned char digest[GOSTH_DIGEST_LENGTH];
    if (GOSTH_init(&h, nullptr, nullptr) != 1 || !feed(&h) ||
        GOSTH_final(&h, digest) != GOSTH_DIGEST_LENGTH)
        return false;
    LockGuard guard(lock_);
    if (!set_) {
        std::memcpy(value_, digest, sizeof digest);
        set_ = true;
        return true;
    }
    return CRYPTO_memcmp(value_, digest, sizeof digest) == 0;
}

}  // namespace cadb
