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

// An INTEGER that holds a private number: its content is wiped before it is
// freed, as libcrypto's own free does not.
struct AsnSecretIntDeleter {
    void operator()(ASN1_INTEGER* v) const { ASN1_STRING_clear_free(v); }
};
using AsnSecretIntPtr = std::unique_ptr<ASN1_INTEGER, AsnSecretIntDeleter>;

// Wipes the content of an INTEGER inside a record when it goes out of scope.
// Declared after the record's owner, it runs before the record is freed, so
// a private number decoded into or encoded from the record does not stay
// behind in freed memory.
class AsnSecretIntWipe {
  public:
    explicit AsnSecretIntWipe(ASN1_INTEGER* v) : v_(v) {}
    ~AsnSecretIntWipe();
    AsnSecretIntWipe(const AsnSecretIntWipe&) = delete;
    AsnSecretIntWipe& operator=(const AsnSecretIntWipe&) = delete;

  private:
    ASN1_INTEGER* v_;
};

}  // namespace cadb
