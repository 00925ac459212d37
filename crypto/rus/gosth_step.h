// The GOST R 34.11-94 step function (internal to crypto/rus).
#pragma once

#include <openssl/crypto.h>

#include <cstdint>

#include "crypto/rus/sbox.h"

namespace cadb::gost {

// Working values of the step, kept across the blocks of one call and wiped
// once at its end (not per block): they derive from the chaining value,
// which for a keyed use of the hash (HMAC) is secret.
struct StepScratch {
    std::uint32_t keys[4][8];
    std::uint32_t u[8], v[8];
    std::uint16_t psi[16 + 61];
    ~StepScratch() { OPENSSL_cleanse(this, sizeof *this); }
};

// H := step(H, M); both 32 bytes, little-endian.
void hash_step(const GOSTE_TABLE& table, unsigned char* H, const unsigned char* M,
               StepScratch& scratch);

}  // namespace cadb::gost
