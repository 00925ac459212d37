// The private-key context: where a key comes from (bytes in memory or a
// path on a medium), how it is protected (password bytes or a password
// callback), the key store in which GOST keys are generated and under which
// they are wrapped in key files, and the method that generates, reads and
// writes. The default method keeps keys in files on any medium; a key store
// on a PKCS#11 token selects the token method.
//
// Setters and the default read and write hold the context's own mutex, so one
// context may be shared by threads, one operation at a time.
#pragma once

#include <openssl/x509.h>

#include <mutex>

#include "crypto/cadb/buffer.h"
#include "crypto/keys/pkey.h"
#include "crypto/pse/pse.h"
#include "crypto/store/media_io.h"

namespace cadb {

struct PKEY_CTX;
struct PKCS10;
struct CRMF;

// A missing operation counts as success.
struct PKEY_CTX_METHOD {
    const char* name;
    int (*generate)(PKEY_CTX* ctx, int type, int n);
    int (*read)(PKEY_CTX* ctx);
    int (*write)(PKEY_CTX* ctx, int format, int form);
};

struct PKEY_CTX {
    BufferPtr key_bytes;  // the encoded key; exclusive with key_path
    BufferPtr key_path;
    BufferPtr password;
    BUFFER_PASSWD_CB passwd_cb = nullptr;
    void* passwd_arg = nullptr;
    PSE* store = nullptr;      // one counted reference
    PKEY* key = nullptr;       // one counted reference
    X509* x509 = nullptr;      // attached by the request road and the token method
    PKCS10* pkcs10 = nullptr;  // owned, likewise
    CRMF* crmf = nullptr;      // owned, likewise
    std::recursive_mutex mutex;
    PKEY_PROGRESS_CB progress_cb = nullptr;
    CADB_INSERT_MEDIA_CB media_cb = nullptr;  // null: the process-wide one
    void* media_arg = nullptr;
    const PKEY_CTX_METHOD* method = nullptr;
    int flags = 0;  // for the token method: bit 0 logs in afresh when reading
};

// A context with the default method, or null (66, 407, memory alloc failure).
PKEY_CTX* PKEY_CTX_new();
// Frees every owned object and drops the references. Null accepted.
void PKEY_CTX_free(PKEY_CTX* ctx);

// Setters: 1, or 0 with (66, 408, internal error) for a null context. Byte
// lengths <= 0 mean strlen.
// A copy of the encoded key; clears the key path. Null clears the bytes.
int PKEY_CTX_set_buffer(PKEY_CTX* ctx, const unsigned char* bytes, int len);
// A copy of the path; clears the key bytes and selects the method from the
// attached key store. Null clears path and bytes and leaves the method.
int PKEY_CTX_set_path(PKEY_CTX* ctx, const char* path);
// A copy of the password (null clears).
int PKEY_CTX_set_passwd(PKEY_CTX* ctx, const char* passwd, int len);
int PKEY_CTX_set_passwd_cb(PKEY_CTX* ctx, BUFFER_PASSWD_CB cb);
int PKEY_CTX_set_passwd_cb_arg(PKEY_CTX* ctx, void* arg);
// Takes a reference on store and drops the old one; a store on a PKCS#11
// token switches to the token method (otherwise the method stays).
int PKEY_CTX_set_PSE(PKEY_CTX* ctx, PSE* store);
int PKEY_CTX_set_progress_cb(PKEY_CTX* ctx, PKEY_PROGRESS_CB cb);
int PKEY_CTX_set_media_cb(PKEY_CTX* ctx, CADB_INSERT_MEDIA_CB cb, void* arg);
int PKEY_CTX_set_flags(PKEY_CTX* ctx, int flags);
// The held key (no new reference), or null.
PKEY* PKEY_CTX_get_PKEY(PKEY_CTX* ctx);

// The method's operations. Read and write first wait for the key path's
// medium (through the media callback) unless the path lies inside the
// attached key store's path.
int PKEY_CTX_generate(PKEY_CTX* ctx, int type, int n);
int PKEY_CTX_read(PKEY_CTX* ctx);
// format 2 PEM, else DER; form 1 traditional, else PKCS#8.
int PKEY_CTX_write(PKEY_CTX* ctx, int format, int form);

const PKEY_CTX_METHOD* PKEY_CTX_default_method();
// Registers the token method (null: token stores are refused). Contexts pick
// it up when their key store or path is next set.
void PKEY_CTX_set_pkcs11_method(const PKEY_CTX_METHOD* method);
const PKEY_CTX_METHOD* PKEY_CTX_get_pkcs11_method();

// The default method's operations.
int PKEY_CTX_default_generate(PKEY_CTX* ctx, int type, int n);
int PKEY_CTX_default_read(PKEY_CTX* ctx);
int PKEY_CTX_default_write(PKEY_CTX* ctx, int format, int form);

}  // namespace cadb
