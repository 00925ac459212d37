// Content-key wraps of the key-agreement recipients and the X9.42 key
// derivation that makes their key-encryption keys.
//
// Every wrap and unwrap takes (KEK, input key, its length, output, in/out
// length, cipher) and returns 1/0. For a too small output the needed length
// is written to *out_len (reason 126) so the caller can retry; a failure
// writes no key bytes.
#pragma once

#include <openssl/evp.h>

#include <cstddef>

namespace cadb {

// RFC 3217 Triple-DES key wrap: 24-byte key (odd parity set) in, 40 out.
int CMS_3des_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                  unsigned char* out, int* out_len, const EVP_CIPHER* cipher = nullptr);
int CMS_3des_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                    unsigned char* out, int* out_len, const EVP_CIPHER* cipher = nullptr);

// The same construction over a GOST 28147-89 cipher (RUS-GAMMAR or
// RUS-GAMMAR-CP): 32-byte key in, 48 out, the ICV from GOST R 34.11-94.
int CMS_gost_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                  unsigned char* out, int* out_len, const EVP_CIPHER* cipher);
int CMS_gost_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                    unsigned char* out, int* out_len, const EVP_CIPHER* cipher);

// The key encrypted by the cipher under the KEK with a zero IV, rounded up
// to whole blocks; no integrity check of its own.
int CMS_dummy_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                   unsigned char* out, int* out_len, const EVP_CIPHER* cipher);
int CMS_dummy_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                     unsigned char* out, int* out_len, const EVP_CIPHER* cipher);

// RFC 2631 2.1.2: key_len bytes of KEK from the shared value z for the wrap
// algorithm wrap_nid, with the UKM as partyAInfo when given. Returns key_len,
// or 0.
int X942_KEK_GENERATE(const EVP_MD* md, const unsigned char* z, int z_len, int wrap_nid,
                      unsigned char* out, int key_len, const unsigned char* ukm, int ukm_len);

}  // namespace cadb
