// The library's DSA parameter set (1024-bit p, 160-bit q), used for DSA keys
// made without parameters.
#pragma once

#include <openssl/bn.h>

namespace cadb {

// Each returns a new number the caller frees, or null when memory runs out.
BIGNUM* DSA_get_default_p();
BIGNUM* DSA_get_default_q();
BIGNUM* DSA_get_default_g();

}  // namespace cadb
