#include "crypto/engine/evp_pkey.h"

#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <array>
#include <cstdint>
#include <memory>

#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/engine/pkcs8_pbes2.h"
#include "crypto/r3410/r3410.h"
#include "crypto/r3410/r3410_evp.h"

namespace cadb {
namespace {

constexpr int kPasswordSize = 1024;
constexpr int kR3410MinQBits = 254;
constexpr int kR3410MaxQBits = 256;

// Without a callback of the caller's, nothing may fall back to libcrypto's
// own, which would ask on the terminal.
int no_password(char*, int, int, void*) { return -1; }

bool is_dsa(int type) {
    return type == EVP_PKEY_DSA || type == EVP_PKEY_DSA2 || type == EVP_PKEY_DSA3 ||
           type == EVP_PKEY_DSA4;
}
bool is_ecgost(int nid) { return nid == NID_ECR3410 || nid == NID_ECR3410_CP; }
bool is_r3410(int nid) { return nid == NID_R3410 || nid == NID_R3410_CP; }

int check_dsa(const EVP_PKEY* pkey, int full) {
    const DSA* dsa = EVP_PKEY_get0_DSA(const_cast<EVP_PKEY*>(pkey));
    const BIGNUM *p = nullptr, *q = nullptr, *y = nullptr;
    if (dsa == nullptr) return 0;
    DSA_get0_pqg(dsa, &p, &q, nullptr);
    DSA_get0_key(dsa, &y, nullptr);
    if (p == nullptr || q == nullptr || y == nullptr || BN_is_zero(y) || BN_is_negative(y) ||
        BN_cmp(y, p) >= 0)
        return 0;
    if (!full) return 1;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> r(BN_new(), BN_free);
    return ctx && r && BN_mod_exp(r.get(), y, q, p, ctx.get()) && BN_is_one(r.get());
}

// The version field of a traditional DSA private key, which libcrypto reads
// without looking at it: only version 0 (02 01 00) is a DSA key.
bool dsa_version_zero(const unsigned char* der, long len) {
    const unsigned char* p = der;
    long content = 0;
    int tag = 0;
    int cls = 0;
    if (ASN1_get_object(&p, &content, &tag, &cls, len) & 0x80) return false;
    const long left = len - (p - der);
    return left >= 3 && p[0] == 0x02 && p[1] == 0x01 && p[2] == 0x00;
}

// A traditional DSA private key as libcrypto reads it is whatever numbers
// the file holds; written again, the public value is recomputed from x, so a
// key that is not a whole one would become another key or a file that does
// not read back. A key is taken only when its numbers are a group (p and q
// prime, q dividing p - 1, g of order q), 0 < x < q and y = g^x mod p.
bool dsa_key_sound(const DSA* dsa) {
    const BIGNUM *p = nullptr, *q = nullptr, *g = nullptr, *y = nullptr, *x = nullptr;
    DSA_get0_pqg(dsa, &p, &q, &g);
    DSA_get0_key(dsa, &y, &x);
    if (p == nullptr || q == nullptr || g == nullptr || y == nullptr || x == nullptr) return false;
    if (BN_is_negative(p) || BN_is_negative(q) || BN_is_negative(g) || BN_is_negative(x) ||
        BN_num_bits(q) < 160 || BN_num_bits(p) <= BN_num_bits(q) || BN_is_one(g) || BN_is_zero(g) ||
        BN_cmp(g, p) >= 0 || BN_is_zero(x) || BN_cmp(x, q) >= 0)
        return false;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> r(BN_new(), BN_free);
    std::unique_ptr<BIGNUM, decltype(&BN_free)> p1(BN_dup(p), BN_free);
    if (!ctx || !r || !p1) return false;
    if (!BN_sub_word(p1.get(), 1) || !BN_mod(r.get(), p1.get(), q, ctx.get()) ||
        !BN_is_zero(r.get()))
        return false;
    if (!BN_mod_exp(r.get(), g, q, p, ctx.get()) || !BN_is_one(r.get())) return false;
    if (!BN_mod_exp_mont_consttime(r.get(), g, x, p, ctx.get(), nullptr) || BN_cmp(r.get(), y) != 0)
        return false;
    return BN_check_prime(q, ctx.get(), nullptr) == 1 && BN_check_prime(p, ctx.get(), nullptr) == 1;
}

int load_form_index() {
    static const int index = EVP_PKEY_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

EVP_PKEY* with_form(EVP_PKEY* pkey, int form) {
    if (pkey != nullptr)
        EVP_PKEY_set_ex_data(pkey, load_form_index(),
                             reinterpret_cast<void*>(static_cast<std::intptr_t>(form)));
    return pkey;
}

// A DER reader for the exact length, or null.
template <typename T, T* (*Decode)(T**, const unsigned char**, long), void (*Free)(T*)>
T* exactly(const unsigned char* der, long len) {
    const unsigned char* p = der;
    T* out = Decode(nullptr, &p, len);
    if (out != nullptr && p != der + len) {
        Free(out);
        out = nullptr;
    }
    return out;
}

EVP_PKEY* from_pkcs8(PKCS8_PRIV_KEY_INFO* p8) {
    EVP_PKEY* pkey = p8 != nullptr ? EVP_PKCS82PKEY(p8) : nullptr;
    PKCS8_PRIV_KEY_INFO_free(p8);
    return pkey;
}

// Password-encrypted PKCS#8: 1 read, 0 not this form, -1 this form but
// unreadable.
int read_encrypted(const unsigned char* der, long len, pem_password_cb* cb, void* arg,
                   EVP_PKEY** out) {
    X509_SIG* sig = exactly<X509_SIG, d2i_X509_SIG, X509_SIG_free>(der, len);
    if (sig == nullptr) return 0;
    std::unique_ptr<X509_SIG, decltype(&X509_SIG_free)> owner(sig, X509_SIG_free);
    if (cb == nullptr) {
        CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_LOAD_PRIVATE, EVP_PKEY_R_NO_PASSWORD_CALLBACK);
        return -1;
    }
    std::array<char, kPasswordSize> pass{};
    const int n = cb(pass.data(), kPasswordSize, 0, arg);
    PKCS8_PRIV_KEY_INFO* p8 =
        n >= 0 && n <= kPasswordSize ? PKCS8_decrypt_pbes2(sig, pass.data(), n) : nullptr;
    OPENSSL_cleanse(pass.data(), pass.size());
    *out = from_pkcs8(p8);
    return *out != nullptr ? 1 : -1;
}

EVP_PKEY* read_bare(const unsigned char* der, long len) {
    if (EVP_PKEY* k = ECGOST_pkey_from_private_der(der, len)) return k;
    // A DSA private key has the same shape as a GOST R 34.10-94 one; the
    // standard's q of 254 to 256 bits tells them apart.
    if (EVP_PKEY* k = R3410_pkey_from_private_der(der, len)) {
        const auto* key = static_cast<const GOSTS*>(EVP_PKEY_get0(k));
        const int q_bits = key != nullptr && key->q ? BN_num_bits(key->q.get()) : 0;
        if (q_bits >= kR3410MinQBits && q_bits <= kR3410MaxQBits) return k;
        EVP_PKEY_free(k);
    }
    if (RSA* rsa = exactly<RSA, d2i_RSAPrivateKey, RSA_free>(der, len)) {
        EVP_PKEY* k = EVP_PKEY_new();
        if (k != nullptr && EVP_PKEY_assign_RSA(k, rsa)) return k;
        RSA_free(rsa);
        EVP_PKEY_free(k);
        return nullptr;
    }
    if (DSA* dsa = exactly<DSA, d2i_DSAPrivateKey, DSA_free>(der, len)) {
        if (!dsa_version_zero(der, len) || !dsa_key_sound(dsa)) {
            DSA_free(dsa);
            return nullptr;
        }
        EVP_PKEY* k = EVP_PKEY_new();
        if (k != nullptr && EVP_PKEY_assign_DSA(k, dsa)) return k;
        DSA_free(dsa);
        EVP_PKEY_free(k);
    }
    return nullptr;
}

// The DER forms in the order the library tries them.
EVP_PKEY* read_der(const unsigned char* der, long len, pem_password_cb* cb, void* arg,
                   bool* refused) {
    EVP_PKEY* pkey = nullptr;
    const int encrypted = read_encrypted(der, len, cb, arg, &pkey);
    if (encrypted != 0) {
        *refused = encrypted < 0;
        return with_form(pkey, EVP_LOAD_FORM_ENCRYPTED_PKCS8);
    }
    if (PKCS8_PRIV_KEY_INFO* p8 =
            exactly<PKCS8_PRIV_KEY_INFO, d2i_PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>(der,
                                                                                            len))
        return with_form(from_pkcs8(p8), EVP_LOAD_FORM_PKCS8);
    return with_form(read_bare(der, len), EVP_LOAD_FORM_BARE_DER);
}

EVP_PKEY* read_pem(const unsigned char* text, long len, pem_password_cb* cb, void* arg) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(text, static_cast<int>(len)),
                                                  BIO_free);
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long n = 0;
    if (!bio || !PEM_read_bio(bio.get(), &name, &header, &data, &n)) return nullptr;
    EVP_PKEY* pkey = nullptr;
    EVP_CIPHER_INFO cipher;
    if (PEM_get_EVP_CIPHER_INFO(header, &cipher) &&
        PEM_do_header(&cipher, data, &n, cb != nullptr ? cb : no_password, arg)) {
        bool refused = false;
        pkey = read_der(data, n, cb, arg, &refused);
    }
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_clear_free(data, static_cast<size_t>(n > 0 ? n : 0));
    return pkey;
}

}  // namespace

