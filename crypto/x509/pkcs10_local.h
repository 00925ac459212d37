// What the request files share.
#pragma once

#include <openssl/x509.h>

#include "crypto/x509/pkcs10.h"

namespace cadb {

// The request in exactly len bytes of DER, or null.
X509_REQ* pkcs10_from_der(const unsigned char* der, long len);

// Signs the request with key and md: a key on a token hashes the encoded
// request info there and signs the digest through its token method, other
// keys sign through libcrypto. false on failure.
bool pkcs10_sign(X509_REQ* req, EVP_PKEY* key, const EVP_MD* md);

}  // namespace cadb
