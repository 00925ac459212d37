// Encoding private keys as key files: the type's own structure or PKCS#8,
// DER or PEM, password-protected when a password callback is given, the
// GOST private key wrapped under a key store when one is given.
#include <openssl/crypto.h>
#include <openssl/dsa.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>
#include <memory>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/passwd.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/engine/pkcs8_pbes2.h"
#include "crypto/keys/pkey_local.h"
#include "crypto/r3410/r3410.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

constexpr int kPasswordRoom = 4096;
constexpr int kPkcs8Iterations = 2048;

// The password area of one encoding, wiped however it ends.
struct PasswordArea {
    std::array<char, kPasswordRoom + 1> b{};
    int len = -1;
    ~PasswordArea() { OPENSSL_cleanse(b.data(), b.size()); }
    bool ask(BUFFER_PASSWD_CB cb, void* arg) {
        const int n = cb(b.data(), kPasswordRoom, 1, arg);
        if (n < 0 || n > kPasswordRoom) return false;
        len = n;
        return true;
    }
};

bool is_rsa(int type) { return type == EVP_PKEY_RSA || type == NID_rsa; }

// The cipher of written files: the key's own, else the type's default.
int traditional_cipher(const PKEY* key) {
    if (key->cipher != nullptr) return OBJ_openssl2nid(EVP_CIPHER_get_nid(key->cipher));
    return is_rsa(key->type) || key->type == EVP_PKEY_DSA ? NID_des_ede3_cbc : NID_RUS_GAMMAR;
}

const EVP_CIPHER* pkcs8_cipher(const PKEY* key) {
    if (key->cipher != nullptr) return key->cipher;
    return is_rsa(key->type) || key->type == EVP_PKEY_DSA ? EVP_des_ede3_cbc() : EVP_rus_gammar();
}

const EVP_MD* pkcs8_prf(const PKEY* key) {
    return is_rsa(key->type) || key->type == EVP_PKEY_DSA ? EVP_sha1() : EVP_rus_hash();
}

// The type's own private-key structure and its encoder. The CryptoPro types
// have none of their own: their traditional form is the PrivateKeyInfo.
struct Traditional {
    void* obj;
    i2d_of_void* i2d;
};

int i2d_private_key(const void* pkey, unsigned char** out) {
    return i2d_PrivateKey(static_cast<const EVP_PKEY*>(pkey), out);
}
int i2d_rsa(const void* rsa, unsigned char** out) {
    return i2d_RSAPrivateKey(static_cast<const RSA*>(rsa), out);
}
int i2d_dsa(const void* dsa, unsigned char** out) {
    return i2d_DSAPrivateKey(static_cast<const DSA*>(dsa), out);
}
int i2d_ecgost(const void* key, unsigned char** out) {
    return i2d_ECGOSTPrivateKey(static_cast<const ECGOST*>(key), out);
}
int i2d_r3410(const void* key, unsigned char** out) {
    return i2d_R3410PrivateKey(static_cast<const GOSTS*>(key), out);
}
int i2d_p8(const void* p8, unsigned char** out) {
    return i2d_PKCS8_PRIV_KEY_INFO(static_cast<const PKCS8_PRIV_KEY_INFO*>(p8), out);
}
int i2d_sig(const void* sig, unsigned char** out) {
    return i2d_X509_SIG(static_cast<const X509_SIG*>(sig), out);
}

template <typename F>
i2d_of_void* as_i2d(F f) {
    return reinterpret_cast<i2d_of_void*>(f);
}

Traditional traditional_of(const PKEY* key) {
    EVP_PKEY* pkey = key->key;
    if (is_rsa(key->type)) return {const_cast<RSA*>(EVP_PKEY_get0_RSA(pkey)), as_i2d(i2d_rsa)};
    switch (key->type) {
        case EVP_PKEY_DSA:
            return {const_cast<DSA*>(EVP_PKEY_get0_DSA(pkey)), as_i2d(i2d_dsa)};
        case NID_ECR3410:
            return {EVP_PKEY_get0(pkey), as_i2d(i2d_ecgost)};
        case NID_R3410:
            return {EVP_PKEY_get0(pkey), as_i2d(i2d_r3410)};
        default:
            return {pkey, as_i2d(i2d_private_key)};
    }
}

