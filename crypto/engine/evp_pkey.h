// The generic key layer's own functions over every key type the library
// knows: public-key checks, the key store a GOST key is wrapped under, the
// missing public key, and reading a private key from memory in any of the
// forms the library writes or accepts.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>

#include "crypto/pse/pse.h"

namespace cadb {

// Function codes of library 6 (EVP) and its reasons.
enum EvpPkeyFunc : int {
    EVP_PKEY_F_ENCRYPT_OPAQUE = 118,
    EVP_PKEY_F_DECRYPT_OPAQUE = 119,
    EVP_PKEY_F_GENERATE_PUBKEY = 120,
    EVP_PKEY_F_LOAD_PRIVATE = 122,
    EVP_PKEY_F_CHECK_PUBKEY = 124,
};
enum EvpPkeyReason : int {
    EVP_PKEY_R_DECODE = 13,
    EVP_PKEY_R_UNSUPPORTED_TYPE = 127,
    EVP_PKEY_R_NO_PASSWORD_CALLBACK = 129,
};

// The form a private key was read from.
enum EvpLoadForm : int {
    EVP_LOAD_FORM_NONE = 0,
    EVP_LOAD_FORM_BARE_DER = 1,
    EVP_LOAD_FORM_PKCS8 = 3,
    EVP_LOAD_FORM_ENCRYPTED_PKCS8 = 4,
};

// 1 when the public key is sound: DSA and GOST R 34.10-94 y present, nonzero
// and below p (with full set also y^q mod p = 1); GOST R 34.10-2001 Q a
// finite point on the curve (with full set also of order q); RSA always.
// Other types: (6, 124, 127); a failed check: (6, 124, 12).
int EVP_PKEY_check_pubkey(const EVP_PKEY* pkey, int full);

// Attaches a key store to a GOST key (taking a reference). 1/0.
int EVP_PKEY_set_pse(EVP_PKEY* pkey, PSE* store);

// Wraps a GOST key's private key under a key store's key-encryption key
// (store, or else the key's own; a given store is attached to a key that has
// none), or unwraps it. A key already in the asked form is left as it is.
// Failures: (6, 118 or 119, 74).
int EVP_PKEY_encrypt_opaque(EVP_PKEY* pkey, PSE* store);
int EVP_PKEY_decrypt_opaque(EVP_PKEY* pkey, PSE* store);

// Computes the missing public key of a GOST key; a key that has one is left
// as it is. A wrapped private key is unwrapped under the key store (store,
// or else the key's own) for the computation and wrapped again. Failure:
// (6, 120, 12).
int EVP_PKEY_generate_pubkey(EVP_PKEY* pkey, PSE* store);

// Reads a private key from len bytes, trying in turn: password-encrypted
// PKCS#8 (the password asked once through cb into a 1,024-byte buffer;
// without cb (6, 122, 129)), plain PKCS#8, the bare private-key DER of the
// types 181, 177, RSA and DSA, and last PEM (its password through cb). Every
// form must take all len bytes. Notes the form in the key and attaches store
// when given. Failure: (6, 122, 13), null.
EVP_PKEY* EVP_PKEY_load_private(const unsigned char* bytes, long len, PSE* store,
                                pem_password_cb* cb, void* arg);
// The form EVP_PKEY_load_private read the key from, else 0.
int EVP_PKEY_get_load_form(const EVP_PKEY* pkey);

}  // namespace cadb
