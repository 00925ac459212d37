// GOST 28147-89 substitution tables: the built-in sets, their lookups by
// code and object number, and the expanded tables the rounds run on.
//
// A set is 64 bytes: 16 rows of 4 bytes; row x byte i holds K(2i+1)(x) in
// its low nibble and K(2i+2)(x) in its high nibble. K1 substitutes the least
// significant nibble of the round value, K8 the most significant.
#pragma once

#include <openssl/obj_mac.h>

#include <cstdint>

// libcrypto's object header defines these two names as macros with its own
// numbers; included first here, its guard keeps them from coming back and
// silently replacing the project's numbers below.
#undef NID_id_Gost28147_89_CryptoPro_A_ParamSet
#undef NID_id_Gost28147_89_CryptoPro_D_ParamSet

namespace cadb {

constexpr int GOST_SBOX_SIZE = 64;

// Key-store codes of the sets.
constexpr int GOSTE_SBOX_CODE_TEST = 23;
constexpr int GOSTE_SBOX_CODE_CIPHER = 31;
constexpr int GOSTE_SBOX_CODE_CP_A = 32;
constexpr int GOSTE_SBOX_CODE_CP_D = 35;

// One round's substitution and rotation, f(x) = lo[x & 0xFFF] ^
// mid[(x >> 12) & 0xFFF] ^ hi[x >> 24], each entry already rotated left by 11.
// Three lookups over nibble-aligned chunks make the round's critical path
// one lookup shorter than four byte tables would.
struct GOSTE_TABLE {
    std::uint32_t lo[4096];   // K1, K2, K3
    std::uint32_t mid[4096];  // K4, K5, K6
    std::uint32_t hi[256];    // K7, K8
};

// 23 test set, 31 cipher default, 32-35 CryptoPro A-D; else null with error
// class 13.
const unsigned char* GOSTE_get_sbox_by_code(int code);
// 291-294 CryptoPro A-D; else null with error class 13.
const unsigned char* GOSTE_get_sbox_by_nid(int nid);
// 291-294 when the set equals CryptoPro A, B, C or D; else 0 (error class 13
// for a set that is none of them).
int GOSTE_get_sbox_nid(const unsigned char* sbox);

const unsigned char* GOSTE_get_cipher_sbox();   // cipher default (code 31)
const unsigned char* GOSTH_get_default_sbox();  // hash default
const unsigned char* GOSTE_get_test_sbox();     // the hash standard's test set (code 23)
const unsigned char* GOSTH_get_cp_sbox();       // CryptoPro hash set
const unsigned char* GOSTE_get_cp_sbox_A();
const unsigned char* GOSTE_get_cp_sbox_B();
const unsigned char* GOSTE_get_cp_sbox_C();
const unsigned char* GOSTE_get_cp_sbox_D();
// The process default set: CryptoPro A; nothing changes it.
const unsigned char* GOSTE_get_default_sbox();

// Builds the expanded table of a 64-byte set.
void GOSTE_expand_sbox(const unsigned char* sbox, GOSTE_TABLE* table);
// The shared table of the built-in set whose 64 bytes equal sbox, built once
// on first use (thread-safe); null when sbox is not a built-in set.
const GOSTE_TABLE* GOSTE_static_table(const unsigned char* sbox);

// Checks that the built-in sets other than the test set, and their shared
// tables, are unchanged since the first call in the process (a GOST R
// 34.11-94 digest over them, remembered on that first call). 1, or 0 with
// (GOSTE, 115, internal error) and error class 12.
int GOSTE_check_tables();

}  // namespace cadb