BUFFER* traditional(const PKEY* key, int format, BUFFER_PASSWD_CB cb, void* arg) {
    const Traditional t = traditional_of(key);
    if (t.obj == nullptr) return nullptr;
    if (format != FORM_PEM) return x2der(t.obj, t.i2d);
    const char* label = PKEY_pem_name(key->type);
    if (cb == nullptr) return x2pem(t.obj, t.i2d, label, 0, nullptr, 0);
    PasswordArea password;
    if (!password.ask(cb, arg)) return nullptr;
    // Traditional PEM takes the password exactly as the user gave it.
    return x2pem(t.obj, t.i2d, label, traditional_cipher(key), password.b.data(), password.len);
}

BUFFER* pkcs8(const PKEY* key, int format, BUFFER_PASSWD_CB cb, void* arg) {
    std::unique_ptr<PKCS8_PRIV_KEY_INFO, decltype(&PKCS8_PRIV_KEY_INFO_free)> p8(
        EVP_PKEY2PKCS8(key->key), PKCS8_PRIV_KEY_INFO_free);
    if (!p8) return nullptr;
    if (cb == nullptr)
        return format == FORM_PEM ? x2pem(p8.get(), as_i2d(i2d_p8), "PRIVATE KEY", 0, nullptr, 0)
                                  : x2der(p8.get(), as_i2d(i2d_p8));
    PasswordArea password;
    if (!password.ask(cb, arg)) return nullptr;
    int converted_len = 0;
    char* converted = PASSWD_encode(password.b.data(), password.len, &converted_len);
    if (converted == nullptr) return nullptr;
    std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> sig(
        PKCS8_encrypt_pbes2(pkcs8_cipher(key), pkcs8_prf(key), converted, converted_len,
                            kPkcs8Iterations, p8.get()),
        X509_SIG_free);
    OPENSSL_clear_free(converted, static_cast<std::size_t>(converted_len) + 1);
    if (!sig) return nullptr;
    return format == FORM_PEM
               ? x2pem(sig.get(), as_i2d(i2d_sig), "ENCRYPTED PRIVATE KEY", 0, nullptr, 0)
               : x2der(sig.get(), as_i2d(i2d_sig));
}

}  // namespace

BUFFER* PKEY_get(PKEY* key, int format, int form, PSE* store, BUFFER_PASSWD_CB cb, void* arg) {
    if (key == nullptr || key->key == nullptr) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    const bool wrap =
        store != nullptr && pkey_is_gost(key->type) && key->state != PKEY_STATE_NO_PRIVATE;
    if (wrap && (!EVP_PKEY_set_pse(key->key, store) || !EVP_PKEY_encrypt_opaque(key->key, store))) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GET, ERR_LIB_CADB);
        return nullptr;
    }
    BUFFER* out = form == PKEY_FORM_TRADITIONAL ? traditional(key, format, cb, arg)
                                                : pkcs8(key, format, cb, arg);
    // The key is held unwrapped whether or not the encoding worked, so that
    // it still signs.
    if (wrap && !EVP_PKEY_decrypt_opaque(key->key, nullptr)) {
        BUFFER_free(out);
        out = nullptr;
    }
    if (out == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKEY_GET, ERR_LIB_CADB);
    return out;
}

BUFFER* PKEY_get_passwd(PKEY* key, int format, int form, PSE* store, const char* passwd,
                        int passwd_len) {
    if (passwd == nullptr) return PKEY_get(key, format, form, store, nullptr, nullptr);
    BufferPtr pw(BUFFER_fill(passwd, passwd_len > 0 ? passwd_len : -1));
    if (!pw) return nullptr;
    return PKEY_get(key, format, form, store, BUFFER_passwd_cb, pw.get());
}

}  // namespace cadb
