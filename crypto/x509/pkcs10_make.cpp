// Making and signing requests, and their output forms.
#include <openssl/dsa.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <memory>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/r3410/r3410.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/x509/pkcs10.h"
#include "crypto/x509/pkcs10_local.h"
#include "crypto/x509v3/ext_text.h"

namespace cadb {
namespace {

using ReqPtr = std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)>;

PKCS10* fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_MAKE, reason);
    return nullptr;
}

// The digest record of a signature digest NID (PKEY_sign_md).
const EVP_MD* digest_of(int nid) {
    switch (nid) {
        case EVP_PKEY_DSA:
            return EVP_sha1();
        case NID_R3410_R3411:
            return EVP_rus_hash();
        case NID_ECR3410_R3411:
            return EVP_ecr3410_r3411();
        case NID_R3411_WITH_ECR3410_CP:
            return EVP_r3411_with_ecr3410_cp();
        case NID_R3411_WITH_R3410_CP:
            return EVP_r3411_with_r3410_cp();
        default:
            return EVP_get_digestbyname(OBJ_nid2sn(nid));
    }
}

// The subject key carries its domain parameters in the request: DSA keys
// always, GOST R 34.10-94 keys when asked.
void carry_parameters(PKEY* key, int with_parameters) {
    if (key->type == NID_R3410 && with_parameters) {
        if (auto* gosts = static_cast<GOSTS*>(EVP_PKEY_get0(key->key))) gosts->write_params = true;
    }
    if (key->type == EVP_PKEY_DSA) EVP_PKEY_save_parameters(key->key, 1);
}

// Each node becomes one attribute of the request, in list order; its type
// must be one the attribute allows, never another chosen in its place.
bool add_attributes(X509_REQ* req, const ATTRIBUTE* attributes) {
    for (const ATTRIBUTE* a = attributes; a != nullptr; a = a->next) {
        STACK_OF(X509_ATTRIBUTE)* made = nullptr;
        int type = a->string_type;
        const bool ok = X509_ATTRIBUTES_add_text(&made, a->nid, a->text, a->length, &type,
                                                 NAME_ENTRY_KEEP_TYPE) &&
                        X509_REQ_add1_attr(req, sk_X509_ATTRIBUTE_value(made, 0));
        sk_X509_ATTRIBUTE_pop_free(made, X509_ATTRIBUTE_free);
        if (!ok) {
            ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_PKCS10_MAKE);
            return false;
        }
    }
    return true;
}

int i2d_req(const void* req, unsigned char** out) {
    return i2d_X509_REQ(static_cast<const X509_REQ*>(req), out);
}
int print_req(BIO* out, void* req) { return X509_REQ_print_text(out, static_cast<X509_REQ*>(req)); }

}  // namespace

int add_attribute_object(X509_REQ* req, const STACK_OF(X509_EXTENSION) * extensions) {
    if (req == nullptr || extensions == nullptr ||
        !X509_REQ_add_extensions_nid(req, extensions, OBJ_nid2openssl(NID_EXTENSION_REQUEST))) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_ADD_ATTRIBUTE_OBJECT);
        return 0;
    }
    return 1;
}

PKCS10* PKCS10_make(const X509_NAME* subject, PKEY* key, PKEY* signer, int md_nid,
                    const ATTRIBUTE* attributes, const STACK_OF(X509_EXTENSION) * extensions,
                    int with_parameters) {
    if (key == nullptr || key->key == nullptr) return fail(ERR_R_INTERNAL);
    PKEY* signing = signer != nullptr && signer != key ? signer : key;
    if (signing->key == nullptr) return fail(ERR_R_INTERNAL);
    ReqPtr req(X509_REQ_new(), X509_REQ_free);
    if (!req || !X509_REQ_set_version(req.get(), 0)) return fail(ERR_R_MALLOC);
    if (subject != nullptr && !X509_REQ_set_subject_name(req.get(), subject))
        return fail(CADB_R_SUBJECT_IS_EMPTY);
    carry_parameters(key, with_parameters);
    if (!X509_REQ_set_pubkey(req.get(), key->key)) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_PKCS10_MAKE);
        return nullptr;
    }
    if (!add_attributes(req.get(), attributes)) return fail(ERR_LIB_CADB);
    if (extensions != nullptr && sk_X509_EXTENSION_num(extensions) > 0 &&
        !add_attribute_object(req.get(), extensions))
        return fail(ERR_LIB_CADB);
    const EVP_MD* md = digest_of(PKEY_sign_md(signing, md_nid));
    if (md == nullptr) return fail(CADB_R_UNKNOWN_ALGORITHM);
    if (!pkcs10_sign(req.get(), signing->key, md)) {
        ERR_set_last_error(ERR_CLASS_SIGNING);
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_PKCS10_MAKE);
        return nullptr;
    }
    // The record is the encoding read back as any reader reads it, its
    // signature checked against the key the request carries.
    unsigned char* der = nullptr;
    const int len = i2d_X509_REQ(req.get(), &der);
    PKCS10* p10 = len > 0 ? PKCS10_read_buffer(FORM_DER, der, len) : nullptr;
    OPENSSL_free(der);
    if (p10 == nullptr) return fail(ERR_LIB_CADB);
    return p10;
}

BUFFER* PKCS10_get(const PKCS10* p10, int form) {
    if (p10 == nullptr || p10->request == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_GET, ERR_R_INTERNAL);
        return nullptr;
    }
    void* req = p10->request;
    i2d_of_void* const i2d = i2d_req;
    switch (form) {
        case FORM_PEM:
        case FORM_BASE64:
            return x2form(req, i2d, kPkcs10PemLabel, form);
        case FORM_TEXT:
            return x2text(req, print_req);
        default:
            return x2der(req, i2d);
    }
}

}  // namespace cadb
