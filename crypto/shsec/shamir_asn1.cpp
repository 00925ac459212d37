// DER forms of a sharing's parameters and of one share.
#include <openssl/asn1t.h>

#include "crypto/asn1/asn1_int.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/shsec/shamir.h"

namespace cadb {

ASN1_SEQUENCE(SHAMIR_SHARED_SECRET_PARAMS) =
    {
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, version, ASN1_INTEGER),
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, prime, ASN1_INTEGER),
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, threshold, ASN1_INTEGER),
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, secret_bits, ASN1_INTEGER),
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, algorithm, X509_ALGOR),
        ASN1_SIMPLE(SHAMIR_SHARED_SECRET_PARAMS, check, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(SHAMIR_SHARED_SECRET_PARAMS)

        ASN1_SEQUENCE(SHAMIR_SHARED_SECRET_POINT) =
            {
                ASN1_SIMPLE(SHAMIR_SHARED_SECRET_POINT, version, ASN1_INTEGER),
                ASN1_SIMPLE(SHAMIR_SHARED_SECRET_POINT, x, ASN1_INTEGER),
                ASN1_SIMPLE(SHAMIR_SHARED_SECRET_POINT, y, ASN1_INTEGER),
} ASN1_SEQUENCE_END(SHAMIR_SHARED_SECRET_POINT)

                namespace {
    template <typename T>
    T* new_record(const ASN1_ITEM* it) {
        return reinterpret_cast<T*>(ASN1_item_new(it));
    }

    template <typename T>
    void free_record(T * v, const ASN1_ITEM* it) {
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), it);
    }

    bool set_int(ASN1_INTEGER * field, long v) { return ASN1_INTEGER_set(field, v) == 1; }

    bool set_bn(ASN1_INTEGER * &field, const BIGNUM* bn) {
        AsnIntPtr v = asn1_int_of(bn);
        if (!v) return false;
        ASN1_INTEGER_free(field);
        field = v.release();
        return true;
    }

    bool non_negative(const ASN1_INTEGER* v) { return ASN1_STRING_type(v) == V_ASN1_INTEGER; }

    bool is_zero(const ASN1_INTEGER* v) { return non_negative(v) && ASN1_INTEGER_get(v) == 0; }

    // Decodes one record of item it from exactly len bytes.
    template <typename T>
    T* decode(T * *out, const unsigned char** in, long len, const ASN1_ITEM* it, int func,
              bool (*content_ok)(const T*)) {
        if (!in || !*in || len <= 0) {
            CADB_ERR(ERR_LIB_ASN1_, func, ERR_R_NULL_PARAMETER);
            return nullptr;
        }
        const unsigned char* p = *in;
        T* v = reinterpret_cast<T*>(ASN1_item_d2i(nullptr, &p, len, it));
        if (!v || p != *in + len || !content_ok(v)) {
            free_record(v, it);
            ERR_move_openssl_errors(ERR_LIB_ASN1_, func);
            return nullptr;
        }
        *in = p;
        if (out) {
            free_record(*out, it);
            *out = v;
        }
        return v;
    }

    bool params_ok(const SHAMIR_SHARED_SECRET_PARAMS* p) {
        return is_zero(p->version) && non_negative(p->prime) && non_negative(p->threshold) &&
               non_negative(p->secret_bits);
    }

    bool point_ok(const SHAMIR_SHARED_SECRET_POINT* p) {
        return is_zero(p->version) && non_negative(p->x) && non_negative(p->y);
    }

}  // namespace

SHAMIR_SHARED_SECRET_PARAMS* SHAMIR_SHARED_SECRET_PARAMS_new() {
    return new_record<SHAMIR_SHARED_SECRET_PARAMS>(ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_PARAMS));
}

void SHAMIR_SHARED_SECRET_PARAMS_free(SHAMIR_SHARED_SECRET_PARAMS* p) {
    if (p && p->check) OPENSSL_cleanse(p->check->data, static_cast<std::size_t>(p->check->length));
    free_record(p, ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_PARAMS));
}

