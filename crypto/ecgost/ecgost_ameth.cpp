// The GOST R 34.10-2001 key types ECR3410 (181) and ECR3410-CP (271) as
// libcrypto asn1 methods: SubjectPublicKeyInfo, PKCS#8, comparison, checks,
// printing.
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <memory>
#include <vector>

#include "crypto/core/cp_key_params.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

struct EcgostDeleter {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
using EcgostPtr = std::unique_ptr<ECGOST, EcgostDeleter>;
struct OctetsDeleter {
    void operator()(ASN1_OCTET_STRING* s) const { ASN1_OCTET_STRING_free(s); }
};
using OctetsPtr = std::unique_ptr<ASN1_OCTET_STRING, OctetsDeleter>;

ECGOST* key_of(const EVP_PKEY* pkey) { return static_cast<ECGOST*>(EVP_PKEY_get0(pkey)); }

bool is_cp_curve(int nid) {
    return nid >= NID_R3410_2001_A_PARAMSET && nid <= NID_R3410_2001_XCHB_PARAMSET;
}

// Bytes of one coordinate of the key's field.
std::size_t field_bytes(const ECGOST* k) {
    return k->curve != nullptr && k->curve->p
               ? static_cast<std::size_t>(BN_num_bytes(k->curve->p.get()))
               : 0;
}

// A key on the built-in curve of a CryptoPro parameter set.
ECGOST* key_on_cp_curve(const CpKeyParams& params) {
    if (!is_cp_curve(params.key_set)) return nullptr;
    EcgostPtr key(ECGOST_new());
    if (!key || !ECGOST_set_curve_by_nid(key.get(), params.key_set)) return nullptr;
    key->nid = params.key_set;
    key->hash_nid = params.digest_set;
    key->cipher_nid = params.cipher_set;
    return key.release();
}

// The content of the DER OCTET STRING that carries a public key, exactly.
OctetsPtr read_octets(const unsigned char* der, int len) {
    const unsigned char* p = der;
    OctetsPtr os(d2i_ASN1_OCTET_STRING(nullptr, &p, len));
    if (os && p != der + len) os.reset();
    return os;
}

// Type 271: CryptoPro parameters, Q as 64 bytes x || y little-endian.
ECGOST* decode_cp_public(int ptype, const void* pval, const unsigned char* bits, int len) {
    CpKeyParams params;
    if (!CP_KEY_PARAMS_from_type(&params, ptype, pval)) return nullptr;
    EcgostPtr key(key_on_cp_curve(params));
    OctetsPtr os = read_octets(bits, len);
    if (!key || !os) return nullptr;
    const auto n = static_cast<std::size_t>(ASN1_STRING_length(os.get()));
    if (n != 2 * field_bytes(key.get())) return nullptr;
    key->Q.reset(ECPOINT_le2point(key->curve, ASN1_STRING_get0_data(os.get()), n, nullptr));
    return key->Q ? key.release() : nullptr;
}

// Type 181: the X9.62 parameter choice (a named curve, an explicit one, or
// NULL leaving the curve implicit: the point then waits, encoded, for its
// curve); Q in octet form.
ECGOST* decode_own_public(const X509_ALGOR* alg, const unsigned char* bits, int len) {
    EcgostPtr key(ECGOST_new());
    if (!key) return nullptr;
    int ptype = 0;
    X509_ALGOR_get0(nullptr, &ptype, nullptr, alg);
    if (ptype != V_ASN1_UNDEF && ptype != V_ASN1_NULL) {
        unsigned char* der = nullptr;
        const int n = i2d_ASN1_TYPE(alg->parameter, &der);
        const unsigned char* p = der;
        ECGOST* target = key.get();
        const bool ok = n > 0 && d2i_ECGOSTparams(&target, &p, n) != nullptr;
        OPENSSL_free(der);
        if (!ok) return nullptr;
    }
    const unsigned char* p = bits;
    ECGOST* target = key.get();
    if (d2i_ECGOSTPublicKey(&target, &p, len) == nullptr || p != bits + len) return nullptr;
    return key.release();
}

template <int Nid>
int pub_decode(EVP_PKEY* pkey, const X509_PUBKEY* pub) {
    const unsigned char* bits = nullptr;
    int len = 0;
    X509_ALGOR* alg = nullptr;
    if (!X509_PUBKEY_get0_param(nullptr, &bits, &len, &alg, pub)) return 0;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    ECGOST* key = Nid == NID_ECR3410_CP ? decode_cp_public(ptype, pval, bits, len)
                                        : decode_own_public(alg, bits, len);
    if (key == nullptr) return 0;
    if (!EVP_PKEY_assign(pkey, EVP_PKEY_get_base_id(pkey), key)) {
        ECGOST_free(key);
        return 0;
    }
    return 1;
}

// The DER OCTET STRING of a key's public point in the type's form.
std::vector<unsigned char> encode_public(int nid, const ECGOST* k) {
    std::vector<unsigned char> der;
    if (nid == NID_ECR3410) {
        unsigned char* out = nullptr;
        const int len = i2d_ECGOSTPublicKey(k, &out);
        if (len > 0) der.assign(out, out + len);
        OPENSSL_free(out);
        return der;
    }
    std::vector<unsigned char> point(2 * field_bytes(k));
    if (point.empty() || ECPOINT_point2le(k->Q.get(), point.data(), point.size()) == 0) return {};
    OctetsPtr os(ASN1_OCTET_STRING_new());
    if (!os || !ASN1_OCTET_STRING_set(os.get(), point.data(), static_cast<int>(point.size())))
        return {};
    const int len = i2d_ASN1_OCTET_STRING(os.get(), nullptr);
    der.resize(static_cast<std::size_t>(len > 0 ? len : 0));
    unsigned char* p = der.data();
    if (len <= 0 || i2d_ASN1_OCTET_STRING(os.get(), &p) != len) return {};
    return der;
}

// Algorithm parameters as an owned ASN1_TYPE: CryptoPro parameters for 271,
// the X9.62 choice for 181.
ASN1_TYPE* params_of(int nid, const ECGOST* k) {
    if (nid == NID_ECR3410_CP) {
        CpKeyParams params;
        params.key_set = is_cp_curve(k->nid) ? k->nid : NID_R3410_2001_A_PARAMSET;
        params.digest_set = k->hash_nid != 0 ? k->hash_nid : NID_R3411_CP_PARAMSET;
        params.cipher_set = k->cipher_nid;
        ASN1_STRING* seq = CP_KEY_PARAMS_encode(params);
        ASN1_TYPE* t = seq != nullptr ? ASN1_TYPE_new() : nullptr;
        if (t == nullptr) {
            ASN1_STRING_free(seq);
            return nullptr;
        }
        ASN1_TYPE_set(t, V_ASN1_SEQUENCE, seq);
        return t;
    }
    unsigned char* der = nullptr;
    const int len = i2d_ECGOSTparams(k, &der);
    const unsigned char* p = der;
    ASN1_TYPE* t = len > 0 ? d2i_ASN1_TYPE(nullptr, &p, len) : nullptr;
    OPENSSL_free(der);
    return t;
}

// Hands the value of an owned ASN1_TYPE to a setter taking (type, value).
template <typename Setter>
bool give_params(ASN1_TYPE* t, Setter set) {
    if (t == nullptr) return false;
    const int ptype = t->type;
    void* pval = ptype == V_ASN1_NULL ? nullptr : t->value.ptr;
    if (!set(ptype, pval)) {
        ASN1_TYPE_free(t);
        return false;
    }
    t->type = V_ASN1_NULL;
    t->value.ptr = nullptr;
    ASN1_TYPE_free(t);
    return true;
}

template <int Nid>
int pub_encode(X509_PUBKEY* pub, const EVP_PKEY* pkey) {
    const ECGOST* k = key_of(pkey);
    if (k == nullptr || !k->Q || k->curve == nullptr) return 0;
    std::vector<unsigned char> der = encode_public(Nid, k);
    if (der.empty()) return 0;
    return give_params(params_of(Nid, k), [&](int ptype, void* pval) {
        auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(der.data(), der.size()));
        if (copy != nullptr &&
            X509_PUBKEY_set0_param(pub, const_cast<ASN1_OBJECT*>(OBJ_nid2obj(Nid)), ptype, pval,
                                   copy, static_cast<int>(der.size())))
            return true;
        OPENSSL_free(copy);
        return false;
    });
}

