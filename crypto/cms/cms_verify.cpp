// Verification of the signers of a read signed message: each signer's
// certificate is found, its chain checked, its signature verified, its ESS
// signing-certificate attribute compared with the certificate and its
// countersignatures verified in turn. Outcomes go into the signer records;
// they are not errors of the call.
#include <openssl/crypto.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "crypto/cms/cms_local.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/x509/cert_verify.h"
#include "crypto/x509/lookup_local.h"

namespace cadb {
namespace {

constexpr int F = P7_F_CMS_VERIFY;
constexpr int NID_DATA = 21;
constexpr int NID_SIGNED = 22;
// Countersignatures of countersignatures are followed this deep; a message
// nesting them deeper is refused at that level.
constexpr int kMaxCounterDepth = 4;

int fail(int reason) {
    P7_ERR(F, reason);
    return 0;
}

// Every error of the table is not ignorable: it fails the signature result.
void add_error(CMS_SIGNATURE* s, int code) {
    if (s->errors == nullptr) s->errors = sk_X509_VERIFY_ERROR_new_null();
    X509_VERIFY_ERROR* e = X509_VERIFY_ERROR_make(code, CMS_verify_error_string(code), 0);
    if (s->errors == nullptr || e == nullptr || sk_X509_VERIFY_ERROR_push(s->errors, e) <= 0)
        X509_VERIFY_ERROR_free(e);
    s->signature_result = 0;
}

bool names(X509* x, const X509_NAME* issuer, const ASN1_INTEGER* serial) {
    return X509_NAME_cmp(issuer, X509_get_issuer_name(x)) == 0 &&
           ASN1_INTEGER_cmp(serial, X509_get0_serialNumber(x)) == 0;
}

// A certificate of the store by issuer and serial, with a new reference:
// the store's own objects, then its in-memory lookups (every one of them,
// also a certificate store's second lookup of one method), without adding a
// lookup to a store other threads may be using.
X509* store_lookup(X509_STORE* store, const X509_NAME* issuer, const ASN1_INTEGER* serial) {
    std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(CRYPTO_LOCK_CERT_STORE));
    X509* found = nullptr;
    if (X509_STORE_lock(store)) {
        STACK_OF(X509_OBJECT)* objs = X509_STORE_get0_objects(store);
        for (int i = 0; found == nullptr && i < sk_X509_OBJECT_num(objs); ++i) {
            X509* x = X509_OBJECT_get0_X509(sk_X509_OBJECT_value(objs, i));
            if (x != nullptr && names(x, issuer, serial) && X509_up_ref(x)) found = x;
        }
        X509_STORE_unlock(store);
    }
    if (found == nullptr) {
        STACK_OF(X509)* out = sk_X509_new_null();
        if (out != nullptr &&
            X509_STORE_local_certs_by_issuer_serial(store, issuer, serial, out, 0) > 0)
            found = sk_X509_shift(out);
        sk_X509_pop_free(out, X509_free);
    }
    ::ERR_clear_error();
    return found;
}

// The ESS signing-certificate attribute against the signer's certificate:
// issuer and serial when the identifier carries them, and always the hash.
void check_signing_cert(const PKCS7_SIGNER_INFO* si, X509* x, CMS_SIGNATURE* s) {
    int v2 = 0;
    std::unique_ptr<ESS_SIGNING_CERT, decltype(&ESS_SIGNING_CERT_free)> sc(
        PKCS7_get_signing_cert(si, &v2), ESS_SIGNING_CERT_free);
    if (!sc) {
        // Present but unreadable names no certificate at all.
        for (int nid : {NID_SIGNING_CERTIFICATE_V2, NID_SIGNING_CERTIFICATE}) {
            ASN1_TYPE* t = X509_ATTRIBUTES_get_value(si->auth_attr, nid);
            if (t != nullptr) {
                ASN1_TYPE_free(t);
                add_error(s, CMS_VERIFY_INVALID_SIGNING_CERT);
                return;
            }
        }
        return;
    }
    const ESS_CERT_ID* id = sk_ESS_CERT_ID_value(sc->certs, 0);
    if (id == nullptr || id->hash == nullptr) {
        add_error(s, CMS_VERIFY_INVALID_SIGNING_CERT);
        return;
    }
    if (const ESS_ISSUER_SERIAL* is = id->issuer_serial) {
        bool issuer_ok = sk_GENERAL_NAME_num(is->issuer) <= 0;
        for (int i = 0; i < sk_GENERAL_NAME_num(is->issuer); ++i) {
            const GENERAL_NAME* g = sk_GENERAL_NAME_value(is->issuer, i);
            if (g->type == GEN_DIRNAME && X509_NAME_cmp(g->d.dirn, X509_get_issuer_name(x)) == 0)
                issuer_ok = true;
        }
        if (ASN1_INTEGER_cmp(is->serial, X509_get0_serialNumber(x)) != 0 || !issuer_ok) {
            add_error(s, CMS_VERIFY_INVALID_SIGNING_CERT);
            return;
        }
    }
    const EVP_MD* md = ESS_CERT_ID_md(id, v2);
    BufferPtr hash(md != nullptr ? X509_get_digest(x, md) : nullptr);
    if (!hash) {
        add_error(s, CMS_VERIFY_INTERNAL_ERROR);
        return;
    }
    // GOST R 34.11-94 hashes with the CryptoPro parameters travel reversed.
    if (id->hash_alg != nullptr && p7_algor_nid(id->hash_alg) == NID_RUS_HASH_CP)
        std::reverse(hash->data, hash->data + hash->length);
    if (hash->length != ASN1_STRING_length(id->hash) ||
        CRYPTO_memcmp(hash->data, ASN1_STRING_get0_data(id->hash),
                      static_cast<std::size_t>(hash->length)) != 0)
        add_error(s, CMS_VERIFY_INVALID_SIGNING_CERT);
}

int verify_at(CMS* cms, X509_STORE* store, const struct tm* time, VERIFY_IGNORE_MASK mask,
              int depth);

struct P7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};

