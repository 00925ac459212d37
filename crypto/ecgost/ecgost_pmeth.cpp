// The GOST R 34.10-2001 key methods: signing and verification of digests in
// the form the digest names, and key generation.
#include <openssl/evp.h>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/core/token_key.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

ECGOST* key_of(EVP_PKEY_CTX* ctx) {
    return static_cast<ECGOST*>(EVP_PKEY_get0(EVP_PKEY_CTX_get0_pkey(ctx)));
}

int sign_type(EVP_PKEY_CTX* ctx) {
    return GOST_sign_type(EVP_PKEY_nid(EVP_PKEY_CTX_get0_pkey(ctx)), GOST_pkey_data(ctx)->md);
}

int sign(EVP_PKEY_CTX* ctx, unsigned char* sig, size_t* siglen, const unsigned char* tbs,
         size_t tbslen) {
    ECGOST* key = key_of(ctx);
    if (key == nullptr || siglen == nullptr) return 0;
    if (sig == nullptr) {
        *siglen = static_cast<size_t>(EVP_PKEY_get_size(EVP_PKEY_CTX_get0_pkey(ctx)));
        return 1;
    }
    // A key kept on a token signs there.
    if (key->token_method != nullptr && key->token_method->sign != nullptr) {
        if (tbslen > 64 || *siglen > 0xFFFFFFFFu) return 0;
        unsigned int len = static_cast<unsigned int>(*siglen);
        if (key->token_method->sign(sign_type(ctx), tbs, static_cast<int>(tbslen), sig, &len,
                                    EVP_PKEY_CTX_get0_pkey(ctx)) != 1)
            return 0;
        *siglen = len;
        return 1;
    }
    return ECGOST_sign(sign_type(ctx), tbs, tbslen, sig, siglen, key);
}

int verify(EVP_PKEY_CTX* ctx, const unsigned char* sig, size_t siglen, const unsigned char* tbs,
           size_t tbslen) {
    ECGOST* key = key_of(ctx);
    if (key == nullptr || sig == nullptr) return 0;
    return ECGOST_verify(sign_type(ctx), tbs, tbslen, sig, siglen, key) == 1;
}

// Type 181 keys live on the process default curve unless a set is asked
// for; type 271 keys on a CryptoPro curve, A by default.
template <int Nid>
int keygen(EVP_PKEY_CTX* ctx, EVP_PKEY* pkey) {
    const int asked = GOST_pkey_data(ctx)->paramset;
    const bool cp = asked >= NID_R3410_2001_A_PARAMSET && asked <= NID_R3410_2001_XCHB_PARAMSET;
    int curve = Nid == NID_ECR3410_CP ? NID_R3410_2001_A_PARAMSET : NID_PRIME256V1;
    if (cp || (Nid == NID_ECR3410 && asked == NID_PRIME256V1)) curve = asked;
    ECGOST* key = ECGOST_new_by_curve(nullptr);
    if (key == nullptr) return 0;
    key->nid = curve;
    if (!ECGOST_set_curve_by_nid(key, curve) || !ECGOST_key_pair_generation(key) ||
        !EVP_PKEY_assign(pkey, OBJ_nid2openssl(Nid), key)) {
        ECGOST_free(key);
        return 0;
    }
    return 1;
}

template <int Nid>
EVP_PKEY_METHOD* make() {
    return GOST_pkey_meth_new(OBJ_nid2openssl(Nid), sign, verify, keygen<Nid>);
}

}  // namespace

EVP_PKEY_METHOD* ECGOST_pkey_method(int nid) {
    static EVP_PKEY_METHOD* const own = make<NID_ECR3410>();
    static EVP_PKEY_METHOD* const cp = make<NID_ECR3410_CP>();
    return nid == NID_ECR3410_CP ? cp : nid == NID_ECR3410 ? own : nullptr;
}

}  // namespace cadb
