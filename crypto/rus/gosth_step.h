// The GOST R 34.11-94 step function (internal to crypto/rus).
#pragma once

#include <openssl/crypto.h>

#include <cstdint>

#include "crypto/rus/sbox.h"

namespace cadb::gost {

// The step keys, kept across the blocks of one call and wiped at its end:
// they are derived from the chaining value, which for a keyed use of the
// hash (HMAC) is secret.
struct StepScratch {
    std::uint32_t keys[4][8];
    ~StepScratch() { OPENSSL_cleanse(keys, sizeof keys); }
};

// H := step(H, M); both 32 bytes, little-endian.
void hash_step(const GOSTE_TABLE& table, unsigned char* H, const unsigned char* M,
               StepScratch& scratch);

}  // namespace cadb::gost
