// CryptoPro key meshing (RFC 4357, 2.3.2), meshed processing, the mode
// dispatcher and key diversification (RFC 4357, 6.5).
#include <openssl/crypto.h>

#include <algorithm>

#include "crypto/core/err.h"
#include "crypto/rus/key_use.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using gost::load32;
using gost::store32;

constexpr long kMeshInterval = 1024;

// The meshing constant C of RFC 4357.
constexpr unsigned char kMeshConstant[32] = {
    0x69, 0x00, 0x72, 0x22, 0x64, 0xC9, 0x04, 0x23, 0x8D, 0x3A, 0xDB, 0x96, 0x46, 0xE9, 0x2A, 0xC4,
    0x18, 0xFE, 0xAC, 0x94, 0x00, 0xED, 0x07, 0x12, 0xC0, 0x86, 0xDC, 0xC2, 0xEF, 0x4C, 0xA9, 0x2B};

}  // namespace

int GOSTE_key_meshing(GOSTE* ctx) {
    if (ctx == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_GAMMA_UPDATE);
    if (!ku) return 0;
    // The four blocks of the constant are decrypted side by side.
    std::uint32_t n1[gost::kLanes], n2[gost::kLanes];
    for (int b = 0; b < 4; ++b) {
        n1[b] = load32(kMeshConstant + 8 * b);
        n2[b] = load32(kMeshConstant + 8 * b + 4);
    }
    gost::crypt4<false>(ku.table(), ku.k(), n1, n2);
    unsigned char fresh[32];
    std::uint32_t k[8];
    for (int b = 0; b < 4; ++b) {
        k[2 * b] = n1[b];
        k[2 * b + 1] = n2[b];
        store32(fresh + 8 * b, n1[b]);
        store32(fresh + 8 * b + 4, n2[b]);
    }
    OPENSSL_cleanse(n1, sizeof n1);
    OPENSSL_cleanse(n2, sizeof n2);
    if (ctx->mode & GOSTE_MESH_IV) {
        if ((ctx->mode & 0xFF) == GOSTE_MODE_COUNTER)
            gost::encrypt(ku.table(), k, ctx->N3, ctx->N4);
        else
            gost::encrypt(ku.table(), k, ctx->N1, ctx->N2);
    }
    OPENSSL_cleanse(k, sizeof k);
    const int ok = GOSTE_set_key(ctx, fresh);
    OPENSSL_cleanse(fresh, sizeof fresh);
    if (!ok) {
        CADB_ERR(ERR_LIB_GOSTE, GOSTE_F_GOSTE_GAMMA_UPDATE, ERR_R_INTERNAL);
        PSE_key32_wipe(&ctx->key);
    }
    return ok;
}

long GOSTE_process_meshed(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len,
                          GosteWorker worker) {
    if (ctx == nullptr || worker == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!(ctx->mode & (GOSTE_MESH | GOSTE_MESH_IV)) || len <= 0 || in == nullptr)
        return worker(ctx, in, out, len);
    if (ctx->mesh_count < 0 || ctx->mesh_count >= kMeshInterval) ctx->mesh_count = 0;
    if (out == in) out = nullptr;
    long total = 0;
    for (;;) {
        const long n = std::min(len - total, kMeshInterval - ctx->mesh_count);
        // A piece that fails, in the worker or in meshing, fails the call:
        // the data is not all processed and the key is gone.
        if (worker(ctx, in, out, n) < n) return 0;
        ctx->mesh_count += static_cast<std::int32_t>(n);
        total += n;
        if (total == len && ctx->mesh_count < kMeshInterval) break;
        if (!GOSTE_key_meshing(ctx)) return 0;
        ctx->mesh_count %= kMeshInterval;
        if (total == len) break;
        in += n;
        if (out != nullptr) out += n;
    }
    return total;
}

long GOSTE_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    if (ctx == nullptr || in == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    GosteWorker worker = nullptr;
    switch (ctx->mode & 0xFF) {
        case GOSTE_MODE_ECB:
            worker = GOSTE_ss_process;
            break;
        case GOSTE_MODE_COUNTER:
            worker = GOSTE_gamma_update;
            break;
        case GOSTE_MODE_CFB:
            worker = ctx->direction == 1 ? GOSTE_gamma_fbe_update : GOSTE_gamma_fbd_update;
            break;
        case GOSTE_MODE_MAC:
            worker = GOSTE_mac_update;
            break;
        case GOSTE_MODE_CBC:
            worker = GOSTE_cbc_process;
            break;
        default:
            ERR_set_last_error(ERR_CLASS_UNKNOWN_MODE);
            return 0;
    }
    return GOSTE_process_meshed(ctx, in, out, len, worker);
}

unsigned char* GOSTE_key_diversify(const unsigned char* ukm8, const unsigned char* key32,
                                   unsigned char* out32, const unsigned char* sbox) {
    if (ukm8 == nullptr || key32 == nullptr || out32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return nullptr;
    }
    unsigned char key[32];
    for (int i = 0; i < 32; ++i) key[i] = key32[31 - i];
    unsigned char* result = out32;
    for (int i = 0; i < 8 && result != nullptr; ++i) {
        std::uint32_t s1 = 0, s2 = 0;
        for (int j = 0; j < 8; ++j) {
            const std::uint32_t w = load32(key + 4 * j);
            if ((ukm8[i] >> j) & 1)
                s1 += w;
            else
                s2 += w;
        }
        unsigned char iv[8];
        store32(iv, s1);
        store32(iv + 4, s2);
        GOSTE step;
        if (!GOSTE_gamma_fb_init(&step, key, iv, sbox) ||
            GOSTE_gamma_fbe_update(&step, key, nullptr, sizeof key) != sizeof key)
            result = nullptr;
    }
    if (result != nullptr) std::memcpy(out32, key, sizeof key);
    OPENSSL_cleanse(key, sizeof key);
    return result;
}

}  // namespace cadb