int pub_cmp(const EVP_PKEY* a, const EVP_PKEY* b) {
    const ECGOST* x = key_of(a);
    const ECGOST* y = key_of(b);
    if (x == nullptr || y == nullptr || !x->Q || !y->Q || x->curve == nullptr ||
        y->curve == nullptr)
        return 0;
    return ECURVE_cmp(x->curve, y->curve) == 0 && ECPOINT_cmp(x->Q.get(), y->Q.get()) == 0;
}

// The common interchange form of a CryptoPro private key: the 32 bytes of d,
// least significant first, bare or as an OCTET STRING.
ECGOST* decode_cp_private_bytes(const X509_ALGOR* alg, const unsigned char* der, int len) {
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    CpKeyParams params;
    if (!CP_KEY_PARAMS_from_type(&params, ptype, pval)) return nullptr;
    EcgostPtr key(key_on_cp_curve(params));
    if (!key) return nullptr;
    const std::size_t n = field_bytes(key.get());
    OctetsPtr os;
    if (static_cast<std::size_t>(len) != n) {
        os = read_octets(der, len);
        if (!os || static_cast<std::size_t>(ASN1_STRING_length(os.get())) != n) return nullptr;
        der = ASN1_STRING_get0_data(os.get());
    }
    BnPtr d(BN_lebin2bn(der, static_cast<int>(n), nullptr));
    if (!d || BN_is_zero(d.get()) || BN_cmp(d.get(), key->curve->q.get()) >= 0 ||
        !ECGOST_set_private(key.get(), d.get()) || !ECGOST_generate_pubkey(key.get()))
        return nullptr;
    return key.release();
}

