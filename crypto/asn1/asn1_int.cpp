#include "crypto/asn1/asn1_int.h"

#include <openssl/crypto.h>

namespace cadb {

AsnIntPtr asn1_int_of(const BIGNUM* bn) {
    if (bn == nullptr || BN_is_negative(bn)) return nullptr;
    return AsnIntPtr(BN_to_ASN1_INTEGER(bn, nullptr));
}

BnPtr bn_of_asn1_int(const ASN1_INTEGER* v) {
    if (v == nullptr || ASN1_STRING_type(v) == V_ASN1_NEG_INTEGER) return nullptr;
    return BnPtr(ASN1_INTEGER_to_BN(v, nullptr));
}

AsnSecretIntWipe::~AsnSecretIntWipe() {
    if (v_ != nullptr && v_->data != nullptr && v_->length > 0)
        OPENSSL_cleanse(v_->data, static_cast<std::size_t>(v_->length));
}

}  // namespace cadb
