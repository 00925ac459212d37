#include <memory>

#include "crypto/cadb/name_print.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/x509/crl.h"

namespace cadb {
namespace {

struct CrlFree {
    void operator()(CRL* c) const { CRL_free(c); }
};
using CrlPtr = std::unique_ptr<CRL, CrlFree>;
struct RevokedFree {
    void operator()(REVOKED* r) const { REVOKED_free(r); }
};
using RevokedPtr = std::unique_ptr<REVOKED, RevokedFree>;

void fail(int reason) { CADB_ERR(ERR_LIB_CADB, CADB_F_CRL_SPLIT, reason); }

// The records of a non-empty extension list into *records; a list that
// does not parse fails.
bool parse_extensions(const STACK_OF(X509_EXTENSION) * exts, STACK_OF(CADB_V3EXT) * *records) {
    if (sk_X509_EXTENSION_num(exts) <= 0) return true;
    *records = CADB_V3EXT_parse_extensions(exts);
    if (*records != nullptr) return true;
    fail(ERR_LIB_CADB);
    return false;
}

REVOKED* split_entry(X509_REVOKED* entry) {
    RevokedPtr r(REVOKED_new());
    if (!r) return nullptr;
    r->entry = entry;
    r->serial = ASN1_STRING_get_bytes(X509_REVOKED_get0_serialNumber(entry));
    if (r->serial == nullptr) {
        fail(ERR_LIB_CADB);
        return nullptr;
    }
    if (!cadb::ASN1_TIME_to_tm(X509_REVOKED_get0_revocationDate(entry), &r->revocation_date)) {
        fail(CADB_R_INVALID_DATA);
        return nullptr;
    }
    if (!parse_extensions(X509_REVOKED_get0_extensions(entry), &r->extensions)) return nullptr;
    return r.release();
}

}  // namespace

CRL* CRL_split(X509_CRL* x) {
    if (x == nullptr) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    CrlPtr c(CRL_new());
    if (!c) return nullptr;
    if (!X509_CRL_up_ref(x)) {
        fail(ERR_R_INTERNAL);
        return nullptr;
    }
    c->crl = x;
    c->version = static_cast<int>(X509_CRL_get_version(x));
    c->signature_algorithm = OBJ_openssl2nid(X509_CRL_get_signature_nid(x));

    const X509_NAME* issuer = X509_CRL_get_issuer(x);
    if (issuer != nullptr && X509_NAME_entry_count(issuer) > 0) {
        c->issuer = X509_NAME_split(issuer);
        c->issuer_text = X509_NAME_get_rfc2253(issuer);
        if (c->issuer == nullptr || c->issuer_text == nullptr) {
            fail(ERR_LIB_CADB);
            return nullptr;
        }
    }
    if (!cadb::ASN1_TIME_to_tm(X509_CRL_get0_lastUpdate(x), &c->last_update)) {
        fail(CADB_R_INVALID_DATA);
        return nullptr;
    }
    if (const ASN1_TIME* next = X509_CRL_get0_nextUpdate(x); next != nullptr) {
        if (!cadb::ASN1_TIME_to_tm(next, &c->next_update)) {
            fail(CADB_R_INVALID_DATA);
            return nullptr;
        }
        c->has_next_update = 1;
    }

    c->revoked = sk_REVOKED_new_null();
    if (c->revoked == nullptr) {
        fail(ERR_R_MALLOC);
        return nullptr;
    }
    STACK_OF(X509_REVOKED)* entries = X509_CRL_get_REVOKED(x);
    for (int i = 0; i < sk_X509_REVOKED_num(entries); ++i) {
        RevokedPtr r(split_entry(sk_X509_REVOKED_value(entries, i)));
        if (!r || !sk_REVOKED_push(c->revoked, r.get())) {
            if (r) fail(ERR_R_MALLOC);
            return nullptr;
        }
        r.release();
    }
    c->revoked_count = sk_REVOKED_num(c->revoked);
    if (!parse_extensions(X509_CRL_get0_extensions(x), &c->extensions)) return nullptr;
    return c.release();
}

}  // namespace cadb
