// Helpers shared by the curve and key tests.
#pragma once

#include <openssl/bn.h>

#include <string>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"

namespace cadb::testing {

inline BnPtr hex_bn(const std::string& h) {
    BIGNUM* bn = nullptr;
    BN_hex2bn(&bn, h.c_str());
    return BnPtr(bn);
}

inline std::vector<unsigned char> octets(const ECPOINT* pt, bool compressed) {
    std::vector<unsigned char> out(ECPOINT_point2bin(pt, compressed, nullptr, 0));
    out.resize(ECPOINT_point2bin(pt, compressed, out.data(), out.size()));
    return out;
}

inline EcPointPtr base_copy(const ECURVE* c) { return EcPointPtr(ECPOINT_dup(c->P.get())); }

inline BnPtr random_below(const BIGNUM* q) {
    BnPtr k = bn_new();
    BN_rand_range(k.get(), q);
    return k;
}

constexpr int kAllCodes[] = {11, 12, 13, 14, 15, 16, 17};

}  // namespace cadb::testing