SHAMIR_SHARED_SECRET_POINT* SHAMIR_SHARED_SECRET_POINT_new() {
    return new_record<SHAMIR_SHARED_SECRET_POINT>(ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_POINT));
}

void SHAMIR_SHARED_SECRET_POINT_free(SHAMIR_SHARED_SECRET_POINT* p) {
    free_record(p, ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_POINT));
}

SHAMIR_SHARED_SECRET_PARAMS* SHAMIR_SHARED_SECRET_PARAMS_to_asn1(const SHAMIR_SHARED_SECRET* s,
                                                                 const EVP_MD* digest) {
    if (!s || !s->secret || s->secret_bits <= 0) {
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1, ERR_LIB_SHAMIR);
        return nullptr;
    }
    const int nid =
        digest && EVP_MD_get_type(digest) == NID_sha1 ? NID_hmacWithSHA1 : NID_HMAC_R3411;
    const std::vector<unsigned char> check =
        SHAMIR_check_value(nid, s->secret.get(), s->secret_bits);
    SHAMIR_SHARED_SECRET_PARAMS* p = SHAMIR_SHARED_SECRET_PARAMS_new();
    ASN1_OBJECT* alg = p ? OBJ_dup(cadb::OBJ_nid2obj(nid)) : nullptr;
    if (!p || !alg || check.empty() || !set_int(p->version, 0) || !set_bn(p->prime, s->p.get()) ||
        !set_int(p->threshold, s->threshold) || !set_int(p->secret_bits, s->secret_bits) ||
        !X509_ALGOR_set0(p->algorithm, alg, V_ASN1_UNDEF, nullptr) ||
        !ASN1_OCTET_STRING_set(p->check, check.data(), static_cast<int>(check.size()))) {
        ASN1_OBJECT_free(alg);
        SHAMIR_SHARED_SECRET_PARAMS_free(p);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_PARAMS_TO_ASN1, ERR_LIB_SHAMIR);
        return nullptr;
    }
    return p;
}

SHAMIR_SHARED_SECRET_POINT* SHAMIR_SHARED_SECRET_POINT_to_asn1(const BIGNUM* x, const BIGNUM* y) {
    SHAMIR_SHARED_SECRET_POINT* p = SHAMIR_SHARED_SECRET_POINT_new();
    if (!p || !x || !y || !set_int(p->version, 0) || !set_bn(p->x, x) || !set_bn(p->y, y)) {
        SHAMIR_SHARED_SECRET_POINT_free(p);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_POINT_TO_ASN1, ERR_R_INTERNAL);
        CADB_ERR(ERR_LIB_SHAMIR, SHAMIR_F_SHAMIR_SHARED_SECRET_POINT_TO_ASN1, ERR_LIB_SHAMIR);
        return nullptr;
    }
    return p;
}

int i2d_SHAMIR_SHARED_SECRET_params(const SHAMIR_SHARED_SECRET_PARAMS* p, unsigned char** out) {
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(p), out,
                         ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_PARAMS));
}

int i2d_SHAMIR_SHARED_SECRET_point(const SHAMIR_SHARED_SECRET_POINT* p, unsigned char** out) {
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(p), out,
                         ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_POINT));
}

SHAMIR_SHARED_SECRET_PARAMS* d2i_SHAMIR_SHARED_SECRET_params(SHAMIR_SHARED_SECRET_PARAMS** p,
                                                             const unsigned char** in, long len) {
    return decode(p, in, len, ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_PARAMS),
                  ASN1_F_D2I_SHAMIR_SHARED_SECRET_PARAMS, params_ok);
}

SHAMIR_SHARED_SECRET_POINT* d2i_SHAMIR_SHARED_SECRET_point(SHAMIR_SHARED_SECRET_POINT** p,
                                                           const unsigned char** in, long len) {
    return decode(p, in, len, ASN1_ITEM_rptr(SHAMIR_SHARED_SECRET_POINT),
                  ASN1_F_D2I_SHAMIR_SHARED_SECRET_POINT, point_ok);
}

}  // namespace cadb
