#include <openssl/pem.h>

#include <memory>
#include <vector>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/x509_read.h"
#include "crypto/core/err.h"
#include "crypto/x509/cert.h"
#include "crypto/x509v3/ext_text.h"

namespace cadb {
namespace {

int print_cert(BIO* out, void* x) { return X509_print_text(out, static_cast<X509*>(x)); }

const X509_OBJECT_CODEC kCertCodec = {
    d2i_as_void<d2i_X509>,
    [](void* x) { X509_free(static_cast<X509*>(x)); },
    PEM_STRING_X509,
    i2d_as_void<i2d_X509>,
    print_cert,
    true,
};

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

}  // namespace

X509* CERT_read_bio(int form, BIO* in) {
    return static_cast<X509*>(X509_object_read_bio(form, in, kCertCodec, CADB_F_CERT_READ_BIO));
}

CERT* CERT_read_buffer(int form, const unsigned char* bytes, int len) {
    X509Ptr x(static_cast<X509*>(
        X509_object_read_buffer(form, bytes, len, kCertCodec, CADB_F_CERT_READ_BUFFER)));
    if (!x) return nullptr;
    CERT* c = CERT_split(x.get());
    if (c == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_READ_BUFFER, ERR_LIB_CADB);
    return c;
}

CERT* CERT_read_data(const unsigned char* bytes, int len) {
    return CERT_read_buffer(FORM_ANY, bytes, len);
}

BUFFER* CERT_get(const CERT* cert, int form) {
    if (cert == nullptr || cert->x509 == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    return X509_object_get(cert->x509, form, kCertCodec, CADB_F_CERT_GET);
}

}  // namespace cadb
