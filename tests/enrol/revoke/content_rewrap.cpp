// libcrypto's own PKCS #7 records read the message (any content type is kept
// as it stands); only libcrypto's headers are seen here.
#include "tests/enrol/revoke/content_rewrap.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>

namespace cadb::enrol::test {

std::optional<std::string> rewrap_econtent(const std::string& der) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    ::PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    if (p7 == nullptr) return std::nullopt;
    std::optional<std::string> out;
    ::PKCS7* inner = PKCS7_type_is_signed(p7) ? p7->d.sign->contents : nullptr;
    ASN1_TYPE* content = inner != nullptr && PKCS7_type_is_other(inner) ? inner->d.other : nullptr;
    if (content != nullptr && content->type == V_ASN1_SEQUENCE) {
        ASN1_STRING* sequence = content->value.sequence;  // the content's whole DER
        ASN1_OCTET_STRING* octets = ASN1_OCTET_STRING_new();
        if (octets != nullptr && ASN1_OCTET_STRING_set(octets, ASN1_STRING_get0_data(sequence),
                                                       ASN1_STRING_length(sequence)) == 1) {
            ASN1_TYPE_set(content, V_ASN1_OCTET_STRING, octets);
            octets = nullptr;
            unsigned char* buf = nullptr;
            const int len = i2d_PKCS7(p7, &buf);
            if (len > 0)
                out.emplace(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(len));
            OPENSSL_free(buf);
        }
        ASN1_OCTET_STRING_free(octets);
    }
    PKCS7_free(p7);
    return out;
}

}  // namespace cadb::enrol::test
