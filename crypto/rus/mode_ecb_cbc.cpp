// Simple substitution (ECB) and CBC: whole 8-byte blocks.
#include <climits>

#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/rus/key_use.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using gost::kLanes;
using gost::load32;
using gost::store32;

// Runs a block worker over len bytes rounded up to whole blocks.
long whole_blocks(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len,
                  long (*update)(GOSTE*, const unsigned char*, unsigned char*, long)) {
    if (gost::bad_args(ctx, in, len) || len > LONG_MAX - 7) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    unsigned char* buf = gost::work_buffer(in, out, len);
    const long nblocks = (len + 7) / 8;
    if (update(ctx, buf, nullptr, nblocks) != nblocks) return 0;
    return nblocks * 8;
}

// Reports a key failure of a block worker: the internal-error record is
// already there; the block modes add the library's own.
long key_failure() {
    CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTE_SS_UPDATE, ERR_LIB_GOSTE);
    return 0;
}

void ecb_blocks(const gost::KeyInUse& ku, bool encrypt, unsigned char* buf, long nblocks) {
    long b = 0;
    for (; b + kLanes <= nblocks; b += kLanes) {
        std::uint32_t n1[kLanes], n2[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            n1[i] = load32(buf + 8 * (b + i));
            n2[i] = load32(buf + 8 * (b + i) + 4);
        }
        if (encrypt)
            gost::crypt4<true>(ku.table(), ku.k(), n1, n2);
        else
            gost::crypt4<false>(ku.table(), ku.k(), n1, n2);
        for (int i = 0; i < kLanes; ++i) {
            store32(buf + 8 * (b + i), n1[i]);
            store32(buf + 8 * (b + i) + 4, n2[i]);
        }
    }
    for (; b < nblocks; ++b) {
        unsigned char* p = buf + 8 * b;
        std::uint32_t n1 = load32(p), n2 = load32(p + 4);
        if (encrypt)
            gost::encrypt(ku.table(), ku.k(), n1, n2);
        else
            gost::decrypt(ku.table(), ku.k(), n1, n2);
        store32(p, n1);
        store32(p + 4, n2);
    }
}

void cbc_encrypt(GOSTE* ctx, const gost::KeyInUse& ku, unsigned char* buf, long nblocks) {
    std::uint32_t r1 = ctx->N1, r2 = ctx->N2;
    for (long b = 0; b < nblocks; ++b) {
        unsigned char* p = buf + 8 * b;
        r1 ^= load32(p);
        r2 ^= load32(p + 4);
        gost::encrypt(ku.table(), ku.k(), r1, r2);
        store32(p, r1);
        store32(p + 4, r2);
    }
    ctx->N1 = r1;
    ctx->N2 = r2;
}

void cbc_decrypt(GOSTE* ctx, const gost::KeyInUse& ku, unsigned char* buf, long nblocks) {
    std::uint32_t r1 = ctx->N1, r2 = ctx->N2;
    long b = 0;
    for (; b + kLanes <= nblocks; b += kLanes) {
        std::uint32_t c1[kLanes], c2[kLanes], n1[kLanes], n2[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            n1[i] = c1[i] = load32(buf + 8 * (b + i));
            n2[i] = c2[i] = load32(buf + 8 * (b + i) + 4);
        }
        gost::crypt4<false>(ku.table(), ku.k(), n1, n2);
        for (int i = 0; i < kLanes; ++i) {
            store32(buf + 8 * (b + i), n1[i] ^ (i ? c1[i - 1] : r1));
            store32(buf + 8 * (b + i) + 4, n2[i] ^ (i ? c2[i - 1] : r2));
        }
        r1 = c1[kLanes - 1];
        r2 = c2[kLanes - 1];
    }
    for (; b < nblocks; ++b) {
        unsigned char* p = buf + 8 * b;
        const std::uint32_t c1 = load32(p), c2 = load32(p + 4);
        std::uint32_t n1 = c1, n2 = c2;
        gost::decrypt(ku.table(), ku.k(), n1, n2);
        store32(p, n1 ^ r1);
        store32(p + 4, n2 ^ r2);
        r1 = c1;
        r2 = c2;
    }
    ctx->N1 = r1;
    ctx->N2 = r2;
}

}  // namespace

int GOSTE_ss_init(GOSTE* ctx, int direction, const unsigned char* key32,
                  const unsigned char* sbox) {
    if (ctx == nullptr || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!GOSTE_ss_check(ctx)) return 0;
    if (!GOSTE_set_key(ctx, key32) || !GOSTE_set_sbox(ctx, sbox)) return 0;
    ctx->direction = direction;
    if (ctx->mode == 0) ctx->mode = GOSTE_MODE_ECB;
    return 1;
}

long GOSTE_ss_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long nblocks) {
    if (gost::bad_args(ctx, in, nblocks) || nblocks > LONG_MAX / 8) return 0;
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_SS_UPDATE);
    if (!ku) return key_failure();
    ecb_blocks(ku, ctx->direction == 1, gost::work_buffer(in, out, nblocks * 8), nblocks);
    if (!ku.finish()) return key_failure();
    return nblocks;
}

long GOSTE_cbc_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long nblocks) {
    if (gost::bad_args(ctx, in, nblocks) || nblocks > LONG_MAX / 8) return 0;
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_SS_UPDATE);
    if (!ku) return key_failure();
    unsigned char* buf = gost::work_buffer(in, out, nblocks * 8);
    if (ctx->direction == 1)
        cbc_encrypt(ctx, ku, buf, nblocks);
    else
        cbc_decrypt(ctx, ku, buf, nblocks);
    if (!ku.finish()) return key_failure();
    return nblocks;
}

long GOSTE_ss_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return whole_blocks(ctx, in, out, len, GOSTE_ss_update);
}

long GOSTE_cbc_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return whole_blocks(ctx, in, out, len, GOSTE_cbc_update);
}

}  // namespace cadb
