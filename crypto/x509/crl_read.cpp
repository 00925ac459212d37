#include <openssl/pem.h>

#include <memory>
#include <vector>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/x509_read.h"
#include "crypto/core/err.h"
#include "crypto/x509/crl.h"
#include "crypto/x509v3/ext_text.h"

namespace cadb {
namespace {

int print_crl(BIO* out, void* x) { return X509_CRL_print_text(out, static_cast<X509_CRL*>(x)); }

// Form 0 reads DER, then PEM: CRLs are not read as bare base64.
const X509_OBJECT_CODEC kCrlCodec = {
    d2i_as_void<d2i_X509_CRL>,
    [](void* x) { X509_CRL_free(static_cast<X509_CRL*>(x)); },
    PEM_STRING_X509_CRL,
    i2d_as_void<i2d_X509_CRL>,
    print_crl,
    false,
};

struct CrlFree {
    void operator()(X509_CRL* x) const { X509_CRL_free(x); }
};
using X509CrlPtr = std::unique_ptr<X509_CRL, CrlFree>;

}  // namespace

X509_CRL* CRL_read_bio(int form, BIO* in) {
    return static_cast<X509_CRL*>(X509_object_read_bio(form, in, kCrlCodec, CADB_F_CRL_READ_BIO));
}

CRL* CRL_read_buffer(int form, const unsigned char* bytes, int len) {
    X509CrlPtr x(static_cast<X509_CRL*>(
        X509_object_read_buffer(form, bytes, len, kCrlCodec, CADB_F_CRL_READ_BUFFER)));
    if (!x) return nullptr;
    CRL* c = CRL_split(x.get());
    if (c == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_READ_BUFFER, ERR_LIB_CADB);
    return c;
}

BUFFER* CRL_get(const CRL* crl, int form) {
    if (crl == nullptr || crl->crl == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    return X509_object_get(crl->crl, form, kCrlCodec, CADB_F_CRL_GET);
}

}  // namespace cadb
