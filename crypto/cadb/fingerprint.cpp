#include "crypto/cadb/fingerprint.h"

#include <openssl/crypto.h>

#include <memory>

#include "crypto/core/err.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

BUFFER* fingerprint(const unsigned char* md, unsigned int n) {
    if (n != kFingerprintSize) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_FINGER_PRINT_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    return BUFFER_fill(md, kFingerprintSize);
}

BUFFER* hash(const unsigned char* bytes, std::size_t len) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!EVP_Digest(bytes, len, md, &n, EVP_rus_hash(), nullptr)) n = 0;
    return fingerprint(md, n);
}

}  // namespace

int X509_PUBKEY_digest(const X509_PUBKEY* key, const EVP_MD* md, unsigned char* out,
                       unsigned int* len) {
    const unsigned char* bits = nullptr;
    int n = 0;
    unsigned int size = 0;
    if (key == nullptr || md == nullptr || out == nullptr ||
        !X509_PUBKEY_get0_param(nullptr, &bits, &n, nullptr, key) || n < 0 ||
        !EVP_Digest(bits, static_cast<std::size_t>(n), out, &size, md, nullptr)) {
        CADB_ERR(ERR_LIB_X509_, X509_F_X509_PUBKEY_DIGEST, ERR_R_INTERNAL);
        return 0;
    }
    if (len != nullptr) *len = size;
    return 1;
}

BUFFER* FINGER_PRINT_get(EVP_PKEY* key) {
    if (key == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_FINGER_PRINT_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    X509_PUBKEY* raw = nullptr;
    if (!X509_PUBKEY_set(&raw, key)) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_FINGER_PRINT_GET);
        return nullptr;
    }
    std::unique_ptr<X509_PUBKEY, decltype(&X509_PUBKEY_free)> spki(raw, X509_PUBKEY_free);
    return X509_PUBKEY_FINGER_PRINT_get(spki.get());
}

BUFFER* X509_PUBKEY_FINGER_PRINT_get(const X509_PUBKEY* spki) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (!X509_PUBKEY_digest(spki, EVP_rus_hash(), md, &n)) n = 0;
    return fingerprint(md, n);
}

BUFFER* NAME_FINGER_PRINT_get(const X509_NAME* name) {
    const unsigned char* der = nullptr;
    std::size_t len = 0;
    if (name == nullptr || !X509_NAME_get0_der(name, &der, &len)) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_FINGER_PRINT_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    return hash(der, len);
}

}  // namespace cadb
