#include "crypto/core/pbkdf2.h"

#include <openssl/crypto.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <memory>

namespace cadb {
namespace {

// Wiped on every exit: each holds bytes of the derived key.
struct Block {
    unsigned char u[EVP_MAX_MD_SIZE];
    unsigned char t[EVP_MAX_MD_SIZE];
    ~Block() { OPENSSL_cleanse(this, sizeof *this); }
};

}  // namespace

int pbkdf2_hmac(const EVP_MD* md, const void* passwd, std::size_t passwd_len,
                const unsigned char* salt, std::size_t salt_len, unsigned long iterations,
                unsigned char* out, std::size_t out_len) {
    if (md == nullptr || out == nullptr || iterations == 0 || (passwd == nullptr && passwd_len) ||
        (salt == nullptr && salt_len) || passwd_len > INT_MAX)
        return 0;
    const int h_len = EVP_MD_get_size(md);
    if (h_len <= 0) return 0;
    std::unique_ptr<HMAC_CTX, decltype(&HMAC_CTX_free)> key(HMAC_CTX_new(), HMAC_CTX_free);
    std::unique_ptr<HMAC_CTX, decltype(&HMAC_CTX_free)> run(HMAC_CTX_new(), HMAC_CTX_free);
    // The keyed context is prepared once and copied for each MAC: the key
    // schedule is the costly part of a short HMAC.
    static const unsigned char kNoKey = 0;
    bool ok = key && run &&
              HMAC_Init_ex(key.get(), passwd != nullptr ? passwd : &kNoKey,
                           static_cast<int>(passwd_len), md, nullptr);
    Block blk;
    std::size_t done = 0;
    for (std::uint32_t i = 1; ok && done < out_len; ++i) {
        const unsigned char index[4] = {
            static_cast<unsigned char>(i >> 24), static_cast<unsigned char>(i >> 16),
            static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        unsigned int n = 0;
        ok = HMAC_CTX_copy(run.get(), key.get()) && HMAC_Update(run.get(), salt, salt_len) &&
             HMAC_Update(run.get(), index, sizeof index) && HMAC_Final(run.get(), blk.u, &n);
        std::copy(blk.u, blk.u + h_len, blk.t);
        for (unsigned long j = 1; ok && j < iterations; ++j) {
            ok = HMAC_CTX_copy(run.get(), key.get()) &&
                 HMAC_Update(run.get(), blk.u, static_cast<std::size_t>(h_len)) &&
                 HMAC_Final(run.get(), blk.u, &n);
            for (int k = 0; k < h_len; ++k) blk.t[k] ^= blk.u[k];
        }
        const std::size_t take = std::min(out_len - done, static_cast<std::size_t>(h_len));
        std::copy(blk.t, blk.t + take, out + done);
        done += take;
    }
    if (!ok) OPENSSL_cleanse(out, out_len);
    return ok ? 1 : 0;
}

}  // namespace cadb
