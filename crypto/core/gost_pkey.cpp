#include "crypto/core/gost_pkey.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>
#include <initializer_list>
#include <new>

#include "crypto/core/objects.h"

namespace cadb {
namespace {

bool is_ecgost(int key_nid) { return key_nid == NID_ECR3410 || key_nid == NID_ECR3410_CP; }

}  // namespace

int GOST_pkey_init(EVP_PKEY_CTX* ctx) {
    auto* data = new (std::nothrow) GostPkeyCtx;
    if (data == nullptr) return 0;
    EVP_PKEY_CTX_set_data(ctx, data);
    return 1;
}

int GOST_pkey_copy(EVP_PKEY_CTX* dst, const EVP_PKEY_CTX* src) {
    if (!GOST_pkey_init(dst)) return 0;
    const auto* from =
        static_cast<const GostPkeyCtx*>(EVP_PKEY_CTX_get_data(const_cast<EVP_PKEY_CTX*>(src)));
    if (from != nullptr) *GOST_pkey_data(dst) = *from;
    return 1;
}

void GOST_pkey_cleanup(EVP_PKEY_CTX* ctx) {
    delete GOST_pkey_data(ctx);
    EVP_PKEY_CTX_set_data(ctx, nullptr);
}

GostPkeyCtx* GOST_pkey_data(EVP_PKEY_CTX* ctx) {
    return static_cast<GostPkeyCtx*>(EVP_PKEY_CTX_get_data(ctx));
}

int GOST_pkey_ctrl(EVP_PKEY_CTX* ctx, int type, int p1, void* p2) {
    GostPkeyCtx* data = GOST_pkey_data(ctx);
    if (data == nullptr) return 0;
    switch (type) {
        case EVP_PKEY_CTRL_MD: {
            const auto* md = static_cast<const EVP_MD*>(p2);
            const int key_nid = EVP_PKEY_nid(EVP_PKEY_CTX_get0_pkey(ctx));
            if (md != nullptr && GOST_signature_algorithm(key_nid, md) == 0) return 0;
            data->md = md;
            return 1;
        }
        case EVP_PKEY_CTRL_GET_MD:
            *static_cast<const EVP_MD**>(p2) = data->md;
            return 1;
        case EVP_PKEY_CTRL_DIGESTINIT:
            return 1;
        case EVP_PKEY_CTRL_GOST_PARAMSET:
            data->paramset = p1;
            return 1;
        default:
            return -2;
    }
}

int GOST_pkey_ctrl_str(EVP_PKEY_CTX* ctx, const char* type, const char* value) {
    if (type == nullptr || value == nullptr || std::strcmp(type, "paramset") != 0) return -2;
    const int nid = OBJ_txt2nid(value);
    if (nid == 0) return 0;
    return GOST_pkey_ctrl(ctx, EVP_PKEY_CTRL_GOST_PARAMSET, nid, nullptr);
}

int EVP_PKEY_nid(const EVP_PKEY* pkey) {
    return pkey != nullptr ? OBJ_openssl2nid(EVP_PKEY_get_base_id(pkey)) : 0;
}

int EVP_MD_gost_sign_type(const EVP_MD* md) {
    return md != nullptr ? OBJ_openssl2nid(EVP_MD_get_pkey_type(md)) : NID_undef;
}

int GOST_sign_type(int key_nid, const EVP_MD* md) {
    const int cp = is_ecgost(key_nid) ? NID_R3411_WITH_ECR3410_CP : NID_R3411_WITH_R3410_CP;
    if (md == nullptr) {
        if (key_nid == NID_ECR3410) return NID_ECR3410_R3411;
        if (key_nid == NID_R3410) return NID_R3410_R3411;
        return cp;
    }
    const int sign_type = EVP_MD_gost_sign_type(md);
    if (sign_type == NID_R3411_WITH_ECR3410_CP || sign_type == NID_R3411_WITH_R3410_CP) return cp;
    return sign_type;
}

int GOST_signature_algorithm(int key_nid, const EVP_MD* md) {
    const int sign_type = EVP_MD_gost_sign_type(md);
    switch (key_nid) {
        case NID_ECR3410_CP:
            return sign_type == NID_R3411_WITH_ECR3410_CP || sign_type == NID_R3411_WITH_R3410_CP
                       ? NID_R3411_WITH_ECR3410_CP
                       : 0;
        case NID_R3410_CP:
            return sign_type == NID_R3411_WITH_ECR3410_CP || sign_type == NID_R3411_WITH_R3410_CP
                       ? NID_R3411_WITH_R3410_CP
                       : 0;
        case NID_ECR3410:
            return sign_type == NID_ECR3410_R3411 ? NID_ECR3410_R3411 : 0;
        case NID_R3410:
            return sign_type == NID_R3410_R3411 ? NID_R3410_R3411 : 0;
        default:
            return 0;
    }
}

int GOST_item_sign(EVP_MD_CTX* ctx, const ASN1_ITEM*, const void*, X509_ALGOR* alg1,
                   X509_ALGOR* alg2, ASN1_BIT_STRING*) {
    const EVP_PKEY* pkey = EVP_PKEY_CTX_get0_pkey(EVP_MD_CTX_get_pkey_ctx(ctx));
    const int algorithm = GOST_signature_algorithm(EVP_PKEY_nid(pkey), EVP_MD_CTX_get0_md(ctx));
    const ASN1_OBJECT* obj = OBJ_nid2obj(algorithm);
    if (algorithm == 0 || obj == nullptr) return 0;
    for (X509_ALGOR* alg : {alg1, alg2})
        if (alg != nullptr &&
            !X509_ALGOR_set0(alg, const_cast<ASN1_OBJECT*>(obj), V_ASN1_NULL, nullptr))
            return 0;
    // Algorithm identifiers written: libcrypto only signs.
    return 3;
}

EVP_PKEY_METHOD* GOST_pkey_meth_new(int openssl_nid, GostPkeySign sign, GostPkeyVerify verify,
                                    GostPkeyKeygen keygen) {
    EVP_PKEY_METHOD* m = EVP_PKEY_meth_new(openssl_nid, 0);
    if (m == nullptr) return nullptr;
    EVP_PKEY_meth_set_init(m, GOST_pkey_init);
    EVP_PKEY_meth_set_copy(m, GOST_pkey_copy);
    EVP_PKEY_meth_set_cleanup(m, GOST_pkey_cleanup);
    EVP_PKEY_meth_set_ctrl(m, GOST_pkey_ctrl, GOST_pkey_ctrl_str);
    EVP_PKEY_meth_set_sign(m, nullptr, sign);
    EVP_PKEY_meth_set_verify(m, nullptr, verify);
    EVP_PKEY_meth_set_keygen(m, nullptr, keygen);
    return m;
}

}  // namespace cadb
