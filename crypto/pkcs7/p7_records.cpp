#include "crypto/pkcs7/p7_records.h"

namespace cadb {

// clang-format off
ASN1_SEQUENCE(PKCS7_ISSUER_AND_SERIAL) = {
    ASN1_SIMPLE(PKCS7_ISSUER_AND_SERIAL, issuer, X509_NAME),
    ASN1_SIMPLE(PKCS7_ISSUER_AND_SERIAL, serial, ASN1_INTEGER),
} ASN1_SEQUENCE_END(PKCS7_ISSUER_AND_SERIAL)

ASN1_SEQUENCE(PKCS7_ORIGINATOR_KEY) = {
    ASN1_SIMPLE(PKCS7_ORIGINATOR_KEY, algorithm, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_ORIGINATOR_KEY, public_key, ASN1_BIT_STRING),
} ASN1_SEQUENCE_END(PKCS7_ORIGINATOR_KEY)

ASN1_ITEM_TEMPLATE(PKCS7_ORIGINATOR_KEY_EXP) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_EXPLICIT, 1, originatorKey, PKCS7_ORIGINATOR_KEY)
ASN1_ITEM_TEMPLATE_END(PKCS7_ORIGINATOR_KEY_EXP)

ASN1_ITEM_TEMPLATE(PKCS7_ORIGINATOR_KEY_IMP) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_IMPLICIT, 1, originatorKey, PKCS7_ORIGINATOR_KEY)
ASN1_ITEM_TEMPLATE_END(PKCS7_ORIGINATOR_KEY_IMP)

