// The GOST 28147-89 cipher context that every mode, the MAC and the hash run
// on, with key meshing and key diversification (RFC 4357).
//
// The key is held in a masked record (crypto/pse/pse_key32.h) and unmasked
// only for the length of one call. A context belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <memory>

#include "crypto/pse/pse_key32.h"
#include "crypto/rus/sbox.h"

namespace cadb {

// Function codes of the GOSTE library.
enum GosteFunc : int {
    GOSTE_F_GOSTE_NEW = 100,
    GOSTE_F_GOSTH_NEW = 101,
    GOSTE_F_GOSTE_SS_CHECK = 102,
    GOSTE_F_GOSTE_GAMMA_CHECK = 103,
    GOSTE_F_GOSTE_GAMMA_FB_CHECK = 104,
    GOSTE_F_GOSTE_MAC_CHECK = 105,
    GOSTE_F_GOSTH_CHECK = 106,
    GOSTE_F_GOSTE_SS_UPDATE = 107,
    GOSTE_F_GOSTE_GAMMA_UPDATE = 108,
    GOSTE_F_GOSTE_GAMMA_FBE_UPDATE = 109,
    GOSTE_F_GOSTE_GAMMA_FBD_UPDATE = 110,
    GOSTE_F_GOSTE_MAC_FINAL = 111,
    GOSTE_F_GOSTH_FINAL = 112,
    GOSTE_F_GOSTE_MAC_UPDATE = 113,
    GOSTE_F_GAMMA_INIT = 114,
    GOSTE_F_CHECK_TABLES = 115,
};
// The GOSTE library's own reason.
constexpr int GOSTE_R_MAC_TOO_SHORT = 100;

// Mode word: the low byte is the mode, the bits above add key meshing.
enum GosteMode : std::uint32_t {
    GOSTE_MODE_ECB = 0,      // simple substitution
    GOSTE_MODE_COUNTER = 1,  // counter gamma
    GOSTE_MODE_CFB = 2,      // gamma with feedback
    GOSTE_MODE_MAC = 3,
    GOSTE_MODE_CBC = 4,
    GOSTE_MESH = 0x100,     // CryptoPro key meshing every 1,024 bytes
    GOSTE_MESH_IV = 0x200,  // ... and the register carrying the IV meshed too
};

// Option flag: skip the ECB self test for this context.
constexpr std::uint32_t GOSTE_OPT_NO_SS_CHECK = 2;

struct GosteTableFree {
    void operator()(GOSTE_TABLE* t) const;  // wipes, then frees
};

// A fresh context is all zero (default member values). It owns its private
// table, so it is not copied bytewise: use GOSTE_copy. Code that keeps one in
// raw memory (a digest or cipher record's context area) constructs it there
// with placement new and destroys it with ~GOSTE().
struct GOSTE {
    PSE_KEY32 key{};                                         // masked whenever no call is running
    std::unique_ptr<GOSTE_TABLE, GosteTableFree> own_table;  // private table, for other sets
    const GOSTE_TABLE* table = nullptr;                      // active table: shared or own_table
    // The 64-bit register: bytes 0-3 of a block are N1 (little-endian), 4-7 N2.
    std::uint32_t N1 = 0, N2 = 0;
    std::uint32_t N3 = 0, N4 = 0;  // counter-mode accumulators
    // Counter mode: gamma bytes left; CFB and MAC: byte position 0..7.
    std::int32_t position = 0;
    std::int32_t mac_count = 0;  // MAC blocks processed, counted up to 2
    std::uint32_t marker = 0;    // self-test marker
    unsigned char sbox[GOST_SBOX_SIZE]{};
    std::uint32_t options = 0;    // GOSTE_OPT_*
    std::int32_t direction = 0;   // 1 encrypt, 0 decrypt
    std::uint32_t mode = 0;       // GosteMode
    std::int32_t mesh_count = 0;  // bytes since the last key meshing, 0..1,023

    GOSTE() = default;
    GOSTE(const GOSTE&) = delete;
    GOSTE& operator=(const GOSTE&) = delete;
    ~GOSTE();  // wipes, as GOSTE_cleanup
};

// A zeroed context after the memory pattern test, or null: (GOSTE, 100,
// memory alloc failure) with error class 11, or (GOSTE, 100, check RAM
// failure).
GOSTE* GOSTE_new();
// Wipes the key, wipes and frees a private table, zeroes every field. Null is
// ignored.
void GOSTE_cleanup(GOSTE* ctx);
void GOSTE_free(GOSTE* ctx);
// Makes dst an independent copy of src (key still masked, its own private
// table when src has one). 1, or 0 when memory runs out or an argument is
// null.
int GOSTE_copy(GOSTE* dst, const GOSTE* src);

// Loads 32 key bytes (eight little-endian words K0..K7) and masks them. 0 with
// error class 1 for null, 12 when masking fails.
int GOSTE_set_key(GOSTE* ctx, const unsigned char* key32);
// As GOSTE_set_key, but null arguments give 0 without an error class.
int GOSTE_set_key_checked(GOSTE* ctx, const unsigned char* key32);
// Takes a 64-byte set (null: the cipher default set) and the matching
// expanded table: the shared one of a built-in set, else a private one.
// 1, or 0 when memory runs out.
int GOSTE_set_sbox(GOSTE* ctx, const unsigned char* sbox);

// Block primitives on a context whose key is clear (key.flags has
// PSE_KEY32_NO_MASK, or the caller has unmasked it): 32 rounds in place, and
// the MAC's 16 rounds.
void GOSTE_encrypt_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2);
void GOSTE_decrypt_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2);
void GOSTE_mac_block(const GOSTE* ctx, std::uint32_t* n1, std::uint32_t* n2);

// A worker: (ctx, in, out or null for in place, len) -> bytes handled.
using GosteWorker = long (*)(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);

// CryptoPro key meshing (RFC 4357, 2.3.2) on a context with a masked key:
// key := D_key(C); with GOSTE_MESH_IV also the register carrying the IV
// (N3, N4 in counter mode, else N1, N2) is encrypted under the new key.
// 0 on failure, with the key wiped.
int GOSTE_key_meshing(GOSTE* ctx);
// Runs worker over the data, meshing the key each time 1,024 bytes have
// passed when the mode word asks for it. Returns the bytes handled, or 0 when
// any piece fails (worker or meshing): a failed call never looks processed.
long GOSTE_process_meshed(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len,
                          GosteWorker worker);
// Runs the data through the worker of the context's mode (ECB, counter, CFB
// by direction, MAC, CBC) with meshing. 0 with error class 10 for an unknown
// mode, 1 for null context or input.
long GOSTE_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);

// CryptoPro key diversification by an 8-byte UKM (RFC 4357, 6.5) with the
// given set (null: cipher default). The key is taken with its byte order
// reversed; the result is in the cipher's order. Returns out, or null (error
// class 1 for null arguments).
unsigned char* GOSTE_key_diversify(const unsigned char* ukm8, const unsigned char* key32,
                                   unsigned char* out32, const unsigned char* sbox);

}  // namespace cadb
