// Gamma with feedback (CFB): the gamma is the encryption of the previous
// ciphertext block, kept in the register N1, N2.
#include "crypto/check/self_test.h"
#include "crypto/core/err.h"
#include "crypto/rus/key_use.h"
#include "crypto/rus/modes.h"

namespace cadb {
namespace {

using gost::kLanes;
using gost::load32;
using gost::store32;

// The register as bytes for the length of one call.
struct Register {
    explicit Register(const GOSTE* ctx) {
        store32(b, ctx->N1);
        store32(b + 4, ctx->N2);
    }
    void save(GOSTE* ctx) const {
        ctx->N1 = load32(b);
        ctx->N2 = load32(b + 4);
    }
    void encrypt(const gost::KeyInUse& ku) {
        std::uint32_t n1 = load32(b), n2 = load32(b + 4);
        gost::encrypt(ku.table(), ku.k(), n1, n2);
        store32(b, n1);
        store32(b + 4, n2);
    }
    unsigned char b[8];
};

long cfb(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len, bool encrypting) {
    if (gost::bad_args(ctx, in, len)) return 0;
    gost::KeyInUse ku(ctx, GOSTE_F_GOSTE_GAMMA_UPDATE);
    if (!ku) return 0;
    unsigned char* buf = gost::work_buffer(in, out, len);
    Register reg(ctx);
    int pos = ctx->position & 7;
    long i = 0;
    auto one_byte = [&](unsigned char& byte) {
        if (pos == 0) reg.encrypt(ku);
        const unsigned char c = encrypting ? byte ^ reg.b[pos] : byte;
        byte ^= reg.b[pos];
        reg.b[pos] = c;
        pos = (pos + 1) & 7;
    };
    for (; i < len && pos != 0; ++i) one_byte(buf[i]);
    if (encrypting) {
        // Each block needs the one before it: one block at a time.
        // The key words and the table are copied into locals so that the
        // stores into the data, which may alias anything, do not force them
        // to be reloaded inside the serial chain.
        std::uint32_t k[8];
        std::memcpy(k, ku.k(), sizeof k);
        const GOSTE_TABLE& t = ku.table();
        std::uint32_t r1 = load32(reg.b), r2 = load32(reg.b + 4);
        for (; len - i >= 8; i += 8) {
            gost::encrypt(t, k, r1, r2);
            r1 ^= load32(buf + i);
            r2 ^= load32(buf + i + 4);
            store32(buf + i, r1);
            store32(buf + i + 4, r2);
        }
        store32(reg.b, r1);
        store32(reg.b + 4, r2);
        OPENSSL_cleanse(k, sizeof k);
    } else {
        // The ciphertext is all known: four gammas at once.
        std::uint32_t r1 = load32(reg.b), r2 = load32(reg.b + 4);
        for (; len - i >= 8 * kLanes; i += 8 * kLanes) {
            std::uint32_t g1[kLanes], g2[kLanes], c1[kLanes], c2[kLanes];
            for (int j = 0; j < kLanes; ++j) {
                c1[j] = load32(buf + i + 8 * j);
                c2[j] = load32(buf + i + 8 * j + 4);
                g1[j] = j ? c1[j - 1] : r1;
                g2[j] = j ? c2[j - 1] : r2;
            }
            gost::crypt4<true>(ku.table(), ku.k(), g1, g2);
            for (int j = 0; j < kLanes; ++j) {
                store32(buf + i + 8 * j, c1[j] ^ g1[j]);
                store32(buf + i + 8 * j + 4, c2[j] ^ g2[j]);
            }
            r1 = c1[kLanes - 1];
            r2 = c2[kLanes - 1];
        }
        for (; len - i >= 8; i += 8) {
            const std::uint32_t c1 = load32(buf + i), c2 = load32(buf + i + 4);
            gost::encrypt(ku.table(), ku.k(), r1, r2);
            store32(buf + i, c1 ^ r1);
            store32(buf + i + 4, c2 ^ r2);
            r1 = c1;
            r2 = c2;
        }
        store32(reg.b, r1);
        store32(reg.b + 4, r2);
    }
    for (; i < len; ++i) one_byte(buf[i]);
    reg.save(ctx);
    ctx->position = pos;
    OPENSSL_cleanse(&reg, sizeof reg);
    return ku.finish() ? len : 0;
}

int fb_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
            const unsigned char* sbox) {
    if (ctx == nullptr || key32 == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        return 0;
    }
    if (!GOSTE_gamma_fb_check(ctx)) return 0;
    if (iv8 != nullptr) {
        ctx->N1 = load32(iv8);
        ctx->N2 = load32(iv8 + 4);
    }
    return GOSTE_set_key(ctx, key32) && GOSTE_set_sbox(ctx, sbox);
}

}  // namespace

int GOSTE_gamma_fb_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                        const unsigned char* sbox) {
    if (!fb_init(ctx, key32, iv8, sbox)) return 0;
    if (ctx->mode == 0) ctx->mode = GOSTE_MODE_CFB;
    return 1;
}

int GOSTE_gamma_fb_cp_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                           const unsigned char* sbox) {
    if (!fb_init(ctx, key32, iv8, sbox ? sbox : GOSTE_get_default_sbox())) return 0;
    ctx->mode = GOSTE_MODE_CFB | GOSTE_MESH | GOSTE_MESH_IV;
    return 1;
}

long GOSTE_gamma_fbe_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return cfb(ctx, in, out, len, true);
}

long GOSTE_gamma_fbd_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return cfb(ctx, in, out, len, false);
}

long GOSTE_gamma_fbe_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return GOSTE_process_meshed(ctx, in, out, len, GOSTE_gamma_fbe_update);
}

long GOSTE_gamma_fbd_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len) {
    return GOSTE_process_meshed(ctx, in, out, len, GOSTE_gamma_fbd_update);
}

}  // namespace cadb
