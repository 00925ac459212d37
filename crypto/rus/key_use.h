// Unmasks a context's key for the length of one call (internal to crypto/rus).
#pragma once

#include <openssl/crypto.h>

#include <cstdint>

#include "crypto/core/err.h"
#include "crypto/rus/cipher_rounds.h"
#include "crypto/rus/goste.h"

namespace cadb::gost {

// Unmasks at construction and copies the key words out; finish() masks the
// record again. A failure either way reports (GOSTE, func, internal error)
// and wipes the key, so the context stays unusable until its next init.
class KeyInUse {
  public:
    KeyInUse(GOSTE* ctx, int func) : ctx_(ctx), func_(func) {
        ok_ = ctx->table != nullptr && PSE_key32_unmask(&ctx->key);
        if (!ok_) {
            fail();
            return;
        }
        for (int i = 0; i < 8; ++i) k_[i] = load32(ctx->key.key + 4 * i);
    }
    ~KeyInUse() { OPENSSL_cleanse(k_, sizeof k_); }
    KeyInUse(const KeyInUse&) = delete;
    KeyInUse& operator=(const KeyInUse&) = delete;

    explicit operator bool() const { return ok_; }
    const std::uint32_t* k() const { return k_; }
    const GOSTE_TABLE& table() const { return *ctx_->table; }

    // Masks the key again; false (reported, key wiped) when that fails.
    bool finish() {
        if (!ok_) return false;
        if (!PSE_key32_mask(&ctx_->key)) {
            fail();
            return false;
        }
        return true;
    }

  private:
    void fail() {
        ok_ = false;
        CADB_ERR(ERR_LIB_GOSTE, func_, ERR_R_INTERNAL);
        ERR_set_last_error(ERR_CLASS_INTERNAL);
        PSE_key32_wipe(&ctx_->key);
    }

    GOSTE* ctx_;
    int func_;
    bool ok_;
    std::uint32_t k_[8];
};

// Common argument test of the workers: null context or input, or len <= 0.
inline bool bad_args(const GOSTE* ctx, const unsigned char* in, long len) {
    if (ctx == nullptr || in == nullptr || len <= 0) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return true;
    }
    return false;
}

// Out-of-place calls copy the input to the output and work there in place.
inline unsigned char* work_buffer(const unsigned char* in, unsigned char* out, long len) {
    if (out == nullptr || out == in) return const_cast<unsigned char*>(in);
    std::memmove(out, in, static_cast<std::size_t>(len));
    return out;
}

}  // namespace cadb::gost
