// Public keys read from token objects, the DER identifiers of the GOST
// parameter sets, and the mechanism records of the key method.
#include <openssl/crypto.h>
#include <openssl/objects.h>

#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/tokenstore/pkcs11_key_local.h"

namespace cadb {

namespace pkcs11 {

bool read_attribute(PKCS11_OBJ* ctx, CK_ATTRIBUTE_TYPE type, std::vector<unsigned char>* out) {
    CK_ULONG len = 0;
    if (!PKCS11_OBJ_get_attribute(ctx, type, nullptr, &len)) return false;
    // A module that cannot say the size has no value to give.
    if (len == CK_UNAVAILABLE_INFORMATION || len > (1UL << 24)) return false;
    try {
        out->assign(len, 0);
    } catch (const std::exception&) {
        return false;
    }
    if (len == 0) return true;
    CK_ULONG got = len;
    if (!PKCS11_OBJ_get_attribute(ctx, type, out->data(), &got) || got != len) {
        OPENSSL_cleanse(out->data(), out->size());
        out->clear();
        return false;
    }
    return true;
}

int nid_of_der(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    ASN1_OBJECT* obj = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size()));
    if (obj == nullptr) {
        ::ERR_clear_error();
        return 0;
    }
    const bool whole = p == der.data() + der.size();
    const int nid = whole ? cadb::OBJ_obj2nid(obj) : 0;
    ASN1_OBJECT_free(obj);
    return nid;
}

bool der_of_nid(int nid, std::vector<unsigned char>* out) {
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(nid);
    if (obj == nullptr) return false;
    const int len = i2d_ASN1_OBJECT(obj, nullptr);
    if (len <= 0) return false;
    out->assign(static_cast<std::size_t>(len), 0);
    unsigned char* p = out->data();
    return i2d_ASN1_OBJECT(obj, &p) == len;
}

EVP_PKEY* evp_of(ECGOST* key) {
    EVP_PKEY* pkey = EVP_PKEY_new();
    if (pkey == nullptr || !EVP_PKEY_assign(pkey, cadb::OBJ_nid2openssl(NID_ECR3410_CP), key)) {
        ::ERR_clear_error();
        EVP_PKEY_free(pkey);
        return nullptr;
    }
    return pkey;
}

}  // namespace pkcs11

using pkcs11::read_attribute;

EVP_PKEY* PKCS11_key_get_public(PKCS11_OBJ* ctx) {
    constexpr int F = PKCS11_F_PKCS11_KEY_GET_PUBLIC;
    if (ctx == nullptr) {
        PKCS11_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    std::lock_guard<std::recursive_mutex> lock(ctx->mutex);
    CK_KEY_TYPE type = 0;
    CK_ULONG len = sizeof type;
    if (!PKCS11_OBJ_get_attribute(ctx, CKA_KEY_TYPE, &type, &len) || len != sizeof type ||
        type != CKK_GOSTR3410) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    // The point is x then y, 32 bytes each, least significant byte first:
    // any other length is no key of this type.
    std::vector<unsigned char> value, params, digest_params, cipher_params;
    if (!read_attribute(ctx, CKA_VALUE, &value) || value.size() != 64 ||
        !read_attribute(ctx, CKA_GOSTR3410_PARAMS, &params) ||
        !read_attribute(ctx, CKA_GOSTR3411_PARAMS, &digest_params)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    ERR_set_mark();
    const bool has_cipher = read_attribute(ctx, CKA_GOST28147_PARAMS, &cipher_params);
    ERR_pop_to_mark();
    const int nid = pkcs11::nid_of_der(params);
    const int hash_nid = pkcs11::nid_of_der(digest_params);
    const int cipher_nid = has_cipher ? pkcs11::nid_of_der(cipher_params) : 0;
    if (nid < NID_R3410_2001_A_PARAMSET || nid > NID_R3410_2001_XCHB_PARAMSET || hash_nid == 0) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    std::unique_ptr<ECGOST, decltype(&ECGOST_free)> key(ECGOST_new_by_curve(nullptr), ECGOST_free);
    if (!key || !ECGOST_set_curve_by_nid(key.get(), nid)) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    key->nid = nid;
    key->hash_nid = hash_nid;
    key->cipher_nid = cipher_nid;
    key->Q.reset(ECPOINT_le2point(key->curve, value.data(), value.size(), nullptr));
    if (!key->Q || ECGOST_is_pubkey_valid(key->Q.get(), 0) != 1) {
        PKCS11_ERR(F, ERR_R_INTERNAL);
        return nullptr;
    }
    EVP_PKEY* pkey = pkcs11::evp_of(key.get());
    if (pkey == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_KEY_GET_EVP, ERR_R_INTERNAL);
        return nullptr;
    }
    key.release();
    return pkey;
}

CK_MECHANISM* PKCS11_MECHANISM_new(CK_MECHANISM_TYPE type) {
    auto* m = new (std::nothrow) CK_MECHANISM{type, nullptr, 0};
    if (m == nullptr) PKCS11_ERR(PKCS11_F_PKCS11_MECHANISM_NEW, ERR_R_MALLOC);
    return m;
}

CK_GOSTR3410_DERIVE_PARAMS* PKCS11_DERIVE_PARAMS_new() {
    auto* p = new (std::nothrow) CK_GOSTR3410_DERIVE_PARAMS{};
    if (p == nullptr) PKCS11_ERR(PKCS11_F_PKCS11_DERIVE_PARAMS_NEW, ERR_R_MALLOC);
    return p;
}

CK_GOSTR3410_KEY_WRAP_PARAMS* PKCS11_WRAP_PARAMS_new() {
    auto* p = new (std::nothrow) CK_GOSTR3410_KEY_WRAP_PARAMS{};
    if (p == nullptr) PKCS11_ERR(PKCS11_F_PKCS11_WRAP_PARAMS_NEW, ERR_R_MALLOC);
    return p;
}

void PKCS11_MECHANISM_free(CK_MECHANISM* m) {
    if (m == nullptr) return;
    if (m->mechanism == CKM_GOSTR3410_DERIVE && m->pParameter != nullptr) {
        auto* p = static_cast<CK_GOSTR3410_DERIVE_PARAMS*>(m->pParameter);
        delete[] p->pPublicData;
        if (p->pUKM != nullptr) OPENSSL_cleanse(p->pUKM, p->ulUKMLen);
        delete[] p->pUKM;
        delete p;
    } else if (m->mechanism == CKM_GOSTR3410_KEY_WRAP && m->pParameter != nullptr) {
        delete static_cast<CK_GOSTR3410_KEY_WRAP_PARAMS*>(m->pParameter);
    }
    delete m;
}

}  // namespace cadb
