#include "crypto/rus/gosth_step.h"

#include <cstring>

#include "crypto/rus/cipher_rounds.h"

namespace cadb::gost {
namespace {

// The constant C3 of the key generation, little-endian.
constexpr unsigned char kC3[32] = {0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff,
                                   0x00, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00,
                                   0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff};

// A(y7..y0) = (y1^y3, y0^y2, y7, y6, y5, y4, y3, y2) in 32-bit words.
void transform_a(std::uint32_t* y) {
    const std::uint32_t t0 = y[0] ^ y[2], t1 = y[1] ^ y[3];
    std::memmove(y, y + 2, 6 * sizeof *y);
    y[6] = t0;
    y[7] = t1;
}

// P: key byte 4i + j is byte 8j + i of W.
void transform_p(const std::uint32_t* w, std::uint32_t* key) {
    unsigned char wb[32], kb[32];
    for (int i = 0; i < 8; ++i) store32(wb + 4 * i, w[i]);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) kb[4 * i + j] = wb[8 * j + i];
    for (int i = 0; i < 8; ++i) key[i] = load32(kb + 4 * i);
    OPENSSL_cleanse(wb, sizeof wb);
    OPENSSL_cleanse(kb, sizeof kb);
}

void make_keys(const unsigned char* H, const unsigned char* M, std::uint32_t keys[4][8]) {
    std::uint32_t u[8], v[8], w[8], c3[8];
    for (int i = 0; i < 8; ++i) {
        u[i] = load32(H + 4 * i);
        v[i] = load32(M + 4 * i);
        c3[i] = load32(kC3 + 4 * i);
    }
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            transform_a(u);
            if (j == 2)
                for (int i = 0; i < 8; ++i) u[i] ^= c3[i];
            transform_a(v);
            transform_a(v);
        }
        for (int i = 0; i < 8; ++i) w[i] = u[i] ^ v[i];
        transform_p(w, keys[j]);
    }
    OPENSSL_cleanse(u, sizeof u);
    OPENSSL_cleanse(v, sizeof v);
    OPENSSL_cleanse(w, sizeof w);
}

// The four sub-blocks of H under their own keys; the lanes are independent,
// so their rounds interleave.
void encrypt_lanes(const GOSTE_TABLE& t, const std::uint32_t keys[4][8], std::uint32_t* n1,
                   std::uint32_t* n2) {
    std::uint32_t a[4], b[4];
    std::memcpy(a, n1, sizeof a);
    std::memcpy(b, n2, sizeof b);
    auto round4 = [&t, keys](std::uint32_t* x, std::uint32_t* y, int idx) {
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t s = x[i] + keys[i][idx];
            y[i] ^= t.lo[s & 0xFFF] ^ t.mid[(s >> 12) & 0xFFF] ^ t.hi[s >> 24];
        }
    };
    for (int r = 0; r < 24; r += 2) {
        round4(a, b, r % 8);
        round4(b, a, (r + 1) % 8);
    }
    for (int r = 7; r > 0; r -= 2) {
        round4(a, b, r);
        round4(b, a, r - 1);
    }
    std::memcpy(n1, b, sizeof b);
    std::memcpy(n2, a, sizeof a);
}

// psi^n over sixteen 16-bit words held in w[0..15]; w must have room for
// 16 + n words. The result is w[n..n+15].
void psi(std::uint16_t* w, int n) {
    for (int i = 0; i < n; ++i)
        w[16 + i] = w[i] ^ w[i + 1] ^ w[i + 2] ^ w[i + 3] ^ w[i + 12] ^ w[i + 15];
}

void to_words(const unsigned char* b, std::uint16_t* w) {
    for (int i = 0; i < 16; ++i) w[i] = static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
}

}  // namespace

void hash_step(const GOSTE_TABLE& table, unsigned char* H, const unsigned char* M,
               StepScratch& scratch) {
    make_keys(H, M, scratch.keys);
    std::uint32_t n1[4], n2[4];
    for (int j = 0; j < 4; ++j) {
        n1[j] = load32(H + 8 * j);
        n2[j] = load32(H + 8 * j + 4);
    }
    encrypt_lanes(table, scratch.keys, n1, n2);

    // H := psi^61(H ^ psi(M ^ psi^12(S))).
    std::uint16_t w[16 + 61], m[16], h[16];
    for (int j = 0; j < 4; ++j) {
        w[4 * j] = static_cast<std::uint16_t>(n1[j]);
        w[4 * j + 1] = static_cast<std::uint16_t>(n1[j] >> 16);
        w[4 * j + 2] = static_cast<std::uint16_t>(n2[j]);
        w[4 * j + 3] = static_cast<std::uint16_t>(n2[j] >> 16);
    }
    psi(w, 12);
    to_words(M, m);
    for (int i = 0; i < 16; ++i) w[i] = w[12 + i] ^ m[i];
    psi(w, 1);
    to_words(H, h);
    for (int i = 0; i < 16; ++i) w[i] = w[1 + i] ^ h[i];
    psi(w, 61);
    for (int i = 0; i < 16; ++i) {
        H[2 * i] = static_cast<unsigned char>(w[61 + i]);
        H[2 * i + 1] = static_cast<unsigned char>(w[61 + i] >> 8);
    }
}

}  // namespace cadb::gost
