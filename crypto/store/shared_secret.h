// A key store's secret shared among several media: a sharing is generated for
// the secret, its parameters and any number of shares leave as DER buffers,
// and a sharing read back from the parameters rebuilds the secret from enough
// shares, checked against the HMAC value kept in the parameters.
#pragma once

#include <memory>

#include "crypto/cadb/buffer.h"
#include "crypto/shsec/shamir.h"

namespace cadb {

// Library 66 (CADB) function codes of the shared-secret front end.
enum CadbSharedSecretFunc : int {
    CADB_F_SHARED_SECRET_GENERATE = 224,
    CADB_F_SHARED_SECRET_GET_PARAMS = 225,
    CADB_F_SHARED_SECRET_READ_PARAMS = 226,
    CADB_F_SHARED_SECRET_GET_POINT = 227,
    CADB_F_SHARED_SECRET_ADD_POINT = 228,
    CADB_F_SHARED_SECRET_GET_SECRET = 229,
};

using SHARED_SECRET = SHAMIR_SHARED_SECRET;

// Bounds of the secret's length in bytes.
constexpr int SHARED_SECRET_MIN_LEN = 8;
constexpr int SHARED_SECRET_MAX_LEN = 32;
// The largest threshold accepted from stored parameters: rebuilding solves a
// system of threshold equations, so a forged record must not make it huge.
constexpr int SHARED_SECRET_MAX_THRESHOLD = 255;

// A sharing of len bytes of secret (big-endian, not all zero) or, with a null
// secret, of len random bytes, over a new prime of 8 * len + 1 bits.
// len must be 8..32; a threshold below 2 is raised to 2.
SHARED_SECRET* SHARED_SECRET_generate(const unsigned char* secret, int len, int threshold);

// The DER parameters of a sharing that holds its secret, with the secret's
// GOST R 34.11-94 HMAC check value.
BUFFER* SHARED_SECRET_get_params(const SHARED_SECRET* s);

// A sharing without its secret, from DER parameters.
SHARED_SECRET* SHARED_SECRET_read_params(const unsigned char* der, int len);

// The DER of a new share. A sharing read from parameters hands out shares
// once it holds threshold of them.
BUFFER* SHARED_SECRET_get_point(SHARED_SECRET* s);

// Holds one share given in DER. 1/0.
int SHARED_SECRET_add_point(SHARED_SECRET* s, const unsigned char* der, int len);

// The secret rebuilt from the held shares as ceil(bits / 8) big-endian
// bytes, returned only when its HMAC equals the stored check value.
BUFFER* SHARED_SECRET_get_secret(SHARED_SECRET* s);

void SHARED_SECRET_free(SHARED_SECRET* s);

struct SharedSecretDeleter {
    void operator()(SHARED_SECRET* s) const { SHARED_SECRET_free(s); }
};
using SharedSecretPtr = std::unique_ptr<SHARED_SECRET, SharedSecretDeleter>;

}  // namespace cadb
