#include "crypto/pse/bn_mask.h"

#include <openssl/crypto.h>

#include <new>

#include "crypto/core/err.h"
#include "crypto/pse/mask_fill.h"
#include "crypto/pse/pse_crc32.h"

namespace cadb {
namespace {

void wipe(std::vector<unsigned char>& v) {
    if (!v.empty()) OPENSSL_cleanse(v.data(), v.size());
    v.clear();
}

void wipe_record(BN_MASKED* m) {
    wipe(m->value);
    wipe(m->mask);
    m->negative = false;
    m->check = 0;
    m->set = false;
}

// A zeroed buffer wiped when it goes out of scope, for clear bytes.
struct ClearBytes {
    explicit ClearBytes(std::size_t n) : bytes(n) {}
    ~ClearBytes() { wipe(bytes); }
    std::vector<unsigned char> bytes;
};

}  // namespace

BN_MASKED::~BN_MASKED() { wipe_record(this); }

BN_MASKED* BN_MASKED_new() {
    auto* m = new (std::nothrow) BN_MASKED;
    if (m == nullptr) ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
    return m;
}

void BN_MASKED_free(BN_MASKED* m) { delete m; }

BN_MASKED* BN_MASKED_dup(const BN_MASKED* m) {
    if (m == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return nullptr;
    }
    BN_MASKED* copy = BN_MASKED_new();
    if (copy == nullptr) return nullptr;
    if (!m->set) return copy;
    BIGNUM* clear = BN_unmask_dup(m);
    int ok = clear != nullptr && BN_mask(copy, clear);
    BN_clear_free(clear);
    if (!ok) {
        BN_MASKED_free(copy);
        return nullptr;
    }
    return copy;
}

int BN_mask(BN_MASKED* m, const BIGNUM* bn) {
    if (m == nullptr || bn == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    const int n = BN_num_bytes(bn);
    try {
        ClearBytes clear(static_cast<std::size_t>(n));
        std::vector<unsigned char> mask(clear.bytes.size());
        if (n > 0 && BN_bn2lebinpad(bn, clear.bytes.data(), n) != n) {
            ERR_set_last_error(ERR_CLASS_INTERNAL);
            return 0;
        }
        if (!mask.empty() && !PSE_mask_fill(mask.data(), mask.size())) return 0;
        wipe_record(m);
        m->check = PSE_crc32(clear.bytes.data(), clear.bytes.size());
        for (std::size_t i = 0; i < mask.size(); ++i) clear.bytes[i] ^= mask[i];
        m->value.swap(clear.bytes);  // now masked; the emptied buffer has nothing to wipe
        m->mask.swap(mask);
        m->negative = BN_is_negative(bn) != 0;
        m->set = true;
        return 1;
    } catch (const std::bad_alloc&) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return 0;
    }
}

BIGNUM* BN_unmask_dup(const BN_MASKED* m) {
    if (m == nullptr || !m->set || m->value.size() != m->mask.size()) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return nullptr;
    }
    try {
        ClearBytes clear(m->value.size());
        for (std::size_t i = 0; i < clear.bytes.size(); ++i)
            clear.bytes[i] = m->value[i] ^ m->mask[i];
        if (PSE_crc32(clear.bytes.data(), clear.bytes.size()) != m->check) {
            ERR_set_last_error(ERR_CLASS_INTERNAL);
            return nullptr;
        }
        BIGNUM* bn = BN_new();
        if (bn == nullptr) {
            ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
            return nullptr;
        }
        BN_set_flags(bn, BN_FLG_CONSTTIME);
        if (BN_lebin2bn(clear.bytes.data(), static_cast<int>(clear.bytes.size()), bn) == nullptr) {
            BN_clear_free(bn);
            ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
            return nullptr;
        }
        BN_set_negative(bn, m->negative ? 1 : 0);
        return bn;
    } catch (const std::bad_alloc&) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return nullptr;
    }
}

}  // namespace cadb
