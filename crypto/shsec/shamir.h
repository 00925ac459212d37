// Shamir's threshold sharing of a secret of up to 32 bytes over a prime
// field: any t of the shares rebuild it, fewer tell nothing. The parameters
// and each share have DER forms that are written to the media.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdint>
#include <vector>

#include "crypto/bn/bn_ptr.h"

namespace cadb {

enum ShamirFunc : int {
    SHAMIR_F_SHAMIR_SHARED_SECRET_NEW = 106,
    SHAMIR_F_SHAMIR_SHARED_SECRET_ADD_POINT = 107,
    SHAMIR_F_SHAMIR_SHARED_SECRET_GET_POINT = 108,
    SHAMIR_F_SHAMIR_SHARED_SECRET_GET_SECRET = 109,
    SHAMIR_F_SHAMIR_SHARED_SECRET_INIT = 110,
    SHAMIR_F_SHAMIR_SHARED_SECRET_POINT_TO_ASN1 = 115,
    SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1 = 116,
};
// The DER decoders report under the ASN.1 library.
enum ShamirAsn1Func : int {
    ASN1_F_D2I_SHAMIR_SHARED_SECRET_PARAMS = 111,
    ASN1_F_D2I_SHAMIR_SHARED_SECRET_POINT = 112,
};

constexpr std::uint32_t SHAMIR_HAS_COEFFICIENTS = 1;

struct SHAMIR_SHARED_SECRET {
    std::int32_t threshold = 0;    // t, at least 2
    std::int32_t held = 0;         // shares held (x, y)
    std::int32_t secret_bits = 0;  // length of the secret for its check value
    int check_nid = 0;             // NID_hmacWithSHA1 (163) or hmacWithR3411 (180)
    std::vector<unsigned char> check;
    // Coefficients a0..a(t-1) once known; held shares. Sized as they come,
    // never from t alone.
    std::vector<BnPtr> a, x, y;
    BnPtr p;
    BnPtr secret;
    std::uint32_t flags = 0;
};

// A sharing over prime with threshold t >= 2, or null.
SHAMIR_SHARED_SECRET* SHAMIR_SHARED_SECRET_new(const BIGNUM* prime, int t);
void SHAMIR_SHARED_SECRET_free(SHAMIR_SHARED_SECRET* s);
// Shares secret (0 < secret < p): draws the coefficients, forgets held shares.
int SHAMIR_SHARED_SECRET_init(SHAMIR_SHARED_SECRET* s, const BIGNUM* secret);
// A new share at a random non-zero x. A sharing rebuilt from shares solves
// its coefficients first, which needs t held shares.
int SHAMIR_SHARED_SECRET_get_point(SHAMIR_SHARED_SECRET* s, BIGNUM* x, BIGNUM* y);
// Holds one share; refused when t are held, x = 0, x or y >= p, or x is held.
int SHAMIR_SHARED_SECRET_add_point(SHAMIR_SHARED_SECRET* s, const BIGNUM* x, const BIGNUM* y);
// The secret from t held shares (Lagrange at 0), into out.
int SHAMIR_SHARED_SECRET_get_secret(SHAMIR_SHARED_SECRET* s, BIGNUM* out);

// SEQUENCE { version, prime, threshold, secretBits, algorithm, check }
struct SHAMIR_SHARED_SECRET_PARAMS {
    ASN1_INTEGER* version;
    ASN1_INTEGER* prime;
    ASN1_INTEGER* threshold;
    ASN1_INTEGER* secret_bits;
    X509_ALGOR* algorithm;
    ASN1_OCTET_STRING* check;
};
// SEQUENCE { version, x, y }
struct SHAMIR_SHARED_SECRET_POINT {
    ASN1_INTEGER* version;
    ASN1_INTEGER* x;
    ASN1_INTEGER* y;
};

SHAMIR_SHARED_SECRET_PARAMS* SHAMIR_SHARED_SECRET_PARAMS_new();
void SHAMIR_SHARED_SECRET_PARAMS_free(SHAMIR_SHARED_SECRET_PARAMS* p);
SHAMIR_SHARED_SECRET_POINT* SHAMIR_SHARED_SECRET_POINT_new();
void SHAMIR_SHARED_SECRET_POINT_free(SHAMIR_SHARED_SECRET_POINT* p);

// The parameters record of a sharing with its secret: the check value is an
// HMAC under hmacWithSHA1 when digest is SHA-1, hmacWithR3411 (GOST R
// 34.11-94) for any other digest.
SHAMIR_SHARED_SECRET_PARAMS* SHAMIR_SHARED_SECRET_PARAMS_to_asn1(const SHAMIR_SHARED_SECRET* s,
                                                                 const EVP_MD* digest);
SHAMIR_SHARED_SECRET_POINT* SHAMIR_SHARED_SECRET_POINT_to_asn1(const BIGNUM* x, const BIGNUM* y);

int i2d_SHAMIR_SHARED_SECRET_params(const SHAMIR_SHARED_SECRET_PARAMS* p, unsigned char** out);
int i2d_SHAMIR_SHARED_SECRET_point(const SHAMIR_SHARED_SECRET_POINT* p, unsigned char** out);
// Decoders refuse a version other than 0, negative numbers and bytes left
// over after the record.
SHAMIR_SHARED_SECRET_PARAMS* d2i_SHAMIR_SHARED_SECRET_params(SHAMIR_SHARED_SECRET_PARAMS** p,
                                                             const unsigned char** in, long len);
SHAMIR_SHARED_SECRET_POINT* d2i_SHAMIR_SHARED_SECRET_point(SHAMIR_SHARED_SECRET_POINT** p,
                                                           const unsigned char** in, long len);

// The check value of a secret: HMAC with key and message both the secret as
// ceil(bits / 8) big-endian bytes; SHA-1 for NID 163, GOST R 34.11-94 for
// NID 180. Empty on failure.
std::vector<unsigned char> SHAMIR_check_value(int check_nid, const BIGNUM* secret, int bits);

}  // namespace cadb
