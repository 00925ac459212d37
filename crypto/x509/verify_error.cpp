#include "crypto/x509/verify_error.h"

#include <openssl/crypto.h>

#include "crypto/core/err.h"
#include "crypto/x509/cert_codes.h"

namespace cadb {

X509_VERIFY_ERROR* X509_VERIFY_ERROR_new() {
    auto* e = static_cast<X509_VERIFY_ERROR*>(OPENSSL_zalloc(sizeof(X509_VERIFY_ERROR)));
    if (e == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_X509_VERIFY_ERROR_NEW, ERR_R_MALLOC);
    return e;
}

void X509_VERIFY_ERROR_free(X509_VERIFY_ERROR* e) {
    if (e == nullptr) return;
    BUFFER_free(e->text);
    OPENSSL_free(e);
}

void X509_VERIFY_ERROR_list_free(STACK_OF(X509_VERIFY_ERROR) * errors) {
    sk_X509_VERIFY_ERROR_pop_free(errors, X509_VERIFY_ERROR_free);
}

int X509_VERIFY_ERROR_is_ignorable(int code, VERIFY_IGNORE_MASK mask) {
    if (code <= 0 || code >= 64) return 0;
    return (mask >> code) & 1U ? 1 : 0;
}

X509_VERIFY_ERROR* X509_VERIFY_ERROR_make(int code, const char* text, VERIFY_IGNORE_MASK mask) {
    X509_VERIFY_ERROR* e = X509_VERIFY_ERROR_new();
    if (e == nullptr) return nullptr;
    e->code = code;
    e->ignorable = X509_VERIFY_ERROR_is_ignorable(code, mask);
    e->text = BUFFER_fill(text != nullptr ? text : "", -1);
    if (e->text == nullptr) {
        X509_VERIFY_ERROR_free(e);
        CADB_ERR(ERR_LIB_CADB, CADB_F_X509_VERIFY_ERROR_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    return e;
}

}  // namespace cadb
