#include <openssl/pem.h>

#include <memory>
#include <vector>

#include "crypto/x509v3/ext_text.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/crl.h"
#include "crypto/cadb/x509_read.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

const X509_OBJECT_CODEC kCrlCodec = {
    reinterpret_cast<d2i_of_void*>(d2i_X509_CRL),
    [](void* x) { X509_CRL_free(static_cast<X509_CRL*>(x)); },
    PEM_STRING_X509_CRL,
};

struct CrlFree {
    void operator()(X509_CRL* x) const { X509_CRL_free(x); }
};
using X509CrlPtr = std::unique_ptr<X509_CRL, CrlFree>;

X509_CRL* decode(int form, const unsigned char* bytes, long len) {
    return static_cast<X509_CRL*>(X509_object_decode(bytes, len, form, kCrlCodec));
}

int print_crl(BIO* out, void* x) { return X509_CRL_print_text(out, static_cast<X509_CRL*>(x)); }

}  // namespace

X509_CRL* CRL_read_bio(int form, BIO* in) {
    if (in == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BIO, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (form != FORM_DER && form != FORM_PEM) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BIO, CADB_R_INVALID_ENCODE_TYPE);
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    BIO_read_all(in, bytes);
    X509_CRL* x = decode(form, bytes.data(), static_cast<long>(bytes.size()));
    if (x == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BIO, CADB_R_INVALID_DATA);
    return x;
}

CRL* CRL_read_buffer(int form, const unsigned char* bytes, int len) {
    if (bytes == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BUFFER, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    X509CrlPtr x;
    switch (form) {
        case FORM_ANY:
            x.reset(decode(FORM_DER, bytes, len));
            if (!x) x.reset(decode(FORM_PEM, bytes, len));
            break;
        case FORM_DER:
        case FORM_PEM:
            x.reset(decode(form, bytes, len));
            break;
        default:
            CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BUFFER, CADB_R_INVALID_ENCODE_TYPE);
            return nullptr;
    }
    if (!x) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BUFFER, CADB_R_INVALID_DATA);
        return nullptr;
    }
    CRL* c = CRL_split(x.get());
    if (c == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BUFFER, ERR_LIB_CADB);
    return c;
}

BUFFER* CRL_get(const CRL* crl, int form) {
    if (crl == nullptr || crl->crl == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_GET, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    BUFFER* b = nullptr;
    switch (form) {
        case FORM_PEM:
            b = x2form(crl->crl, reinterpret_cast<i2d_of_void*>(i2d_X509_CRL),
                       PEM_STRING_X509_CRL, FORM_PEM);
            break;
        case FORM_TEXT:
            b = x2text(crl->crl, print_crl);
            break;
        default:
            b = x2der(crl->crl, reinterpret_cast<i2d_of_void*>(i2d_X509_CRL));
            break;
    }
    if (b == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_GET, ERR_LIB_CADB);
    return b;
}

}  // namespace cadb
