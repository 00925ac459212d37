#include "crypto/engine/pkcs8_pbes2.h"

#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <array>
#include <memory>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

constexpr int kDefaultIterations = 2048;
constexpr int kSaltBytes = 8;
// A bound on the iteration count a file may ask for, so that hostile input
// cannot hold a reader for hours.
constexpr long kMaxIterations = 1L << 20;

template <typename T, void (*F)(T*)>
struct Free {
    void operator()(T* p) const { F(p); }
};
using Pbe2Ptr = std::unique_ptr<PBE2PARAM, Free<PBE2PARAM, PBE2PARAM_free>>;
using Pbkdf2Ptr = std::unique_ptr<PBKDF2PARAM, Free<PBKDF2PARAM, PBKDF2PARAM_free>>;
using CipherCtxPtr = std::unique_ptr<EVP_CIPHER_CTX, Free<EVP_CIPHER_CTX, EVP_CIPHER_CTX_free>>;

// Bytes that may hold a clear key: wiped when released.
struct Secret {
    std::vector<unsigned char> b;
    explicit Secret(std::size_t n) : b(n) {}
    ~Secret() { OPENSSL_cleanse(b.data(), b.size()); }
};

// The PRF and cipher records this layer handles, by the library's numbers.
const EVP_MD* prf_of(int nid) {
    if (nid == NID_HMAC_R3411) return EVP_rus_hash();
    if (nid == NID_hmacWithSHA1) return EVP_sha1();
    return nullptr;
}
int prf_nid_of(const EVP_MD* md) {
    return md == EVP_rus_hash() ? NID_HMAC_R3411 : NID_hmacWithSHA1;
}
const EVP_CIPHER* cipher_of(int nid) {
    if (nid == NID_RUS_GAMMAR) return EVP_rus_gammar();
    if (nid == NID_des_ede3_cbc) return EVP_des_ede3_cbc();
    return nullptr;
}
int cipher_nid_of(const EVP_CIPHER* cipher) {
    return cipher == EVP_rus_gammar() ? NID_RUS_GAMMAR : NID_des_ede3_cbc;
}

int nid_of(const X509_ALGOR* alg) {
    const ASN1_OBJECT* obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, alg);
    return obj != nullptr ? cadb::OBJ_obj2nid(obj) : 0;
}

bool run_cipher(const EVP_CIPHER* cipher, const unsigned char* key, const unsigned char* iv,
                int enc, const unsigned char* in, int len, Secret& out, int* out_len) {
    CipherCtxPtr ctx(EVP_CIPHER_CTX_new());
    int n = 0, tail = 0;
    const bool ok = ctx && EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, enc) &&
                    EVP_CipherUpdate(ctx.get(), out.b.data(), &n, in, len) &&
                    EVP_CipherFinal_ex(ctx.get(), out.b.data() + n, &tail);
    *out_len = n + tail;
    return ok;
}

bool derive(const EVP_MD* prf, const char* passwd, int passwd_len, const unsigned char* salt,
            int salt_len, long iterations, Secret& key) {
    return pbkdf2_hmac(prf, passwd, static_cast<std::size_t>(passwd_len), salt,
                       static_cast<std::size_t>(salt_len), static_cast<unsigned long>(iterations),
                       key.b.data(), key.b.size()) == 1;
}

