#include "crypto/core/bn_print.h"

#include <openssl/bio.h>
#include <openssl/bn.h>

#include <vector>

namespace cadb {

int BN_print_labelled(BIO* out, const char* label, const BIGNUM* n, int indent) {
    if (n == nullptr) return 1;
    if (out == nullptr || label == nullptr) return 0;
    const int bits = BN_num_bits(n);
    if (!BIO_indent(out, indent, 128) ||
        BIO_printf(out, "%s%s (%i bit%s)", label, BN_is_negative(n) ? " (Negative)" : "", bits,
                   bits == 1 ? "" : "s") <= 0)
        return 0;
    // A leading zero byte keeps a set top bit from reading as a sign.
    std::vector<unsigned char> bytes(static_cast<size_t>(BN_num_bytes(n)) + 1, 0);
    const int len = BN_bn2bin(n, bytes.data() + 1);
    const unsigned char* p = bytes.data() + 1;
    int count = len;
    if (len == 0 || (p[0] & 0x80) != 0) {
        --p;
        ++count;
    }
    for (int i = 0; i < count; ++i) {
        if (i % 15 == 0 && (BIO_puts(out, "\n") <= 0 || !BIO_indent(out, indent + 4, 128)))
            return 0;
        if (BIO_printf(out, "%02x%s", p[i], i + 1 == count ? "" : ":") <= 0) return 0;
    }
    return BIO_puts(out, "\n") > 0;
}

}  // namespace cadb