template <int Nid>
int priv_decode(EVP_PKEY* pkey, const PKCS8_PRIV_KEY_INFO* p8) {
    const unsigned char* der = nullptr;
    int len = 0;
    const X509_ALGOR* alg = nullptr;
    if (!PKCS8_pkey_get0(nullptr, &der, &len, &alg, p8) || len <= 0) return 0;
    const unsigned char* p = der;
    EcgostPtr key(d2i_ECGOSTPrivateKey(nullptr, &p, len));
    if (key && p != der + len) key.reset();
    if (!key && Nid == NID_ECR3410_CP) key.reset(decode_cp_private_bytes(alg, der, len));
    if (!key || !EVP_PKEY_assign(pkey, EVP_PKEY_get_base_id(pkey), key.get())) return 0;
    key.release();
    return 1;
}

template <int Nid>
int priv_encode(PKCS8_PRIV_KEY_INFO* p8, const EVP_PKEY* pkey) {
    const ECGOST* k = key_of(pkey);
    if (k == nullptr || !k->d) return 0;
    unsigned char* der = nullptr;
    const int len = i2d_ECGOSTPrivateKey(k, &der);
    if (len <= 0) return 0;
    const bool ok = give_params(params_of(Nid, k), [&](int ptype, void* pval) {
        return PKCS8_pkey_set0(p8, const_cast<ASN1_OBJECT*>(OBJ_nid2obj(Nid)), 0, ptype, pval, der,
                               len) == 1;
    });
    if (!ok) OPENSSL_clear_free(der, static_cast<std::size_t>(len));
    return ok;
}

int order_bits(const EVP_PKEY* pkey) {
    const ECGOST* k = key_of(pkey);
    return k != nullptr && k->curve != nullptr && k->curve->q ? BN_num_bits(k->curve->q.get()) : 0;
}

template <int Nid>
int pkey_size(const EVP_PKEY* pkey) {
    const int n = (order_bits(pkey) + 7) / 8;
    // The CryptoPro form is exactly two numbers; DER adds headers and signs.
    return Nid == NID_ECR3410_CP ? 2 * n : 2 * n + 16;
}

