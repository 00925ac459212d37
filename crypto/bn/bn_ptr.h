// Owners for libcrypto's big-number objects.
#pragma once

#include <openssl/bn.h>

#include <memory>

namespace cadb {

struct BnDeleter {
    void operator()(BIGNUM* bn) const { BN_clear_free(bn); }
};
struct BnCtxDeleter {
    void operator()(BN_CTX* ctx) const { BN_CTX_free(ctx); }
};
struct BnMontDeleter {
    void operator()(BN_MONT_CTX* m) const { BN_MONT_CTX_free(m); }
};

// Big numbers are wiped on release: many of them hold private values.
using BnPtr = std::unique_ptr<BIGNUM, BnDeleter>;
using BnCtxPtr = std::unique_ptr<BN_CTX, BnCtxDeleter>;
using BnMontPtr = std::unique_ptr<BN_MONT_CTX, BnMontDeleter>;

inline BnPtr bn_new() { return BnPtr(BN_new()); }
inline BnPtr bn_dup(const BIGNUM* a) { return BnPtr(a ? BN_dup(a) : nullptr); }

// Frames a run of BN_CTX_get calls; the numbers return to the context when
// the frame ends.
class BnCtxFrame {
  public:
    explicit BnCtxFrame(BN_CTX* ctx) : ctx_(ctx) { BN_CTX_start(ctx_); }
    ~BnCtxFrame() { BN_CTX_end(ctx_); }
    BnCtxFrame(const BnCtxFrame&) = delete;
    BnCtxFrame& operator=(const BnCtxFrame&) = delete;
    // Null only when the context is out of memory; a frame is checked once
    // after its last get, since later gets fail as well.
    BIGNUM* get() { return BN_CTX_get(ctx_); }

  private:
    BN_CTX* ctx_;
};

}  // namespace cadb
