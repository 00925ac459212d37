// Prime-field elliptic curves y^2 = x^3 + a·x + b (mod p) with a base point
// of prime order, points in affine or Jacobian form, their arithmetic,
// encodings and validity tests, and the built-in parameter sets.
#pragma once

#include <openssl/bn.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <vector>

#include "crypto/bn/bn_ptr.h"

namespace cadb {

struct ECURVE;
struct ECPOINT;
struct ECPOINT_FBW;
struct EC_PARAMS;

enum EcForm : int { EC_FORM_AFFINE = 0, EC_FORM_PROJECTIVE = 1 };

// Curve flag bit 0: a = p - 3, which lets doubling save a multiplication.
constexpr unsigned ECURVE_FLAG_A_IS_MINUS_3 = 1;
// Curve flag bit 1: the curve was set up from a parameter-set record that
// gives its cofactor, so its group has exactly q·h points. With h = 1 every
// finite point on the curve then has the prime order q, and the public-key
// test needs no multiplication by q. Curves read from explicit parameters
// never carry it: their cofactor is only claimed.
constexpr unsigned ECURVE_FLAG_KNOWN_GROUP_ORDER = 2;

// Built-in parameter-set codes.
enum EcCurveCode : int {
    ECURVE_CODE_P256 = 11,
    ECURVE_CODE_CRYPTOPRO_A = 12,
    ECURVE_CODE_CRYPTOPRO_B = 13,
    ECURVE_CODE_CRYPTOPRO_C = 14,
    ECURVE_CODE_CRYPTOPRO_XCHA = 15,
    ECURVE_CODE_CRYPTOPRO_XCHB = 16,
    ECURVE_CODE_TEST = 17,
};

// Function codes of library 75 for curves and points.
enum EcFunc : int {
    ECGOST_F_ECURVE_SET = 103,
    ECGOST_F_ECURVE_NEW = 104,
    ECGOST_F_ECPOINT_NEW = 109,
    ECGOST_F_ECPOINT_DUP = 110,
    ECGOST_F_ECPOINT_COPY = 111,
    ECGOST_F_ECPOINT_TO_AFFINE = 112,
    ECGOST_F_ECPOINT_GET_X = 113,
    ECGOST_F_ECPOINT_NORMALIZE = 114,
    ECGOST_F_ECPOINT_DERIVE = 115,
    ECGOST_F_ECPOINT_HEX2POINT = 116,
    ECGOST_F_ECPOINT_BI2POINT = 117,
    ECGOST_F_ECPOINT_POINT2BIN = 118,
    ECGOST_F_ECPOINT_SET_INFINITY = 119,
    ECGOST_F_ECPOINT_AFFINE_DOUBLE = 120,
    ECGOST_F_ECPOINT_AFFINE_ADD = 121,
    ECGOST_F_ECPOINT_PROJECTIVE_DOUBLE = 122,
    ECGOST_F_ECPOINT_PROJECTIVE_ADD = 123,
    ECGOST_F_ECPOINT_MUL = 124,
    ECGOST_F_ECPOINT_LIES = 127,
    ECGOST_F_ECGOST_IS_PUBKEY_VALID = 128,
    ECGOST_F_ECURVE_GET_COEFFICIENTS = 129,
    ECGOST_F_ECURVE_INIT = 142,
    ECGOST_F_ECPOINT_FBW_NEW = 153,
    ECGOST_F_ECGOST_CHECK_PARAMS = 156,
};

// The curve's operations. Field operations work on residues in the curve's
// field form (Montgomery form modulo p); point operations on point records.
struct ECURVE_METHOD {
    const char* name;
    int (*field_reduce)(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx);
    int (*field_inverse)(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx);
    int (*field_sqr)(BIGNUM* r, const BIGNUM* a, const ECURVE* c, BN_CTX* ctx);
    int (*field_mul)(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c, BN_CTX* ctx);
    int (*field_sub)(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c);
    int (*field_add)(BIGNUM* r, const BIGNUM* a, const BIGNUM* b, const ECURVE* c);
    // r := r + q.
    int (*point_add)(ECPOINT* r, const ECPOINT* q);
    int (*point_double)(ECPOINT* r);
    // pt := k·pt.
    int (*point_mul)(ECPOINT* pt, const BIGNUM* k);
    int (*point_mul_base)(ECPOINT* pt, const BIGNUM* k);
};

const ECURVE_METHOD* ECURVE_default_method();
const ECURVE_METHOD* ECURVE_fixed_base_window_method();

struct EcPointDeleter {
    void operator()(ECPOINT* pt) const;
};
using EcPointPtr = std::unique_ptr<ECPOINT, EcPointDeleter>;
struct EcCurveDeleter {
    void operator()(ECURVE* c) const;
};
using EcCurvePtr = std::unique_ptr<ECURVE, EcCurveDeleter>;

// A point. Jacobian (X, Y, Z) stands for (X/Z^2, Y/Z^3). Infinity: Z = 0 in
// projective form (written 1, 1, 0); in affine form (0, 0), or (0, 1) on a
// curve with b = 0.
struct ECPOINT {
    int form = EC_FORM_AFFINE;
    BnPtr x, y, z;
    ECURVE* curve = nullptr;  // not owned
    // Shared by copies; read-only once built.
    std::shared_ptr<const ECPOINT_FBW> table;
};

// Fixed-base window table: point i is 2^(w·i)·P, affine.
struct ECPOINT_FBW {
    std::vector<EcPointPtr> points;
    int bits = 0;
    int w = 0;
    int n = 0;
    // The same points as field-form coordinates, ready for mixed additions.
    std::vector<BnPtr> field_x, field_y;
};

struct ECURVE {
    int form = EC_FORM_PROJECTIVE;
    BnPtr p, a, b;
    EcPointPtr P;
    BnPtr q, h, extra, J;
    std::atomic<int> references{1};
    unsigned flags = 0;
    const ECURVE_METHOD* meth = nullptr;
    int nid = 0;
    // Field context, made from p whenever the curve is set up.
    BnMontPtr mont;
    BnPtr a_field, b_field;  // a and b in field form
    BnPtr one_field;         // 1 in field form
    BnPtr r3;                // R^3 mod p, turns an inverse back into field form
};

// Curves.
ECURVE* ECURVE_new(int form);
int ECURVE_set(ECURVE* c, const EC_PARAMS* set);
ECURVE* ECURVE_init(const EC_PARAMS* set, int form);
// Null and last-error 13 for a code outside 11..17.
ECURVE* ECURVE_new_by_code(int code);
ECURVE* ECURVE_new_from_params(const EC_PARAMS* set);
ECURVE* ECURVE_up_ref(ECURVE* c);
void ECURVE_free(ECURVE* c);
void ECURVE_release(ECURVE** c);
const ECURVE_METHOD* ECURVE_set_method(ECURVE* c, const ECURVE_METHOD* meth);
// Computes a and b from J (when both are empty), then prepares the field
// context from p; explicit parameters read from DER end here too.
int ECURVE_get_coefficients(ECURVE* c);
int ECURVE_prepare(ECURVE* c);
// 0 when p, a, b, q and the base points agree, else -1.
int ECURVE_cmp(const ECURVE* c1, const ECURVE* c2);
// Codes 12..16 for NIDs 283..287, 11 for 191; 0 (no curve) for any other NID.
int GOST_nid2curve_code(int nid);
const EC_PARAMS* ECURVE_params_by_code(int code);

// Points.
ECPOINT* ECPOINT_new(ECURVE* c);
void ECPOINT_free(ECPOINT* pt);
ECPOINT* ECPOINT_dup(const ECPOINT* pt);
int ECPOINT_copy(ECPOINT* dst, const ECPOINT* src);
int ECPOINT_cmp(const ECPOINT* a, const ECPOINT* b);
int ECPOINT_to_affine(ECPOINT* pt);
int ECPOINT_normalize(ECPOINT* pt);
// Affine x into x, or into a new number when x is null.
BIGNUM* ECPOINT_get_x(const ECPOINT* pt, BIGNUM* x);
int ECPOINT_set_infinity(ECPOINT* pt);
int ECPOINT_is_infinity(const ECPOINT* pt);
// y from the point's x, with the lowest bit odd; the point is placed on c.
int ECPOINT_derive(ECPOINT* pt, ECURVE* c, int odd);
std::shared_ptr<const ECPOINT_FBW> ECPOINT_FBW_new(const ECPOINT* P);

// Arithmetic.
int ECPOINT_double(ECPOINT* r);
int ECPOINT_add(ECPOINT* r, const ECPOINT* q);
int ECPOINT_mul(ECPOINT* pt, const BIGNUM* k);
int ECPOINT_mul_base(ECPOINT* pt, const BIGNUM* k);
// pt := k·pt for a secret k (a signing number, a private key): the same
// point as ECPOINT_mul, in time and memory access that do not depend on k.
// The curve's base point goes through a table kept for the process. Points
// with a component of even order leave this path for ECPOINT_mul's.
int ECPOINT_mul_secret(ECPOINT* pt, const BIGNUM* k);
// out := z1·P + z2·Q for public scalars (verification), P the base point of
// out's curve and Q a point on it; the same point as ECPOINT_mul_base,
// ECPOINT_mul and ECPOINT_add give, in variable time.
int ECPOINT_mul2_public(ECPOINT* out, const BIGNUM* z1, const ECPOINT* Q, const BIGNUM* z2);

// Encodings. The encoders return the length written, or with a null out the
// length needed; 0 on failure, a buffer too small included. The decoders
// take exactly the encoding's length, fill pt when it is given (on its own
// curve) or return a new point on c, and refuse coordinates outside [0, p).
std::size_t ECPOINT_point2bin(const ECPOINT* pt, int compressed, unsigned char* out,
                              std::size_t out_len);
ECPOINT* ECPOINT_bi2point(ECURVE* c, const unsigned char* in, std::size_t len, ECPOINT* pt);
std::size_t ECPOINT_point2le(const ECPOINT* pt, unsigned char* out, std::size_t out_len);
ECPOINT* ECPOINT_le2point(ECURVE* c, const unsigned char* in, std::size_t len, ECPOINT* pt);
ECPOINT* ECPOINT_hex2point(ECURVE* c, const char* hex, ECPOINT* pt);

// Validity.
int ECPOINT_lies(const ECPOINT* pt);
// Not infinity, 0 <= x < p (the CryptoPro C and XchB base points have
// x = 0), 0 < y < p, on the curve, and with full set q·pt = infinity (proven
// by the curve test alone on a curve of known group order with cofactor 1).
int ECGOST_is_pubkey_valid(const ECPOINT* pt, int full);
// The integrity digest of every built-in parameter set: taken on the first
// call in the process, compared on every later one. 1 while unchanged.
int ECGOST_check_params();

}  // namespace cadb
