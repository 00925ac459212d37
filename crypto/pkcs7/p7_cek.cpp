// The per-recipient content-key encryption by key type and form.
#include "crypto/pkcs7/p7_cek.h"

#include <openssl/crypto.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/pkcs7/p7_agree.h"
#include "crypto/pkcs7/p7_err.h"

namespace cadb {
namespace {

using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

int rsa_encrypt(int func, unsigned char* out, int out_size, const unsigned char* key, int key_len,
                EVP_PKEY* pub) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(pub, nullptr), EVP_PKEY_CTX_free);
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_encrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_encrypt(ctx.get(), nullptr, &len, key, static_cast<std::size_t>(key_len)) != 1 ||
        len > static_cast<std::size_t>(out_size) ||
        EVP_PKEY_encrypt(ctx.get(), out, &len, key, static_cast<std::size_t>(key_len)) != 1) {
        ::ERR_clear_error();
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    return static_cast<int>(len);
}

int rsa_decrypt(int func, unsigned char* out, int out_size, const unsigned char* in, int in_len,
                EVP_PKEY* key) {
    PkeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    std::size_t len = 0;
    if (!ctx || EVP_PKEY_decrypt_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_decrypt(ctx.get(), nullptr, &len, in, static_cast<std::size_t>(in_len)) != 1) {
        ::ERR_clear_error();
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    std::vector<unsigned char> tmp(len);
    const bool ok =
        EVP_PKEY_decrypt(ctx.get(), tmp.data(), &len, in, static_cast<std::size_t>(in_len)) == 1 &&
        len <= static_cast<std::size_t>(out_size);
    if (ok) std::copy_n(tmp.data(), len, out);
    OPENSSL_cleanse(tmp.data(), tmp.size());
    if (!ok) {
        ::ERR_clear_error();
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    return static_cast<int>(len);
}

bool is_gost_transport(int type) { return type == NID_ECR3410_CP || type == NID_R3410_CP; }
bool is_rsa(int type) { return type == NID_rsaEncryption || type == NID_rsa; }

int encrypt(int form_family, unsigned char* out, int out_size, const unsigned char* key,
            int key_len, PKCS7_RECIP_INFO* ri, const EVP_CIPHER* cipher) {
    const int func = P7_F_PKCS7_CEK_ENCRYPT;
    if (out == nullptr || out_size <= 0 || key == nullptr || key_len <= 0 || ri == nullptr ||
        ri->cert == nullptr) {
        P7_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    EVP_PKEY* pub = X509_get0_pubkey(ri->cert);
    const int type = pub != nullptr ? EVP_PKEY_nid(pub) : 0;
    if (is_gost_transport(type)) return PKCS7_CEK_ENCRYPT_gost(out, out_size, key, key_len, ri);
    if (is_rsa(type)) return rsa_encrypt(func, out, out_size, key, key_len, pub);
    if (type == NID_dsa || type == NID_R3410 || type == NID_ECR3410)
        return p7_agree_encrypt(form_family, out, out_size, key, key_len, ri, pub, cipher);
    P7_ERR(func, P7_R_UNSUPPORTED_KEY_TYPE);
    return 0;
}

int decrypt(int form_family, unsigned char* out, int out_size, const unsigned char* in, int in_len,
            PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey) {
    const int func = P7_F_PKCS7_CEK_DECRYPT;
    if (out == nullptr || out_size <= 0 || in == nullptr || in_len <= 0 || ri == nullptr ||
        pkey == nullptr) {
        P7_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const int type = EVP_PKEY_nid(pkey);
    if (is_gost_transport(type) || type == NID_R3410 || type == NID_ECR3410) {
        // A key wrapped under its key store is unwrapped first.
        if (EVP_PKEY_decrypt_opaque(pkey, nullptr) != 1) {
            P7_ERR(func, P7_R_METH_LIB);
            return 0;
        }
    }
    if (is_gost_transport(type)) return PKCS7_CEK_DECRYPT_gost(out, out_size, in, in_len, ri, pkey);
    if (is_rsa(type)) {
        if (form_family == RECIP_FORM_AGREE && ri->version != nullptr &&
            ASN1_INTEGER_get(ri->version) != 0) {
            P7_ERR(func, P7_R_UNSUPPORTED_KEY_TYPE);
            return 0;
        }
        return rsa_decrypt(func, out, out_size, in, in_len, pkey);
    }
    if (type == NID_dsa || type == NID_R3410 || type == NID_ECR3410)
        return p7_agree_decrypt(form_family, out, out_size, in, in_len, ri, pkey);
    P7_ERR(func, P7_R_UNSUPPORTED_KEY_TYPE);
    return 0;
}

}  // namespace

int PKCS7_CEK_ENCRYPT(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                      PKCS7_RECIP_INFO* ri, const EVP_CIPHER* cipher) {
    return encrypt(RECIP_FORM_AGREE, out, out_size, key, key_len, ri, cipher);
}

int PKCS7_CEK_ENCRYPT2(unsigned char* out, int out_size, const unsigned char* key, int key_len,
                       PKCS7_RECIP_INFO* ri, const EVP_CIPHER* cipher) {
    return encrypt(RECIP_FORM_TRANSPORT, out, out_size, key, key_len, ri, cipher);
}

int PKCS7_CEK_DECRYPT(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                      PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey) {
    return decrypt(RECIP_FORM_AGREE, out, out_size, in, in_len, ri, pkey);
}

int PKCS7_CEK_DECRYPT2(unsigned char* out, int out_size, const unsigned char* in, int in_len,
                       PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey) {
    return decrypt(RECIP_FORM_TRANSPORT, out, out_size, in, in_len, ri, pkey);
}

}  // namespace cadb
