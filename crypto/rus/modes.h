// The ways of running a GOSTE context over data: simple substitution (ECB),
// counter gamma, gamma with feedback (CFB), CBC, and the MAC.
//
// Every init returns 1/0 and sets only what it names (key, S-box, direction,
// the register when an IV is given, the mode when the mode word is still 0).
// Everything else keeps its value, so a new message starts from GOSTE_new or
// after GOSTE_cleanup. A null S-box set means the cipher default set.
//
// Workers take (ctx, in, out, len) and return the bytes handled, 0 on failure
// (error class 1 for a null context or input or len <= 0). out may be null or
// equal to in for in-place work. State is carried between calls, so counter,
// CFB and MAC data may be split at any byte.
//
// CBC has no init of its own: set ctx->mode = GOSTE_MODE_CBC on a fresh
// context, call GOSTE_ss_init with the direction, and put the IV in N1
// (bytes 0-3, little-endian) and N2 (bytes 4-7).
#pragma once

#include <cstdint>

#include "crypto/rus/goste.h"

namespace cadb {

int GOSTE_ss_init(GOSTE* ctx, int direction, const unsigned char* key32, const unsigned char* sbox);
int GOSTE_gamma_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                     const unsigned char* sbox);
int GOSTE_gamma_fb_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                        const unsigned char* sbox);
// CFB with CryptoPro key meshing and IV meshing every 1,024 bytes; a null set
// means the process default set (CryptoPro A).
int GOSTE_gamma_fb_cp_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                           const unsigned char* sbox);
int GOSTE_mac_init(GOSTE* ctx, const unsigned char* key32, const unsigned char* sbox);
int GOSTE_mac_init_iv(GOSTE* ctx, const unsigned char* key32, const unsigned char* iv8,
                      const unsigned char* sbox);

// ECB and CBC work in whole blocks: the result is len rounded up to a
// multiple of 8, and out (or in, when working in place) must hold that many
// bytes. Only len bytes of in are read when working out of place; the tail
// of the last block is whatever out holds there.
long GOSTE_ss_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
long GOSTE_cbc_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
// Block workers: nblocks whole blocks, in place when out is null.
long GOSTE_ss_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long nblocks);
long GOSTE_cbc_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long nblocks);

// Counter gamma (encryption and decryption are the same).
long GOSTE_gamma_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
// CFB encryption and decryption, without meshing ...
long GOSTE_gamma_fbe_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
long GOSTE_gamma_fbd_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
// ... and with the meshing the mode word asks for.
long GOSTE_gamma_fbe_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
long GOSTE_gamma_fbd_process(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);

// MAC: feed data (out is ignored), then take up to 32 bits.
long GOSTE_mac_update(GOSTE* ctx, const unsigned char* in, unsigned char* out, long len);
long GOSTE_mac_process(GOSTE* ctx, const unsigned char* in, long len);
// Writes (nbits + 7) / 8 bytes: the top nbits of the MAC in their low bits,
// least significant byte first; nbits outside 1..32 means 32. Returns the
// bytes written, 0 on failure. A message of at most one block is followed by
// one zero block.
int GOSTE_mac_final(GOSTE* ctx, unsigned char* out, int nbits);
// One-shot 32-bit MAC on ctx (a temporary context when null). Returns out,
// or, when out is null, a 4-byte buffer of the calling thread that the next
// call on this thread overwrites; null on failure.
unsigned char* GOSTE_mac(GOSTE* ctx, const unsigned char* data, long len,
                         const unsigned char* key32, const unsigned char* sbox, unsigned char* out);

}  // namespace cadb
