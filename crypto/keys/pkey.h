// PKEY: a private or public key of any type the library knows (RSA, DSA,
// GOST R 34.10-94, GOST R 34.10-2001), shared by reference count, with its
// fingerprint; PKEY_PARAMS: domain parameters kept for key generation. Keys
// are generated in memory or, for the GOST types, inside a key store, and are
// encoded and read in every key-file form: the traditional DER and PEM of
// each type, PKCS#8 plain and password-encrypted, and the opaque form in
// which a GOST private key travels wrapped under a key store.
#pragma once

#include <openssl/evp.h>

#include "crypto/cadb/buffer.h"
#include "crypto/pse/pse.h"

namespace cadb {

// Library 66 (CADB) function codes of keys and the private-key context.
enum CadbPkeyFunc : int {
    CADB_F_PKEY_PARAMS_NEW = 400,
    CADB_F_PKEY_PARAMS_GENERATE = 401,
    CADB_F_PKEY_NEW = 402,
    CADB_F_PKEY_GENERATE = 403,
    CADB_F_PKEY_SPLIT = 404,
    CADB_F_PKEY_READ_BUFFER = 405,
    // Codes without a name text.
    CADB_F_PKEY_GET = 406,
    CADB_F_PKEY_CTX_NEW = 407,
    CADB_F_PKEY_CTX_SET = 408,
    CADB_F_PKEY_CTX_GENERATE = 409,
    CADB_F_PKEY_CTX_READ = 410,
    CADB_F_PKEY_CTX_WRITE = 411,
};

// Key-file forms of PKEY_get: the type's own (traditional) structure, or
// PKCS#8 (any other value).
inline constexpr int PKEY_FORM_TRADITIONAL = 1;
inline constexpr int PKEY_FORM_PKCS8 = 2;

// PKEY state: a GOST R 34.10-94 key read from storage without a private
// number.
inline constexpr int PKEY_STATE_NO_PRIVATE = 2;

// Progress of parameter and RSA key generation: (stage, count, argument).
using PKEY_PROGRESS_CB = void (*)(int stage, int count, void* arg);

struct PKEY_PARAMS {
    int type;              // 116 DSA or 177 GOST R 34.10-94
    int size;              // bits asked for
    EVP_PKEY* parameters;  // owned; carries only the parameters
};

struct PKEY {
    int type;                  // key type; rsaEncryption (6) recorded as 19 when read
    int size;                  // bits, as the key object reports them
    int state;                 // PKEY_STATE_NO_PRIVATE or 0
    EVP_PKEY* key;             // one reference
    BUFFER* fingerprint;       // GOST R 34.11-94 over the public key bits
    const EVP_CIPHER* cipher;  // replaces the default cipher of written files; not owned
    int references;            // under lock 5
};

PKEY_PARAMS* PKEY_PARAMS_new();
void PKEY_PARAMS_clear(PKEY_PARAMS* params);
void PKEY_PARAMS_free(PKEY_PARAMS* params);
// New parameters: 116 DSA with p of bits bits, 177 GOST R 34.10-94 with p of
// bits bits and a 256-bit q. Sizes outside the algorithm table (1,024 bits
// for both) are refused before any work.
PKEY_PARAMS* PKEY_PARAMS_generate(int type, int bits, PKEY_PROGRESS_CB cb);

PKEY* PKEY_new();
// Releases key object and fingerprint, zeroes the record (references kept).
void PKEY_clear(PKEY* key);
// Drops one reference; the last frees. Null accepted.
void PKEY_free(PKEY* key);
PKEY* PKEY_up_ref(PKEY* key);

// The key-store parameter code of a GOST type and parameter NID: 177 -> 1;
// 272 -> 3, or 4..9 for 277..282; 181 -> 11; 271 -> 12, or 13..16 for
// 284..287. 0 for a type or set that cannot be generated in a store.
int PKEY_param_code(int type, int n);

// A new key: GOST types inside the key store (the private key comes out
// wrapped under its key-encryption key and is unwrapped in place under it;
// the key keeps a reference to the store), RSA and DSA (and any type given
// parameters) in memory. n: bits for RSA, the parameter-set NID for GOST
// types (0: the type's default).
PKEY* PKEY_generate(int type, int n, PKEY_PROGRESS_CB cb, const PKEY_PARAMS* params, PSE* store);
PKEY* PKEY_generate_soft(int type, int n, PKEY_PROGRESS_CB cb, const PKEY_PARAMS* params);

// A PKEY around a key object (taking a reference): no fingerprint, state 0.
PKEY* PKEY_split(EVP_PKEY* pkey);
// A PKEY around a key read from storage (taking a reference): a wrapped GOST
// private key is unwrapped in place under store (or the key's own), a
// missing public key computed, the key proved to encode and fingerprinted.
PKEY* PKEY_from_EVP(EVP_PKEY* pkey, PSE* store);

// Decodes a private key from len bytes in any key-file form. A password
// asked through cb is tried as the stored password encoding first, then as
// typed. The key store, when given, is attached to the key.
PKEY* PKEY_read_buffer(const unsigned char* bytes, int len, PSE* store, BUFFER_PASSWD_CB cb,
                       void* arg);
// With a password (binary first, then as text up to a zero byte); without,
// PKEY_read_buffer without callback.
PKEY* PKEY_read_buffer_passwd(const unsigned char* bytes, int len, PSE* store, const char* passwd,
                              int passwd_len);

// The private key encoded: format 2 PEM, else DER; form 1 traditional, else
// PKCS#8. With a store, a GOST private key is encoded wrapped under it (the
// store is attached to the key) and unwrapped again afterwards. With a
// callback, traditional PEM and PKCS#8 are password-encrypted.
BUFFER* PKEY_get(PKEY* key, int format, int form, PSE* store, BUFFER_PASSWD_CB cb, void* arg);
BUFFER* PKEY_get_passwd(PKEY* key, int format, int form, PSE* store, const char* passwd,
                        int passwd_len);

// The traditional PEM label of a key type, or null.
const char* PKEY_pem_name(int type);

// The digest a key signs with: RSA the given NID or SHA-1 (64) for 0; DSA
// 116; GOST R 34.10-94 178, 2001 182, the CryptoPro types 273 and 274. No
// key: the given NID.
int PKEY_sign_md(const PKEY* key, int md_nid);

struct GOSTS;
struct ECGOST;
// GOST R 34.10-94 and 34.10-2001 key records read as the bare private-key
// DER from a stream, which must hold nothing else.
GOSTS* d2i_R3410PrivateKey_bio(BIO* in);
ECGOST* d2i_ECGOSTPrivateKey_bio(BIO* in);

}  // namespace cadb