int security_bits(const EVP_PKEY* pkey) { return order_bits(pkey) / 2; }

int params_missing(const EVP_PKEY* pkey) {
    const ECGOST* k = key_of(pkey);
    // A curve record always holds its numbers; an implicit curve leaves p 0.
    return k == nullptr || k->curve == nullptr || !k->curve->p || BN_is_zero(k->curve->p.get());
}

int params_cmp(const EVP_PKEY* a, const EVP_PKEY* b) {
    const ECGOST* x = key_of(a);
    const ECGOST* y = key_of(b);
    if (x == nullptr || y == nullptr || x->curve == nullptr || y->curve == nullptr) return 0;
    return ECURVE_cmp(x->curve, y->curve) == 0;
}

int public_check(const EVP_PKEY* pkey) {
    const ECGOST* k = key_of(pkey);
    return k != nullptr && k->Q && ECGOST_is_pubkey_valid(k->Q.get(), 1) == 1;
}

void key_free(EVP_PKEY* pkey) { ECGOST_free(key_of(pkey)); }

template <int Nid>
int ctrl(EVP_PKEY*, int op, long, void* arg) {
    if (op != ASN1_PKEY_CTRL_DEFAULT_MD_NID) return -2;
    const int md = Nid == NID_ECR3410_CP ? NID_R3411_WITH_ECR3410_CP : NID_ECR3410_R3411;
    *static_cast<int*>(arg) = OBJ_nid2openssl(md);
    return 1;
}

int pub_print(BIO* out, const EVP_PKEY* pkey, int indent, ASN1_PCTX*) {
    return ECGOST_print(out, key_of(pkey), indent);
}

int param_print(BIO* out, const EVP_PKEY* pkey, int indent, ASN1_PCTX*) {
    return ECGOSTparams_print(out, key_of(pkey), indent);
}

template <int Nid>
EVP_PKEY_ASN1_METHOD* make_ameth() {
    EVP_PKEY_ASN1_METHOD* a = EVP_PKEY_asn1_new(OBJ_nid2openssl(Nid), ASN1_PKEY_SIGPARAM_NULL,
                                                OBJ_nid2sn(Nid), OBJ_nid2ln(Nid));
    if (a == nullptr) return nullptr;
    EVP_PKEY_asn1_set_public(
        a, GOST_reported<pub_decode<Nid>, ERR_LIB_X509_, GOST_F_X509_PUBKEY_GET, ERR_R_INTERNAL>,
        pub_encode<Nid>, pub_cmp, pub_print, pkey_size<Nid>, order_bits);
    EVP_PKEY_asn1_set_private(
        a,
        GOST_reported<priv_decode<Nid>, ERR_LIB_EVP_, GOST_F_EVP_PKCS82PKEY,
                      ERR_R_NESTED_ASN1_ERROR_>,
        GOST_reported<priv_encode<Nid>, ERR_LIB_EVP_, GOST_F_EVP_PKEY2PKCS8, ERR_R_INTERNAL>,
        pub_print);
    EVP_PKEY_asn1_set_param(a, nullptr, nullptr, params_missing, nullptr, params_cmp, param_print);
    EVP_PKEY_asn1_set_free(a, key_free);
    EVP_PKEY_asn1_set_ctrl(a, ctrl<Nid>);
    EVP_PKEY_asn1_set_item(a, nullptr, GOST_item_sign);
    EVP_PKEY_asn1_set_public_check(a, public_check);
    EVP_PKEY_asn1_set_security_bits(a, security_bits);
    return a;
}

}  // namespace

std::span<const EngineKeyType> ECGOST_key_types() {
    static const std::array<EngineKeyType, 2> types{{
        {make_ameth<NID_ECR3410>(), ECGOST_pkey_method(NID_ECR3410)},
        {make_ameth<NID_ECR3410_CP>(), ECGOST_pkey_method(NID_ECR3410_CP)},
    }};
    return types;
}

}  // namespace cadb
