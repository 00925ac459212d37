#include <cstring>
#include <mutex>

#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

constexpr std::uint32_t rotl11(std::uint32_t v) { return (v << 11) | (v >> 21); }

// K(j)(x) for j = 1..8 from the 64-byte form.
unsigned substitute(const unsigned char* sbox, int j, unsigned x) {
    const unsigned char cell = sbox[4 * x + (j - 1) / 2];
    return (j & 1) ? (cell & 15u) : (cell >> 4);
}

struct StaticTable {
    const unsigned char* (*set)();
    std::once_flag built;
    GOSTE_TABLE table;
};

// One shared table per built-in set, built on first use and kept for the
// life of the process.
StaticTable kStatic[] = {
    {GOSTE_get_cipher_sbox, {}, {}}, {GOSTH_get_default_sbox, {}, {}},
    {GOSTH_get_cp_sbox, {}, {}},     {GOSTE_get_cp_sbox_A, {}, {}},
    {GOSTE_get_cp_sbox_B, {}, {}},   {GOSTE_get_cp_sbox_C, {}, {}},
    {GOSTE_get_cp_sbox_D, {}, {}},   {GOSTE_get_test_sbox, {}, {}},
};

}  // namespace

void GOSTE_expand_sbox(const unsigned char* sbox, GOSTE_TABLE* table) {
    for (unsigned x = 0; x < 4096; ++x) {
        const unsigned n0 = x & 15, n1 = (x >> 4) & 15, n2 = x >> 8;
        table->lo[x] = rotl11(substitute(sbox, 1, n0) | substitute(sbox, 2, n1) << 4 |
                              substitute(sbox, 3, n2) << 8);
        table->mid[x] = rotl11(substitute(sbox, 4, n0) << 12 | substitute(sbox, 5, n1) << 16 |
                               substitute(sbox, 6, n2) << 20);
    }
    for (unsigned x = 0; x < 256; ++x)
        table->hi[x] =
            rotl11(substitute(sbox, 7, x & 15) << 24 | substitute(sbox, 8, x >> 4) << 28);
}

const GOSTE_TABLE* GOSTE_static_table(const unsigned char* sbox) {
    if (sbox == nullptr) return nullptr;
    for (StaticTable& s : kStatic) {
        const unsigned char* set = s.set();
        if (std::memcmp(sbox, set, GOST_SBOX_SIZE) != 0) continue;
        std::call_once(s.built, [&s, set] { GOSTE_expand_sbox(set, &s.table); });
        return &s.table;
    }
    return nullptr;
}

}  // namespace cadb
