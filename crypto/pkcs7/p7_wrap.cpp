#include "crypto/pkcs7/p7_wrap.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <memory>
#include <vector>

#include "crypto/pkcs7/p7_err.h"
#include "crypto/rand/rand.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

constexpr unsigned char kWrapIv[8] = {0x4a, 0xdd, 0xa2, 0x2c, 0x79, 0xe8, 0x21, 0x05};
constexpr int kIcvLen = 8;
constexpr int kMaxWrapped = 48;

// DES keys carry odd parity in the low bit of every byte.
unsigned char parity_of(unsigned char v) {
    v ^= v >> 4;
    v ^= v >> 2;
    v ^= v >> 1;
    return v & 1;
}

void set_odd_parity(unsigned char* k, int len) {
    for (int i = 0; i < len; ++i)
        if (parity_of(k[i]) == 0) k[i] ^= 1;
}

bool odd_parity(const unsigned char* k, int len) {
    for (int i = 0; i < len; ++i)
        if (parity_of(k[i]) == 0) return false;
    return true;
}

using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

// One pass of the cipher over whole blocks, no padding.
bool crypt(const EVP_CIPHER* cipher, const unsigned char* key, const unsigned char* iv,
           const unsigned char* in, int len, unsigned char* out, int enc) {
    CipherCtx ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    int n = 0;
    int tail = 0;
    return ctx && EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key, iv, enc) == 1 &&
           EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
           EVP_CipherUpdate(ctx.get(), out, &n, in, len) == 1 &&
           EVP_CipherFinal_ex(ctx.get(), out + n, &tail) == 1 && n + tail == len;
}

// Working bytes wiped on every exit.
struct Work {
    std::array<unsigned char, kMaxWrapped> a{}, b{};
    ~Work() {
        OPENSSL_cleanse(a.data(), a.size());
        OPENSSL_cleanse(b.data(), b.size());
    }
};

bool icv(const EVP_MD* md, const unsigned char* key, int len, unsigned char* out8) {
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    const bool ok =
        EVP_Digest(key, static_cast<size_t>(len), d, &n, md, nullptr) == 1 && n >= kIcvLen;
    if (ok) std::copy_n(d, kIcvLen, out8);
    OPENSSL_cleanse(d, sizeof d);
    return ok;
}

