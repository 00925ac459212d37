// The GOST R 34.10-94 key types R3410 (177) and R3410-CP (272) as libcrypto
// asn1 methods: SubjectPublicKeyInfo, PKCS#8, comparison, checks, printing.
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <memory>

#include "crypto/core/cp_key_params.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"

namespace cadb {
namespace {

struct GostsDeleter {
    void operator()(GOSTS* k) const { GOSTS_free(k); }
};
using GostsPtr = std::unique_ptr<GOSTS, GostsDeleter>;

struct DerDeleter {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};
using DerPtr = std::unique_ptr<unsigned char, DerDeleter>;

GOSTS* key_of(const EVP_PKEY* pkey) { return static_cast<GOSTS*>(EVP_PKEY_get0(pkey)); }

bool has_params(const GOSTS* k) { return k->p && k->q && k->a; }

bool is_cp_paramset(int nid) {
    return nid >= NID_R3410_94_A_PARAMSET && nid <= NID_R3410_94_XCHC_PARAMSET;
}

// The key's CryptoPro parameters as a SEQUENCE string.
ASN1_STRING* cp_params_of(const GOSTS* k) {
    CpKeyParams params;
    params.key_set = is_cp_paramset(k->param_nid) ? k->param_nid : NID_R3410_94_A_PARAMSET;
    params.digest_set = k->hash_nid != 0 ? k->hash_nid : NID_R3411_CP_PARAMSET;
    params.cipher_set = k->cipher_nid;
    return CP_KEY_PARAMS_encode(params);
}

// Applies CryptoPro parameters to a key: the built-in set of their number.
bool apply_cp_params(GOSTS* k, int ptype, const void* pval) {
    CpKeyParams params;
    if (!CP_KEY_PARAMS_from_type(&params, ptype, pval) || !is_cp_paramset(params.key_set))
        return false;
    if (!R3410_set_params_by_nid(k, params.key_set)) return false;
    k->param_nid = params.key_set;
    k->hash_nid = params.digest_set;
    k->cipher_nid = params.cipher_set;
    return true;
}

// Parameters of a type-177 key: the parameter DER, or the default set.
bool apply_own_params(GOSTS* k, int ptype, const void* pval) {
    if (ptype != V_ASN1_SEQUENCE) return R3410_set_default_params(k) != 0;
    const auto* s = static_cast<const ASN1_STRING*>(pval);
    const unsigned char* p = ASN1_STRING_get0_data(s);
    const long len = ASN1_STRING_length(s);
    GOSTS* out = k;
    return d2i_R3410params(&out, &p, len) != nullptr && p == ASN1_STRING_get0_data(s) + len;
}

// Writes the algorithm parameters of a key of the given type.
bool own_params_of(GOSTS* k, const EVP_PKEY* pkey, int* ptype, ASN1_STRING** pval) {
    if (!EVP_PKEY_save_parameters(const_cast<EVP_PKEY*>(pkey), -1)) {
        *ptype = V_ASN1_NULL;
        *pval = nullptr;
        return true;
    }
    if (!has_params(k) && !R3410_set_default_params(k)) return false;
    unsigned char* der = nullptr;
    const int len = i2d_R3410params(k, &der);
    if (len <= 0) return false;
    ASN1_STRING* s = ASN1_STRING_new();
    if (s == nullptr) {
        OPENSSL_free(der);
        return false;
    }
    ASN1_STRING_set0(s, der, len);
    *ptype = V_ASN1_SEQUENCE;
    *pval = s;
    return true;
}

bool params_of(int nid, GOSTS* k, const EVP_PKEY* pkey, int* ptype, ASN1_STRING** pval) {
    if (nid == NID_R3410) return own_params_of(k, pkey, ptype, pval);
    *ptype = V_ASN1_SEQUENCE;
    *pval = cp_params_of(k);
    return *pval != nullptr;
}

template <int Nid>
int pub_decode(EVP_PKEY* pkey, const X509_PUBKEY* pub) {
    const unsigned char* bits = nullptr;
    int bits_len = 0;
    X509_ALGOR* alg = nullptr;
    if (!X509_PUBKEY_get0_param(nullptr, &bits, &bits_len, &alg, pub)) return 0;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    GostsPtr key(GOSTS_new());
    if (!key) return 0;
    const unsigned char* p = bits;
    if (Nid == NID_R3410_CP) {
        if (!apply_cp_params(key.get(), ptype, pval) ||
            !d2i_R3410_CP_PublicKey(key.get(), &p, bits_len))
            return 0;
    } else {
        GOSTS* out = key.get();
        if (!apply_own_params(key.get(), ptype, pval) ||
            d2i_R3410PublicKey(&out, &p, bits_len) == nullptr)
            return 0;
    }
    if (p != bits + bits_len || !key->y) return 0;
    return EVP_PKEY_assign(pkey, EVP_PKEY_get_base_id(pkey), key.release());
}

template <int Nid>
int pub_encode(X509_PUBKEY* pub, const EVP_PKEY* pkey) {
    GOSTS* k = key_of(pkey);
    if (k == nullptr || !k->y) return 0;
    int ptype = 0;
    ASN1_STRING* pval = nullptr;
    if (!params_of(Nid, k, pkey, &ptype, &pval)) return 0;
    unsigned char* der = nullptr;
    const int len =
        Nid == NID_R3410_CP ? i2d_R3410_CP_PublicKey(k, &der) : i2d_R3410PublicKey(k, &der);
    if (len <= 0 || !X509_PUBKEY_set0_param(pub, const_cast<ASN1_OBJECT*>(OBJ_nid2obj(Nid)), ptype,
                                            pval, der, len)) {
        ASN1_STRING_free(pval);
        OPENSSL_free(der);
        return 0;
    }
    return 1;
}

int params_cmp(const EVP_PKEY* a, const EVP_PKEY* b) {
    const GOSTS* x = key_of(a);
    const GOSTS* y = key_of(b);
    if (x == nullptr || y == nullptr || !has_params(x) || !has_params(y)) return 0;
    return BN_cmp(x->p.get(), y->p.get()) == 0 && BN_cmp(x->q.get(), y->q.get()) == 0 &&
           BN_cmp(x->a.get(), y->a.get()) == 0;
}

int pub_cmp(const EVP_PKEY* a, const EVP_PKEY* b) {
    const GOSTS* x = key_of(a);
    const GOSTS* y = key_of(b);
    if (x == nullptr || y == nullptr || !x->y || !y->y) return 0;
    return BN_cmp(x->y.get(), y->y.get()) == 0;
}

template <int Nid>
int priv_decode(EVP_PKEY* pkey, const PKCS8_PRIV_KEY_INFO* p8) {
    const unsigned char* der = nullptr;
    int len = 0;
    const X509_ALGOR* alg = nullptr;
    if (!PKCS8_pkey_get0(nullptr, &der, &len, &alg, p8)) return 0;
    const unsigned char* p = der;
    GostsPtr key(d2i_R3410PrivateKey(nullptr, &p, len));
    if (!key || p != der + len || !has_params(key.get())) return 0;
    if (Nid == NID_R3410_CP) {
        int ptype = 0;
        const void* pval = nullptr;
        X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
        CpKeyParams params;
        if (CP_KEY_PARAMS_from_type(&params, ptype, pval) && is_cp_paramset(params.key_set)) {
            key->param_nid = params.key_set;
            key->hash_nid = params.digest_set;
            key->cipher_nid = params.cipher_set;
        }
    }
    return EVP_PKEY_assign(pkey, EVP_PKEY_get_base_id(pkey), key.release());
}

template <int Nid>
int priv_encode(PKCS8_PRIV_KEY_INFO* p8, const EVP_PKEY* pkey) {
    GOSTS* k = key_of(pkey);
    if (k == nullptr || !k->x) return 0;
    int ptype = 0;
    ASN1_STRING* pval = nullptr;
    if (!params_of(Nid, k, pkey, &ptype, &pval)) return 0;
    unsigned char* der = nullptr;
    const int len = i2d_R3410PrivateKey(k, &der);
    if (len <= 0 || !PKCS8_pkey_set0(p8, const_cast<ASN1_OBJECT*>(OBJ_nid2obj(Nid)), 0, ptype, pval,
                                     der, len)) {
        ASN1_STRING_free(pval);
        if (der != nullptr) OPENSSL_clear_free(der, static_cast<size_t>(len));
        return 0;
    }
    return 1;
}

int pkey_size(const EVP_PKEY* pkey) {
    const GOSTS* k = key_of(pkey);
    return k != nullptr ? GOSTS_signature_size(k) : 0;
}

int pkey_bits(const EVP_PKEY* pkey) {
    const GOSTS* k = key_of(pkey);
    return k != nullptr && k->p ? BN_num_bits(k->p.get()) : 0;
}

int security_bits(const EVP_PKEY* pkey) {
    const GOSTS* k = key_of(pkey);
    if (k == nullptr || !has_params(k)) return 0;
    return BN_security_bits(BN_num_bits(k->p.get()), BN_num_bits(k->q.get()));
}

int params_missing(const EVP_PKEY* pkey) {
    const GOSTS* k = key_of(pkey);
    return k == nullptr || !has_params(k);
}

int public_check(const EVP_PKEY* pkey) { return R3410_check_pubkey(key_of(pkey), 1); }

void key_free(EVP_PKEY* pkey) { GOSTS_free(key_of(pkey)); }

template <int Nid>
int ctrl(EVP_PKEY* pkey, int op, long, void* arg) {
    if (op != ASN1_PKEY_CTRL_DEFAULT_MD_NID) return -2;
    (void)pkey;
    const int md = Nid == NID_R3410_CP ? NID_R3411_WITH_R3410_CP : NID_RUS_HASH;
    *static_cast<int*>(arg) = OBJ_nid2openssl(md);
    return 1;
}

int pub_print(BIO* out, const EVP_PKEY* pkey, int indent, ASN1_PCTX*) {
    return R3410_print(out, key_of(pkey), indent);
}

int priv_print(BIO* out, const EVP_PKEY* pkey, int indent, ASN1_PCTX*) {
    return R3410_print(out, key_of(pkey), indent);
}

int param_print(BIO* out, const EVP_PKEY* pkey, int indent, ASN1_PCTX*) {
    return R3410params_print(out, key_of(pkey), indent);
}

template <int Nid>
EVP_PKEY_ASN1_METHOD* make_ameth() {
    EVP_PKEY_ASN1_METHOD* a = EVP_PKEY_asn1_new(OBJ_nid2openssl(Nid), ASN1_PKEY_SIGPARAM_NULL,
                                                OBJ_nid2sn(Nid), OBJ_nid2ln(Nid));
    if (a == nullptr) return nullptr;
    EVP_PKEY_asn1_set_public(
        a, GOST_reported<pub_decode<Nid>, ERR_LIB_X509_, GOST_F_X509_PUBKEY_GET, ERR_R_INTERNAL>,
        pub_encode<Nid>, pub_cmp, pub_print, pkey_size, pkey_bits);
    EVP_PKEY_asn1_set_private(
        a,
        GOST_reported<priv_decode<Nid>, ERR_LIB_EVP_, GOST_F_EVP_PKCS82PKEY,
                      ERR_R_NESTED_ASN1_ERROR_>,
        GOST_reported<priv_encode<Nid>, ERR_LIB_EVP_, GOST_F_EVP_PKEY2PKCS8, ERR_R_INTERNAL>,
        priv_print);
    EVP_PKEY_asn1_set_param(a, nullptr, nullptr, params_missing, nullptr, params_cmp, param_print);
    EVP_PKEY_asn1_set_free(a, key_free);
    EVP_PKEY_asn1_set_ctrl(a, ctrl<Nid>);
    EVP_PKEY_asn1_set_item(a, nullptr, GOST_item_sign);
    EVP_PKEY_asn1_set_public_check(a, public_check);
    EVP_PKEY_asn1_set_security_bits(a, security_bits);
    return a;
}

}  // namespace

std::span<const EngineKeyType> R3410_key_types() {
    static const std::array<EngineKeyType, 2> types{{
        {make_ameth<NID_R3410>(), R3410_pkey_method(NID_R3410)},
        {make_ameth<NID_R3410_CP>(), R3410_pkey_method(NID_R3410_CP)},
    }};
    return types;
}

}  // namespace cadb
