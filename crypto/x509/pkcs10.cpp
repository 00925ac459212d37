// The PKCS10 record and the split of a request into its fields.
#include "crypto/x509/pkcs10.h"

#include <openssl/crypto.h>
#include <openssl/err.h>

#include <memory>

#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/engine/evp_pkey.h"
#include "crypto/x509/pkcs10_local.h"

namespace cadb {
namespace {

int fail(int reason) {
    CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_SPLIT, reason);
    return 0;
}

// The request's attributes as a stack the attribute split reads (the
// attributes stay the request's).
using AttributeView =
    std::unique_ptr<STACK_OF(X509_ATTRIBUTE), void (*)(STACK_OF(X509_ATTRIBUTE)*)>;
AttributeView attributes_of(const X509_REQ* req) {
    AttributeView view(sk_X509_ATTRIBUTE_new_null(),
                       [](STACK_OF(X509_ATTRIBUTE) * s) { sk_X509_ATTRIBUTE_free(s); });
    if (!view) return view;
    for (int i = 0; i < X509_REQ_get_attr_count(req); ++i) {
        if (!sk_X509_ATTRIBUTE_push(view.get(), X509_REQ_get_attr(req, i))) {
            view.reset();
            break;
        }
    }
    return view;
}

// The extension records of the requested extensions (taken over), or null
// when there are none or they do not parse: the request stays readable and
// its extensions remain in the request itself.
STACK_OF(CADB_V3EXT) * parsed(STACK_OF(X509_EXTENSION) * extensions) {
    if (extensions == nullptr) return nullptr;
    ERR_set_mark();
    STACK_OF(CADB_V3EXT)* records = CADB_V3EXT_parse_extensions(extensions);
    ERR_pop_to_mark();
    sk_X509_EXTENSION_pop_free(extensions, X509_EXTENSION_free);
    return records;
}

int split_into(PKCS10* p10) {
    X509_REQ* req = p10->request;
    p10->version = static_cast<int>(X509_REQ_get_version(req));
    if (p10->version != 0) return fail(CADB_R_INVALID_PKCS10_VERSION);
    p10->signature_algorithm = OBJ_openssl2nid(X509_REQ_get_signature_nid(req));
    X509_PUBKEY* spki = X509_REQ_get_X509_PUBKEY(req);
    ASN1_OBJECT* key_alg = nullptr;
    if (spki != nullptr) X509_PUBKEY_get0_param(&key_alg, nullptr, nullptr, nullptr, spki);
    p10->key_algorithm = key_alg != nullptr ? cadb::OBJ_obj2nid(key_alg) : 0;
    EVP_PKEY* pkey = X509_REQ_get0_pubkey(req);
    if (pkey == nullptr) return fail(CADB_R_UNABLE_TO_GET_PUBLIC_KEY);
    p10->key_size = EVP_PKEY_get_bits(pkey);
    p10->key_fingerprint = FINGER_PRINT_get(pkey);
    if (p10->key_fingerprint == nullptr) return fail(ERR_LIB_CADB);

    const X509_NAME* subject = X509_REQ_get_subject_name(req);
    p10->subject = X509_NAME_split(subject);
    p10->subject_fingerprint = NAME_FINGER_PRINT_get(subject);
    if (p10->subject_fingerprint == nullptr) return fail(ERR_LIB_CADB);
    AttributeView attributes = attributes_of(req);
    if (!attributes) return fail(ERR_R_MALLOC);
    STACK_OF(X509_EXTENSION)* extensions = nullptr;
    const bool split = attributes_split(attributes.get(), &extensions, &p10->attributes);
    p10->extensions = parsed(extensions);
    // An extension request that does not decode leaves the request unread,
    // not read as if it asked for nothing.
    if (!split) return fail(ERR_LIB_CADB);

    // A bad signature is a finding the caller reads from the record; the
    // request is refused only when its key is unsound too.
    ERR_set_mark();
    p10->signature_check = X509_REQ_verify(req, pkey);
    const bool key_sound = p10->signature_check == 1 || EVP_PKEY_check_pubkey(pkey, 1) == 1;
    ERR_pop_to_mark();
    ::ERR_clear_error();
    if (!key_sound) return fail(CADB_R_UNABLE_TO_GET_PUBLIC_KEY);
    return 1;
}

}  // namespace

PKCS10* PKCS10_new() {
    auto* p10 = static_cast<PKCS10*>(OPENSSL_zalloc(sizeof(PKCS10)));
    if (p10 == nullptr) {
        ERR_set_last_error(ERR_CLASS_OUT_OF_MEMORY);
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_NEW, ERR_R_MALLOC);
        return nullptr;
    }
    p10->signature_check = -1;
    return p10;
}

void PKCS10_free(PKCS10* p10) {
    if (p10 == nullptr) return;
    ATTRIBUTE_free(p10->subject);
    ATTRIBUTE_free(p10->attributes);
    CADB_V3EXT_stack_free(p10->extensions);
    X509_REQ_free(p10->request);
    BUFFER_free(p10->key_fingerprint);
    BUFFER_free(p10->subject_fingerprint);
    OPENSSL_free(p10);
}

PKCS10* PKCS10_split0(X509_REQ* req) {
    if (req == nullptr) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    PKCS10* p10 = PKCS10_new();
    if (p10 == nullptr) {
        X509_REQ_free(req);
        return nullptr;
    }
    p10->request = req;
    if (!split_into(p10)) {
        PKCS10_free(p10);
        return nullptr;
    }
    p10->origin = PKCS10_ORIGIN_ENCODED;
    return p10;
}

PKCS10* PKCS10_split(const X509_REQ* req) {
    if (req == nullptr) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    // Copied through its DER: libcrypto's X509_REQ_dup duplicates the
    // decoded public key, which it cannot do for the engine's GOST keys.
    unsigned char* der = nullptr;
    const int len = i2d_X509_REQ(req, &der);
    const unsigned char* p = der;
    X509_REQ* copy = len > 0 ? d2i_X509_REQ(nullptr, &p, len) : nullptr;
    OPENSSL_free(der);
    if (copy == nullptr) {
        ::ERR_clear_error();
        fail(ERR_R_MALLOC);
        return nullptr;
    }
    return PKCS10_split0(copy);
}

}  // namespace cadb
