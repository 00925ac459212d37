// Counter gamma: the gamma is the encryption of two counters that step by
// fixed constants, the second one modulo 2^32 - 1.
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/rus/key_use.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using gost::kLanes;
using gost::load32;
using gost::store32;

constexpr std::uint32_t C1 = 0x01010104;  // added to N4 modulo 2^32 - 1
constexpr std::uint32_t C2 = 0x01010101;  // added to N3 modulo 2^32

void step_counters(std::uint32_t& n3, std::uint32_t& n4) {
    n3 += C2;
    if (n4 > 0xFEFEFEFBu) n4 += 1;
    n4 += C1;
}

// Next gamma block into N1, N2; all eight of its bytes are left.
void gamma_next(GOSTE* ctx, const gost::KeyInUse& ku) {
    step_counters(ctx->N3, ctx->N4);
    ctx->N1 = ctx->N3;
    ctx->N2 = ctx->N4;
    gost::encrypt(ku.table(), ku.k(), ctx->N1, ctx->N2);
    ctx->position = 8;
}

unsigned char gamma_byte(const GOSTE* ctx, int i) {
    return static_cast<unsigned char>(i < 4 ? ctx->N1 >> (8 * i) : ctx->N2 >> (8 * (i - 4)));
}

// Whole blocks once the current gamma block is used up: N1, N2 are not
// touched and the position stays 0.
void gamma_blocks(GOSTE* ctx, const gost::KeyInUse& ku, unsigned char* buf, long nblocks) {
    long b = 0;
    for (; b + kLanes <= nblocks; b += kLanes) {
        std::uint32_t n1[kLanes], n2[kLanes];
        for (int i = 0; i < kLanes; ++i) {
            step_counters(ctx->N3, ctx->N4);
            n1[i] = ctx->N3;
            n2[i] = ctx->N4;
        }
        gost::crypt4<true>(ku.table(), ku.k(), n1, n2);
        for (int i = 0; i < kLanes; ++i) {
            unsigned char* p = buf + 8 * (b + i);
            store32(p, load32(p) ^ n1[i]);
            store32(p + 4, load32(p + 4) ^ n2[i]);
        }
    }
    for (; b < nblocks; ++b) {
        step_counters(ctx->N3, ctx->N4);
        std::uint32_t n1 = ctx->N3, n2 = ctx->N4;
        gost::encrypt(ku.table(), ku.k(), n1, n2);
        unsigned char* p = buf + 8 * b;
        store32(p, load32(p) ^ n1);
        store32(p + 4, load32(p + 4) ^ n2);
    }
}

}  // namespace

int GOSTE_gamma_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                     const unsigned char* sbox) {
    if (ctx == nullptr || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!GOSTE_gamma_check(ctx)) return 0;
    if (iv8 != nullptr) {
        ctx->N1 = load32(iv8);
        ctx->N2 = load32(iv8 + 4);
    }
    if (!GOSTE_set_key(ctx, key32) || !GOSTE_set_sbox(ctx, sbox)) return 0;
    if (ctx->mode == 0) ctx->mode = GOSTE_MODE_COUNTER;
    gost::KeyInUse ku(ctx, GOSTE_F_GAMMA_INIT);
    if (!ku) return 0;
    gost::encrypt(ku.table(), ku.k(), ctx->N1, ctx->N2);
    ctx->N3 = ctx->N1;
    ctx->N4 = ctx->N2;
    gamma_next(ctx, ku);
    return ku.finish() ? 1 : 0;
}

long GOSTE_gamma_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    if (gost::bad_args(ctx, in, len)) return 0;
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_GAMMA_UPDATE);
    if (!ku) return 0;
    unsigned char* buf = gost::work_buffer(in, out, len);
    long i = 0;
    // A damaged position must not index outside the gamma block.
    if (ctx->position < 0 || ctx->position > 8) ctx->position = 0;
    for (; i < len && ctx->position > 0; ++i) buf[i] ^= gamma_byte(ctx, 8 - ctx->position--);
    if (len - i >= 8) {
        const long nblocks = (len - i) / 8;
        gamma_blocks(ctx, ku, buf + i, nblocks);
        i += nblocks * 8;
    }
    for (; i < len; ++i) {
        if (ctx->position == 0) gamma_next(ctx, ku);
        buf[i] ^= gamma_byte(ctx, 8 - ctx->position--);
    }
    return ku.finish() ? len : 0;
}

}  // namespace cadb
