#include <array>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/rus/sbox.h"

namespace cadb {
namespace {

// A set as eight substitutions K1..K8, each listing K(x) for x = 0..15, the
// way the standards print them.
using SboxRows = std::array<std::array<unsigned char, 16>, 8>;
using SboxBytes = std::array<unsigned char, GOST_SBOX_SIZE>;

constexpr SboxBytes pack(const SboxRows& k) {
    SboxBytes out{};
    for (int x = 0; x < 16; ++x)
        for (int i = 0; i < 4; ++i)
            out[4 * x + i] = static_cast<unsigned char>(k[2 * i][x] | (k[2 * i + 1][x] << 4));
    return out;
}

// Every substitution must be a permutation of 0..15; a mistyped value would
// otherwise go unnoticed for the sets no published answer covers.
constexpr bool all_permutations(const SboxRows& k) {
    for (const auto& row : k) {
        unsigned seen = 0;
        for (unsigned char v : row) seen |= 1u << (v & 15);
        if (seen != 0xFFFF) return false;
    }
    return true;
}

constexpr SboxRows kTestRows{{
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
}};

constexpr SboxRows kCipherDefaultRows{{
    {3, 6, 1, 0, 5, 7, 13, 9, 4, 11, 8, 12, 14, 15, 2, 10},
    {7, 1, 5, 2, 8, 11, 9, 12, 13, 0, 3, 10, 15, 14, 4, 6},
    {15, 1, 4, 6, 12, 8, 9, 2, 14, 3, 7, 10, 11, 13, 5, 0},
    {3, 4, 15, 12, 5, 9, 14, 0, 6, 8, 7, 10, 1, 11, 13, 2},
    {6, 9, 0, 7, 11, 8, 4, 12, 2, 14, 10, 15, 1, 13, 5, 3},
    {6, 1, 2, 15, 0, 11, 9, 12, 7, 13, 10, 5, 8, 4, 14, 3},
    {0, 2, 14, 12, 9, 1, 4, 7, 3, 15, 6, 8, 10, 13, 11, 5},
    {5, 2, 11, 8, 4, 12, 7, 1, 10, 6, 14, 0, 9, 3, 13, 15},
}};

constexpr SboxRows kHashDefaultRows{{
    {11, 13, 7, 0, 5, 4, 1, 15, 9, 14, 6, 10, 3, 12, 8, 2},
    {1, 2, 7, 9, 13, 11, 15, 8, 14, 12, 4, 0, 5, 6, 10, 3},
    {5, 1, 13, 3, 15, 6, 12, 7, 9, 8, 11, 2, 4, 14, 0, 10},
    {13, 1, 11, 4, 9, 12, 14, 0, 7, 5, 8, 15, 6, 2, 10, 3},
    {2, 13, 10, 15, 9, 11, 3, 7, 8, 12, 5, 14, 6, 0, 1, 4},
    {0, 4, 6, 12, 5, 3, 8, 13, 10, 11, 15, 2, 1, 9, 7, 14},
    {1, 3, 12, 8, 10, 6, 11, 0, 2, 14, 7, 9, 15, 4, 5, 13},
    {10, 11, 6, 0, 1, 3, 4, 7, 14, 13, 5, 15, 8, 2, 9, 12},
}};

constexpr SboxRows kCpHashRows{{
    {10, 4, 5, 6, 8, 1, 3, 7, 13, 12, 14, 0, 9, 2, 11, 15},
    {5, 15, 4, 0, 2, 13, 11, 9, 1, 7, 6, 3, 12, 14, 10, 8},
    {7, 15, 12, 14, 9, 4, 1, 0, 3, 11, 5, 2, 6, 10, 8, 13},
    {4, 10, 7, 12, 0, 15, 2, 8, 14, 1, 6, 5, 13, 11, 9, 3},
    {7, 6, 4, 11, 9, 12, 2, 10, 1, 8, 0, 14, 15, 13, 3, 5},
    {7, 6, 2, 4, 13, 9, 15, 0, 10, 1, 5, 11, 8, 14, 12, 3},
    {13, 14, 4, 1, 7, 0, 5, 10, 3, 12, 8, 15, 6, 2, 9, 11},
    {1, 3, 10, 9, 5, 11, 4, 15, 8, 6, 7, 14, 13, 0, 2, 12},
}};

constexpr SboxRows kCpARows{{
    {9, 6, 3, 2, 8, 11, 1, 7, 10, 4, 14, 15, 12, 0, 13, 5},
    {3, 7, 14, 9, 8, 10, 15, 0, 5, 2, 6, 12, 11, 4, 13, 1},
    {14, 4, 6, 2, 11, 3, 13, 8, 12, 15, 5, 10, 0, 7, 1, 9},
    {14, 7, 10, 12, 13, 1, 3, 9, 0, 2, 11, 4, 15, 8, 5, 6},
    {11, 5, 1, 9, 8, 13, 15, 0, 14, 4, 2, 3, 12, 7, 10, 6},
    {3, 10, 13, 12, 1, 2, 0, 11, 7, 5, 9, 4, 8, 15, 14, 6},
    {1, 13, 2, 9, 7, 10, 6, 0, 8, 12, 4, 5, 15, 3, 11, 14},
    {11, 10, 15, 5, 0, 12, 14, 8, 6, 2, 3, 9, 1, 7, 13, 4},
}};

constexpr SboxRows kCpBRows{{
    {8, 4, 11, 1, 3, 5, 0, 9, 2, 14, 10, 12, 13, 6, 7, 15},
    {0, 1, 2, 10, 4, 13, 5, 12, 9, 7, 3, 15, 11, 8, 6, 14},
    {14, 12, 0, 10, 9, 2, 13, 11, 7, 5, 8, 15, 3, 6, 1, 4},
    {7, 5, 0, 13, 11, 6, 1, 2, 3, 10, 12, 15, 4, 14, 9, 8},
    {2, 7, 12, 15, 9, 5, 10, 11, 1, 4, 0, 13, 6, 8, 14, 3},
    {8, 3, 2, 6, 4, 13, 14, 11, 12, 1, 7, 15, 10, 0, 9, 5},
    {5, 2, 10, 11, 9, 1, 12, 3, 7, 4, 13, 0, 6, 15, 8, 14},
    {0, 4, 11, 14, 8, 3, 7, 1, 10, 2, 9, 6, 15, 13, 5, 12},
}};

constexpr SboxRows kCpCRows{{
    {1, 11, 12, 2, 9, 13, 0, 15, 4, 5, 8, 14, 10, 7, 6, 3},
    {0, 1, 7, 13, 11, 4, 5, 2, 8, 14, 15, 12, 9, 10, 6, 3},
    {8, 2, 5, 0, 4, 9, 15, 10, 3, 7, 12, 13, 6, 14, 1, 11},
    {3, 6, 0, 1, 5, 13, 10, 8, 11, 2, 9, 7, 14, 15, 12, 4},
    {8, 13, 11, 0, 4, 5, 1, 2, 9, 3, 12, 14, 6, 15, 10, 7},
    {12, 9, 11, 1, 8, 14, 2, 4, 7, 3, 6, 5, 10, 0, 15, 13},
    {10, 9, 6, 8, 13, 14, 2, 0, 15, 3, 5, 11, 4, 1, 12, 7},
    {7, 4, 0, 5, 10, 2, 15, 14, 12, 6, 1, 11, 13, 9, 3, 8},
}};

constexpr SboxRows kCpDRows{{
    {15, 12, 2, 10, 6, 4, 5, 0, 7, 9, 14, 13, 1, 11, 8, 3},
    {11, 6, 3, 4, 12, 15, 14, 2, 7, 13, 8, 0, 5, 10, 9, 1},
    {1, 12, 11, 0, 15, 14, 6, 5, 10, 13, 4, 8, 9, 3, 7, 2},
    {1, 5, 14, 12, 10, 7, 0, 13, 6, 2, 11, 4, 9, 3, 15, 8},
    {0, 12, 8, 9, 13, 2, 10, 11, 7, 3, 6, 5, 4, 14, 15, 1},
    {8, 0, 15, 3, 2, 5, 14, 11, 1, 10, 4, 7, 12, 9, 13, 6},
    {3, 0, 6, 15, 1, 14, 9, 2, 13, 8, 12, 4, 11, 10, 5, 7},
    {1, 10, 6, 8, 15, 11, 0, 4, 12, 3, 5, 9, 7, 13, 2, 14},
}};

static_assert(all_permutations(kTestRows) && all_permutations(kCipherDefaultRows) &&
              all_permutations(kHashDefaultRows) && all_permutations(kCpHashRows) &&
              all_permutations(kCpARows) && all_permutations(kCpBRows) &&
              all_permutations(kCpCRows) && all_permutations(kCpDRows));

constexpr SboxBytes kTest = pack(kTestRows);
constexpr SboxBytes kCipherDefault = pack(kCipherDefaultRows);
constexpr SboxBytes kHashDefault = pack(kHashDefaultRows);
constexpr SboxBytes kCpHash = pack(kCpHashRows);
constexpr SboxBytes kCpA = pack(kCpARows);
constexpr SboxBytes kCpB = pack(kCpBRows);
constexpr SboxBytes kCpC = pack(kCpCRows);
constexpr SboxBytes kCpD = pack(kCpDRows);

constexpr const SboxBytes* kCpSets[] = {&kCpA, &kCpB, &kCpC, &kCpD};

bool same_set(const unsigned char* a, const SboxBytes& b) {
    return std::memcmp(a, b.data(), GOST_SBOX_SIZE) == 0;
}

}  // namespace

const unsigned char* GOSTE_get_cipher_sbox() { return kCipherDefault.data(); }
const unsigned char* GOSTH_get_default_sbox() { return kHashDefault.data(); }
const unsigned char* GOSTE_get_test_sbox() { return kTest.data(); }
const unsigned char* GOSTH_get_cp_sbox() { return kCpHash.data(); }
const unsigned char* GOSTE_get_cp_sbox_A() { return kCpA.data(); }
const unsigned char* GOSTE_get_cp_sbox_B() { return kCpB.data(); }
const unsigned char* GOSTE_get_cp_sbox_C() { return kCpC.data(); }
const unsigned char* GOSTE_get_cp_sbox_D() { return kCpD.data(); }
const unsigned char* GOSTE_get_default_sbox() { return kCpA.data(); }

const unsigned char* GOSTE_get_sbox_by_code(int code) {
    if (code == GOSTE_SBOX_CODE_TEST) return kTest.data();
    if (code == GOSTE_SBOX_CODE_CIPHER) return kCipherDefault.data();
    if (code >= GOSTE_SBOX_CODE_CP_A && code <= GOSTE_SBOX_CODE_CP_D)
        return kCpSets[code - GOSTE_SBOX_CODE_CP_A]->data();
    ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
    return nullptr;
}

const unsigned char* GOSTE_get_sbox_by_nid(int nid) {
    if (nid >= NID_GOST28147_A_PARAMSET &&
        nid <= NID_GOST28147_D_PARAMSET)
        return kCpSets[nid - NID_GOST28147_A_PARAMSET]->data();
    ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
    return nullptr;
}

int GOSTE_get_sbox_nid(const unsigned char* sbox) {
    if (sbox == nullptr) return 0;
    for (int i = 0; i < 4; ++i)
        if (same_set(sbox, *kCpSets[i])) return NID_GOST28147_A_PARAMSET + i;
    ERR_set_last_error(ERR_CLASS_UNKNOWN_CODE);
    return 0;
}

}  // namespace cadb
