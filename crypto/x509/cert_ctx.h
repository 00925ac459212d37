// The certificate context: loads and stores one certificate from memory, from
// a file on any medium or, through its token method, from a PKCS#11 token.
#pragma once

#include <mutex>

#include "crypto/cadb/buffer.h"
#include "crypto/x509/cert.h"

namespace cadb {

struct CERT_CTX;

// A missing operation counts as success.
struct CERT_CTX_METHOD {
    const char* name;
    int (*read)(CERT_CTX* ctx);
    int (*write)(CERT_CTX* ctx, int form);
};

struct CERT_CTX {
    BufferPtr bytes;  // the encoded certificate; exclusive with path
    BufferPtr path;   // a file on a medium, or a PKCS#11 path
    CERT* cert = nullptr;  // owned
    BufferPtr extra;
    std::recursive_mutex mutex;  // setters, read and write
    const CERT_CTX_METHOD* method = nullptr;
    // On a token: 0 none, 1 the token user's, 2 an authority's (as
    // CKA_CERTIFICATE_CATEGORY).
    unsigned long category = 0;
};

// A context with the default method, or null.
CERT_CTX* CERT_CTX_new();
// Releases bytes, path, certificate, extra and the mutex. Null accepted.
void CERT_CTX_free(CERT_CTX* ctx);

// A copy of len bytes (len <= 0: strlen); clears the path. 1/0.
int CERT_CTX_set_buffer(CERT_CTX* ctx, const unsigned char* bytes, int len);
// A copy of the path; clears the bytes; a path beginning "pkcs11" (any case)
// selects the token method, any other the default method. 1/0.
int CERT_CTX_set_path(CERT_CTX* ctx, const char* path);
int CERT_CTX_set_category(CERT_CTX* ctx, unsigned long category);
// The method's read (none: success). A failed read leaves no certificate.
int CERT_CTX_read(CERT_CTX* ctx);
// The method's write in a form (none: success).
int CERT_CTX_write(CERT_CTX* ctx, int form);
// The certificate held, or null.
CERT* CERT_CTX_get_CERT(CERT_CTX* ctx);

const CERT_CTX_METHOD* CERT_CTX_default_method();
// Registers the token method (null: token paths are refused). Contexts pick
// it up when their path is next set.
void CERT_CTX_set_pkcs11_method(const CERT_CTX_METHOD* method);
const CERT_CTX_METHOD* CERT_CTX_get_pkcs11_method();

// The default method's operations: the bytes, or else the whole file at the
// path, read in any form; the certificate written whole to the path.
int CERT_CTX_default_read(CERT_CTX* ctx);
int CERT_CTX_default_write(CERT_CTX* ctx, int form);

}  // namespace cadb
