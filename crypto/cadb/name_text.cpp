#include "crypto/cadb/name_text.h"

#include <openssl/asn1.h>

#include <cstdio>
#include <vector>

#include "platform/codepage.h"

namespace cadb {
namespace {

// Unicode to the local code page for display: characters the code page
// lacks become '?', as the system's own conversion shows them. Bytes that
// are not valid in their encoding write nothing and fail.
int print_converted(BIO* out, const char* from, const unsigned char* bytes, int len, int unit) {
    if (len % unit != 0) return 0;
    // One local byte per character at most.
    std::vector<unsigned char> local(static_cast<std::size_t>(len / unit) + 1);
    const long n =
        codepage_convert(from, "CP1251//TRANSLIT", {bytes, static_cast<std::size_t>(len)}, local);
    return n >= 0 && BIO_write(out, local.data(), static_cast<int>(n)) == n;
}

}  // namespace

int ASN1_STRING_print_hex(BIO* out, const unsigned char* bytes, int len) {
    if (out == nullptr || (bytes == nullptr && len > 0)) return 0;
    for (int i = 0; i < len; ++i)
        if (BIO_printf(out, "%02X ", bytes[i]) != 3) return 0;
    return 1;
}

int ASN1_STRING_print_text(BIO* out, int type, const unsigned char* bytes, int len) {
    if (out == nullptr || len < 0 || (bytes == nullptr && len > 0)) return 0;
    if (len == 0) return 1;
    switch (type) {
        case V_ASN1_UTF8STRING:
            // Up to three UTF-8 bytes may make one local character; room
            // for one local byte per input byte is always enough.
            return print_converted(out, kUtf8, bytes, len, 1) ||
                   ASN1_STRING_print_hex(out, bytes, len);
        case V_ASN1_BMPSTRING:
            return print_converted(out, "UTF-16BE", bytes, len, 2) ||
                   ASN1_STRING_print_hex(out, bytes, len);
        case V_ASN1_UNIVERSALSTRING:
            return print_converted(out, "UCS-4BE", bytes, len, 4) ||
                   ASN1_STRING_print_hex(out, bytes, len);
        case V_ASN1_PRINTABLESTRING:
        case V_ASN1_T61STRING:
        case V_ASN1_IA5STRING:
        case V_ASN1_VISIBLESTRING:
            return BIO_write(out, bytes, len) == len;
        default:
            return ASN1_STRING_print_hex(out, bytes, len);
    }
}

}  // namespace cadb
