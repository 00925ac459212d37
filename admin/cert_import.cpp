// Import of a certificate from a file on any medium onto the token.

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>

#include "admin/tasset.h"
#include "crypto/cadb/cert.h"
#include "crypto/cadb/cert_ctx.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"

namespace cadb {
namespace {

constexpr const char* kCertLabel = "Halberd certificate object";

struct CertCtxFree {
    void operator()(CERT_CTX* c) const { CERT_CTX_free(c); }
};
using CertCtxPtr = std::unique_ptr<CERT_CTX, CertCtxFree>;
struct CertFree {
    void operator()(CERT* c) const { CERT_free(c); }
};
using CertPtr = std::unique_ptr<CERT, CertFree>;
struct LabelFree {
    void operator()(void* p) const { OPENSSL_free(p); }
};
using LabelPtr = std::unique_ptr<char, LabelFree>;

// The token path the certificate goes to: root\name for a plain name, the
// name itself when it is a token path already. Empty when refused.
std::string target_of(const char* root, const char* name) {
    if (PKCS11_path_parse(name, nullptr, nullptr)) return name;
    if (std::strchr(name, ':') != nullptr || root == nullptr || *root == '\0') return {};
    std::string target = root;
    if (target.back() == '\\' || target.back() == '/') target.pop_back();
    return target + "\\" + name;
}

// The certificate read from a file on any medium, in any form.
CertPtr read_file(const char* infile) {
    CertCtxPtr ctx(CERT_CTX_new());
    if (!ctx || !CERT_CTX_set_path(ctx.get(), infile) || !CERT_CTX_read(ctx.get())) return {};
    CERT* held = CERT_CTX_get_CERT(ctx.get());
    if (held == nullptr || held->x509 == nullptr) return {};
    return CertPtr(CERT_split(held->x509));
}

// Stores the certificate as the token's certificate object under the
// target's name, replacing certificates of the same name.
bool write_token(const std::string& target, const CERT* cert, int kind) {
    constexpr int F = PKCS11_F_PKCS11_OBJ_CREATE;
    std::string module_part;
    LabelPtr id(PKCS11_path_get_label(target.c_str(), &module_part));
    if (!id) return false;
    BufferPtr der(CERT_get(cert, 1));
    unsigned char* subject = nullptr;
    const int subject_len = i2d_X509_NAME(X509_get_subject_name(cert->x509), &subject);
    const std::unique_ptr<unsigned char, LabelFree> subject_owner(subject);
    (void)subject_owner;
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    if (!der || subject_len <= 0 || !t ||
        !PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, kCertLabel) ||
        (kind != 0 && !PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CERTIFICATE_CATEGORY,
                                                 static_cast<CK_ULONG>(kind))) ||
        !PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id.get()) ||
        !PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, der->data, static_cast<CK_ULONG>(der->length)) ||
        !PKCS11_TEMPLATE_add(t.get(), CKA_SUBJECT, subject, static_cast<CK_ULONG>(subject_len))) {
        PKCS11_ERR(F, ERR_R_MALLOC);
        return false;
    }
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    return ctx && PKCS11_OBJ_set_path(ctx.get(), module_part.c_str()) &&
           PKCS11_OBJ_open(ctx.get()) && PKCS11_OBJ_login(ctx.get(), 0) &&
           PKCS11_OBJ_destroy_certificates(ctx.get(), id.get()) &&
           PKCS11_OBJ_create(ctx.get(), t.get());
}

// Reads the certificate object back and decodes it.
bool read_back(const std::string& target) {
    std::string module_part;
    LabelPtr id(PKCS11_path_get_label(target.c_str(), &module_part));
    if (!id) return false;
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    if (!ctx || !PKCS11_OBJ_set_path(ctx.get(), module_part.c_str()) ||
        !PKCS11_OBJ_open(ctx.get()) || !PKCS11_OBJ_find(ctx.get(), id.get(), nullptr))
        return false;
    CK_ULONG len = 0;
    if (!PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, nullptr, &len)) return false;
    std::string value(len, '\0');
    if (!PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, value.data(), &len)) return false;
    CertPtr back(CERT_read_data(reinterpret_cast<const unsigned char*>(value.data()),
                                static_cast<int>(len)));
    return back != nullptr;
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
    CertPtr cert = read_file(infile);
    if (!cert) return 0;
    if (!write_token(target, cert.get(), kind)) return 0;
    return read_back(target) ? 1 : 0;
}

}  // namespace cadb
