#include "crypto/core/hmac.h"

#include <openssl/hmac.h>

#include <climits>
#include <memory>

namespace cadb {

int hmac_digest(const EVP_MD* md, const void* key, std::size_t key_len, const unsigned char* data,
                std::size_t len, unsigned char* out, unsigned int* out_len) {
    if (!md || !out || !out_len || (!key && key_len) || (!data && len) || key_len > INT_MAX)
        return 0;
    std::unique_ptr<HMAC_CTX, decltype(&HMAC_CTX_free)> ctx(HMAC_CTX_new(), HMAC_CTX_free);
    return ctx && HMAC_Init_ex(ctx.get(), key, static_cast<int>(key_len), md, nullptr) &&
           HMAC_Update(ctx.get(), data, len) && HMAC_Final(ctx.get(), out, out_len);
}

}  // namespace cadb
