// Ephemeral-static key agreement for the content key of DSA, GOST R
// 34.10-94 (177) and GOST R 34.10-2001 (181) recipients: Diffie-Hellman on
// the recipient's group or ECDH on its curve, the X9.42 KEK, and a key wrap.
#pragma once

#include <openssl/evp.h>

#include "crypto/pkcs7/p7_recip.h"

namespace cadb {

// family RECIP_FORM_AGREE: the explicit key-agreement form (1); otherwise
// forms 0 and 2. Results as the PKCS7_CEK_* functions.
int p7_agree_encrypt(int family, unsigned char* out, int out_size, const unsigned char* key,
                     int key_len, PKCS7_RECIP_INFO* ri, EVP_PKEY* pub, const EVP_CIPHER* cipher);
int p7_agree_decrypt(int family, unsigned char* out, int out_size, const unsigned char* in,
                     int in_len, PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey);

}  // namespace cadb
