// Helpers shared by the key, signature and agreement code.
#pragma once

#include <openssl/bn.h>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ecgost.h"

namespace cadb::ecgost {

// Key form: bits(q) random bits with the top one set, reduced below q,
// never 0 (private keys and ephemeral agreement keys).
bool random_key_form(BIGNUM* out, const BIGNUM* q);

// A clear copy of a masked number (wiped when released); null when m holds
// nothing or fails its check.
inline BnPtr unmask(const BnMaskedPtr& m) { return BnPtr(m ? BN_unmask_dup(m.get()) : nullptr); }

// Stores v masked into m, creating the record when needed.
bool store_masked(BnMaskedPtr& m, const BIGNUM* v);

// A new point from octets on c, or null.
EcPointPtr point_from_octets(ECURVE* c, const unsigned char* in, std::size_t len);

}  // namespace cadb::ecgost
