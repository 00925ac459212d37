// The GOST R 34.10-94 key methods: signing and verification of digests in
// the form the digest names, and key generation.
#include <openssl/evp.h>

#include <climits>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"

namespace cadb {
namespace {

GOSTS* key_of(EVP_PKEY_CTX* ctx) {
    return static_cast<GOSTS*>(EVP_PKEY_get0(EVP_PKEY_CTX_get0_pkey(ctx)));
}

int sign_type(EVP_PKEY_CTX* ctx) {
    return GOST_sign_type(EVP_PKEY_nid(EVP_PKEY_CTX_get0_pkey(ctx)), GOST_pkey_data(ctx)->md);
}

int sign(EVP_PKEY_CTX* ctx, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
         size_t tbslen) {
    GOSTS* key = key_of(ctx);
    if (key == nullptr || siglen == nullptr || tbslen > INT_MAX) return 0;
    const int max = GOSTS_signature_size(key);
    if (sig == nullptr) {
        *siglen = static_cast<size_t>(max);
        return 1;
    }
    if (*siglen < static_cast<size_t>(max)) return 0;
    unsigned int len = 0;
    if (!GOSTS_sign(sign_type(ctx), tbs, static_cast<int>(tbslen), sig, &len, key)) return 0;
    *siglen = len;
    return 1;
}

int verify(EVP_PKEY_CTX* ctx, const unsigned char* sig, size_t siglen, const unsigned char* tbs,
           size_t tbslen) {
    GOSTS* key = key_of(ctx);
    if (key == nullptr || sig == nullptr || siglen > INT_MAX || tbslen > INT_MAX) return 0;
    return GOSTS_verify(sign_type(ctx), tbs, static_cast<int>(tbslen), sig,
                        static_cast<int>(siglen), key) == 1;
}

template <int Nid>
int keygen(EVP_PKEY_CTX* ctx, EVP_PKEY* pkey) {
    GOSTS* key = GOSTS_new();
    if (key == nullptr) return 0;
    const int paramset = GOST_pkey_data(ctx)->paramset;
    bool ok;
    if (Nid == NID_R3410_CP) {
        key->param_nid =
            paramset >= NID_R3410_94_A_PARAMSET && paramset <= NID_R3410_94_XCHC_PARAMSET
                ? paramset
                : NID_R3410_94_A_PARAMSET;
        ok = R3410_set_params_by_nid(key, key->param_nid);
    } else {
        ok = R3410_set_default_params(key);
    }
    if (!ok || !GOSTS_generate_pubkey(key, nullptr, 0) ||
        !EVP_PKEY_assign(pkey, OBJ_nid2openssl(Nid), key)) {
        GOSTS_free(key);
        return 0;
    }
    return 1;
}

template <int Nid>
EVP_PKEY_METHOD* make() {
    return GOST_pkey_meth_new(OBJ_nid2openssl(Nid), sign, verify, keygen<Nid>);
}

}  // namespace

EVP_PKEY_METHOD* R3410_pkey_method(int nid) {
    static EVP_PKEY_METHOD* const own = make<NID_R3410>();
    static EVP_PKEY_METHOD* const cp = make<NID_R3410_CP>();
    return nid == NID_R3410_CP ? cp : nid == NID_R3410 ? own : nullptr;
}

}  // namespace cadb
