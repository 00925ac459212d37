// The GOST R 34.11-94 hash over any S-box set and start vector, as a
// streaming context (init, update, final).
//
// All 32-byte values inside are little-endian: byte 0 is the least
// significant byte of the standard's 256-bit value. The digest written by
// GOSTH_final is the chaining value with its byte order reversed, most
// significant byte first.
#pragma once

#include <cstdint>

#include "crypto/rus/goste.h"

namespace cadb {

constexpr int GOSTH_DIGEST_LENGTH = 32;

// Like GOSTE, not copied bytewise (GOSTH_copy) and built with placement new
// when kept in raw memory.
struct GOSTH {
    unsigned char H[32]{};      // chaining value
    unsigned char sigma[32]{};  // control sum of the blocks, mod 2^256
    std::uint64_t L[4]{};       // message length in bits, 256-bit little-endian
    unsigned char block[32]{};  // buffered partial block
    GOSTE cipher;               // carries the S-box set and its table; no key is stored
    std::int32_t fill = 0;      // -1 right after GOSTH_init, else bytes buffered (0..31)
    std::uint32_t marker = 0;   // self-test marker, kept across init

    GOSTH() = default;
    GOSTH(const GOSTH&) = delete;
    GOSTH& operator=(const GOSTH&) = delete;
    ~GOSTH();  // wipes, as GOSTH_cleanup
};

// A zeroed context after the memory pattern test, or null: (GOSTE, 101,
// memory alloc failure) with error class 11, or (GOSTE, 101, check RAM
// failure).
GOSTH* GOSTH_new();
// Wipes everything; null is ignored.
void GOSTH_cleanup(GOSTH* ctx);
void GOSTH_free(GOSTH* ctx);
// Makes dst an independent copy of src's state (for digest contexts that are
// copied, as HMAC does). 1, or 0 for null arguments or no memory.
int GOSTH_copy(GOSTH* dst, const GOSTH* src);

// Starts a message: the start vector (null: zero) and the S-box set (null:
// the hash default set). An empty message hashed after this init processes
// one all-zero block.
int GOSTH_init(GOSTH* ctx, const unsigned char* start32, const unsigned char* sbox);
// As GOSTH_init, but an empty message processes no block at all, as the
// CryptoPro digest does.
int GOSTH_init_cp(GOSTH* ctx, const unsigned char* start32, const unsigned char* sbox);
// Feeds n bytes; returns n. n <= 0 changes nothing and returns 0; a null
// context or data gives 0 with error class 1.
long GOSTH_update(GOSTH* ctx, const void* data, long n);
// Writes the 32-byte digest and returns 32, or 0 (error class 1 for null
// arguments; (GOSTE, 112, check RAM failure) when out fails the memory test).
int GOSTH_final(GOSTH* ctx, unsigned char* out32);

// Reverses n bytes in place; null or n <= 0 does nothing.
void GOST_reverse_bytes(unsigned char* buf, long n);

}  // namespace cadb
