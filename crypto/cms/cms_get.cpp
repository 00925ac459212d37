// The encoded message of a context: DER, or PEM under "PKCS7", or the
// one-line PEM under "CERTIFICATE" that the authority's pages paste.
#include <openssl/crypto.h>
#include <openssl/pem.h>

#include <climits>
#include <memory>
#include <string>

#include "crypto/cms/cms_local.h"

namespace cadb {

BUFFER* CMS_get(CMS* cms, int form) {
    constexpr int F = P7_F_CMS_GET;
    if (cms == nullptr || cms->message == nullptr || PKCS7_type_nid(cms->message) == 0) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    unsigned char* der = nullptr;
    const int len = i2d_PKCS7(cms->message, &der);
    struct DerFree {
        void operator()(unsigned char* p) const { OPENSSL_free(p); }
    };
    std::unique_ptr<unsigned char, DerFree> owned(der);
    if (len <= 0) {
        P7_ERR(F, P7_R_ASN1_LIB);
        return nullptr;
    }
    if (form != 2) {
        BUFFER* b = BUFFER_fill(der, len);
        if (b == nullptr) P7_ERR(F, P7_R_MALLOC);
        return b;
    }
    const bool one_line = (cms->flags & CMS_OPT_PEM_ONE_LINE) != 0;
    std::unique_ptr<BIO, decltype(&BIO_free)> mem(BIO_new(BIO_s_mem()), BIO_free);
    if (!mem || !PEM_write_bio(mem.get(), one_line ? "CERTIFICATE" : "PKCS7", "", der, len)) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_BIO_LIB);
        return nullptr;
    }
    char* text = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &text);
    if (n <= 0 || n >= INT_MAX) {
        P7_ERR(F, P7_R_BIO_LIB);
        return nullptr;
    }
    BUFFER* b = BUFFER_new();
    if (b == nullptr) {
        P7_ERR(F, P7_R_MALLOC);
        return nullptr;
    }
    if (!one_line) {
        if (BUFFER_append(b, text, static_cast<int>(n)) != n) {
            BUFFER_free(b);
            P7_ERR(F, P7_R_MALLOC);
            return nullptr;
        }
        return b;
    }
    // Every CR and LF goes, those after the header and before the trailer
    // too.
    std::string flat;
    flat.reserve(static_cast<std::size_t>(n));
    for (long i = 0; i < n; ++i)
        if (text[i] != '\r' && text[i] != '\n') flat.push_back(text[i]);
    if (BUFFER_append(b, flat.data(), static_cast<int>(flat.size())) !=
        static_cast<int>(flat.size())) {
        BUFFER_free(b);
        P7_ERR(F, P7_R_MALLOC);
        return nullptr;
    }
    return b;
}

}  // namespace cadb
