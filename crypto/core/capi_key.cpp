#include "crypto/core/capi_key.h"

#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/rsa.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "crypto/core/objects.h"

namespace cadb {
namespace {

// The provider fields of a key object, in its ex-data slot.
CAPI_KEY_REF* ref_of(void* ex) { return static_cast<CAPI_KEY_REF*>(ex); }

void ref_free(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) { delete ref_of(ptr); }

// A copied key object stands for the same provider's key.
int ref_dup(CRYPTO_EX_DATA*, const CRYPTO_EX_DATA*, void** from_d, int, long, void*) {
    if (*from_d != nullptr) *from_d = new CAPI_KEY_REF(*ref_of(*from_d));
    return 1;
}

int rsa_index() {
    static const int index =
        CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_RSA, 0, nullptr, nullptr, ref_dup, ref_free);
    return index;
}

int dsa_index() {
    static const int index =
        CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DSA, 0, nullptr, nullptr, ref_dup, ref_free);
    return index;
}

// RSA signing through the provider: the digest type is libcrypto's number,
// the provider answers with the PKCS #1 signature, which is made as long as
// the modulus.
int rsa_sign(int type, const unsigned char* m, unsigned int m_length, unsigned char* sigret,
             unsigned int* siglen, const RSA* rsa) {
    *siglen = 0;
    const auto* ref = ref_of(RSA_get_ex_data(rsa, rsa_index()));
    const int room = RSA_size(rsa);
    std::size_t len = 0;
    if (ref == nullptr || room <= 0 ||
        CAPI_sign_digest(ref->provider, ref->key_spec, OBJ_openssl2nid(type), m, m_length, sigret,
                         static_cast<std::size_t>(room), &len) <= 0)
        return 0;
    const auto pad = static_cast<std::size_t>(room) - len;
    std::memmove(sigret + pad, sigret, len);
    std::memset(sigret, 0, pad);
    *siglen = static_cast<unsigned int>(room);
    return 1;
}

// DSA signing through the provider. libcrypto hands over only the digest:
// a CryptoAPI DSS key signs SHA-1 values, so a 20-byte digest is SHA-1 and
// any other length has no hash the provider knows. The provider's r || s,
// reversed, is s || r big-endian.
DSA_SIG* dsa_sign(const unsigned char* dgst, int dlen, DSA* dsa) {
    const auto* ref = ref_of(DSA_get_ex_data(dsa, dsa_index()));
    const BIGNUM* q = nullptr;
    DSA_get0_pqg(dsa, nullptr, &q, nullptr);
    if (ref == nullptr || q == nullptr || dlen != 20) return nullptr;
    std::vector<unsigned char> sig(2 * static_cast<std::size_t>(BN_num_bytes(q)));
    std::size_t len = 0;
    if (CAPI_sign_digest(ref->provider, ref->key_spec, NID_sha1, dgst, 20, sig.data(), sig.size(),
                         &len) <= 0 ||
        len % 2 != 0)
        return nullptr;
    const int half = static_cast<int>(len / 2);
    std::unique_ptr<DSA_SIG, decltype(&DSA_SIG_free)> out(DSA_SIG_new(), DSA_SIG_free);
    BIGNUM* s = BN_bin2bn(sig.data(), half, nullptr);
    BIGNUM* r = BN_bin2bn(sig.data() + half, half, nullptr);
    if (!out || r == nullptr || s == nullptr || !DSA_SIG_set0(out.get(), r, s)) {
        BN_free(r);
        BN_free(s);
        return nullptr;
    }
    return out.release();
}

// libcrypto's methods with the signing slot replaced; made once.
const RSA_METHOD* rsa_method() {
    static RSA_METHOD* method = [] {
        RSA_METHOD* m = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        if (m != nullptr &&
            (!RSA_meth_set1_name(m, "RSA through a CryptoAPI provider") ||
             !RSA_meth_set_sign(m, rsa_sign))) {
            RSA_meth_free(m);
            m = nullptr;
        }
        return m;
    }();
    return method;
}

