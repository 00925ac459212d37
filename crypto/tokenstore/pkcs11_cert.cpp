// "certificate pkcs11 method": an X.509 certificate kept on a token as a
// CKO_CERTIFICATE object whose CKA_ID is the path's object name.
#include "crypto/tokenstore/pkcs11_cert.h"

#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_local.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "crypto/tokenstore/pkcs11_key_local.h"
#include "crypto/tokenstore/token_lock.h"
#include "crypto/x509/cert_codes.h"

namespace cadb {
namespace {

int fail(int func, int reason) {
    PKCS11_ERR(func, reason);
    return 0;
}

// Every certificate bearing the name; false when the token cannot tell.
bool certificates_named(PKCS11_OBJ* obj, const char* name, std::vector<CK_OBJECT_HANDLE>* found) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    return t && PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, name) &&
           pkcs11::find_all(obj, t.get(), found);
}

// True when a certificate other than made bears the name; false also when
// the token cannot tell.
bool old_certificate_left(PKCS11_OBJ* obj, const char* name, CK_OBJECT_HANDLE made) {
    std::vector<CK_OBJECT_HANDLE> found;
    if (!certificates_named(obj, name, &found)) return false;
    for (const CK_OBJECT_HANDLE h : found)
        if (h != made) return true;
    return false;
}

// The module part and the object name of a certificate path.
bool split(const BUFFER* path, std::string* module_part, std::string* name) {
    ERR_set_mark();
    char* label = PKCS11_path_get_label(reinterpret_cast<const char*>(path->data), module_part);
    ERR_pop_to_mark();
    if (label == nullptr) return false;
    name->assign(label);
    OPENSSL_clear_free(label, name->size() + 1);
    return !name->empty();
}

PKCS11_OBJ_ptr open_on(const std::string& path) {
    PKCS11_OBJ_ptr obj(PKCS11_OBJ_new());
    if (!obj || !PKCS11_OBJ_set_path(obj.get(), path.c_str()) || !PKCS11_OBJ_open(obj.get()))
        return nullptr;
    return obj;
}

// The value stored for a form: PEM, the printed certificate followed by its
// PEM (the print alone cannot be read back), else DER.
BufferPtr encoded(const CERT* cert, int form) {
    if (form == FORM_TEXT) {
        BufferPtr text(CERT_get(cert, FORM_TEXT));
        BufferPtr pem(CERT_get(cert, FORM_PEM));
        if (!text || !pem || !BUFFER_append(text.get(), "\n", 1) ||
            !BUFFER_append(text.get(), pem->data, pem->length))
            return nullptr;
        return text;
    }
    return BufferPtr(CERT_get(cert, form == FORM_PEM ? FORM_PEM : FORM_DER));
}

}  // namespace