int EVP_PKEY_check_pubkey(const EVP_PKEY* pkey, int full) {
    const int type = pkey != nullptr ? EVP_PKEY_get_base_id(pkey) : NID_undef;
    const int nid = OBJ_openssl2nid(type);
    int ok;
    if (type == EVP_PKEY_RSA || type == EVP_PKEY_RSA2) {
        ok = 1;
    } else if (is_dsa(type)) {
        ok = check_dsa(pkey, full);
    } else if (is_r3410(nid)) {
        ok = R3410_pkey_check(pkey, full);
    } else if (is_ecgost(nid)) {
        ok = ECGOST_pkey_check(pkey, full);
    } else {
        CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_CHECK_PUBKEY, EVP_PKEY_R_UNSUPPORTED_TYPE);
        return 0;
    }
    if (!ok) CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_CHECK_PUBKEY, ERR_R_INTERNAL);
    return ok;
}

int EVP_PKEY_set_pse(EVP_PKEY* pkey, PSE* store) {
    const int nid = EVP_PKEY_nid(pkey);
    if (is_ecgost(nid)) return ECGOST_pkey_set_pse(pkey, store);
    if (is_r3410(nid)) return R3410_pkey_set_pse(pkey, store);
    return 0;
}

int EVP_PKEY_encrypt_opaque(EVP_PKEY* pkey, PSE* store) {
    const int nid = EVP_PKEY_nid(pkey);
    const int ok = is_ecgost(nid)  ? ECGOST_pkey_opaque(pkey, store, 1)
                   : is_r3410(nid) ? R3410_pkey_opaque(pkey, store, 1)
                                   : 0;
    if (!ok) CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_ENCRYPT_OPAQUE, ERR_LIB_PSE);
    return ok;
}

