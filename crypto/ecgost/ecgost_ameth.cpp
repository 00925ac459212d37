#include <openssl/evp.h>
#include <openssl/x509.h>

#include <array>
#include <cstdint>
#include <mutex>
#include <vector>

#include "crypto/core/cp_key_params.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

struct RawKey {
    CpKeyParams params;
    std::vector<std::uint8_t> q;
};

int pub_decode(EVP_PKEY* pkey, const X509_PUBKEY* pub) {
    const unsigned char* bits = nullptr;
    int bits_len = 0;
    X509_ALGOR* alg = nullptr;
    if (!X509_PUBKEY_get0_param(nullptr, &bits, &bits_len, &alg, pub)) return 0;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, alg);
    CpKeyParams params;
    if (!CP_KEY_PARAMS_from_type(&params, ptype, pval)) return 0;
    const unsigned char* p = bits;
    ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &p, bits_len);
    if (os == nullptr) return 0;
    auto* key = new RawKey{params, {os->data, os->data + os->length}};
    ASN1_OCTET_STRING_free(os);
    return EVP_PKEY_assign(pkey, EVP_PKEY_id(pkey), key);
}

void key_free(EVP_PKEY* pkey) { delete static_cast<RawKey*>(EVP_PKEY_get0(pkey)); }

EngineKeyType make(int nid) {
    const int openssl = OBJ_nid2openssl(nid);
    EVP_PKEY_ASN1_METHOD* a =
        EVP_PKEY_asn1_new(openssl, ASN1_PKEY_SIGPARAM_NULL, OBJ_nid2sn(nid), OBJ_nid2ln(nid));
    EVP_PKEY_asn1_set_public(a, pub_decode, nullptr, nullptr, nullptr, nullptr, nullptr);
    EVP_PKEY_asn1_set_free(a, key_free);
    EVP_PKEY_METHOD* m = EVP_PKEY_meth_new(openssl, 0);
    return {a, m};
}

}  // namespace

std::span<const EngineKeyType> ECGOST_key_types() {
    static const std::array<EngineKeyType, 1> types{make(NID_ECR3410_CP)};
    return types;
}

}  // namespace cadb
