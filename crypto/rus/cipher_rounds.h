// The GOST 28147-89 rounds over an expanded table (internal to crypto/rus).
#pragma once

#include <cstdint>
#include <cstring>

#include "crypto/rus/sbox.h"

namespace cadb::gost {

inline std::uint32_t load32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

inline void store32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The rounds must be inlined into the loops that use them, so that the
// registers and key words stay in registers; the compiler's size heuristics
// would otherwise keep them out of line.
#if defined(__GNUC__)
#define CADB_GOST_INLINE inline __attribute__((always_inline))
#else
#define CADB_GOST_INLINE inline
#endif

// Forces the order in which a round's terms are combined. Without it the
// compiler folds the register in last, which puts one more step on the
// serial chain of a feedback mode.
#if defined(__GNUC__)
#define CADB_GOST_ORDER(v) __asm__("" : "+r"(v))
#else
#define CADB_GOST_ORDER(v) (void)0
#endif

// One round: b ^= f(a + k). The middle lookup needs two steps to index, so
// it is folded in last.
CADB_GOST_INLINE void round(const GOSTE_TABLE& t, std::uint32_t a, std::uint32_t& b,
                            std::uint32_t k) {
    const std::uint32_t x = a + k;
    std::uint32_t u = b ^ t.lo[x & 0xFFF];
    CADB_GOST_ORDER(u);
    u ^= t.hi[x >> 24];
    CADB_GOST_ORDER(u);
    b = u ^ t.mid[(x >> 12) & 0xFFF];
}

// Eight rounds with the key words in order or reversed.
CADB_GOST_INLINE void rounds_up(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t& n1,
                                std::uint32_t& n2) {
    round(t, n1, n2, k[0]);
    round(t, n2, n1, k[1]);
    round(t, n1, n2, k[2]);
    round(t, n2, n1, k[3]);
    round(t, n1, n2, k[4]);
    round(t, n2, n1, k[5]);
    round(t, n1, n2, k[6]);
    round(t, n2, n1, k[7]);
}

CADB_GOST_INLINE void rounds_down(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t& n1,
                                  std::uint32_t& n2) {
    round(t, n1, n2, k[7]);
    round(t, n2, n1, k[6]);
    round(t, n1, n2, k[5]);
    round(t, n2, n1, k[4]);
    round(t, n1, n2, k[3]);
    round(t, n2, n1, k[2]);
    round(t, n1, n2, k[1]);
    round(t, n2, n1, k[0]);
}

// 32 rounds; the halves are not swapped after the last one, which in this
// two-register form means the outputs change places.
CADB_GOST_INLINE void encrypt(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t& n1,
                              std::uint32_t& n2) {
    std::uint32_t a = n1, b = n2;
    rounds_up(t, k, a, b);
    rounds_up(t, k, a, b);
    rounds_up(t, k, a, b);
    rounds_down(t, k, a, b);
    n1 = b;
    n2 = a;
}

CADB_GOST_INLINE void decrypt(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t& n1,
                              std::uint32_t& n2) {
    std::uint32_t a = n1, b = n2;
    rounds_up(t, k, a, b);
    rounds_down(t, k, a, b);
    rounds_down(t, k, a, b);
    rounds_down(t, k, a, b);
    n1 = b;
    n2 = a;
}

// The MAC step: 16 rounds, halves left as they stand.
CADB_GOST_INLINE void mac16(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t& n1,
                            std::uint32_t& n2) {
    rounds_up(t, k, n1, n2);
    rounds_up(t, k, n1, n2);
}

// Four independent blocks at once: their rounds interleave, so the lookups
// of one block fill the waiting time of the others.
constexpr int kLanes = 4;

// Four registers per half; plain variables rather than arrays so that they
// stay in registers through all 32 rounds.
struct Lanes {
    std::uint32_t a0, a1, a2, a3;
    std::uint32_t b0, b1, b2, b3;
};

CADB_GOST_INLINE std::uint32_t f(const GOSTE_TABLE& t, std::uint32_t x) {
    return t.lo[x & 0xFFF] ^ t.mid[(x >> 12) & 0xFFF] ^ t.hi[x >> 24];
}

CADB_GOST_INLINE void round4_ab(const GOSTE_TABLE& t, Lanes& l, std::uint32_t k) {
    l.b0 ^= f(t, l.a0 + k);
    l.b1 ^= f(t, l.a1 + k);
    l.b2 ^= f(t, l.a2 + k);
    l.b3 ^= f(t, l.a3 + k);
}

CADB_GOST_INLINE void round4_ba(const GOSTE_TABLE& t, Lanes& l, std::uint32_t k) {
    l.a0 ^= f(t, l.b0 + k);
    l.a1 ^= f(t, l.b1 + k);
    l.a2 ^= f(t, l.b2 + k);
    l.a3 ^= f(t, l.b3 + k);
}

CADB_GOST_INLINE void up4(const GOSTE_TABLE& t, const std::uint32_t* k, Lanes& l) {
    round4_ab(t, l, k[0]);
    round4_ba(t, l, k[1]);
    round4_ab(t, l, k[2]);
    round4_ba(t, l, k[3]);
    round4_ab(t, l, k[4]);
    round4_ba(t, l, k[5]);
    round4_ab(t, l, k[6]);
    round4_ba(t, l, k[7]);
}

CADB_GOST_INLINE void down4(const GOSTE_TABLE& t, const std::uint32_t* k, Lanes& l) {
    round4_ab(t, l, k[7]);
    round4_ba(t, l, k[6]);
    round4_ab(t, l, k[5]);
    round4_ba(t, l, k[4]);
    round4_ab(t, l, k[3]);
    round4_ba(t, l, k[2]);
    round4_ab(t, l, k[1]);
    round4_ba(t, l, k[0]);
}

// Encrypts (forward) or decrypts four blocks in place.
template <bool forward>
CADB_GOST_INLINE void crypt4(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t* n1,
                             std::uint32_t* n2) {
    Lanes l{n1[0], n1[1], n1[2], n1[3], n2[0], n2[1], n2[2], n2[3]};
    up4(t, k, l);
    if (forward) {
        up4(t, k, l);
        up4(t, k, l);
    } else {
        down4(t, k, l);
        down4(t, k, l);
    }
    down4(t, k, l);
    n1[0] = l.b0;
    n1[1] = l.b1;
    n1[2] = l.b2;
    n1[3] = l.b3;
    n2[0] = l.a0;
    n2[1] = l.a1;
    n2[2] = l.a2;
    n2[3] = l.a3;
}

}  // namespace cadb::gost