// The countersignatures of a signer, verified as the signers of a signed
// message without content whose detached content is the signer's signature
// value; their records become the signer's.
bool verify_countersignatures(CMS* cms, const PKCS7_SIGNER_INFO* si, CMS_SIGNATURE* s,
                              const struct tm* time, VERIFY_IGNORE_MASK mask, int depth) {
    STACK_OF(P7_SIGNER_INFO)* cs = PKCS7_get_counter_signatures(si);
    const int count = sk_P7_SIGNER_INFO_num(cs);
    struct CsFree {
        STACK_OF(P7_SIGNER_INFO) * s;
        ~CsFree() { sk_P7_SIGNER_INFO_pop_free(s, PKCS7_SIGNER_INFO_free); }
    } cs_owner{cs};
    if (cs == nullptr) return false;
    if (count == 0) return true;
    if (depth >= kMaxCounterDepth) return false;

    std::unique_ptr<PKCS7, P7Free> m(PKCS7_new());
    if (!m || !PKCS7_set_type(m.get(), NID_SIGNED) || !PKCS7_content_new(m.get(), NID_DATA))
        return false;
    PKCS7* inner = m->d.sign->contents;
    ASN1_OCTET_STRING_free(inner->d.data);
    inner->d.data = nullptr;
    m->detached = 1;
    for (int i = 0; i < count; ++i) {
        PKCS7_SIGNER_INFO* c = sk_P7_SIGNER_INFO_value(cs, i);
        const int md_nid = p7_algor_nid(c->digest_alg);
        bool listed = false;
        for (int a = 0; a < sk_X509_ALGOR_num(m->d.sign->md_algs); ++a)
            if (p7_algor_nid(sk_X509_ALGOR_value(m->d.sign->md_algs, a)) == md_nid) listed = true;
        X509_ALGOR* alg = listed ? nullptr : X509_ALGOR_dup(c->digest_alg);
        if (!listed && (alg == nullptr || sk_X509_ALGOR_push(m->d.sign->md_algs, alg) <= 0)) {
            X509_ALGOR_free(alg);
            return false;
        }
        PKCS7_SIGNER_INFO* copy = PKCS7_SIGNER_INFO_dup(c);
        if (copy == nullptr || sk_P7_SIGNER_INFO_push(m->d.sign->signer_info, copy) <= 0) {
            PKCS7_SIGNER_INFO_free(copy);
            return false;
        }
    }
    STACK_OF(X509)* certs = PKCS7_get_certificates(cms->message);
    for (int i = 0; i < sk_X509_num(certs); ++i)
        if (!PKCS7_add_certificate(m.get(), sk_X509_value(certs, i))) return false;
    for (int i = 0; i < sk_CRL_num(cms->crls); ++i)
        if (!PKCS7_add_crl(m.get(), sk_CRL_value(cms->crls, i)->crl)) return false;

    unsigned char* der = nullptr;
    const int len = i2d_PKCS7(m.get(), &der);
    CmsPtr sub(CMS_new());
    BufferPtr value(PKCS7_get_signature_value(si));
    bool ok = len > 0 && sub && value;
    if (ok) {
        sub->flags = cms->flags & (CMS_OPT_IGNORE_CERTS | CMS_OPT_IGNORE_CRLS | CMS_OPT_NO_PEM);
        ok = CMS_update(sub.get(), der, len, 0) && CMS_get_type(sub.get()) == NID_SIGNED &&
             CMS_update_detached(sub.get(), value->data, value->length) &&
             verify_at(sub.get(), cms->store, time, mask, depth + 1);
    }
    OPENSSL_free(der);
    if (!ok) return false;
    // A countersignature that does not verify fails the signer it signs; a
    // countersigner that cannot be found (result -1) is only left unchecked.
    bool passed = true;
    for (int i = 0; i < sk_CMS_SIGNATURE_num(sub->signatures); ++i) {
        const CMS_SIGNATURE* c = sk_CMS_SIGNATURE_value(sub->signatures, i);
        if (c->signature_result == 0) passed = false;
    }
    s->countersignatures = sub->signatures;
    sub->signatures = nullptr;
    return passed;
}

