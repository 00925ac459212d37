// The GOST digest and cipher records of libcrypto's EVP layer. Records carry
// libcrypto's object numbers (the registry translates); they are published
// through the library's engine and found by name, alias and OID once
// ENGINE_load_cadb has run.
#pragma once

#include <openssl/evp.h>

#include <span>

namespace cadb {

// GOST 28147-89 MAC, 32 bits. The context starts without a key: load key and
// S-box with GOSTE_mac_init on EVP_MD_CTX_md_data before the first update.
const EVP_MD* EVP_gost_mac();
// GOST R 34.11-94 with the hash default S-box; signatures in DER.
const EVP_MD* EVP_rus_hash();
// GOST R 34.11-94 with the CryptoPro S-box and empty-message rule; the
// CryptoPro 64-byte signature form.
const EVP_MD* EVP_rus_hash_cp();
const EVP_MD* EVP_r3411_with_r3410_cp();
const EVP_MD* EVP_ecr3410_r3411();
const EVP_MD* EVP_r3411_with_ecr3410_cp();

// GOST 28147-89 simple substitution (ECB), counter gamma, gamma with
// feedback (CFB), and CFB with CryptoPro key meshing and parameters.
const EVP_CIPHER* EVP_rus_change();
const EVP_CIPHER* EVP_rus_gamma();
const EVP_CIPHER* EVP_rus_gammar();
const EVP_CIPHER* EVP_rus_gammar_cp();

// Everything the engine publishes, the digests including the unexported
// GOST R 34.10-94 signature digest.
std::span<const EVP_MD* const> EVP_gost_digests();
std::span<const EVP_CIPHER* const> EVP_gost_ciphers();

// Enters the records' names (libcrypto's and the library's own) and the
// aliases into libcrypto's name table. 1/0.
int EVP_add_gost_names();

}  // namespace cadb