// The algorithm identifier of PBES2 with the given values.
bool set_algorithm(X509_ALGOR* alg, const EVP_CIPHER* cipher, const EVP_MD* prf,
                   const unsigned char* salt, int iterations, const unsigned char* iv, int iv_len) {
    Pbe2Ptr pbe2(PBE2PARAM_new());
    Pbkdf2Ptr kdf(PBKDF2PARAM_new());
    if (!pbe2 || !kdf) return false;
    ASN1_OCTET_STRING* salt_os = ASN1_OCTET_STRING_new();
    if (salt_os == nullptr || !ASN1_OCTET_STRING_set(salt_os, salt, kSaltBytes)) {
        ASN1_OCTET_STRING_free(salt_os);
        return false;
    }
    ASN1_TYPE_set(kdf->salt, V_ASN1_OCTET_STRING, salt_os);
    if (!ASN1_INTEGER_set(kdf->iter, iterations)) return false;
    if (prf != EVP_sha1()) {
        kdf->prf = X509_ALGOR_new();
        if (kdf->prf == nullptr ||
            !X509_ALGOR_set0(kdf->prf, OBJ_dup(OBJ_nid2obj(prf_nid_of(prf))), V_ASN1_NULL, nullptr))
            return false;
    }
    ASN1_TYPE* kdf_params =
        ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), kdf.get(), nullptr);
    if (kdf_params == nullptr ||
        !X509_ALGOR_set0(pbe2->keyfunc, OBJ_dup(OBJ_nid2obj(NID_id_pbkdf2)), V_ASN1_SEQUENCE,
                         kdf_params->value.sequence)) {
        ASN1_TYPE_free(kdf_params);
        return false;
    }
    kdf_params->value.sequence = nullptr;
    ASN1_TYPE_free(kdf_params);
    ASN1_OCTET_STRING* iv_os = ASN1_OCTET_STRING_new();
    if (iv_os == nullptr || !ASN1_OCTET_STRING_set(iv_os, iv, iv_len) ||
        !X509_ALGOR_set0(pbe2->encryption, OBJ_dup(OBJ_nid2obj(cipher_nid_of(cipher))),
                         V_ASN1_OCTET_STRING, iv_os)) {
        ASN1_OCTET_STRING_free(iv_os);
        return false;
    }
    ASN1_TYPE* params = ASN1_TYPE_pack_sequence(ASN1_ITEM_rptr(PBE2PARAM), pbe2.get(), nullptr);
    if (params == nullptr || !X509_ALGOR_set0(alg, OBJ_dup(OBJ_nid2obj(NID_pbes2)), V_ASN1_SEQUENCE,
                                              params->value.sequence)) {
        ASN1_TYPE_free(params);
        return false;
    }
    params->value.sequence = nullptr;
    ASN1_TYPE_free(params);
    return true;
}

// The scheme's values when this layer handles them.
struct Scheme {
    const EVP_CIPHER* cipher;
    const EVP_MD* prf;
    const unsigned char* salt;
    int salt_len;
    long iterations;
    const unsigned char* iv;
};

bool read_scheme(const X509_ALGOR* alg, Pbe2Ptr& pbe2, Pbkdf2Ptr& kdf, Scheme& s) {
    const ASN1_OBJECT* obj = nullptr;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    if (cadb::OBJ_obj2nid(obj) != NID_pbes2 || ptype != V_ASN1_SEQUENCE) return false;
    ASN1_TYPE wrapper{};
    wrapper.type = V_ASN1_SEQUENCE;
    wrapper.value.sequence = static_cast<ASN1_STRING*>(const_cast<void*>(pval));
    pbe2.reset(
        static_cast<PBE2PARAM*>(ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBE2PARAM), &wrapper)));
    if (!pbe2 || nid_of(pbe2->keyfunc) != NID_id_pbkdf2) return false;
    X509_ALGOR_get0(nullptr, &ptype, &pval, pbe2->keyfunc);
    if (ptype != V_ASN1_SEQUENCE) return false;
    wrapper.value.sequence = static_cast<ASN1_STRING*>(const_cast<void*>(pval));
    kdf.reset(static_cast<PBKDF2PARAM*>(
        ASN1_TYPE_unpack_sequence(ASN1_ITEM_rptr(PBKDF2PARAM), &wrapper)));
    if (!kdf || kdf->salt == nullptr || kdf->salt->type != V_ASN1_OCTET_STRING) return false;
    s.prf = kdf->prf != nullptr ? prf_of(nid_of(kdf->prf)) : EVP_sha1();
    s.cipher = cipher_of(nid_of(pbe2->encryption));
    if (s.prf == nullptr || s.cipher == nullptr) return false;
    s.salt = ASN1_STRING_get0_data(kdf->salt->value.octet_string);
    s.salt_len = ASN1_STRING_length(kdf->salt->value.octet_string);
    s.iterations = ASN1_INTEGER_get(kdf->iter);
    if (kdf->keylength != nullptr &&
        ASN1_INTEGER_get(kdf->keylength) != EVP_CIPHER_get_key_length(s.cipher))
        return false;
    X509_ALGOR_get0(nullptr, &ptype, &pval, pbe2->encryption);
    const auto* iv = static_cast<const ASN1_OCTET_STRING*>(pval);
    if (ptype != V_ASN1_OCTET_STRING || iv == nullptr ||
        ASN1_STRING_length(iv) != EVP_CIPHER_get_iv_length(s.cipher))
        return false;
    s.iv = ASN1_STRING_get0_data(iv);
    return true;
}

}  // namespace