void verify_signer(CMS* cms, const PKCS7_SIGNER_INFO* si, CMS_SIGNATURE* s,
                   const struct tm* time, VERIFY_IGNORE_MASK mask, int depth) {
    // A signer named by key identifier is kept as it is: no lookup, no
    // check.
    if (si->issuer_and_serial == nullptr) return;
    if (s->cert == nullptr) {
        X509* x = store_lookup(cms->store, si->issuer_and_serial->issuer,
                               si->issuer_and_serial->serial);
        if (x == nullptr) return;
        s->cert = CERT_split(x);
        X509_free(x);
        if (s->cert == nullptr) {
            add_error(s, CMS_VERIFY_OUT_OF_MEMORY);
            return;
        }
    }
    STACK_OF(CERT)* untrusted =
        (cms->flags & CMS_OPT_IGNORE_CERTS) ? nullptr : cms->certificates;
    STACK_OF(CRL)* crls = (cms->flags & CMS_OPT_IGNORE_CRLS) ? nullptr : cms->crls;
    const int ran = CERT_verify(s->cert, cms->store, untrusted, crls, time, mask);
    s->chain_result = s->cert->verify_result != -1 ? s->cert->verify_result : ran;
    if (s->chain_result != 1) add_error(s, CMS_VERIFY_CERT_SIGNATURE_FAILURE);
    s->signature_result =
        PKCS7_signatureVerify(cms->data, cms->message, const_cast<PKCS7_SIGNER_INFO*>(si),
                              s->cert->x509) == 1
            ? 1
            : 0;
    check_signing_cert(si, s->cert->x509, s);
    if (!verify_countersignatures(cms, si, s, time, mask, depth))
        add_error(s, CMS_VERIFY_INTERNAL_ERROR);
}

int verify_at(CMS* cms, X509_STORE* store, const struct tm* time, VERIFY_IGNORE_MASK mask,
              int depth) {
    if (cms == nullptr) return fail(ERR_R_NULL_PARAMETER);
    if (cms->writing || cms->type != NID_SIGNED) return fail(P7_R_WRONG_PKCS7_TYPE);
    if (cms->detached && !cms->detached_fed) return fail(P7_R_BIO_LIB);
    if (store != nullptr && store != cms->store) {
        std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(CRYPTO_LOCK_CERT_STORE));
        if (!X509_STORE_up_ref(store)) return fail(P7_R_INTERNAL_ERROR);
        X509_STORE_free(cms->store);
        cms->store = store;
    }
    if (cms->store == nullptr) return fail(ERR_R_NULL_PARAMETER);
    if (!cms_open_signed(cms, F)) return 0;

    STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(cms->message);
    STACK_OF(X509)* certs =
        (cms->flags & CMS_OPT_IGNORE_CERTS) ? nullptr : PKCS7_get_certificates(cms->message);
    sk_CMS_SIGNATURE_pop_free(cms->signatures, CMS_signature_free);
    if ((cms->signatures = sk_CMS_SIGNATURE_new_null()) == nullptr) return fail(P7_R_MALLOC);
    for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers); ++i) {
        const PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(signers, i);
        CMS_SIGNATURE* s = cms_signature_of(si, certs);
        if (s == nullptr || sk_CMS_SIGNATURE_push(cms->signatures, s) <= 0) {
            CMS_signature_free(s);
            return fail(P7_R_MALLOC);
        }
        verify_signer(cms, si, s, time, mask, depth);
        cadb::ERR_clear_error();
    }
    return 1;
}

}  // namespace

int CMS_verify(CMS* cms, X509_STORE* store, const struct tm* time, VERIFY_IGNORE_MASK mask) {
    return verify_at(cms, store, time, mask, 0);
}

const char* CMS_verify_error_string(long code) {
    switch (code) {
        case CMS_VERIFY_OK:
            return "ok";
        case CMS_VERIFY_SIGNATURE_FAILURE:
            return "signature failure";
        case CMS_VERIFY_OUT_OF_MEMORY:
            return "out of memory";
        case CMS_VERIFY_INTERNAL_ERROR:
            return "internal error";
        case CMS_VERIFY_MISSING_SIGNING_CERT:
            return "missing signing certificate";
        case CMS_VERIFY_INVALID_SIGNING_CERT:
            return "invalid signing certificate";
        case CMS_VERIFY_CERT_SIGNATURE_FAILURE:
            return "certificate signature failure";
        default: {
            thread_local char text[48];
            std::snprintf(text, sizeof text, "error number %ld", code);
            return text;
        }
    }
}

}  // namespace cadb
