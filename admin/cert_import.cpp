// Import of a certificate from a file on any medium onto the token.

#include <cstring>
#include <memory>
#include <string>

#include "admin/cert_path.h"
#include "admin/tasset.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/x509/cert_ctx.h"

namespace cadb {
namespace {

struct CertCtxFree {
    void operator()(CERT_CTX* c) const { CERT_CTX_free(c); }
};
using CertCtxPtr = std::unique_ptr<CERT_CTX, CertCtxFree>;

// The token path the certificate goes to; empty when refused: a plain name
// with a ":" or without a root.
std::string target_of(const char* root, const char* name) {
    if (!PKCS11_path_parse(name, nullptr, nullptr) &&
        (std::strchr(name, ':') != nullptr || root == nullptr || *root == '\0'))
        return {};
    return certificate_path(root, name);
}

// Reads the certificate from a file on any medium, in any form, stores it
// through the token certificate method under the target's name (replacing
// certificates of that name) and reads it back from the token.
bool import_to_token(const char* infile, const std::string& target, int kind) {
    CertCtxPtr ctx(CERT_CTX_new());
    if (!ctx || !CERT_CTX_set_path(ctx.get(), infile) || !CERT_CTX_read(ctx.get()) ||
        !CERT_CTX_set_path(ctx.get(), target.c_str()) ||
        !CERT_CTX_set_category(ctx.get(), static_cast<unsigned long>(kind)) ||
        !CERT_CTX_write(ctx.get(), 1))
        return false;
    CertCtxPtr back(CERT_CTX_new());
    return back && CERT_CTX_set_path(back.get(), target.c_str()) && CERT_CTX_read(back.get()) &&
           CERT_CTX_get_CERT(back.get()) != nullptr;
}

}  // namespace

int Tasset_import_certificate(const char* infile, const char* root, const char* name, int kind) {
    if (infile == nullptr || name == nullptr) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_CREATE, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const std::string target = target_of(root, name);
    if (target.empty()) {
        PKCS11_ERR(PKCS11_F_PKCS11_OBJ_CREATE, ERR_R_INTERNAL);
        return 0;
    }
    return import_to_token(infile, target, kind) ? 1 : 0;
}

}  // namespace cadb
