// Gost28147-89-Parameters (RFC 4357): SEQUENCE { iv OCTET STRING (8 bytes),
// encryptionParamSet OBJECT IDENTIFIER }, the algorithm parameters of the
// CryptoPro GOST 28147-89 cipher.
#pragma once

#include <openssl/asn1.h>

namespace cadb {

constexpr int GOST_CIPHER_IV_SIZE = 8;

// 1 with the IV and the library's number of the parameter set; -1 when the
// IV is not 8 bytes; 0 for anything else malformed (trailing bytes, an
// unknown object).
int GOST_CIPHER_PARAMS_decode(const ASN1_TYPE* params, unsigned char iv[GOST_CIPHER_IV_SIZE],
                              int* sbox_nid);
// Sets params to the SEQUENCE. 1/0.
int GOST_CIPHER_PARAMS_encode(ASN1_TYPE* params, const unsigned char iv[GOST_CIPHER_IV_SIZE],
                              int sbox_nid);

}  // namespace cadb
