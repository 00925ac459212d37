#include "crypto/x509v3/ext_der.h"

#include "crypto/core/err.h"

namespace cadb {
namespace {

// Decodes a whole value of item it; on failure nothing is left allocated and
// *out is untouched.
void* decode(void** out, const unsigned char** in, long len, const ASN1_ITEM* it, int func) {
    if (in == nullptr || *in == nullptr || len < 0) {
        CADB_ERR(ERR_LIB_ASN1_, func, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = *in;
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, len, it);
    if (v == nullptr || p != *in + len) {
        ASN1_item_free(v, it);
        ERR_move_openssl_errors(ERR_LIB_ASN1_, func);
        CADB_ERR(ERR_LIB_ASN1_, func, v == nullptr ? ERR_R_NESTED_ASN1_ERROR_
                                                   : ERR_R_ASN1_LENGTH_MISMATCH_);
        return nullptr;
    }
    *in = p;
    if (out != nullptr) {
        ASN1_item_free(static_cast<ASN1_VALUE*>(*out), it);
        *out = v;
    }
    return v;
}

int encode(const void* v, unsigned char** out, const ASN1_ITEM* it) {
    if (v == nullptr) return -1;
    return ASN1_item_i2d(static_cast<const ASN1_VALUE*>(v), out, it);
}

}  // namespace

#define CADB_EXT_DER(T, F)                                                                   \
    T* d2i_##T(T** out, const unsigned char** in, long len) {                                \
        return static_cast<T*>(                                                              \
            decode(reinterpret_cast<void**>(out), in, len, ASN1_ITEM_rptr(T), F));           \
    }                                                                                        \
    int i2d_##T(const T* v, unsigned char** out) { return encode(v, out, ASN1_ITEM_rptr(T)); }

CADB_EXT_DER(AUTHORITY_INFO_ACCESS, ASN1_F_D2I_AUTHORITY_INFO_ACCESS)
CADB_EXT_DER(SUBJECT_DIRECTORY_ATTRIBUTES, ASN1_F_D2I_SUBJECT_DIRECTORY_ATTRIBUTES)
CADB_EXT_DER(ISSUING_DIST_POINT, ASN1_F_D2I_ISSUING_DIST_POINT)
CADB_EXT_DER(NAME_CONSTRAINTS, ASN1_F_D2I_NAME_CONSTRAINTS)
CADB_EXT_DER(POLICY_CONSTRAINTS, ASN1_F_D2I_POLICY_CONSTRAINTS)
CADB_EXT_DER(POLICY_MAPPINGS, ASN1_F_D2I_POLICY_MAPPINGS)
CADB_EXT_DER(CRL_DIST_POINTS, ASN1_F_D2I_CRL_DIST_POINTS)
CADB_EXT_DER(BIOMETRIC_SYNTAX, ASN1_F_D2I_BIOMETRIC_SYNTAX)

#undef CADB_EXT_DER

SUBJECT_DIRECTORY_ATTRIBUTES* SUBJECT_DIRECTORY_ATTRIBUTES_new() {
    return sk_X509_ATTRIBUTE_new_null();
}
void SUBJECT_DIRECTORY_ATTRIBUTES_free(SUBJECT_DIRECTORY_ATTRIBUTES* v) {
    sk_X509_ATTRIBUTE_pop_free(v, X509_ATTRIBUTE_free);
}

BIOMETRIC_SYNTAX* BIOMETRIC_SYNTAX_new() { return sk_BIOMETRIC_DATA_new_null(); }
void BIOMETRIC_SYNTAX_free(BIOMETRIC_SYNTAX* v) {
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), ASN1_ITEM_rptr(BIOMETRIC_SYNTAX));
}

int i2d_PKEY_USAGE_PERIOD(const PKEY_USAGE_PERIOD* v, unsigned char** out) {
    return encode(v, out, ASN1_ITEM_rptr(PKEY_USAGE_PERIOD));
}

}  // namespace cadb
