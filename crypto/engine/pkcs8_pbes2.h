// Password-encrypted PKCS#8 under the PKCS#5 v2 scheme (PBES2) with the
// key-derivation digest as an argument: PBKDF2 over HMAC with GOST R 34.11-94
// or SHA-1, and GOST 28147-89 gamma with feedback or DES-EDE3-CBC.
// libcrypto's own PKCS#8 encryption finds its digests and ciphers through
// providers, which never see the library's GOST records.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

namespace cadb {

// EncryptedPrivateKeyInfo of p8: a random 8-byte salt, iterations (<= 0:
// 2,048), a random IV carried as an OCTET STRING. Null on failure.
X509_SIG* PKCS8_encrypt_pbes2(const EVP_CIPHER* cipher, const EVP_MD* prf, const char* passwd,
                              int passwd_len, int iterations, PKCS8_PRIV_KEY_INFO* p8);

// The PrivateKeyInfo inside sig. PBES2 with a PRF and cipher of the library
// is decrypted here; any other scheme goes to libcrypto. Null on failure
// (a wrong password included); every clear byte is wiped.
PKCS8_PRIV_KEY_INFO* PKCS8_decrypt_pbes2(const X509_SIG* sig, const char* passwd, int passwd_len);

}  // namespace cadb
