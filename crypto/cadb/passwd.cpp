#include "crypto/cadb/passwd.h"

#include <openssl/crypto.h>

#include <climits>
#include <cstring>

#include "platform/codepage.h"

namespace cadb {

char* PASSWD_encode(const char* passwd, int len, int* out_len) {
    if (passwd == nullptr) return nullptr;
    std::size_t n = len < 0 ? std::strlen(passwd) : static_cast<std::size_t>(len);
    // A code page 1251 byte becomes at most three UTF-8 bytes.
    if (n > (INT_MAX - 1) / 3) return nullptr;
    const std::size_t room = 3 * n + 1;
    auto* out = static_cast<unsigned char*>(OPENSSL_zalloc(room));
    if (out == nullptr) return nullptr;
    long written = 0;
    if (n > 0) {
        written =
            codepage_convert(kLocalCodePage, kUtf8,
                             {reinterpret_cast<const unsigned char*>(passwd), n}, {out, room - 1});
        if (written < 0) {
            OPENSSL_clear_free(out, room);
            return nullptr;
        }
    }
    // Shrink to the exact size so that the caller can wipe all of it.
    auto* exact =
        static_cast<unsigned char*>(OPENSSL_zalloc(static_cast<std::size_t>(written) + 1));
    if (exact != nullptr) std::memcpy(exact, out, static_cast<std::size_t>(written));
    OPENSSL_clear_free(out, room);
    if (exact == nullptr) return nullptr;
    if (out_len != nullptr) *out_len = static_cast<int>(written);
    return reinterpret_cast<char*>(exact);
}

}  // namespace cadb
