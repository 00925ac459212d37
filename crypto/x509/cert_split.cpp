#include <openssl/evp.h>

#include <memory>

#include "crypto/cadb/fingerprint.h"
#include "crypto/cadb/name_print.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/x509/cert.h"

namespace cadb {
namespace {

struct CertFree {
    void operator()(CERT* c) const { CERT_free(c); }
};
using CertPtr = std::unique_ptr<CERT, CertFree>;

void fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_CERT_SPLIT, reason);
}

// List, RFC 2253 text and fingerprint of a name; an empty name leaves all
// three unset.
bool split_name(const X509_NAME* name, ATTRIBUTE** list, BUFFER** text, BUFFER** fingerprint) {
    if (name == nullptr || X509_NAME_entry_count(name) == 0) return true;
    *list = X509_NAME_split(name);
    *text = X509_NAME_get_rfc2253(name);
    *fingerprint = NAME_FINGER_PRINT_get(name);
    return *list != nullptr && *text != nullptr && *fingerprint != nullptr;
}

}  // namespace

CERT* CERT_split(X509* x) {
    if (x == nullptr) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    CertPtr c(CERT_new());
    if (!c) return nullptr;
    if (!X509_up_ref(x)) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    c->x509 = x;
    c->version = static_cast<int>(X509_get_version(x));
    c->signature_algorithm = OBJ_openssl2nid(X509_get_signature_nid(x));

    const ASN1_OBJECT* key_alg = nullptr;
    X509_PUBKEY_get0_param(const_cast<ASN1_OBJECT**>(&key_alg), nullptr, nullptr, nullptr,
                           X509_get_X509_PUBKEY(x));
    EVP_PKEY* key = X509_get0_pubkey(x);
    if (key == nullptr || key_alg == nullptr) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_CERT_SPLIT);
        fail(CADB_R_UNABLE_TO_GET_PUBLIC_KEY);
        return nullptr;
    }
    c->key_algorithm = cadb::OBJ_obj2nid(key_alg);
    c->key_size = EVP_PKEY_bits(key);
    c->parameters_missing = EVP_PKEY_missing_parameters(key) ? 1 : 0;

    c->serial = ASN1_STRING_get_bytes(X509_get0_serialNumber(x));
    if (c->serial == nullptr) {
        fail(ERR_LIB_CADB);
        return nullptr;
    }
    if (!cadb::ASN1_TIME_to_tm(X509_get0_notBefore(x), &c->not_before) ||
        !cadb::ASN1_TIME_to_tm(X509_get0_notAfter(x), &c->not_after)) {
        fail(CADB_R_INVALID_DATA);
        return nullptr;
    }
    const X509_NAME* subject = X509_get_subject_name(x);
    const X509_NAME* issuer = X509_get_issuer_name(x);
    if (!split_name(subject, &c->subject, &c->subject_text, &c->subject_fingerprint) ||
        !split_name(issuer, &c->issuer, &c->issuer_text, &c->issuer_fingerprint)) {
        fail(ERR_LIB_CADB);
        return nullptr;
    }
    c->self_issued = X509_NAME_cmp(subject, issuer) == 0 ? 1 : -1;
    // A certificate whose extensions cannot be read is not taken as read.
    if (const STACK_OF(X509_EXTENSION)* exts = X509_get0_extensions(x);
        sk_X509_EXTENSION_num(exts) > 0) {
        c->extensions = CADB_V3EXT_parse_extensions(exts);
        if (c->extensions == nullptr) {
            fail(ERR_LIB_CADB);
            return nullptr;
        }
    }
    c->key_fingerprint = X509_PUBKEY_FINGER_PRINT_get(X509_get_X509_PUBKEY(x));
    if (c->key_fingerprint == nullptr) {
        fail(ERR_LIB_CADB);
        return nullptr;
    }
    return c.release();
}

}  // namespace cadb
