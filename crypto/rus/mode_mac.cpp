// The GOST 28147-89 MAC (imitation insert): 16-round steps over the data,
// at most 32 bits of the result.
#include "crypto/check/ram_check.h"
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/rus/key_use.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using gost::load32;
using gost::store32;

void count_block(GOSTE* ctx) {
    if (ctx->mac_count < 2) ++ctx->mac_count;
}

void xor_register_byte(GOSTE* ctx, int pos, unsigned char v) {
    std::uint32_t& word = pos < 4 ? ctx->N1 : ctx->N2;
    word ^= std::uint32_t(v) << (8 * (pos & 3));
}

}  // namespace

int GOSTE_mac_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* sbox) {
    if (ctx == nullptr || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!GOSTE_mac_check(ctx)) return 0;
    if (!GOSTE_set_key(ctx, key32) || !GOSTE_set_sbox(ctx, sbox)) return 0;
    if (ctx->mode == 0) ctx->mode = GOSTE_MODE_MAC;
    return 1;
}

int GOSTE_mac_init_iv(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                      const unsigned char* sbox) {
    if (!GOSTE_mac_init(ctx, key32, sbox)) return 0;
    if (iv8 != nullptr) {
        ctx->N1 = load32(iv8);
        ctx->N2 = load32(iv8 + 4);
    }
    return 1;
}

long GOSTE_mac_update(GOSTE* ctx, const unsigned char* in, unsigned char*, long len) {
    if (gost::bad_args(ctx, in, len)) return 0;
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_MAC_UPDATE);
    if (!ku) return 0;
    int pos = ctx->position & 7;
    long i = 0;
    for (; i < len && pos != 0; ++i) {
        xor_register_byte(ctx, pos, in[i]);
        if (++pos == 8) {
            gost::mac16(ku.table(), ku.k(), ctx->N1, ctx->N2);
            pos = 0;
            count_block(ctx);
        }
    }
    std::uint32_t n1 = ctx->N1, n2 = ctx->N2;
    for (; len - i >= 8; i += 8) {
        n1 ^= load32(in + i);
        n2 ^= load32(in + i + 4);
        gost::mac16(ku.table(), ku.k(), n1, n2);
        count_block(ctx);
    }
    ctx->N1 = n1;
    ctx->N2 = n2;
    for (; i < len; ++i) xor_register_byte(ctx, pos++, in[i]);
    ctx->position = pos;
    return ku.finish() ? len : 0;
}

long GOSTE_mac_process(GOSTE* ctx, const unsigned char* in, long len) {
    return GOSTE_process_meshed(ctx, in, nullptr, len, GOSTE_mac_update);
}

int GOSTE_mac_final(GOSTE* ctx, unsigned char* out, int nbits) {
    if (ctx == nullptr || out == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (nbits < 1 || nbits > 32) nbits = 32;
    const int n = (nbits + 7) / 8;
    std::memset(out, 0, static_cast<std::size_t>(n));
    if ((ctx->position & 7) != 0) {
        gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_MAC_FINAL);
        if (!ku) return 0;
        // The missing bytes of the started block count as zero.
        gost::mac16(ku.table(), ku.k(), ctx->N1, ctx->N2);
        ctx->position = 0;
        count_block(ctx);
        if (!ku.finish()) return 0;
    }
    // A message of at most one block is followed by a zero block.
    static const unsigned char kZeroBlock[8] = {};
    while (ctx->mac_count < 2)
        if (GOSTE_mac_process(ctx, kZeroBlock, sizeof kZeroBlock) != sizeof kZeroBlock) return 0;
    if (!GOSTE_mac_check(ctx)) return 0;
    if (!GOST_ram_check(out, static_cast<std::size_t>(n))) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTE_MAC_FINAL, ERR_R_CHECK_RAM_FAILURE);
        return 0;
    }
    ctx->N1 >>= 32 - nbits;
    for (int i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(ctx->N1 >> (8 * i));
    return n;
}

unsigned char* GOSTE_mac(GOSTE* ctx, const unsigned char* data, long len,
                         const unsigned char* key32, const unsigned char* sbox,
                         unsigned char* out) {
    // Each thread has its own result buffer, so callers on different threads
    // that pass none do not overwrite each other's MAC.
    thread_local unsigned char result[32];
    if (data == nullptr || len < 0 || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return nullptr;
    }
    GOSTE local;
    GOSTE* c = ctx ? ctx : &local;
    if (out == nullptr) out = result;
    if (!GOSTE_mac_init(c, key32, sbox)) return nullptr;
    if (len > 0 && GOSTE_mac_process(c, data, len) != len) return nullptr;
    return GOSTE_mac_final(c, out, 32) == 4 ? out : nullptr;
}

}  // namespace cadb
