// What the request files share.
#pragma once

#include <openssl/x509.h>

#include "crypto/cadb/pkcs10.h"

namespace cadb {

// PKCS10_split0, with the signature check taken as good when the caller has
// just made the signature with the request's own key.
PKCS10* pkcs10_split(X509_REQ* req, bool signature_known);

// The request in exactly len bytes of DER, or null.
X509_REQ* pkcs10_from_der(const unsigned char* der, long len);

}  // namespace cadb