// RFC 3217 wrap of key_len bytes (24 or 32) into key_len + 16.
int wrap(int func, const EVP_MD* md, const unsigned char* kek, const unsigned char* key,
         int key_len, int want_len, unsigned char* out, int* out_len, const EVP_CIPHER* cipher,
         bool parity) {
    const int total = want_len + 2 * kIcvLen;
    if (kek == nullptr || key == nullptr || out_len == nullptr || cipher == nullptr) {
        P7_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (key_len != want_len) {
        P7_ERR(func, P7_R_WRONG_KEY_LENGTH);
        return 0;
    }
    if (out == nullptr || *out_len < total) {
        *out_len = total;
        P7_ERR(func, P7_R_OUTPUT_TOO_SMALL);
        return 0;
    }
    Work w;
    unsigned char* cekicv = w.a.data() + kIcvLen;  // IV || CEK || ICV in a
    std::copy_n(key, key_len, cekicv);
    if (parity) set_odd_parity(cekicv, key_len);
    if (!icv(md, cekicv, key_len, cekicv + key_len)) {
        P7_ERR(func, ERR_R_INTERNAL);
        return 0;
    }
    if (RAND_bytes(w.a.data(), kIcvLen) != kIcvLen) {
        P7_ERR(func, P7_R_MALLOC);
        return 0;
    }
    if (!crypt(cipher, kek, w.a.data(), cekicv, key_len + kIcvLen, cekicv, 1)) {
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    std::reverse_copy(w.a.data(), w.a.data() + total, w.b.data());
    if (!crypt(cipher, kek, kWrapIv, w.b.data(), total, out, 1)) {
        OPENSSL_cleanse(out, static_cast<size_t>(total));
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    *out_len = total;
    return 1;
}

int unwrap(int func, const EVP_MD* md, const unsigned char* kek, const unsigned char* in,
           int in_len, int key_len, unsigned char* out, int* out_len, const EVP_CIPHER* cipher,
           bool parity) {
    const int total = key_len + 2 * kIcvLen;
    if (kek == nullptr || in == nullptr || out_len == nullptr || cipher == nullptr) {
        P7_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (in_len != total) {
        P7_ERR(func, P7_R_WRONG_KEY_LENGTH);
        return 0;
    }
    Work w;
    if (!crypt(cipher, kek, kWrapIv, in, total, w.a.data(), 0)) {
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    std::reverse_copy(w.a.data(), w.a.data() + total, w.b.data());
    unsigned char* cekicv = w.b.data() + kIcvLen;
    unsigned char check[kIcvLen];
    if (!crypt(cipher, kek, w.b.data(), cekicv, key_len + kIcvLen, cekicv, 0) ||
        !icv(md, cekicv, key_len, check)) {
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    const bool icv_ok = CRYPTO_memcmp(check, cekicv + key_len, kIcvLen) == 0;
    OPENSSL_cleanse(check, sizeof check);
    if (!icv_ok) {
        P7_ERR(func, P7_R_INTEGRITY_CHECK_FAILURE);
        return 0;
    }
    if (parity && !odd_parity(cekicv, key_len)) {
        P7_ERR(func, P7_R_BAD_DES_PARITY);
        return 0;
    }
    if (out == nullptr || *out_len < key_len) {
        *out_len = key_len;
        P7_ERR(func, P7_R_OUTPUT_TOO_SMALL);
        return 0;
    }
    std::copy_n(cekicv, key_len, out);
    *out_len = key_len;
    return 1;
}

int dummy_len(const EVP_CIPHER* cipher, int key_len) {
    const int block = EVP_CIPHER_get_block_size(cipher);
    return block <= 1 ? key_len : (key_len + block - 1) / block * block;
}

int dummy(int func, const unsigned char* kek, const unsigned char* in, int in_len,
          unsigned char* out, int* out_len, const EVP_CIPHER* cipher, int enc) {
    if (kek == nullptr || in == nullptr || out_len == nullptr || cipher == nullptr || in_len <= 0 ||
        in_len > 1024) {
        P7_ERR(func, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const int need = enc ? dummy_len(cipher, in_len) : in_len;
    if (out == nullptr || *out_len < need) {
        *out_len = need;
        P7_ERR(func, P7_R_OUTPUT_TOO_SMALL);
        return 0;
    }
    if (!enc && need != dummy_len(cipher, need)) {
        P7_ERR(func, P7_R_WRONG_KEY_LENGTH);
        return 0;
    }
    std::vector<unsigned char> work(static_cast<size_t>(need), 0);
    std::copy_n(in, in_len, work.begin());
    const unsigned char zero_iv[EVP_MAX_IV_LENGTH] = {};
    const bool ok = crypt(cipher, kek, zero_iv, work.data(), need, work.data(), enc);
    if (ok) std::copy(work.begin(), work.end(), out);
    OPENSSL_cleanse(work.data(), work.size());
    if (!ok) {
        P7_ERR(func, P7_R_EVP_LIB);
        return 0;
    }
    *out_len = need;
    return 1;
}

}  // namespace

int CMS_3des_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                  unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return wrap(P7_F_CMS_3DES_WRAP, EVP_sha1(), kek, key, key_len, 24, out, out_len,
                cipher != nullptr ? cipher : EVP_des_ede3_cbc(), true);
}

int CMS_3des_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                    unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return unwrap(P7_F_CMS_3DES_UNWRAP, EVP_sha1(), kek, in, in_len, 24, out, out_len,
                  cipher != nullptr ? cipher : EVP_des_ede3_cbc(), true);
}

int CMS_gost_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                  unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return wrap(P7_F_CMS_GOST_WRAP, EVP_rus_hash(), kek, key, key_len, 32, out, out_len, cipher,
                false);
}

int CMS_gost_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                    unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return unwrap(P7_F_CMS_GOST_UNWRAP, EVP_rus_hash(), kek, in, in_len, 32, out, out_len, cipher,
                  false);
}

int CMS_dummy_wrap(const unsigned char* kek, const unsigned char* key, int key_len,
                   unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return dummy(P7_F_CMS_DUMMY_WRAP, kek, key, key_len, out, out_len, cipher, 1);
}

int CMS_dummy_unwrap(const unsigned char* kek, const unsigned char* in, int in_len,
                     unsigned char* out, int* out_len, const EVP_CIPHER* cipher) {
    return dummy(P7_F_CMS_DUMMY_UNWRAP, kek, in, in_len, out, out_len, cipher, 0);
}

}  // namespace cadb
