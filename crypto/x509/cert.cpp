#include "crypto/x509/cert.h"

#include <openssl/crypto.h>

#include "crypto/core/err.h"
#include "crypto/x509/crl.h"

namespace cadb {
namespace {

void init(CERT* c) {
    *c = CERT{};
    c->self_issued = -1;
    c->verify_result = -1;
}

// The contents apart from the issuer chain.
void release_fields(CERT* c) {
    BUFFER_free(c->serial);
    ATTRIBUTE_free(c->subject);
    ATTRIBUTE_free(c->issuer);
    CADB_V3EXT_stack_free(c->extensions);
    X509_VERIFY_ERROR_list_free(c->verify_errors);
    X509_free(c->x509);
    BUFFER_free(c->key_fingerprint);
    BUFFER_free(c->subject_text);
    BUFFER_free(c->issuer_text);
    CRL_free(c->crl);
    BUFFER_free(c->subject_fingerprint);
    BUFFER_free(c->issuer_fingerprint);
}

}  // namespace

CERT* CERT_new() {
    auto* c = static_cast<CERT*>(OPENSSL_malloc(sizeof(CERT)));
    if (c == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    init(c);
    return c;
}

void CERT_clear(CERT* cert) {
    if (cert == nullptr) return;
    // The chain is walked, not recursed, so a long chain cannot exhaust the
    // stack.
    CERT* up = cert->issuer_cert;
    while (up != nullptr) {
        CERT* next = up->issuer_cert;
        release_fields(up);
        OPENSSL_free(up);
        up = next;
    }
    release_fields(cert);
    init(cert);
}

void CERT_free(CERT* cert) {
    if (cert == nullptr) return;
    CERT_clear(cert);
    OPENSSL_free(cert);
}

}  // namespace cadb