int EVP_PKEY_decrypt_opaque(EVP_PKEY* pkey, PSE* store) {
    const int nid = EVP_PKEY_nid(pkey);
    const int ok = is_ecgost(nid)  ? ECGOST_pkey_opaque(pkey, store, 0)
                   : is_r3410(nid) ? R3410_pkey_opaque(pkey, store, 0)
                                   : 0;
    if (!ok) CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_DECRYPT_OPAQUE, ERR_LIB_PSE);
    return ok;
}

int EVP_PKEY_generate_pubkey(EVP_PKEY* pkey, PSE* store) {
    const int nid = EVP_PKEY_nid(pkey);
    const int ok = is_ecgost(nid)  ? ECGOST_pkey_generate_pubkey(pkey, store)
                   : is_r3410(nid) ? R3410_pkey_generate_pubkey(pkey, store)
                                   : 0;
    if (!ok) CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_GENERATE_PUBKEY, ERR_R_INTERNAL);
    return ok;
}

EVP_PKEY* EVP_PKEY_load_private(const unsigned char* bytes, long len, PSE* store,
                                pem_password_cb* cb, void* arg) {
    if (bytes == nullptr || len <= 0) {
        ERR_set_last_error(ERR_CLASS_BAD_ARGUMENT);
        CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_LOAD_PRIVATE, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    bool refused = false;
    EVP_PKEY* pkey = nullptr;
    {
        // libcrypto's own complaints about the forms that did not match say
        // nothing to the caller, nor do the library's when one form did.
        const OpensslErrorMark openssl_mark;
        ERR_set_mark();
        pkey = read_der(bytes, len, cb, arg, &refused);
        if (pkey == nullptr && !refused) pkey = read_pem(bytes, len, cb, arg);
        if (pkey != nullptr)
            ERR_pop_to_mark();
        else
            ERR_clear_last_mark();
    }
    if (pkey != nullptr && store != nullptr && EVP_PKEY_set_pse(pkey, store) != 1) {
        EVP_PKEY_free(pkey);
        pkey = nullptr;
    }
    if (pkey == nullptr) CADB_ERR(ERR_LIB_EVP_, EVP_PKEY_F_LOAD_PRIVATE, EVP_PKEY_R_DECODE);
    return pkey;
}

int EVP_PKEY_get_load_form(const EVP_PKEY* pkey) {
    if (pkey == nullptr) return EVP_LOAD_FORM_NONE;
    return static_cast<int>(
        reinterpret_cast<std::intptr_t>(EVP_PKEY_get_ex_data(pkey, load_form_index())));
}

}  // namespace cadb
