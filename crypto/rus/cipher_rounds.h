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

CADB_GOST_INLINE void round4(const GOSTE_TABLE& t, const std::uint32_t* a, std::uint32_t* b,
                             std::uint32_t k) {
    for (int i = 0; i < kLanes; ++i) {
        const std::uint32_t x = a[i] + k;
        b[i] ^= t.lo[x & 0xFFF] ^ t.mid[(x >> 12) & 0xFFF] ^ t.hi[x >> 24];
    }
}

template <bool forward>
CADB_GOST_INLINE void crypt4(const GOSTE_TABLE& t, const std::uint32_t* k, std::uint32_t* n1,
                             std::uint32_t* n2) {
    std::uint32_t a[kLanes], b[kLanes];
    std::memcpy(a, n1, sizeof a);
    std::memcpy(b, n2, sizeof b);
    // Key word order of the 32 rounds: encryption K0..K7 three times then
    // K7..K0; decryption K0..K7 then K7..K0 three times.
#pragma GCC unroll 16
    for (int r = 0; r < 32; r += 2) {
        const int up = forward ? r < 24 : r < 8;
        const int i0 = up ? r % 8 : 7 - r % 8;
        const int i1 = up ? (r + 1) % 8 : 7 - (r + 1) % 8;
        round4(t, a, b, k[i0]);
        round4(t, b, a, k[i1]);
    }
    std::memcpy(n1, b, sizeof b);
    std::memcpy(n2, a, sizeof a);
}

}  // namespace cadb::gost
