// GOST R 34.10-2001 keys, signatures and key agreement (with the VKO
// computation of RFC 4357), and the DER and byte forms of signatures and keys.
#pragma once

#include <openssl/bn.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "crypto/core/capi_sign.h"
#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/pse/bn_mask.h"

namespace cadb {

struct PSE;
struct PKEY_TOKEN_METHOD;

// Function codes of library 75 for keys, signatures and agreement.
enum EcgostFunc : int {
    ECGOST_F_ECGOST_NEW = 100,
    ECGOST_F_ECGOST_SIG_NEW = 101,
    ECGOST_F_D2I_ECGOST_SIG = 102,
    ECGOST_F_ECDH_GENERATE_KEY = 105,
    ECGOST_F_ECDH_COMPUTE_KEY = 106,
    ECGOST_F_ECDH_NEW = 107,
    ECGOST_F_ECGOST_KEY_PAIR_GENERATION = 108,
    ECGOST_F_ECGOST_SIGN_SETUP = 125,
    ECGOST_F_ECGOST_DO_SIGN = 126,
    ECGOST_F_ECGOST_DO_VERIFY = 131,
    ECGOST_F_ECGOST_DH_INIT = 139,
    ECGOST_F_ECGOST_DH_GENERATE_KEY = 140,
    ECGOST_F_ECGOST_DH_COMPUTE_KEY = 141,
    ECGOST_F_ECGOST_GENERATE_KEY = 144,
    ECGOST_F_I2D_ECGOST_SIG = 149,
    ECGOST_F_ECGOST_GENERATE_PUBKEY = 150,
    ECGOST_F_ECGOST_ENCRYPT_OPAQUE = 151,
    ECGOST_F_ECGOST_DECRYPT_OPAQUE = 152,
};

// Reasons of library 75.
enum EcgostReason : int {
    ECGOST_R_INVALID_PARAMETERS = 100,
    ECGOST_R_ZERO_R = 101,
    ECGOST_R_R_TOO_BIG = 102,
    ECGOST_R_ZERO_S = 103,
    ECGOST_R_S_TOO_BIG = 104,
    ECGOST_R_SIGNATURE_FAILURE = 105,
    ECGOST_R_UNSUPPORTED_FIELD_TYPE = 106,
    ECGOST_R_K_IS_ZERO = 107,
};

// Library 13 function codes of the key decoders.
enum EcgostAsn1Func : int {
    ASN1_F_D2I_ECGOSTPARAMS = 170,
    ASN1_F_D2I_ECGOSTPRIVATEKEY = 171,
    ASN1_F_D2I_ECGOSTPUBLICKEY = 172,
};

// Signature-algorithm identifiers that select a byte form.
constexpr int ECGOST_SIG_RAW = 0;                  // r || s
constexpr int ECGOST_SIG_CRYPTOPRO = 273;          // s || r, 64 bytes
constexpr int ECGOST_DEFAULT_PARAMSET = 283;       // CryptoPro A
constexpr int ECGOST_DEFAULT_HASH_PARAMSET = 275;  // CryptoPro hash set

// Flag of the generation calls: write the public point compressed.
constexpr int ECGOST_FLAG_COMPRESSED = 2;

struct ECGOST {
    // First content byte of the private key's version INTEGER.
    int version = 0;
    ECURVE* curve = nullptr;  // counted reference
    // The private number, masked; for an opaque key the 32 wrapped bytes.
    BnMaskedPtr d;
    // The 4-byte check value of the wrapped key; present exactly when the key
    // is opaque (a check value may well be 0).
    std::optional<std::uint32_t> check;
    EcPointPtr Q;
    // A public key read before its curve was known.
    std::vector<unsigned char> encoded_pub;
    // A pair from ECGOST_sign_setup, used once by the next signature.
    BnMaskedPtr k;
    BnPtr r;
    PSE* pse = nullptr;  // counted reference
    std::atomic<int> references{1};
    int nid = ECGOST_DEFAULT_PARAMSET;
    int hash_nid = ECGOST_DEFAULT_HASH_PARAMSET;
    int cipher_nid = 0;
    // A CryptoAPI provider holding the private key: ECGOST_sign then asks
    // it to sign.
    CAPI_KEY_REF capi;
    // A key whose private half stays on a token: the method that signs,
    // agrees and hashes there, its data (released with the key) and flags.
    const PKEY_TOKEN_METHOD* token_method = nullptr;
    void* token_data = nullptr;
    int token_flags = 0;
};

struct ECGOST_SIG {
    BnPtr r, s;
};

// Keys.
ECGOST* ECGOST_new();
// A key on c (null: the process default curve) with an empty private number
// and a new point; takes a reference on c.
ECGOST* ECGOST_new_by_curve(ECURVE* c);
ECGOST* ECGOST_up_ref(ECGOST* key);
void ECGOST_free(ECGOST* key);
// Replaces the key's curve by the built-in set of nid (283..287, 191) and
// moves the public point onto it.
int ECGOST_set_curve_by_nid(ECGOST* key, int nid);
int ECGOST_set_pse(ECGOST* key, PSE* pse);
// Stores a clear private number (masked at once).
int ECGOST_set_private(ECGOST* key, const BIGNUM* d);
// A clear copy of the private number (caller frees with BN_clear_free).
BIGNUM* ECGOST_get_private(const ECGOST* key);
int ECGOST_key_pair_generation(ECGOST* key);
// Wraps the private number under the key store's KEK (pse, or else the
// key's own; a given store is attached to a key that has none): d becomes
// the 32 wrapped bytes and check the 4-byte check value. An opaque key is
// left as it is. Holds the key lock throughout.
int ECGOST_encrypt_opaque(ECGOST* key, PSE* pse);
// The reverse; a plain key is left as it is. The clear number is masked.
int ECGOST_decrypt_opaque(ECGOST* key, PSE* pse);
// A key pair on the curve of code, its private number wrapped under pse:
// out36 = wrapped key (32 bytes) then check value (4 bytes, big-endian);
// *point_len in: room at point_out, out: the length of the public point in
// octet form (compressed with ECGOST_FLAG_COMPRESSED). Room too small fails
// the whole call, which tells the length. On failure out36 is zeroed.
int ECGOST_generate_key(PSE* pse, int code, unsigned char* out36, unsigned char* point_out,
                        std::size_t* point_len, int flags);
int ECGOST_generate_pubkey(ECGOST* key);
// Decodes encoded_pub onto the key's curve (octet form, or x || y
// little-endian when it has the length of two coordinates).
int ECGOST_decode_pubkey(ECGOST* key);

// Signatures over a digest (read big-endian).
ECGOST_SIG* ECGOST_SIG_new();
void ECGOST_SIG_free(ECGOST_SIG* sig);
// Draws k (or reads it from kbytes) and computes r. With k_out and r_out
// both null the pair is kept in the key for the next signature.
int ECGOST_sign_setup(ECGOST* key, const unsigned char* kbytes, std::size_t klen, BIGNUM** k_out,
                      BIGNUM** r_out);
ECGOST_SIG* ECGOST_do_sign(const unsigned char* dgst, std::size_t len, ECGOST* key);
// 1 valid, 0 not valid, -1 error.
int ECGOST_do_verify(const unsigned char* dgst, std::size_t len, const ECGOST_SIG* sig,
                     ECGOST* key);

// Signature byte forms chosen by the signature-algorithm identifier: 0 raw
// r || s, 273 the 64-byte s || r, anything else DER.
int i2d_ECGOST_SIG(const ECGOST_SIG* sig, unsigned char** out);
ECGOST_SIG* d2i_ECGOST_SIG(ECGOST_SIG** sig, const unsigned char** in, long len);
// Writes the form of type; with a null out returns the length needed. 0 on
// failure.
std::size_t ECGOST_SIG_to_bytes(const ECGOST_SIG* sig, int type, const ECURVE* c,
                                unsigned char* out, std::size_t out_len);
ECGOST_SIG* ECGOST_SIG_from_bytes(int type, const unsigned char* in, std::size_t len);
// Sign into sig (*sig_len in: room, out: length written); 1/0.
int ECGOST_sign(int type, const unsigned char* dgst, std::size_t dlen, unsigned char* sig,
                std::size_t* sig_len, ECGOST* key);
// 1 only for a valid signature.
int ECGOST_verify(int type, const unsigned char* dgst, std::size_t dlen, const unsigned char* sig,
                  std::size_t sig_len, ECGOST* key);

// DER of keys. Parameters: the X9.62 choice of a named set (OBJECT
// IDENTIFIER), an explicit prime curve, or NULL (implicit: the key keeps
// its curve). Private key: SEQUENCE { version, parameters, OCTET STRING
// public point, INTEGER d or SEQUENCE { wrapped key, check value } }. Public
// key: OCTET STRING of the point, read into encoded_pub and decoded once the
// key has a curve. The decoders fill *key when given (and a new key
// otherwise), advance *in, and take exactly one element of len bytes.
int i2d_ECGOSTparams(const ECGOST* key, unsigned char** out);
ECGOST* d2i_ECGOSTparams(ECGOST** key, const unsigned char** in, long len);
int i2d_ECGOSTPrivateKey(const ECGOST* key, unsigned char** out);
ECGOST* d2i_ECGOSTPrivateKey(ECGOST** key, const unsigned char** in, long len);
int i2d_ECGOSTPublicKey(const ECGOST* key, unsigned char** out);
ECGOST* d2i_ECGOSTPublicKey(ECGOST** key, const unsigned char** in, long len);

// Key agreement context.
enum EcdhCofactorMode : int {
    ECDH_COFACTOR_NONE = 0,
    ECDH_COFACTOR_MULTIPLY = 1,
    // Multiplies by the cofactor and by its inverse modulo q: the same
    // result as mode 0 for points of order q, none of a small subgroup's.
    ECDH_COFACTOR_COMPATIBLE = 2,
};

struct ECDH {
    ECURVE* curve = nullptr;  // counted reference
    BnMaskedPtr d;
    EcPointPtr pub;
    BnMaskedPtr result;
    int mode = ECDH_COFACTOR_NONE;
    std::atomic<int> references{1};
    // Set on the contexts of the self test, which it never tests again.
    std::uint32_t marker = 0;
};

ECDH* ECDH_new(ECURVE* c, int mode);
void ECDH_free(ECDH* dh);
int ECDH_size(const ECDH* dh);
int ECDH_point_size(const ECDH* dh);
ECDH* ECGOST_dup_ECDH(const ECGOST* key);
int ECDH_generate_key(ECDH* dh);
// Validates the peer point, then result := x(k·peer).
int ECDH_compute_key(const ECPOINT* peer, ECDH* dh);
// A clear copy of the shared number, or null.
BIGNUM* ECDH_get_result(const ECDH* dh);
// K := (ukm·d mod q)·peer (ukm null: d·peer); a new point, or null.
ECPOINT* ECDH_compute_vko(const ECPOINT* peer, const BIGNUM* ukm, ECDH* dh);

// The key-agreement self test: two contexts (cofactor mode 2) on a small
// curve with cofactor 4 agree on a secret. Runs after the parameter check,
// at most once a second; 1 at once for a context of the test itself. A
// failure reports (GOSTS, 140, self-testing error) with error class 12.
constexpr int GOSTS_F_ECGOST_DH_CHECK = 140;
int ECGOST_DH_check(const ECDH* dh);
// A context for the byte-string wrappers, after the self test.
ECDH* ECGOST_DH_init(ECURVE* c, int mode);

// The wrappers over byte strings. Point bytes are in octet form.
int ECGOST_DH_generate_key(ECDH* dh, PSE* pse, const unsigned char* key36,
                           const unsigned char* point, std::size_t point_len, unsigned char* out,
                           std::size_t* out_len, int flags);
int ECGOST_DH_compute_key(ECDH* dh, const unsigned char* peer, std::size_t peer_len);
// Also writes the shared number, minimal big-endian.
int ECGOST_DH_compute_key_out(ECDH* dh, const unsigned char* peer, std::size_t peer_len,
                              unsigned char* out, std::size_t* out_len);

}  // namespace cadb
