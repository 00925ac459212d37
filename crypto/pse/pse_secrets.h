// The key store's secrets as bytes for its files: the master key split into
// XOR shares with a check value, 36-byte blocks (32 secret bytes encrypted
// with GOST 28147-89 in simple-substitution mode, then their 32-bit MAC), and
// the store's fingerprint. Every operation uses the S-box set of the store.
#pragma once

#include <cstddef>

#include "crypto/pse/pse.h"
#include "crypto/pse/pse_key32.h"

namespace cadb {

enum PseSecretFunc : int {
    PSE_F_PSE_DECRYPT32 = 104,
    PSE_F_PSE_ENCRYPT32 = 105,
    PSE_F_PSE_KEY32_GENERATE = 107,
    PSE_F_PSE_READ_OPAQUE = 108,
    PSE_F_PSE_WRITE_OPAQUE = 109,
    PSE_F_PSE_LOAD_MKEY = 111,
    PSE_F_PSE_GENERATE_KEK = 112,
    PSE_F_PSE_LOAD_KEK = 113,
    PSE_F_PSE_SAVE_MKEY = 118,
    PSE_F_PSE_FINGER_PRINT = 119,
};
constexpr int PSE_R_INVALID_MAC = 100;

constexpr std::size_t PSE_BLOCK_SIZE = 36;    // a protected 32-byte secret
constexpr unsigned char PSE_MKEY_TAG = 0x22;  // first byte of a split master key
constexpr std::size_t PSE_MKEY_HEADER = 6;    // tag, share count, check value
constexpr int PSE_MKEY_MAX_SHARES = 8;

// Encrypts 32 clear bytes into a 36-byte block under the key record (masked
// again before returning).
int PSE_encrypt32(const unsigned char* clear32, unsigned char* out36, PSE_KEY32* key,
                  const unsigned char* sbox);
// Decrypts a 36-byte block and checks its MAC. On a mismatch the output is
// wiped, the error class is 3 and (PSE, 104, invalid MAC) is queued.
int PSE_decrypt32(const unsigned char* block36, unsigned char* out32, PSE_KEY32* key,
                  const unsigned char* sbox);
// 32 fresh random bytes.
int PSE_key32_generate(unsigned char* out32);
// The store's KEK protecting other secrets; both return out, or null.
unsigned char* PSE_read_opaque(PSE* pse, const unsigned char* block36, unsigned char* out32);
unsigned char* PSE_write_opaque(PSE* pse, const unsigned char* clear32, unsigned char* out36);

// Builds the split master-key record of 6 + 32n bytes (n = shares, 1..8).
// *len receives the size; a null out only asks for it.
int PSE_save_mkey(const unsigned char* key32, int shares, unsigned char* out, int* len,
                  const unsigned char* sbox);
// Rebuilds the master key from a record of exactly 6 + 32n bytes (n >= 1),
// checks it against the record's check value under sbox and loads it into the
// key record; on any failure the key record is wiped.
int PSE_load_mkey(PSE_KEY32* key, const unsigned char* record, std::size_t len,
                  const unsigned char* sbox);
// A new KEK: loaded into the store, its block under the master key written to
// out36, the fingerprint recomputed.
int PSE_generate_kek(PSE* pse, unsigned char* out36);
// Loads the KEK from its block under the master key and recomputes the
// fingerprint.
int PSE_load_kek(PSE* pse, const unsigned char* block36);
// fingerprint := GOST R 34.11-94 (store's set, zero start) of master key twice.
int PSE_finger_print(PSE* pse);

}  // namespace cadb
