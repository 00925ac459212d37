// What the request files share.
#pragma once

#include <openssl/x509.h>

#include "crypto/x509/pkcs10.h"

namespace cadb {

// The request in exactly len bytes of DER, or null.
X509_REQ* pkcs10_from_der(const unsigned char* der, long len);

}  // namespace cadb