ASN1_SEQUENCE(ASN1_PAIR) = {
    ASN1_SIMPLE(ASN1_PAIR, rid, PKCS7_ISSUER_AND_SERIAL),
    ASN1_SIMPLE(ASN1_PAIR, key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(ASN1_PAIR)

ASN1_SEQUENCE(P7_KTRI) = {
    ASN1_SIMPLE(P7_KTRI, version, ASN1_INTEGER),
    ASN1_SIMPLE(P7_KTRI, issuer_and_serial, PKCS7_ISSUER_AND_SERIAL),
    ASN1_SIMPLE(P7_KTRI, key_enc_algor, X509_ALGOR),
    ASN1_SIMPLE(P7_KTRI, enc_key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(P7_KTRI)

ASN1_SEQUENCE(P7_KARI_EXP) = {
    ASN1_SIMPLE(P7_KARI, version, ASN1_INTEGER),
    ASN1_EXP(P7_KARI, originator, PKCS7_ORIGINATOR_KEY_EXP, 0),
    ASN1_EXP_OPT(P7_KARI, ukm, ASN1_OCTET_STRING, 1),
    ASN1_SIMPLE(P7_KARI, key_enc_algor, X509_ALGOR),
    ASN1_SEQUENCE_OF_OPT(P7_KARI, rek, ASN1_PAIR),
} ASN1_SEQUENCE_END_name(P7_KARI, P7_KARI_EXP)

ASN1_SEQUENCE(P7_KARI_IMP) = {
    ASN1_SIMPLE(P7_KARI, version, ASN1_INTEGER),
    ASN1_EXP(P7_KARI, originator, PKCS7_ORIGINATOR_KEY_IMP, 0),
    ASN1_EXP_OPT(P7_KARI, ukm, ASN1_OCTET_STRING, 1),
    ASN1_SIMPLE(P7_KARI, key_enc_algor, X509_ALGOR),
    ASN1_SEQUENCE_OF_OPT(P7_KARI, rek, ASN1_PAIR),
} ASN1_SEQUENCE_END_name(P7_KARI, P7_KARI_IMP)

ASN1_ITEM_TEMPLATE(P7_KARI_TAGGED_EXP) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_EXPLICIT, 1, kari, P7_KARI_EXP)
ASN1_ITEM_TEMPLATE_END(P7_KARI_TAGGED_EXP)

ASN1_ITEM_TEMPLATE(P7_KARI_TAGGED_IMP) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_IMPLICIT, 1, kari, P7_KARI_IMP)
ASN1_ITEM_TEMPLATE_END(P7_KARI_TAGGED_IMP)

ASN1_SEQUENCE(P7_COMPACT_IMP) = {
    ASN1_SIMPLE(P7_COMPACT, version, ASN1_INTEGER),
    ASN1_EXP_OPT(P7_COMPACT, originator, PKCS7_ORIGINATOR_KEY_IMP, 0),
    ASN1_EXP_OPT(P7_COMPACT, ukm, ASN1_OCTET_STRING, 1),
    ASN1_SIMPLE(P7_COMPACT, key_enc_algor, X509_ALGOR),
    ASN1_SIMPLE(P7_COMPACT, enc_key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END_name(P7_COMPACT, P7_COMPACT_IMP)

ASN1_SEQUENCE(P7_COMPACT_EXP) = {
    ASN1_SIMPLE(P7_COMPACT, version, ASN1_INTEGER),
    ASN1_EXP_OPT(P7_COMPACT, originator, PKCS7_ORIGINATOR_KEY_EXP, 0),
    ASN1_EXP_OPT(P7_COMPACT, ukm, ASN1_OCTET_STRING, 1),
    ASN1_SIMPLE(P7_COMPACT, key_enc_algor, X509_ALGOR),
    ASN1_SIMPLE(P7_COMPACT, enc_key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END_name(P7_COMPACT, P7_COMPACT_EXP)

ASN1_SEQUENCE(GOST_ENCRYPTED_KEY) = {
    ASN1_SIMPLE(GOST_ENCRYPTED_KEY, encrypted_key, ASN1_OCTET_STRING),
    ASN1_SIMPLE(GOST_ENCRYPTED_KEY, mac, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(GOST_ENCRYPTED_KEY)

ASN1_SEQUENCE(GOST_TRANSPORT_PARAMS) = {
    ASN1_SIMPLE(GOST_TRANSPORT_PARAMS, cipher_params, ASN1_OBJECT),
    ASN1_IMP_OPT(GOST_TRANSPORT_PARAMS, ephemeral_key, X509_PUBKEY, 0),
    ASN1_SIMPLE(GOST_TRANSPORT_PARAMS, ukm, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(GOST_TRANSPORT_PARAMS)

ASN1_SEQUENCE(GOST_KEY_TRANSPORT) = {
    ASN1_SIMPLE(GOST_KEY_TRANSPORT, key, GOST_ENCRYPTED_KEY),
    ASN1_IMP_OPT(GOST_KEY_TRANSPORT, params, GOST_TRANSPORT_PARAMS, 0),
} ASN1_SEQUENCE_END(GOST_KEY_TRANSPORT)

ASN1_SEQUENCE(X942_KEY_INFO) = {
    ASN1_SIMPLE(X942_KEY_INFO, algorithm, ASN1_OBJECT),
    ASN1_SIMPLE(X942_KEY_INFO, counter, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(X942_KEY_INFO)

ASN1_SEQUENCE(X942_OTHER_INFO) = {
    ASN1_SIMPLE(X942_OTHER_INFO, key_info, X942_KEY_INFO),
    ASN1_EXP_OPT(X942_OTHER_INFO, party_a, ASN1_OCTET_STRING, 0),
    ASN1_EXP(X942_OTHER_INFO, supp_pub, ASN1_OCTET_STRING, 2),
} ASN1_SEQUENCE_END(X942_OTHER_INFO)

ASN1_SEQUENCE(PKCS7_COMPRESSED_CONTENT) = {
    ASN1_SIMPLE(PKCS7_COMPRESSED_CONTENT, type, ASN1_OBJECT),
    ASN1_IMP_OPT(PKCS7_COMPRESSED_CONTENT, content, ASN1_OCTET_STRING, 0),
} ASN1_SEQUENCE_END(PKCS7_COMPRESSED_CONTENT)

ASN1_SEQUENCE(PKCS7_COMPRESSED) = {
    ASN1_SIMPLE(PKCS7_COMPRESSED, version, ASN1_INTEGER),
    ASN1_SIMPLE(PKCS7_COMPRESSED, algorithm, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_COMPRESSED, content, PKCS7_COMPRESSED_CONTENT),
} ASN1_SEQUENCE_END(PKCS7_COMPRESSED)

// The signing key a signer record holds goes with the record.
static int signer_info_cb(int op, ASN1_VALUE** pval, const ASN1_ITEM*, void*) {
    if (op == ASN1_OP_FREE_PRE && *pval != nullptr) {
        auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(*pval);
        EVP_PKEY_free(si->pkey);
        si->pkey = nullptr;
    }
    return 1;
}

ASN1_SEQUENCE_cb(PKCS7_SIGNER_INFO, signer_info_cb) = {
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, version, ASN1_INTEGER),
    ASN1_OPT(PKCS7_SIGNER_INFO, issuer_and_serial, PKCS7_ISSUER_AND_SERIAL),
    ASN1_IMP_OPT(PKCS7_SIGNER_INFO, subject_key_id, ASN1_OCTET_STRING, 0),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, digest_alg, X509_ALGOR),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGNER_INFO, auth_attr, X509_ATTRIBUTE, 0),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, digest_enc_alg, X509_ALGOR),
    ASN1_SIMPLE(PKCS7_SIGNER_INFO, enc_digest, ASN1_OCTET_STRING),
    ASN1_IMP_SET_OF_OPT(PKCS7_SIGNER_INFO, unauth_attr, X509_ATTRIBUTE, 1),
} ASN1_SEQUENCE_END_cb(PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO)

ASN1_ITEM_TEMPLATE(PKCS7_ATTR_SET) =
    ASN1_EX_TEMPLATE_TYPE(ASN1_TFLG_SET_OF, 0, attributes, X509_ATTRIBUTE)
ASN1_ITEM_TEMPLATE_END(PKCS7_ATTR_SET)

ASN1_SEQUENCE(ESS_ISSUER_SERIAL) = {
    ASN1_SEQUENCE_OF(ESS_ISSUER_SERIAL, issuer, GENERAL_NAME),
    ASN1_SIMPLE(ESS_ISSUER_SERIAL, serial, ASN1_INTEGER),
} ASN1_SEQUENCE_END(ESS_ISSUER_SERIAL)

ASN1_SEQUENCE(ESS_CERT_ID) = {
    ASN1_OPT(ESS_CERT_ID, hash_alg, X509_ALGOR),
    ASN1_SIMPLE(ESS_CERT_ID, hash, ASN1_OCTET_STRING),
    ASN1_OPT(ESS_CERT_ID, issuer_serial, ESS_ISSUER_SERIAL),
} ASN1_SEQUENCE_END(ESS_CERT_ID)

ASN1_SEQUENCE(ESS_SIGNING_CERT) = {
    ASN1_SEQUENCE_OF(ESS_SIGNING_CERT, certs, ESS_CERT_ID),
    ASN1_SEQUENCE_OF_OPT(ESS_SIGNING_CERT, policies, POLICYINFO),
} ASN1_SEQUENCE_END(ESS_SIGNING_CERT)
// clang-format on

#define P7_IMPLEMENT_FUNCTIONS(T)                                                                \
    T* T##_new() { return reinterpret_cast<T*>(ASN1_item_new(ASN1_ITEM_rptr(T))); }              \
    void T##_free(T* v) { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), ASN1_ITEM_rptr(T)); } \
    T* d2i_##T(T** v, const unsigned char** in, long len) {                                      \
        return reinterpret_cast<T*>(                                                             \
            ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(v), in, len, ASN1_ITEM_rptr(T)));       \
    }                                                                                            \
    int i2d_##T(const T* v, unsigned char** out) {                                               \
        return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), out, ASN1_ITEM_rptr(T));    \
    }                                                                                            \
    T* T##_dup(const T* v) { return reinterpret_cast<T*>(ASN1_item_dup(ASN1_ITEM_rptr(T), v)); }

                                    P7_IMPLEMENT_FUNCTIONS(PKCS7_ISSUER_AND_SERIAL)
                                        P7_IMPLEMENT_FUNCTIONS(
                                            PKCS7_ORIGINATOR_KEY) P7_IMPLEMENT_FUNCTIONS(ASN1_PAIR)
                                            P7_IMPLEMENT_FUNCTIONS(GOST_ENCRYPTED_KEY)
                                                P7_IMPLEMENT_FUNCTIONS(GOST_TRANSPORT_PARAMS)
                                                    P7_IMPLEMENT_FUNCTIONS(GOST_KEY_TRANSPORT)
                                                        P7_IMPLEMENT_FUNCTIONS(
                                                            PKCS7_COMPRESSED_CONTENT)
                                                            P7_IMPLEMENT_FUNCTIONS(PKCS7_COMPRESSED)
                                                                P7_IMPLEMENT_FUNCTIONS(
                                                                    PKCS7_SIGNER_INFO)
                                                                    P7_IMPLEMENT_FUNCTIONS(
                                                                        ESS_ISSUER_SERIAL)
                                                                        P7_IMPLEMENT_FUNCTIONS(
                                                                            ESS_CERT_ID)
                                                                            P7_IMPLEMENT_FUNCTIONS(
                                                                                ESS_SIGNING_CERT)

}  // namespace cadb