int PKCS11_cert_read(CERT_CTX* ctx) {
    constexpr int F = PKCS11_F_PKCS11_CERT_READ;
    if (ctx == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    std::lock_guard lock(ctx->mutex);
    if (!ctx->path || ctx->path->data == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    CERT_free(ctx->cert);
    ctx->cert = nullptr;
    std::string module_part, name;
    if (!split(ctx->path.get(), &module_part, &name)) return fail(F, ERR_R_INTERNAL);
    PKCS11_OBJ_ptr obj = open_on(module_part);
    if (!obj || PKCS11_OBJ_find(obj.get(), name.c_str(), nullptr) != 1)
        return fail(F, ERR_R_INTERNAL);
    CK_ULONG category = 0;
    CK_ULONG len = sizeof category;
    ERR_set_mark();
    if (PKCS11_OBJ_get_attribute(obj.get(), CKA_CERTIFICATE_CATEGORY, &category, &len) == 1 &&
        len == sizeof category)
        ctx->category = category;
    ERR_pop_to_mark();
    std::vector<unsigned char> value;
    if (!pkcs11::read_attribute(obj.get(), CKA_VALUE, &value) || value.empty() ||
        value.size() > 0x7FFFFFFF)
        return fail(F, ERR_R_INTERNAL);
    ctx->cert = CERT_read_data(value.data(), static_cast<int>(value.size()));
    if (ctx->cert == nullptr) {
        CADB_ERR(ERR_LIB_CADB, F, ERR_R_INTERNAL);
        return 0;
    }
    return 1;
}

int PKCS11_cert_write(CERT_CTX* ctx, int form) {
    constexpr int F = PKCS11_F_PKCS11_CERT_WRITE;
    if (ctx == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    std::lock_guard lock(ctx->mutex);
    if (!ctx->path || ctx->path->data == nullptr || ctx->cert == nullptr ||
        ctx->cert->x509 == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    std::string module_part, name;
    if (!split(ctx->path.get(), &module_part, &name)) return fail(F, ERR_R_INTERNAL);
    BufferPtr value = encoded(ctx->cert, form);
    unsigned char* subject = nullptr;
    const int subject_len = i2d_X509_NAME(X509_get_subject_name(ctx->cert->x509), &subject);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> subject_owner(
        subject, [](unsigned char* p) { OPENSSL_free(p); });
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    if (!value || subject_len <= 0 || !t ||
        !PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, "Halberd certificate object") ||
        (ctx->category != 0 &&
         !PKCS11_TEMPLATE_add_ulong(t.get(), CKA_CERTIFICATE_CATEGORY, ctx->category)) ||
        !PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, name.c_str()) ||
        !PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, value->data, value->length) ||
        !PKCS11_TEMPLATE_add(t.get(), CKA_SUBJECT, subject, subject_len)) {
        ::ERR_clear_error();
        return fail(F, ERR_R_MALLOC);
    }
    PKCS11_OBJ_ptr obj = open_on(module_part);
    if (!obj || !PKCS11_OBJ_login(obj.get(), 0)) return fail(F, ERR_R_INTERNAL);
    // Writers of one name take turns, in every process of the user: two
    // that each cleared the name before either created would leave two
    // certificates under it.
    TokenLock token;
    if (!token.acquire(obj.get(), CADB_F_CERT_CTX)) return 0;
    // The name is searched before anything is made: a module may show a
    // process only what it saw at its last search, and the process's own
    // create counts as a look, so the certificates other processes wrote
    // are found now or never. They go once the new one is made, so that a
    // write the token refuses leaves the name as it was.
    std::vector<CK_OBJECT_HANDLE> old;
    if (!certificates_named(obj.get(), name.c_str(), &old)) return fail(F, ERR_R_INTERNAL);
    if (!PKCS11_OBJ_create(obj.get(), t.get())) return fail(F, ERR_R_INTERNAL);
    const CK_OBJECT_HANDLE made = obj->object;
    const bool cleared = std::all_of(old.begin(), old.end(), [&obj](CK_OBJECT_HANDLE h) {
        obj->object = h;
        return PKCS11_OBJ_destroy(obj.get()) != 0;
    });
    if (cleared && pkcs11::destroy_all_but(obj.get(), PKCS11_TEMPLATE_certificates, name.c_str(),
                                           made, PKCS11_F_PKCS11_OBJ_DESTROY_CERTIFICATES))
        return 1;
    // Old certificates may be gone already: the new one is taken away again
    // only while an old one is known to be there, so that a failed write
    // never leaves the name with none.
    ERR_set_mark();
    if (old_certificate_left(obj.get(), name.c_str(), made)) {
        obj->object = made;
        PKCS11_OBJ_destroy(obj.get());
    }
    ERR_pop_to_mark();
    return fail(F, ERR_R_INTERNAL);
}

const CERT_CTX_METHOD* CERT_CTX_get_pkcs11_method_record() {
    static const CERT_CTX_METHOD method = {"certificate pkcs11 method", PKCS11_cert_read,
                                           PKCS11_cert_write};
    return &method;
}

}  // namespace cadb
