#include "crypto/rus/evp_cipher_params.h"

#include <openssl/asn1.h>

#include <cstring>
#include <memory>

#include "crypto/core/objects.h"

namespace cadb {
namespace {

struct SeqDeleter {
    void operator()(ASN1_SEQUENCE_ANY* s) const { sk_ASN1_TYPE_pop_free(s, ASN1_TYPE_free); }
};
using SeqPtr = std::unique_ptr<ASN1_SEQUENCE_ANY, SeqDeleter>;

}  // namespace

int GOST_CIPHER_PARAMS_decode(const ASN1_TYPE* params, unsigned char iv[GOST_CIPHER_IV_SIZE],
                              int* sbox_nid) {
    if (params == nullptr || iv == nullptr || sbox_nid == nullptr ||
        params->type != V_ASN1_SEQUENCE)
        return 0;
    const ASN1_STRING* der = params->value.sequence;
    const unsigned char* p = ASN1_STRING_get0_data(der);
    const long len = ASN1_STRING_length(der);
    SeqPtr seq(d2i_ASN1_SEQUENCE_ANY(nullptr, &p, len));
    if (!seq || p != ASN1_STRING_get0_data(der) + len || sk_ASN1_TYPE_num(seq.get()) != 2) return 0;
    const ASN1_TYPE* iv_type = sk_ASN1_TYPE_value(seq.get(), 0);
    const ASN1_TYPE* set_type = sk_ASN1_TYPE_value(seq.get(), 1);
    if (iv_type->type != V_ASN1_OCTET_STRING || set_type->type != V_ASN1_OBJECT) return 0;
    const int nid = cadb::OBJ_obj2nid(set_type->value.object);
    if (nid == NID_undef) return 0;
    if (ASN1_STRING_length(iv_type->value.octet_string) != GOST_CIPHER_IV_SIZE) return -1;
    std::memcpy(iv, ASN1_STRING_get0_data(iv_type->value.octet_string), GOST_CIPHER_IV_SIZE);
    *sbox_nid = nid;
    return 1;
}

int GOST_CIPHER_PARAMS_encode(ASN1_TYPE* params, const unsigned char iv[GOST_CIPHER_IV_SIZE],
                              int sbox_nid) {
    const ASN1_OBJECT* set = OBJ_nid2obj(sbox_nid);
    if (params == nullptr || iv == nullptr || set == nullptr || sbox_nid == NID_undef) return 0;
    SeqPtr seq(sk_ASN1_TYPE_new_null());
    ASN1_TYPE* iv_type = ASN1_TYPE_new();
    ASN1_OCTET_STRING* os = ASN1_OCTET_STRING_new();
    ASN1_TYPE* set_type = ASN1_TYPE_new();
    const bool built =
        seq && iv_type && os && set_type && ASN1_OCTET_STRING_set(os, iv, GOST_CIPHER_IV_SIZE);
    if (!built) {
        ASN1_TYPE_free(iv_type);
        ASN1_OCTET_STRING_free(os);
        ASN1_TYPE_free(set_type);
        return 0;
    }
    ASN1_TYPE_set(iv_type, V_ASN1_OCTET_STRING, os);
    ASN1_TYPE_set(set_type, V_ASN1_OBJECT, const_cast<ASN1_OBJECT*>(set));
    if (sk_ASN1_TYPE_push(seq.get(), iv_type) <= 0) {
        ASN1_TYPE_free(iv_type);
        ASN1_TYPE_free(set_type);
        return 0;
    }
    if (sk_ASN1_TYPE_push(seq.get(), set_type) <= 0) {
        ASN1_TYPE_free(set_type);
        return 0;
    }
    unsigned char* der = nullptr;
    const int len = i2d_ASN1_SEQUENCE_ANY(seq.get(), &der);
    if (len <= 0) return 0;
    ASN1_STRING* s = ASN1_STRING_new();
    if (s == nullptr) {
        OPENSSL_free(der);
        return 0;
    }
    ASN1_STRING_set0(s, der, len);
    ASN1_TYPE_set(params, V_ASN1_SEQUENCE, s);
    return 1;
}

}  // namespace cadb
