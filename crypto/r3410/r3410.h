// GOST R 34.10-94: domain parameters, keys, signatures and Diffie-Hellman
// key agreement over the same groups.
#pragma once

#include <openssl/bn.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "crypto/bn/bn_ptr.h"
#include "crypto/core/capi_sign.h"
#include "crypto/pse/bn_mask.h"
#include "crypto/pse/pse.h"

namespace cadb {

// Function codes of library 78 (GOSTS): the key record, signing,
// verification and key agreement.
enum GostsFunc : int {
    GOSTS_F_GOSTS_NEW = 108,
    GOSTS_F_GOSTS_SET_PARAMS = 109,
    GOSTS_F_GOSTS_SIGN = 112,
    GOSTS_F_GOSTS_VERIFY = 113,
    GOSTS_F_GOSTS_DO_SIGN = 114,
    GOSTS_F_GOSTS_DO_VERIFY = 115,
    GOSTS_F_GOSTS_SIGN_SETUP = 116,
    GOSTS_F_GOSTS_GENERATE_PUBKEY = 117,
    GOSTS_F_R3410_SIG_NEW = 118,
    GOSTS_F_D2I_GOSTS_SIG = 119,
    GOSTS_F_I2D_GOSTS_SIG = 120,
    GOSTS_F_R3410_DUP_DH = 131,
    GOSTS_F_R3410_DH_GENERATE_KEY = 132,
    GOSTS_F_R3410_DH_COMPUTE_KEY = 133,
    GOSTS_F_R3410_DH_CHECK = 138,
};

// Function codes of library 65 (R3410): parameter generation, the wrapped
// key forms and the signature DER.
enum R3410Func : int {
    R3410_F_R3410_GEN_PARAMS = 100,
    R3410_F_R3410_PROC_A = 101,
    R3410_F_R3410_PROC_B = 102,
    R3410_F_R3410_PROC_C = 103,
    R3410_F_R3410_SET_PARAMS = 104,
    R3410_F_R3410_IS_PRIME = 106,
    R3410_F_R3410_TEST_PRIME = 107,
    R3410_F_I2D_R3410_SIG = 108,
    R3410_F_D2I_R3410_SIG = 109,
    R3410_F_I2D_R3410PARAMS = 110,
    R3410_F_D2I_R3410PARAMS = 111,
    R3410_F_I2D_R3410PRIVATEKEY = 112,
    R3410_F_D2I_R3410PRIVATEKEY = 113,
    R3410_F_I2D_R3410PUBLICKEY = 114,
    R3410_F_D2I_R3410PUBLICKEY = 115,
    R3410_F_R3410_GENERATE_PUBKEY = 118,
    R3410_F_R3410_ENCRYPT_OPAQUE = 119,
    R3410_F_R3410_DECRYPT_OPAQUE = 120,
    R3410_F_R3410_GENERATE_KEY = 121,
    R3410_F_R3410_SET_PSE = 122,
};

// Reasons shared by libraries 65 and 78; 106-108 are used by 78 only.
enum R3410Reason : int {
    R3410_R_INVALID_LENGTH_OF_P_AND_Q = 100,
    R3410_R_S_IS_ZERO = 101,
    R3410_R_R_IS_ZERO = 102,
    R3410_R_S_TOO_BIG = 103,
    R3410_R_R_TOO_BIG = 104,
    R3410_R_INVALID_PRIVATE_KEY = 105,
    GOSTS_R_INVALID_K = 106,
    GOSTS_R_INVALID_LENGTH_OF_P = 107,
    GOSTS_R_INVALID_DOMAIN_PARAMETERS = 108,
};

// Parameter-set object numbers.
enum R3410Nid : int {
    NID_CRYPTOPRO_GOSTR3411_94_WITH_GOSTR3410_94 = 274,
    NID_CRYPTOPRO_GOSTR3411_94_PARAMSET = 275,
    NID_CRYPTOPRO_R3410_94_A = 276,
    NID_CRYPTOPRO_R3410_94_B = 277,
    NID_CRYPTOPRO_R3410_94_C = 278,
    NID_CRYPTOPRO_R3410_94_D = 279,
    NID_CRYPTOPRO_R3410_94_XCHA = 280,
    NID_CRYPTOPRO_R3410_94_XCHB = 281,
    NID_CRYPTOPRO_R3410_94_XCHC = 282,
};

// Codes of the built-in parameter sets (R3410_set_params_by_code).
enum R3410ParamCode : int {
    R3410_PARAMS_DEFAULT = 1,
    R3410_PARAMS_CRYPTOPRO_A = 3,
    R3410_PARAMS_CRYPTOPRO_B = 4,
    R3410_PARAMS_CRYPTOPRO_C = 5,
    R3410_PARAMS_CRYPTOPRO_D = 6,
    R3410_PARAMS_CRYPTOPRO_XCHA = 7,
    R3410_PARAMS_CRYPTOPRO_XCHB = 8,
    R3410_PARAMS_CRYPTOPRO_XCHC = 9,
    R3410_PARAMS_SECOND = 10,
};

struct PseRefDeleter {
    void operator()(PSE* pse) const { PSE_free(pse); }
};
// One counted reference to a key store.
using PseRef = std::unique_ptr<PSE, PseRefDeleter>;

// A GOST R 34.10-94 key. Numbers are owned; a missing one is null.
struct GOSTS {
    int32_t version = 0;
    int32_t flags = 1;
    BnPtr p, q, a;  // domain parameters
    BnPtr y;        // public key a^x mod p
    // The private key, masked, or in the wrapped form the 32-byte wrapped key
    // read big-endian. A clear private key lives only inside an operation.
    BnMaskedPtr x;
    // The 4-byte check value of a wrapped key. A check value may be 0, so
    // whether the key is wrapped is told by has_check, not by the number.
    BnPtr check;
    bool has_check = false;
    // A signing triple (k, r, x*r) prepared by GOSTS_sign_setup, consumed by
    // the next signature. k and x*r each give away x together with r, so
    // they wait masked like x itself.
    BnMaskedPtr k, xr;
    BnPtr r;
    BnPtr d;  // the number procedure C used to find a
    int32_t bits_p = 0, bits_q = 0;
    uint32_t x0 = 0, c = 0;  // 16-bit generation values of procedures A/B
    PseRef pse;              // the key store the private key is wrapped under
    std::atomic<int32_t> references{1};
    int param_nid = NID_CRYPTOPRO_R3410_94_A;
    int hash_nid = NID_CRYPTOPRO_GOSTR3411_94_PARAMSET;
    int cipher_nid = 0;
    // The public-key encoding carries p, q and a beside y.
    bool write_params = false;
    // A CryptoAPI provider holding the private key: GOSTS_sign then asks it
    // to sign.
    CAPI_KEY_REF capi;
};

// A signature (r, s) and the byte length of q of the key that made it.
struct R3410_SIG {
    BnPtr r, s;
    int qlen = 0;
};

GOSTS* GOSTS_new();
// Drops one reference; the last one wipes and frees the key.
void GOSTS_free(GOSTS* key);
GOSTS* GOSTS_up_ref(GOSTS* key);
// Byte length of p: the size of a public value and of a shared secret.
int GOSTS_size(const GOSTS* key);
// Largest signature any form can take for this key.
int GOSTS_signature_size(const GOSTS* key);

R3410_SIG* R3410_SIG_new();
void R3410_SIG_free(R3410_SIG* sig);

// Built-in parameter sets. Both setters leave a key that already has p, q
// and a unchanged. An unknown code fails (error class 13); an unknown NID
// selects CryptoPro A.
int R3410_set_params_by_code(GOSTS* key, int code);
int R3410_set_params_by_nid(GOSTS* key, int nid);
int R3410_set_default_params(GOSTS* key);

// Parameter generation by the standard's procedures: procedure A for p of
// 510-512 bits, procedure B for p of 1021-1024 bits and q of 255-256 bits,
// then procedure C for a. x0 = 0 and c = 0 are replaced by random values; c
// is made odd. d is hexadecimal after "0x", else decimal; null draws one.
// The callback sees (0, 0) per candidate, (1, 0) per primality stage, (2, 0)
// per prime found and (3, 0) at the end.
using R3410_gen_callback = void (*)(int stage, int n, void* arg);
GOSTS* R3410_gen_params(int bits_p, int bits_q, uint32_t x0, uint32_t c, const char* d,
                        R3410_gen_callback cb, void* cb_arg);
// The standard's primality proof for p = f*m + 1 with f a proven prime:
// 2^(p-1) = 1 and 2^e != 1 modulo p, e = (p - 1) / f. 1 proven prime, 0 not
// proven, -1 error.
int R3410_test_prime(const BIGNUM* p, const BIGNUM* e, BN_CTX* ctx);
// Trial division by the small-prime table: 0 when a small prime divides n
// (and n is not that prime), else 1.
int R3410_is_prime(const BIGNUM* n);

// Compares a digest of the built-in parameter tables with the one taken on
// the first call of the process. 1 when they agree (always on the first
// call), else 0 with error class 12.
int R3410_check_params();

// Replaces the key's key-store reference by one on store (null drops it).
int R3410_set_pse(GOSTS* key, PSE* store);

// Wrapping of the private number under a key store (the given one, else the
// key's own; a given store is attached to a key that has none). A wrapped
// key holds the 32 wrapped bytes and the 4-byte check value. Wrapping a
// wrapped key, or unwrapping a plain one, changes nothing and succeeds.
int R3410_encrypt_opaque(GOSTS* key, PSE* store);
int R3410_decrypt_opaque(GOSTS* key, PSE* store);
// Runs the key-agreement self test, makes a key pair on the coded set and
// wraps it under store; out36 receives the wrapped key (32 bytes) and the
// check value (4 bytes), y128 the public key, big-endian in 128 bytes.
int R3410_generate_key(PSE* store, int code, unsigned char* out36, unsigned char* y128);

// x from the first at most 32 bytes of xbytes reduced mod q, or random in
// [1, q-1] when xbytes is null; then y := a^x mod p.
int GOSTS_generate_pubkey(GOSTS* key, const unsigned char* xbytes, int len);
// y := a^x mod p for a key whose private number is present and clear.
int R3410_generate_pubkey(GOSTS* key);

// Prepares (k, r, x*r) for the next signature; k from kbytes (big-endian,
// reduced mod q) when given, else random.
int GOSTS_sign_setup(GOSTS* key, const unsigned char* kbytes, int klen);
R3410_SIG* GOSTS_do_sign(const unsigned char* dgst, int dlen, GOSTS* key);
// 1 valid, 0 not valid, -1 error.
int GOSTS_do_verify(const unsigned char* dgst, int dlen, const R3410_SIG* sig, GOSTS* key);

// Signature forms, by signature type: 0 r||s, 274 s||r (32 bytes each), any
// other the DER SEQUENCE { r, s }. GOSTS_sign writes at most
// GOSTS_signature_size bytes; GOSTS_verify returns 1 only for a valid one.
int GOSTS_sign(int type, const unsigned char* dgst, int dlen, unsigned char* sig,
               unsigned int* siglen, GOSTS* key);
int GOSTS_verify(int type, const unsigned char* dgst, int dlen, const unsigned char* sig,
                 int siglen, GOSTS* key);
int i2d_R3410_SIG(const R3410_SIG* sig, unsigned char** out);
R3410_SIG* d2i_R3410_SIG(R3410_SIG** sig, const unsigned char** in, long len);
// The 64-byte CryptoPro form: s then r, 32 bytes each, big-endian.
R3410_SIG* d2i_GOSTS_SIG(R3410_SIG** sig, const unsigned char** in, long len);
int i2d_GOSTS_SIG(const R3410_SIG* sig, unsigned char** out);

// DER of parameters: SEQUENCE { p, q, a, SEQUENCE { x0, c } or NULL }.
int i2d_R3410params(const GOSTS* key, unsigned char** out);
GOSTS* d2i_R3410params(GOSTS** key, const unsigned char** in, long len);
// DER of private keys: SEQUENCE { version, p, q, a, y, x or SEQUENCE {
// wrapped key, check value } }.
int i2d_R3410PrivateKey(const GOSTS* key, unsigned char** out);
GOSTS* d2i_R3410PrivateKey(GOSTS** key, const unsigned char** in, long len);
// DER of public keys: INTEGER y, or SEQUENCE { y, p, q, a } when the key
// carries its parameters (write_params, set by the decoder when it reads one).
int i2d_R3410PublicKey(const GOSTS* key, unsigned char** out);
GOSTS* d2i_R3410PublicKey(GOSTS** key, const unsigned char** in, long len);
// The CryptoPro public key: OCTET STRING of y, least significant byte first,
// GOSTS_size(key) bytes.
int i2d_R3410_CP_PublicKey(const GOSTS* key, unsigned char** out);
int d2i_R3410_CP_PublicKey(GOSTS* key, const unsigned char** in, long len);

}  // namespace cadb
