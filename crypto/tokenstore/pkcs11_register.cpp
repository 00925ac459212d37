// Start-up registration of the token methods with the certificate-database
// layer: keys, certificates and key stores on "pkcs11" paths go to them.
#include "crypto/store/pkey_ctx.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/tokenstore/pkcs11_cert.h"
#include "crypto/tokenstore/pkcs11_key.h"
#include "crypto/x509/cert_ctx.h"

namespace cadb {

void PKCS11_methods_register() {
    PKEY_CTX_set_pkcs11_method(PKEY_CTX_get_pkcs11_method_record());
    CERT_CTX_set_pkcs11_method(CERT_CTX_get_pkcs11_method_record());
    PSE_CTX_set_pkcs11_method(PSE_CTX_get_pkcs11_method_record());
}

}  // namespace cadb
