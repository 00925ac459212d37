#include "crypto/x509/crl.h"

#include <openssl/crypto.h>

#include "crypto/core/err.h"
#include "crypto/x509/cert.h"

namespace cadb {
namespace {

void init(CRL* c) {
    *c = CRL{};
    c->verify_result = -1;
}

}  // namespace

REVOKED* REVOKED_new() {
    auto* r = static_cast<REVOKED*>(OPENSSL_zalloc(sizeof(REVOKED)));
    if (r == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_REVOKED_NEW, ERR_R_MALLOC);
    return r;
}

void REVOKED_free(REVOKED* r) {
    if (r == nullptr) return;
    BUFFER_free(r->serial);
    CADB_V3EXT_stack_free(r->extensions);
    OPENSSL_free(r);
}

void REVOKED_list_free(STACK_OF(REVOKED) * list) { sk_REVOKED_pop_free(list, REVOKED_free); }

CRL* CRL_new() {
    auto* c = static_cast<CRL*>(OPENSSL_malloc(sizeof(CRL)));
    if (c == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    init(c);
    return c;
}

void CRL_clear(CRL* crl) {
    if (crl == nullptr) return;
    ATTRIBUTE_free(crl->issuer);
    REVOKED_list_free(crl->revoked);
    X509_CRL_free(crl->crl);
    CADB_V3EXT_stack_free(crl->extensions);
    BUFFER_free(crl->issuer_text);
    CERT_free(crl->issuer_cert);
    X509_VERIFY_ERROR_list_free(crl->verify_errors);
    init(crl);
}

void CRL_free(CRL* crl) {
    if (crl == nullptr) return;
    CRL_clear(crl);
    OPENSSL_free(crl);
}

void CRL_list_free(STACK_OF(CRL) * list) { sk_CRL_pop_free(list, CRL_free); }

}  // namespace cadb