X509_SIG* PKCS8_encrypt_pbes2(const EVP_CIPHER* cipher, const EVP_MD* prf, const char* passwd,
                              int passwd_len, int iterations, PKCS8_PRIV_KEY_INFO* p8) {
    if (cipher == nullptr || prf == nullptr || passwd == nullptr || passwd_len < 0 ||
        p8 == nullptr || cipher_of(cipher_nid_of(cipher)) != cipher ||
        prf_of(prf_nid_of(prf)) != prf)
        return nullptr;
    if (iterations <= 0) iterations = kDefaultIterations;
    std::array<unsigned char, kSaltBytes> salt{};
    std::array<unsigned char, EVP_MAX_IV_LENGTH> iv{};
    const int iv_len = EVP_CIPHER_get_iv_length(cipher);
    Secret key(static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher)));
    unsigned char* der = nullptr;
    const int der_len = i2d_PKCS8_PRIV_KEY_INFO(p8, &der);
    if (der_len <= 0) return nullptr;
    Secret plain(static_cast<std::size_t>(der_len));
    std::copy(der, der + der_len, plain.b.begin());
    OPENSSL_clear_free(der, static_cast<std::size_t>(der_len));
    Secret out(plain.b.size() + static_cast<std::size_t>(EVP_CIPHER_get_block_size(cipher)));
    int out_len = 0;
    if (RAND_bytes(salt.data(), kSaltBytes) != 1 || RAND_bytes(iv.data(), iv_len) != 1 ||
        !derive(prf, passwd, passwd_len, salt.data(), kSaltBytes, iterations, key) ||
        !run_cipher(cipher, key.b.data(), iv.data(), 1, plain.b.data(), der_len, out, &out_len))
        return nullptr;
    X509_SIG* sig = X509_SIG_new();
    X509_ALGOR* alg = nullptr;
    ASN1_OCTET_STRING* digest = nullptr;
    if (sig != nullptr) X509_SIG_getm(sig, &alg, &digest);
    if (sig == nullptr ||
        !set_algorithm(alg, cipher, prf, salt.data(), iterations, iv.data(), iv_len) ||
        !ASN1_OCTET_STRING_set(digest, out.b.data(), out_len)) {
        X509_SIG_free(sig);
        return nullptr;
    }
    return sig;
}

PKCS8_PRIV_KEY_INFO* PKCS8_decrypt_pbes2(const X509_SIG* sig, const char* passwd, int passwd_len) {
    if (sig == nullptr || passwd == nullptr || passwd_len < 0) return nullptr;
    const X509_ALGOR* alg = nullptr;
    const ASN1_OCTET_STRING* data = nullptr;
    X509_SIG_get0(sig, &alg, &data);
    Pbe2Ptr pbe2;
    Pbkdf2Ptr kdf;
    Scheme s{};
    if (!read_scheme(alg, pbe2, kdf, s)) return PKCS8_decrypt(sig, passwd, passwd_len);
    if (s.iterations <= 0 || s.iterations > kMaxIterations) return nullptr;
    Secret key(static_cast<std::size_t>(EVP_CIPHER_get_key_length(s.cipher)));
    const int len = ASN1_STRING_length(data);
    Secret plain(static_cast<std::size_t>(len) +
                 static_cast<std::size_t>(EVP_CIPHER_get_block_size(s.cipher)));
    int plain_len = 0;
    if (!derive(s.prf, passwd, passwd_len, s.salt, s.salt_len, s.iterations, key) ||
        !run_cipher(s.cipher, key.b.data(), s.iv, 0, ASN1_STRING_get0_data(data), len, plain,
                    &plain_len))
        return nullptr;
    const unsigned char* p = plain.b.data();
    PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, plain_len);
    if (p8 != nullptr && p != plain.b.data() + plain_len) {
        PKCS8_PRIV_KEY_INFO_free(p8);
        p8 = nullptr;
    }
    return p8;
}

}  // namespace cadb
