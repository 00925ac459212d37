#include <openssl/pem.h>

#include <climits>
#include <memory>
#include <vector>

#include "crypto/x509v3/ext_text.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/cert.h"
#include "crypto/cadb/x509_read.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

const X509_OBJECT_CODEC kCertCodec = {
    reinterpret_cast<d2i_of_void*>(d2i_X509),
    [](void* x) { X509_free(static_cast<X509*>(x)); },
    PEM_STRING_X509,
};

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

X509* decode(int form, const unsigned char* bytes, long len) {
    return static_cast<X509*>(X509_object_decode(bytes, len, form, kCertCodec));
}

int print_cert(BIO* out, void* x) { return X509_print_text(out, static_cast<X509*>(x)); }

}  // namespace

X509* CERT_read_bio(int form, BIO* in) {
    if (in == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BIO, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (form != FORM_DER && form != FORM_PEM) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BIO, CADB_R_INVALID_ENCODE_TYPE);
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    BIO_read_all(in, bytes);
    X509* x = decode(form, bytes.data(), static_cast<long>(bytes.size()));
    if (x == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BIO, CADB_R_INVALID_DATA);
    return x;
}

CERT* CERT_read_buffer(int form, const unsigned char* bytes, int len) {
    if (bytes == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BUFFER, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    X509Ptr x;
    switch (form) {
        case FORM_ANY:
            for (int f : {FORM_DER, FORM_PEM, FORM_BASE64}) {
                x.reset(decode(f, bytes, len));
                if (x) break;
            }
            break;
        case FORM_DER:
        case FORM_PEM:
            x.reset(decode(form, bytes, len));
            break;
        default:
            CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BUFFER, CADB_R_INVALID_ENCODE_TYPE);
            return nullptr;
    }
    if (!x) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BUFFER, CADB_R_INVALID_DATA);
        return nullptr;
    }
    CERT* c = CERT_split(x.get());
    if (c == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BUFFER, ERR_LIB_CADB);
    return c;
}

CERT* CERT_read_data(const unsigned char* bytes, int len) {
    return CERT_read_buffer(FORM_ANY, bytes, len);
}

BUFFER* CERT_get(const CERT* cert, int form) {
    if (cert == nullptr || cert->x509 == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_GET, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    BUFFER* b = nullptr;
    switch (form) {
        case FORM_PEM:
            b = x2form(cert->x509, reinterpret_cast<i2d_of_void*>(i2d_X509), PEM_STRING_X509,
                       FORM_PEM);
            break;
        case FORM_TEXT:
            b = x2text(cert->x509, print_cert);
            break;
        default:
            b = x2der(cert->x509, reinterpret_cast<i2d_of_void*>(i2d_X509));
            break;
    }
    if (b == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_GET, ERR_LIB_CADB);
    return b;
}

}  // namespace cadb
