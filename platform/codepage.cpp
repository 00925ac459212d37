#include "platform/codepage.h"

#include <iconv.h>

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

}  // namespace cadb
