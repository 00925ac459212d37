#include "crypto/pse/pse_key32.h"

#include <openssl/crypto.h>

#include <cstring>
#include <ctime>

#include "crypto/core/err.h"
#include "crypto/pse/mask_fill.h"
#include "crypto/pse/pse_crc32.h"

namespace cadb {
namespace {

std::uint32_t now_seconds() { return static_cast<std::uint32_t>(std::time(nullptr)); }

void xor_mask(PSE_KEY32* k) {
    for (int i = 0; i < 32; ++i) k->key[i] ^= k->mask[i];
}

}  // namespace

int PSE_key32_mask(PSE_KEY32* k) {
    if (k == nullptr) {
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        return 0;
    }
    if (k->flags & (PSE_KEY32_NO_MASK | PSE_KEY32_MASKED)) return 1;
    const std::uint32_t now = now_seconds();
    // A key that is used often changes its image in memory at least every
    // two seconds.
    if (!k->has_mask || now - k->mask_time > 1) {
        if (!PSE_mask_fill(k->mask, sizeof k->mask)) return 0;
        k->has_mask = 1;
        k->mask_time = now;
    }
    xor_mask(k);
    k->flags |= PSE_KEY32_MASKED;
    return 1;
}

int PSE_key32_unmask(PSE_KEY32* k) {
    if (k == nullptr) {
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        return 0;
    }
    if (k->flags & PSE_KEY32_NO_MASK) return 1;
    if (k->flags & PSE_KEY32_MASKED) {
        if (k->has_mask) xor_mask(k);
        k->flags &= ~PSE_KEY32_MASKED;
    }
    if (PSE_crc32(k->key, sizeof k->key) != k->check) {
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        return 0;
    }
    return 1;
}

int PSE_key32_mask_checked(PSE_KEY32* k) { return k ? PSE_key32_mask(k) : 0; }

int PSE_key32_unmask_checked(PSE_KEY32* k) { return k ? PSE_key32_unmask(k) : 0; }

void PSE_key32_set_crc(PSE_KEY32* k) {
    if (k == nullptr || (k->flags & PSE_KEY32_MASKED)) return;
    k->check = PSE_crc32(k->key, sizeof k->key);
}

int PSE_key32_check(const PSE_KEY32* k) {
    if (k == nullptr) return 0;
    if (k->flags & PSE_KEY32_MASKED) return 1;
    return PSE_crc32(k->key, sizeof k->key) == k->check;
}

void PSE_key32_wipe(PSE_KEY32* k) {
    if (k != nullptr) OPENSSL_cleanse(k, sizeof *k);
}

int PSE_key32_load(PSE_KEY32* k, const unsigned char key[32]) {
    if (k == nullptr || key == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    k->flags &= ~PSE_KEY32_MASKED;
    std::memmove(k->key, key, sizeof k->key);
    k->check = PSE_crc32(k->key, sizeof k->key);
    return PSE_key32_mask(k);
}

}  // namespace cadb
