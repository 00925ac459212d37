// Fingerprints by which keys and names are matched: GOST R 34.11-94 (default
// hash parameters) over the key bytes of a SubjectPublicKeyInfo, or over the
// DER of a name.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include "crypto/cadb/buffer.h"

namespace cadb {

inline constexpr int kFingerprintSize = 32;

// Library 11 (X.509) function code of the key digest.
inline constexpr int X509_F_X509_PUBKEY_DIGEST = 197;

// The digest md of the subjectPublicKey BIT STRING contents (the key bytes,
// without the unused-bits octet) into out (EVP_MAX_MD_SIZE bytes of room);
// *len, when given, receives its size. 1/0.
int X509_PUBKEY_digest(const X509_PUBKEY* key, const EVP_MD* md, unsigned char* out,
                       unsigned int* len);

// Over the subjectPublicKey BIT STRING contents (without the unused-bits
// octet) of the key's SubjectPublicKeyInfo.
BUFFER* FINGER_PRINT_get(EVP_PKEY* key);
// The same over an encoded SubjectPublicKeyInfo as it stands: a key whose
// domain parameters are inherited cannot be encoded again, but its
// certificate still carries its bits.
BUFFER* X509_PUBKEY_FINGER_PRINT_get(const X509_PUBKEY* spki);
// Over the DER of the name.
BUFFER* NAME_FINGER_PRINT_get(const X509_NAME* name);

}  // namespace cadb
