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

// P: key byte 4i + j is byte 8j + i of W (W = U ^ V, as eight words).
void transform_p(const std::uint32_t* u, const std::uint32_t* v, std::uint32_t* key) {
    std::uint32_t w[8];
    for (int i = 0; i < 8; ++i) w[i] = u[i] ^ v[i];
    for (int i = 0; i < 8; ++i) {
        const int shift = 8 * (i & 3), word = i >> 2;
        key[i] = (w[word] >> shift & 0xFF) | (w[2 + word] >> shift & 0xFF) << 8 |
                 (w[4 + word] >> shift & 0xFF) << 16 | (w[6 + word] >> shift & 0xFF) << 24;
    }
}

void make_keys(const unsigned char* H, const unsigned char* M, StepScratch& s) {
    for (int i = 0; i < 8; ++i) {
        s.u[i] = load32(H + 4 * i);
        s.v[i] = load32(M + 4 * i);
    }
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            transform_a(s.u);
            if (j == 2)
                for (int i = 0; i < 8; ++i) s.u[i] ^= load32(kC3 + 4 * i);
            transform_a(s.v);
            transform_a(s.v);
        }
        transform_p(s.u, s.v, s.keys[j]);
    }
}

// The four sub-blocks of H, each under its own key; the lanes are
// independent, so their rounds interleave.
CADB_GOST_INLINE void round_ab(const GOSTE_TABLE& t, Lanes& l, const std::uint32_t keys[4][8],
                               int i) {
    l.b0 ^= f(t, l.a0 + keys[0][i]);
    l.b1 ^= f(t, l.a1 + keys[1][i]);
    l.b2 ^= f(t, l.a2 + keys[2][i]);
    l.b3 ^= f(t, l.a3 + keys[3][i]);
}

CADB_GOST_INLINE void round_ba(const GOSTE_TABLE& t, Lanes& l, const std::uint32_t keys[4][8],
                               int i) {
    l.a0 ^= f(t, l.b0 + keys[0][i]);
    l.a1 ^= f(t, l.b1 + keys[1][i]);
    l.a2 ^= f(t, l.b2 + keys[2][i]);
    l.a3 ^= f(t, l.b3 + keys[3][i]);
}

void encrypt_lanes(const GOSTE_TABLE& t, const std::uint32_t keys[4][8], std::uint32_t* n1,
                   std::uint32_t* n2) {
    Lanes l{n1[0], n1[1], n1[2], n1[3], n2[0], n2[1], n2[2], n2[3]};
#pragma GCC unroll 3
    for (int pass = 0; pass < 3; ++pass) {
        for (int i = 0; i < 8; i += 2) {
            round_ab(t, l, keys, i);
            round_ba(t, l, keys, i + 1);
        }
    }
    for (int i = 7; i > 0; i -= 2) {
        round_ab(t, l, keys, i);
        round_ba(t, l, keys, i - 1);
    }
    n1[0] = l.b0;
    n1[1] = l.b1;
    n1[2] = l.b2;
    n1[3] = l.b3;
    n2[0] = l.a0;
    n2[1] = l.a1;
    n2[2] = l.a2;
    n2[3] = l.a3;
}

// psi^n over sixteen 16-bit words held in w[0..15]; w must have room for
// 16 + n words. The result is w[n..n+15].
void psi(std::uint16_t* w, int n) {
    // The newest word is carried in a register: only it lies on the serial
    // chain, the other terms were written at least four words earlier.
    std::uint16_t last = w[15];
    for (int i = 0; i < n; ++i) {
        last = static_cast<std::uint16_t>(w[i] ^ w[i + 1] ^ w[i + 2] ^ w[i + 3] ^ w[i + 12] ^ last);
        w[16 + i] = last;
    }
}

void to_words(const unsigned char* b, std::uint16_t* w) {
    for (int i = 0; i < 16; ++i) w[i] = static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
}

}  // namespace

void hash_step(const GOSTE_TABLE& table, unsigned char* H, const unsigned char* M,
               StepScratch& scratch) {
    make_keys(H, M, scratch);
    std::uint32_t n1[4], n2[4];
    for (int j = 0; j < 4; ++j) {
        n1[j] = load32(H + 8 * j);
        n2[j] = load32(H + 8 * j + 4);
    }
    encrypt_lanes(table, scratch.keys, n1, n2);

    // H := psi^61(H ^ psi(M ^ psi^12(S))).
    std::uint16_t* w = scratch.psi;
    std::uint16_t m[16], h[16];
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
