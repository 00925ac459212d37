#include "crypto/rus/gosth.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "crypto/check/ram_check.h"
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/rus/gosth_step.h"

namespace cadb {
namespace {

// sum := sum + v mod 2^256, both little-endian.
void add256(unsigned char* sum, const unsigned char* v) {
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += unsigned(sum[i]) + v[i];
        sum[i] = static_cast<unsigned char>(carry);
        carry >>= 8;
    }
}

void add_bits(std::uint64_t* len, std::uint64_t bits) {
    for (int i = 0; i < 4 && bits != 0; ++i) {
        len[i] += bits;
        bits = len[i] < bits ? 1 : 0;
    }
}

void length_bytes(const std::uint64_t* len, unsigned char* out) {
    for (int i = 0; i < 32; ++i) out[i] = static_cast<unsigned char>(len[i / 8] >> (8 * (i % 8)));
}

int start(GOSTH* ctx, const unsigned char* start32, const unsigned char* sbox, int fill) {
    if (ctx == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!GOSTH_check(ctx)) return 0;
    const std::uint32_t marker = ctx->marker;
    GOSTH_cleanup(ctx);
    ctx->marker = marker;
    if (!GOSTE_set_sbox(&ctx->cipher, sbox ? sbox : GOSTH_get_default_sbox())) return 0;
    if (start32 != nullptr) std::memcpy(ctx->H, start32, sizeof ctx->H);
    ctx->fill = fill;
    return 1;
}

// One whole block: chaining value, length and control sum.
void absorb(GOSTH* ctx, const unsigned char* m, gost::StepScratch& scratch) {
    gost::hash_step(*ctx->cipher.table, ctx->H, m, scratch);
    add_bits(ctx->L, 256);
    add256(ctx->sigma, m);
}

}  // namespace

GOSTH::~GOSTH() { GOSTH_cleanup(this); }

GOSTH* GOSTH_new() {
    void* mem = ::operator new(sizeof(GOSTH), std::nothrow);
    if (mem == nullptr) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTH_NEW, ERR_R_MALLOC);
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        return nullptr;
    }
    if (!GOST_ram_check(mem, sizeof(GOSTH))) {
        ::operator delete(mem);
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTH_NEW, ERR_R_CHECK_RAM_FAILURE);
        return nullptr;
    }
    return new (mem) GOSTH;
}

void GOSTH_cleanup(GOSTH* ctx) {
    if (ctx == nullptr) return;
    OPENSSL_cleanse(ctx->H, sizeof ctx->H);
    OPENSSL_cleanse(ctx->sigma, sizeof ctx->sigma);
    OPENSSL_cleanse(ctx->L, sizeof ctx->L);
    OPENSSL_cleanse(ctx->block, sizeof ctx->block);
    GOSTE_cleanup(&ctx->cipher);
    ctx->fill = 0;
    ctx->marker = 0;
}

void GOSTH_free(GOSTH* ctx) { delete ctx; }

int GOSTH_copy(GOSTH* dst, const GOSTH* src) {
    if (dst == nullptr || src == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (dst == src) return 1;
    if (!GOSTE_copy(&dst->cipher, &src->cipher)) return 0;
    std::memcpy(dst->H, src->H, sizeof dst->H);
    std::memcpy(dst->sigma, src->sigma, sizeof dst->sigma);
    std::memcpy(dst->L, src->L, sizeof dst->L);
    std::memcpy(dst->block, src->block, sizeof dst->block);
    dst->fill = src->fill;
    dst->marker = src->marker;
    return 1;
}

int GOSTH_init(GOSTH* ctx, const unsigned char* start32, const unsigned char* sbox) {
    return start(ctx, start32, sbox, -1);
}

int GOSTH_init_cp(GOSTH* ctx, const unsigned char* start32, const unsigned char* sbox) {
    return start(ctx, start32, sbox, 0);
}

long GOSTH_update(GOSTH* ctx, const void* data, long n) {
    if (ctx == nullptr || data == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (n <= 0) return 0;
    if (ctx->cipher.table == nullptr) {  // never initialised
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    long left = n;
    if (ctx->fill < 0 || ctx->fill > 31) ctx->fill = 0;
    gost::StepScratch scratch;
    if (ctx->fill > 0) {
        const long take = std::min<long>(left, 32 - ctx->fill);
        std::memcpy(ctx->block + ctx->fill, p, static_cast<std::size_t>(take));
        ctx->fill += static_cast<std::int32_t>(take);
        p += take;
        left -= take;
        if (ctx->fill < 32) return n;
        absorb(ctx, ctx->block, scratch);
        ctx->fill = 0;
    }
    for (; left >= 32; left -= 32, p += 32) absorb(ctx, p, scratch);
    if (left > 0) {
        std::memcpy(ctx->block, p, static_cast<std::size_t>(left));
        ctx->fill = static_cast<std::int32_t>(left);
    }
    return n;
}

int GOSTH_final(GOSTH* ctx, unsigned char* out32) {
    if (ctx == nullptr || out32 == nullptr || ctx->cipher.table == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    gost::StepScratch scratch;
    if (ctx->fill != 0) {
        // -1: nothing was fed after GOSTH_init, which still hashes one zero block.
        const int fill = std::clamp(ctx->fill, 0, 31);
        std::memset(ctx->block + fill, 0, sizeof ctx->block - fill);
        add_bits(ctx->L, 8u * static_cast<unsigned>(fill));
        add256(ctx->sigma, ctx->block);
        gost::hash_step(*ctx->cipher.table, ctx->H, ctx->block, scratch);
        ctx->fill = 0;
    }
    unsigned char len[32];
    length_bytes(ctx->L, len);
    gost::hash_step(*ctx->cipher.table, ctx->H, len, scratch);
    gost::hash_step(*ctx->cipher.table, ctx->H, ctx->sigma, scratch);
    if (!GOSTH_check(ctx)) return 0;
    if (!GOST_ram_check(out32, GOSTH_DIGEST_LENGTH)) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTH_FINAL, ERR_R_CHECK_RAM_FAILURE);
        return 0;
    }
    for (int i = 0; i < 32; ++i) out32[i] = ctx->H[31 - i];
    return GOSTH_DIGEST_LENGTH;
}

void GOST_reverse_bytes(unsigned char* buf, long n) {
    if (buf == nullptr || n <= 0) return;
    std::reverse(buf, buf + n);
}

}  // namespace cadb
