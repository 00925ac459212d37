// Diffie-Hellman key agreement over a GOST R 34.10-94 group.
#pragma once

#include <cstdint>

#include "crypto/bn/bn_ptr.h"
#include "crypto/r3410/r3410.h"

namespace cadb {

struct R3410_DH {
    BnPtr p, q, g;        // the group: g = a of the key, of order q
    BnPtr pub;            // own public value g^priv mod p
    BnMaskedPtr priv;     // own private number
    BnMaskedPtr result;   // the last shared number
    uint32_t marker = 0;  // set on contexts made by the self test
};

R3410_DH* R3410_DH_new();
void R3410_DH_free(R3410_DH* dh);
// A context on the key's group holding copies of its public and private
// numbers (a key without a private number gives a context without one).
R3410_DH* R3410_dup_DH(const GOSTS* key);
// Byte length of p: the size of public values and shared numbers.
int R3410_DH_size(const R3410_DH* dh);
// Makes the own pair when the context has no private number (and the public
// value when only that is missing), then writes the public value, big-endian
// in R3410_DH_size bytes, to out when out is given.
int R3410_DH_generate_key(R3410_DH* dh, unsigned char* out);
// Computes peer^priv mod p from the peer's big-endian public value and keeps
// it in the context. A peer value outside 1 < y < p - 1 or not of order q is
// refused.
int R3410_DH_compute_key(R3410_DH* dh, const unsigned char* peer, int peer_len);
// As R3410_DH_compute_key, then writes the shared number big-endian in
// R3410_DH_size bytes; *out_len gives the room and receives the length.
int R3410_DH_compute_key_out(R3410_DH* dh, const unsigned char* peer, int peer_len,
                             unsigned char* out, int* out_len);
// Key-agreement self test: the parameter tables pass their integrity check,
// and two contexts on the built-in test group agree on a shared number. 1 at
// once for a context the test made.
int R3410_DH_check(const R3410_DH* dh);

}  // namespace cadb
