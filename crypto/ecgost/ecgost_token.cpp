// The token-side method a GOST R 34.10-2001 key carries when its private
// half lives on a token, and the hashing routed through it.
#include <openssl/evp.h>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/core/token_key.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/ecgost/ecgost_evp.h"

namespace cadb {
namespace {

ECGOST* ecgost_of(const EVP_PKEY* pkey) {
    if (pkey == nullptr) return nullptr;
    const int type = EVP_PKEY_nid(pkey);
    if (type != NID_ECR3410 && type != NID_ECR3410_CP) return nullptr;
    return static_cast<ECGOST*>(EVP_PKEY_get0(pkey));
}

// The token's hash mechanism takes no parameters and so hashes with the
// CryptoPro set: a digest record with other parameters, or another hash,
// stays here.
bool token_hashes(const EVP_MD* md) {
    const int sign_type = EVP_MD_gost_sign_type(md);
    return sign_type == NID_R3411_WITH_ECR3410_CP || sign_type == NID_R3411_WITH_R3410_CP;
}

}  // namespace

const PKEY_TOKEN_METHOD* EVP_PKEY_token_method(const EVP_PKEY* pkey) {
    const ECGOST* key = ecgost_of(pkey);
    return key != nullptr ? key->token_method : nullptr;
}

void* EVP_PKEY_token_data(const EVP_PKEY* pkey) {
    const ECGOST* key = ecgost_of(pkey);
    return key != nullptr ? key->token_data : nullptr;
}

int EVP_PKEY_token_flags(const EVP_PKEY* pkey) {
    const ECGOST* key = ecgost_of(pkey);
    return key != nullptr ? key->token_flags : 0;
}

int EVP_PKEY_set_token(EVP_PKEY* pkey, const PKEY_TOKEN_METHOD* method, void* data, int flags) {
    ECGOST* key = ecgost_of(pkey);
    if (key == nullptr) return 0;
    // The old data goes with the old method; the key lock keeps a second
    // attacher from freeing it twice.
    const PKEY_TOKEN_METHOD* old_method;
    void* old_data;
    {
        LockGuard lock(CRYPTO_LOCK_ECURVE);
        old_method = key->token_method;
        old_data = key->token_data;
        key->token_method = method;
        key->token_data = data;
        key->token_flags = flags;
    }
    if (old_method != nullptr && old_method->free_data != nullptr && old_data != data)
        old_method->free_data(old_data);
    return 1;
}

int EVP_PKEY_digest_to_sign(EVP_PKEY* pkey, const EVP_MD* md, const unsigned char* data,
                            std::size_t len, unsigned char* out, unsigned int* out_len) {
    if (md == nullptr || out == nullptr || out_len == nullptr) return 0;
    const PKEY_TOKEN_METHOD* token = EVP_PKEY_token_method(pkey);
    if (token == nullptr || token->digest == nullptr ||
        (EVP_PKEY_token_flags(pkey) & PKEY_TOKEN_NO_DIGEST) != 0 || !token_hashes(md))
        return EVP_Digest(data, len, out, out_len, md, nullptr) == 1;
    std::size_t n = static_cast<std::size_t>(EVP_MD_get_size(md));
    if (token->digest(pkey, data, len, out, &n) != 1 ||
        n != static_cast<std::size_t>(EVP_MD_get_size(md)))
        return 0;
    *out_len = static_cast<unsigned int>(n);
    return 1;
}

}  // namespace cadb
