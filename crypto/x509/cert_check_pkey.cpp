#include <openssl/err.h>
#include <openssl/x509.h>

#include "crypto/keys/pkey.h"
#include "crypto/x509/cert.h"

namespace cadb {

int CERT_check_PKEY(const CERT* cert, const PKEY* key) {
    if (cert == nullptr || cert->x509 == nullptr || key == nullptr || key->key == nullptr) return 0;
    // A mismatch is an answer, not a failure: libcrypto's complaint about it
    // is dropped.
    ::ERR_set_mark();
    const int pair = X509_check_private_key(cert->x509, key->key);
    ::ERR_pop_to_mark();
    return pair == 1 ? 1 : 0;
}

}  // namespace cadb
