// INTEGERs between DER records and big numbers, refusing negative values:
// none of the library's encodings has one, and a negative value read from
// outside would otherwise turn into a valid-looking number.
#pragma once

#include <openssl/asn1.h>

#include <memory>

#include "crypto/bn/bn_ptr.h"

namespace cadb {

struct AsnIntDeleter {
    void operator()(ASN1_INTEGER* v) const { ASN1_INTEGER_free(v); }
};
using AsnIntPtr = std::unique_ptr<ASN1_INTEGER, AsnIntDeleter>;

// An INTEGER of a non-negative number, or null.
AsnIntPtr asn1_int_of(const BIGNUM* bn);
// The number of a non-negative INTEGER; null for a negative one.
BnPtr bn_of_asn1_int(const ASN1_INTEGER* v);

}  // namespace cadb
