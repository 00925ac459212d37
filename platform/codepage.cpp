#include "platform/codepage.h"

#include <iconv.h>
#include <openssl/crypto.h>

#include <cstring>

namespace cadb {

long codepage_convert(const char* from, const char* to, std::span<const unsigned char> in,
                      std::span<unsigned char> out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return -1;
    // iconv's interface is not const-correct; it never writes the input.
    char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
    std::size_t src_left = in.size();
    char* dst = reinterpret_cast<char*>(out.data());
    std::size_t dst_left = out.size();
    std::size_t r = iconv(cd, &src, &src_left, &dst, &dst_left);
    // Flush any shift state into the output as well.
    if (r != static_cast<std::size_t>(-1)) r = iconv(cd, nullptr, nullptr, &dst, &dst_left);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || src_left != 0) return -1;
    return static_cast<long>(out.size() - dst_left);
}



unsigned char* codepage_convert_new(const char* from, const char* to,
                                    std::span<const unsigned char> in, int zeros,
                                    std::size_t* out_len) {
    if (zeros < 0 || zeros > 4 || in.size() > (1u << 28)) return nullptr;
    // Every encoding used here spends at most four bytes on a character,
    // and no input byte makes more than one character.
    const std::size_t room = 4 * in.size() + 4;
    auto* work = static_cast<unsigned char*>(OPENSSL_zalloc(room));
    if (work == nullptr) return nullptr;
    const long n = in.empty() ? 0 : codepage_convert(from, to, in, {work, room});
    unsigned char* out = nullptr;
    if (n >= 0) {
        out = static_cast<unsigned char*>(
            OPENSSL_zalloc(static_cast<std::size_t>(n) + static_cast<std::size_t>(zeros) + 1));
        if (out != nullptr) {
            std::memcpy(out, work, static_cast<std::size_t>(n));
            if (out_len != nullptr) *out_len = static_cast<std::size_t>(n);
        }
    }
    OPENSSL_clear_free(work, room);
    return out;
}

}  // namespace cadb
