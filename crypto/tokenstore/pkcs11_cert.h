// Certificates and key stores on PKCS#11 tokens: "certificate pkcs11
// method" keeps a certificate as a CKO_CERTIFICATE object named by its
// CKA_ID; "PSE_CTX pkcs11 method" keeps the key store's four files as
// CKO_DATA objects labelled with the file names.
#pragma once

#include "crypto/store/pse_ctx.h"
#include "crypto/x509/cert_ctx.h"

namespace cadb {

// Function codes of library 81.
enum : int {
    PKCS11_F_PSE_CTX_PKCS11_READ = 102,
    PKCS11_F_PKCS11_CERT_READ = 161,
    PKCS11_F_PKCS11_CERT_WRITE = 164,
    PKCS11_F_PSE_CTX_PKCS11_WRITE = 166,
    PKCS11_F_PSE_CTX_PKCS11_ERASE = 168,
    PKCS11_F_PSE_CTX_PKCS11_WRITE_OBJECT = 169,
    PKCS11_F_PSE_CTX_PKCS11_ERASE_OBJECT = 170,
    PKCS11_F_PSE_CTX_PKCS11_READ_OBJECT = 171,
    PKCS11_F_PSE_CTX_PKCS11_WRITE_RAND = 172,
};

int PKCS11_cert_read(CERT_CTX* ctx);
// form 2 PEM, 5 the printed certificate (followed by its PEM), else DER.
// The certificate replaces every one of its name under the token's lock; a
// write that fails leaves those that were there.
int PKCS11_cert_write(CERT_CTX* ctx, int form);
const CERT_CTX_METHOD* CERT_CTX_get_pkcs11_method_record();

int PSE_CTX_pkcs11_create(PSE_CTX* ctx);
PSE* PSE_CTX_pkcs11_read(PSE_CTX* ctx);
int PSE_CTX_pkcs11_write(PSE_CTX* ctx);
int PSE_CTX_pkcs11_erase(PSE_CTX* ctx);
const PSE_CTX_METHOD* PSE_CTX_get_pkcs11_method_record();

}  // namespace cadb