const DSA_METHOD* dsa_method() {
    static DSA_METHOD* method = [] {
        DSA_METHOD* m = DSA_meth_dup(DSA_OpenSSL());
        if (m != nullptr &&
            (!DSA_meth_set1_name(m, "DSA through a CryptoAPI provider") ||
             !DSA_meth_set_sign(m, dsa_sign))) {
            DSA_meth_free(m);
            m = nullptr;
        }
        return m;
    }();
    return method;
}

// The key object's provider fields replaced (removed for provider 0) and
// its method chosen to match; the caller puts the object back into its
// EVP_PKEY, which is where libcrypto notes that it signs its own way.
bool set_rsa(RSA* rsa, std::uintptr_t provider, std::uint32_t key_spec) {
    const RSA_METHOD* method = provider != 0 ? rsa_method() : RSA_PKCS1_OpenSSL();
    if (method == nullptr) return false;
    auto fresh = provider != 0 ? std::make_unique<CAPI_KEY_REF>(CAPI_KEY_REF{provider, key_spec})
                               : nullptr;
    CAPI_KEY_REF* old = ref_of(RSA_get_ex_data(rsa, rsa_index()));
    if (!RSA_set_ex_data(rsa, rsa_index(), fresh.get())) return false;
    fresh.release();
    delete old;
    return RSA_set_method(rsa, method) == 1;
}

bool set_dsa(DSA* dsa, std::uintptr_t provider, std::uint32_t key_spec) {
    const DSA_METHOD* method = provider != 0 ? dsa_method() : DSA_OpenSSL();
    if (method == nullptr) return false;
    auto fresh = provider != 0 ? std::make_unique<CAPI_KEY_REF>(CAPI_KEY_REF{provider, key_spec})
                               : nullptr;
    CAPI_KEY_REF* old = ref_of(DSA_get_ex_data(dsa, dsa_index()));
    if (!DSA_set_ex_data(dsa, dsa_index(), fresh.get())) return false;
    fresh.release();
    delete old;
    return DSA_set_method(dsa, method) == 1;
}

}  // namespace

int CAPI_KEY_set(EVP_PKEY* key, std::uintptr_t provider, std::uint32_t key_spec) {
    if (key == nullptr) return 0;
    switch (EVP_PKEY_get_base_id(key)) {
        case EVP_PKEY_RSA: {
            std::unique_ptr<RSA, decltype(&RSA_free)> rsa(EVP_PKEY_get1_RSA(key), RSA_free);
            return rsa && set_rsa(rsa.get(), provider, key_spec) &&
                           EVP_PKEY_set1_RSA(key, rsa.get())
                       ? 1
                       : 0;
        }
        case EVP_PKEY_DSA: {
            std::unique_ptr<DSA, decltype(&DSA_free)> dsa(EVP_PKEY_get1_DSA(key), DSA_free);
            return dsa && set_dsa(dsa.get(), provider, key_spec) &&
                           EVP_PKEY_set1_DSA(key, dsa.get())
                       ? 1
                       : 0;
        }
        default:
            return 0;
    }
}

CAPI_KEY_REF CAPI_KEY_get(const EVP_PKEY* key) {
    const CAPI_KEY_REF* ref = nullptr;
    if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA) {
        if (const RSA* rsa = EVP_PKEY_get0_RSA(key)) ref = ref_of(RSA_get_ex_data(rsa, rsa_index()));
    } else if (key != nullptr && EVP_PKEY_get_base_id(key) == EVP_PKEY_DSA) {
        if (const DSA* dsa = EVP_PKEY_get0_DSA(key)) ref = ref_of(DSA_get_ex_data(dsa, dsa_index()));
    }
    return ref != nullptr ? *ref : CAPI_KEY_REF{};
}

}  // namespace cadb
