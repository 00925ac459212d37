// Signing a request: a key kept on a token hashes the request info there and
// signs that digest through its token method; every other key signs through
// libcrypto, which hashes here.
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <memory>
#include <vector>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/core/token_key.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/x509/pkcs10_local.h"

namespace cadb {
namespace {

using AlgorPtr = std::unique_ptr<X509_ALGOR, decltype(&X509_ALGOR_free)>;
using BitsPtr = std::unique_ptr<ASN1_BIT_STRING, decltype(&ASN1_BIT_STRING_free)>;

// The signature algorithm as libcrypto's signing writes it for a GOST key
// type: its object with a NULL parameter.
bool set_algorithm(X509_REQ* req, int algorithm) {
    const ASN1_OBJECT* obj = algorithm != 0 ? cadb::OBJ_nid2obj(algorithm) : nullptr;
    AlgorPtr alg(X509_ALGOR_new(), X509_ALGOR_free);
    if (obj == nullptr || !alg) return false;
    // The algorithm record takes the copy only when it succeeds.
    std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> copy(OBJ_dup(obj), ASN1_OBJECT_free);
    if (!copy || X509_ALGOR_set0(alg.get(), copy.get(), V_ASN1_NULL, nullptr) != 1) return false;
    copy.release();
    return X509_REQ_set1_signature_algo(req, alg.get()) == 1;
}

bool sign_on_token(X509_REQ* req, EVP_PKEY* key, const PKEY_TOKEN_METHOD* token, const EVP_MD* md) {
    const int key_type = EVP_PKEY_nid(key);
    if (!set_algorithm(req, GOST_signature_algorithm(key_type, md))) return false;
    unsigned char* der = nullptr;
    const int len = i2d_re_X509_REQ_tbs(req, &der);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digest_len = 0;
    const bool hashed =
        len > 0 && EVP_PKEY_digest_to_sign(key, md, der, static_cast<std::size_t>(len), digest,
                                           &digest_len) == 1;
    OPENSSL_free(der);
    if (!hashed) return false;
    std::vector<unsigned char> sig(static_cast<std::size_t>(EVP_PKEY_get_size(key)));
    auto sig_len = static_cast<unsigned int>(sig.size());
    if (sig.empty() || token->sign(GOST_sign_type(key_type, md), digest,
                                   static_cast<int>(digest_len), sig.data(), &sig_len, key) != 1)
        return false;
    BitsPtr bits(ASN1_BIT_STRING_new(), ASN1_BIT_STRING_free);
    if (!bits || ASN1_BIT_STRING_set(bits.get(), sig.data(), static_cast<int>(sig_len)) != 1)
        return false;
    // The signature is whole bytes: its encoding states no unused bits,
    // whatever its last byte ends in.
    bits->flags &= ~(ASN1_STRING_FLAG_BITS_LEFT | 0x07);
    bits->flags |= ASN1_STRING_FLAG_BITS_LEFT;
    X509_REQ_set0_signature(req, bits.release());
    return true;
}

}  // namespace

bool pkcs10_sign(X509_REQ* req, EVP_PKEY* key, const EVP_MD* md) {
    const PKEY_TOKEN_METHOD* token = EVP_PKEY_token_method(key);
    if (token == nullptr || token->sign == nullptr) return X509_REQ_sign(req, key, md) > 0;
    return sign_on_token(req, key, token, md);
}

}  // namespace cadb
