// Content-key encryption per recipient: GOST key transport (VKO GOST R
// 34.10-2001 and -94), RSA, and ephemeral-static agreement for DSA, GOST R
// 34.10-94 and GOST R 34.10-2001 keys with the X9.42 KEK and a key wrap.
//
// Encryption writes at most out_size bytes and returns their number; the
// decryptions return the content key's length. 0 or less on failure, with
// nothing of a key left in out.
#pragma once

#include <openssl/evp.h>

#include "crypto/pkcs7/p7_recip.h"

namespace cadb {

// The largest encrypted key the engine handles per recipient.
constexpr int PKCS7_MAX_ENCRYPTED_KEY = 1024;

// GOST key types 271 and 272 only: a 32-byte key under GostR3410-KeyTransport.
int PKCS7_CEK_ENCRYPT_gost(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                           PKCS7_RECIP_INFO* ri);
int PKCS7_CEK_DECRYPT_gost(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                           PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey);

// Form 1 (explicit key agreement) ...
int PKCS7_CEK_ENCRYPT(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                      PKCS7_RECIP_INFO* ri, const EVP_CIPHER* cipher);
int PKCS7_CEK_DECRYPT(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                      PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey);
// ... and forms 0 and 2.
int PKCS7_CEK_ENCRYPT2(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                       PKCS7_RECIP_INFO* ri, const EVP_CIPHER* cipher);
int PKCS7_CEK_DECRYPT2(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                       PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey);

}  // namespace cadb
