// The record families of the structured extensions: key identifiers,
// policies, constraints, distribution points, access descriptions, usage
// periods and biometric data.
#include <openssl/bn.h>
#include <openssl/x509v3.h>

#include <string>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/objects.h"
#include "crypto/x509v3/v3ext_local.h"

namespace cadb {

using namespace v3ext;

namespace {

// An INTEGER that must fit a long; false for one that does not.
bool small_integer(const ASN1_INTEGER* i, long& out) {
    std::int64_t v = 0;
    if (!ASN1_INTEGER_get_int64(&v, i)) return false;
    out = static_cast<long>(v);
    return true;
}

template <typename T>
T* stack_cast(OPENSSL_STACK* sk) {
    return reinterpret_cast<T*>(sk);
}
template <typename T>
const OPENSSL_STACK* generic(const T* sk) {
    return reinterpret_cast<const OPENSSL_STACK*>(sk);
}

bool optional_text(const ASN1_STRING* s, BUFFER*& out) {
    if (s == nullptr) return true;
    out = ASN1_STRING_get_text(s);
    return out != nullptr;
}

bool optional_bytes(const ASN1_STRING* s, BUFFER*& out) {
    if (s == nullptr) return true;
    out = ASN1_STRING_get_bytes(s);
    return out != nullptr;
}

bool optional_names(const GENERAL_NAMES* names, STACK_OF(CADB_GENERAL_NAME) * &out) {
    if (names == nullptr) return true;
    out = CADB_GENERAL_NAMES_parse(names);
    return out != nullptr;
}

bool optional_time(const ASN1_GENERALIZEDTIME* t, struct tm*& out) {
    if (t == nullptr) return true;
    out = ASN1_TIME_parse(t);
    return out != nullptr;
}

}  // namespace

// --- authority key identifier

CADB_AUTHORITY_KEYID* CADB_AUTHORITY_KEYID_new() {
    return new_record<CADB_AUTHORITY_KEYID>(CADB_F_CADB_AUTHORITY_KEYID_NEW);
}

void CADB_AUTHORITY_KEYID_free(CADB_AUTHORITY_KEYID* r) {
    if (r == nullptr) return;
    BUFFER_free(r->keyid);
    CADB_GENERAL_NAMES_free(r->issuer);
    BUFFER_free(r->serial);
    OPENSSL_free(r);
}

CADB_AUTHORITY_KEYID* CADB_AUTHORITY_KEYID_parse(const AUTHORITY_KEYID* a) {
    constexpr int F = CADB_F_CADB_AUTHORITY_KEYID_PARSE;
    if (a == nullptr) return bad(F), nullptr;
    Owner<CADB_AUTHORITY_KEYID, CADB_AUTHORITY_KEYID_free> r(CADB_AUTHORITY_KEYID_new());
    if (!r) return nullptr;
    if (!optional_bytes(a->keyid, r->keyid) || !optional_names(a->issuer, r->issuer) ||
        !optional_bytes(a->serial, r->serial))
        return nested(F), nullptr;
    return r.release();
}

// --- policies

CADB_NOTICE_REF* CADB_NOTICE_REF_new() {
    return new_record<CADB_NOTICE_REF>(CADB_F_CADB_NOTICE_REF_NEW);
}

void CADB_NOTICE_REF_free(CADB_NOTICE_REF* r) {
    if (r == nullptr) return;
    BUFFER_free(r->organization);
    BUFFER_free(r->numbers);
    OPENSSL_free(r);
}

CADB_NOTICE_REF* CADB_NOTICE_REF_parse(const NOTICEREF* ref) {
    constexpr int F = CADB_F_CADB_NOTICE_REF_PARSE;
    if (ref == nullptr) return bad(F), nullptr;
    Owner<CADB_NOTICE_REF, CADB_NOTICE_REF_free> r(CADB_NOTICE_REF_new());
    if (!r) return nullptr;
    if (!optional_text(ref->organization, r->organization)) return nested(F), nullptr;
    // The text grows with what is read: numbers of any size fit.
    std::string numbers;
    for (int i = 0; i < sk_ASN1_INTEGER_num(ref->noticenos); ++i) {
        std::unique_ptr<BIGNUM, decltype(&BN_free)> bn(
            ASN1_INTEGER_to_BN(sk_ASN1_INTEGER_value(ref->noticenos, i), nullptr), BN_free);
        char* dec = bn ? BN_bn2dec(bn.get()) : nullptr;
        if (dec == nullptr) {
            CADB_ERR(ERR_LIB_CADB, F, ERR_R_MALLOC);
            return nullptr;
        }
        if (i > 0) numbers += ',';
        numbers += dec;
        OPENSSL_free(dec);
    }
    r->numbers = BUFFER_fill(numbers.data(), static_cast<int>(numbers.size()));
    if (r->numbers == nullptr) return nested(F), nullptr;
    return r.release();
}

CADB_USER_NOTICE* CADB_USER_NOTICE_new() {
    return new_record<CADB_USER_NOTICE>(CADB_F_CADB_USER_NOTICE_NEW);
}

void CADB_USER_NOTICE_free(CADB_USER_NOTICE* r) {
    if (r == nullptr) return;
    CADB_NOTICE_REF_free(r->ref);
    BUFFER_free(r->text);
    OPENSSL_free(r);
}

CADB_USER_NOTICE* CADB_USER_NOTICE_parse(const USERNOTICE* n) {
    constexpr int F = CADB_F_CADB_USER_NOTICE_PARSE;
    if (n == nullptr) return bad(F), nullptr;
    Owner<CADB_USER_NOTICE, CADB_USER_NOTICE_free> r(CADB_USER_NOTICE_new());
    if (!r) return nullptr;
    if (n->noticeref != nullptr && (r->ref = CADB_NOTICE_REF_parse(n->noticeref)) == nullptr)
        return nested(F), nullptr;
    if (!optional_text(n->exptext, r->text)) return nested(F), nullptr;
    return r.release();
}

CADB_POLICY_QUALIFIER* CADB_POLICY_QUALIFIER_new() {
    return new_record<CADB_POLICY_QUALIFIER>(CADB_F_CADB_POLICY_QUALIFIER_NEW);
}

void CADB_POLICY_QUALIFIER_free(CADB_POLICY_QUALIFIER* r) {
    if (r == nullptr) return;
    CADB_OID_free(r->qualifier);
    if (r->nid == NID_id_qt_cps) BUFFER_free(r->value.cps);
    if (r->nid == NID_id_qt_unotice) CADB_USER_NOTICE_free(r->value.notice);
    OPENSSL_free(r);
}

CADB_POLICY_QUALIFIER* CADB_POLICY_QUALIFIER_parse(const POLICYQUALINFO* q) {
    constexpr int F = CADB_F_CADB_POLICY_QUALIFIER_PARSE;
    if (q == nullptr) return bad(F), nullptr;
    Owner<CADB_POLICY_QUALIFIER, CADB_POLICY_QUALIFIER_free> r(CADB_POLICY_QUALIFIER_new());
    if (!r) return nullptr;
    if ((r->qualifier = CADB_OID_parse(q->pqualid)) == nullptr) return nested(F), nullptr;
    r->nid = r->qualifier->nid;
    bool ok = true;
    if (r->nid == NID_id_qt_cps)
        ok = (r->value.cps = ASN1_STRING_get_text(q->d.cpsuri)) != nullptr;
    else if (r->nid == NID_id_qt_unotice)
        ok = (r->value.notice = CADB_USER_NOTICE_parse(q->d.usernotice)) != nullptr;
    if (!ok) return nested(F), nullptr;
    return r.release();
}

CADB_POLICY_INFO* CADB_POLICY_INFO_new() {
    return new_record<CADB_POLICY_INFO>(CADB_F_CADB_POLICY_INFO_NEW);
}

void CADB_POLICY_INFO_free(CADB_POLICY_INFO* r) {
    if (r == nullptr) return;
    CADB_OID_free(r->policy);
    free_stack<CADB_POLICY_QUALIFIER, CADB_POLICY_QUALIFIER_free>(
        reinterpret_cast<OPENSSL_STACK*>(r->qualifiers));
    OPENSSL_free(r);
}

CADB_POLICY_INFO* CADB_POLICY_INFO_parse(const POLICYINFO* p) {
    constexpr int F = CADB_F_CADB_POLICY_INFO_PARSE;
    if (p == nullptr) return bad(F), nullptr;
    Owner<CADB_POLICY_INFO, CADB_POLICY_INFO_free> r(CADB_POLICY_INFO_new());
    if (!r) return nullptr;
    if ((r->policy = CADB_OID_parse(p->policyid)) == nullptr) return nested(F), nullptr;
    if (p->qualifiers != nullptr) {
        r->qualifiers = stack_cast<STACK_OF(CADB_POLICY_QUALIFIER)>(
            parse_stack<CADB_POLICY_QUALIFIER, POLICYQUALINFO, CADB_POLICY_QUALIFIER_free>(
                generic(p->qualifiers), CADB_POLICY_QUALIFIER_parse, F));
        if (r->qualifiers == nullptr) return nullptr;
    }
    return r.release();
}

CADB_POLICY_MAPPING* CADB_POLICY_MAPPING_new() {
    return new_record<CADB_POLICY_MAPPING>(CADB_F_CADB_POLICY_MAPPING_NEW);
}

void CADB_POLICY_MAPPING_free(CADB_POLICY_MAPPING* r) {
    if (r == nullptr) return;
    CADB_OID_free(r->issuer_domain);
    CADB_OID_free(r->subject_domain);
    OPENSSL_free(r);
}

CADB_POLICY_MAPPING* CADB_POLICY_MAPPING_parse(const POLICY_MAPPING* m) {
    constexpr int F = CADB_F_CADB_POLICY_MAPPING_PARSE;
    if (m == nullptr) return bad(F), nullptr;
    Owner<CADB_POLICY_MAPPING, CADB_POLICY_MAPPING_free> r(CADB_POLICY_MAPPING_new());
    if (!r) return nullptr;
    if ((r->issuer_domain = CADB_OID_parse(m->issuerDomainPolicy)) == nullptr ||
        (r->subject_domain = CADB_OID_parse(m->subjectDomainPolicy)) == nullptr)
        return nested(F), nullptr;
    return r.release();
}

CADB_POLICY_CONSTRAINTS* CADB_POLICY_CONSTRAINTS_new() {
    auto* r = new_record<CADB_POLICY_CONSTRAINTS>(CADB_F_CADB_POLICY_CONSTRAINTS_NEW);
    if (r != nullptr) r->require_explicit = r->inhibit_mapping = -1;
    return r;
}

void CADB_POLICY_CONSTRAINTS_free(CADB_POLICY_CONSTRAINTS* r) { OPENSSL_free(r); }

CADB_POLICY_CONSTRAINTS* CADB_POLICY_CONSTRAINTS_parse(const POLICY_CONSTRAINTS* p) {
    constexpr int F = CADB_F_CADB_POLICY_CONSTRAINTS_PARSE;
    if (p == nullptr) return bad(F), nullptr;
    Owner<CADB_POLICY_CONSTRAINTS, CADB_POLICY_CONSTRAINTS_free> r(CADB_POLICY_CONSTRAINTS_new());
    if (!r) return nullptr;
    if ((p->requireExplicitPolicy != nullptr &&
         (!small_integer(p->requireExplicitPolicy, r->require_explicit) ||
          r->require_explicit < 0)) ||
        (p->inhibitPolicyMapping != nullptr &&
         (!small_integer(p->inhibitPolicyMapping, r->inhibit_mapping) || r->inhibit_mapping < 0)))
        return bad(F), nullptr;
    return r.release();
}

// --- basic constraints, usage period

CADB_BASIC_CONSTRAINTS* CADB_BASIC_CONSTRAINTS_new() {
    auto* r = new_record<CADB_BASIC_CONSTRAINTS>(CADB_F_CADB_BASIC_CONSTRAINTS_NEW);
    if (r != nullptr) r->path_length = -1;
    return r;
}

void CADB_BASIC_CONSTRAINTS_free(CADB_BASIC_CONSTRAINTS* r) { OPENSSL_free(r); }

CADB_BASIC_CONSTRAINTS* CADB_BASIC_CONSTRAINTS_parse(const BASIC_CONSTRAINTS* bc) {
    constexpr int F = CADB_F_CADB_BASIC_CONSTRAINTS_PARSE;
    if (bc == nullptr) return bad(F), nullptr;
    Owner<CADB_BASIC_CONSTRAINTS, CADB_BASIC_CONSTRAINTS_free> r(CADB_BASIC_CONSTRAINTS_new());
    if (!r) return nullptr;
    r->ca = bc->ca != 0;
    if (bc->pathlen != nullptr) {
        long n = 0;
        if (!small_integer(bc->pathlen, n) || n < 0 || n > INT32_MAX) return bad(F), nullptr;
        r->path_length = static_cast<std::int32_t>(n);
    }
    return r.release();
}

CADB_PKEY_USAGE_PERIOD* CADB_PKEY_USAGE_PERIOD_new() {
    return new_record<CADB_PKEY_USAGE_PERIOD>(CADB_F_CADB_PKEY_USAGE_PERIOD_NEW);
}

void CADB_PKEY_USAGE_PERIOD_free(CADB_PKEY_USAGE_PERIOD* r) {
    if (r == nullptr) return;
    OPENSSL_free(r->not_before);
    OPENSSL_free(r->not_after);
    OPENSSL_free(r);
}

CADB_PKEY_USAGE_PERIOD* CADB_PKEY_USAGE_PERIOD_parse(const PKEY_USAGE_PERIOD* p) {
    constexpr int F = CADB_F_CADB_PKEY_USAGE_PERIOD_PARSE;
    if (p == nullptr) return bad(F), nullptr;
    Owner<CADB_PKEY_USAGE_PERIOD, CADB_PKEY_USAGE_PERIOD_free> r(CADB_PKEY_USAGE_PERIOD_new());
    if (!r) return nullptr;
    if (!optional_time(p->notBefore, r->not_before) || !optional_time(p->notAfter, r->not_after))
        return nested(F), nullptr;
    return r.release();
}

// --- distribution points

CADB_DIST_POINT_NAME* CADB_DIST_POINT_NAME_new() {
    auto* r = new_record<CADB_DIST_POINT_NAME>(CADB_F_CADB_DIST_POINT_NAME_NEW);
    if (r != nullptr) r->type = -1;
    return r;
}

void CADB_DIST_POINT_NAME_free(CADB_DIST_POINT_NAME* r) {
    if (r == nullptr) return;
    if (r->type == 0) CADB_GENERAL_NAMES_free(r->name.full);
    if (r->type == 1) ATTRIBUTE_free(r->name.relative);
    OPENSSL_free(r);
}

CADB_DIST_POINT_NAME* CADB_DIST_POINT_NAME_parse(const DIST_POINT_NAME* n) {
    constexpr int F = CADB_F_CADB_DIST_POINT_NAME_PARSE;
    if (n == nullptr) return bad(F), nullptr;
    Owner<CADB_DIST_POINT_NAME, CADB_DIST_POINT_NAME_free> r(CADB_DIST_POINT_NAME_new());
    if (!r) return nullptr;
    if (n->type == 0) {
        r->type = 0;
        if ((r->name.full = CADB_GENERAL_NAMES_parse(n->name.fullname)) == nullptr)
            return nested(F), nullptr;
    } else if (n->type == 1) {
        r->type = 1;
        std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)> rdn(X509_NAME_new(), X509_NAME_free);
        if (!rdn) return bad(F), nullptr;
        for (int i = 0; i < sk_X509_NAME_ENTRY_num(n->name.relativename); ++i) {
            if (!X509_NAME_add_entry(rdn.get(), sk_X509_NAME_ENTRY_value(n->name.relativename, i),
                                     -1, i == 0 ? 0 : -1))
                return bad(F), nullptr;
        }
        r->name.relative = X509_NAME_split(rdn.get());
        if (r->name.relative == nullptr && X509_NAME_entry_count(rdn.get()) > 0)
            return nested(F), nullptr;
    } else {
        return bad(F), nullptr;
    }
    return r.release();
}

CADB_CRL_DIST_POINT* CADB_CRL_DIST_POINT_new() {
    return new_record<CADB_CRL_DIST_POINT>(CADB_F_CADB_CRL_DIST_POINT_NEW);
}

void CADB_CRL_DIST_POINT_free(CADB_CRL_DIST_POINT* r) {
    if (r == nullptr) return;
    CADB_DIST_POINT_NAME_free(r->point);
    CADB_GENERAL_NAMES_free(r->crl_issuer);
    OPENSSL_free(r);
}

CADB_CRL_DIST_POINT* CADB_CRL_DIST_POINT_parse(const DIST_POINT* p) {
    constexpr int F = CADB_F_CADB_CRL_DIST_POINT_PARSE;
    if (p == nullptr) return bad(F), nullptr;
    Owner<CADB_CRL_DIST_POINT, CADB_CRL_DIST_POINT_free> r(CADB_CRL_DIST_POINT_new());
    if (!r) return nullptr;
    if (p->distpoint != nullptr &&
        (r->point = CADB_DIST_POINT_NAME_parse(p->distpoint)) == nullptr)
        return nested(F), nullptr;
    r->reasons = KEY_USAGE_bits(p->reasons);
    if (!optional_names(p->CRLissuer, r->crl_issuer)) return nested(F), nullptr;
    return r.release();
}

CADB_ISSUING_DIST_POINT* CADB_ISSUING_DIST_POINT_new() {
    return new_record<CADB_ISSUING_DIST_POINT>(CADB_F_CADB_ISSUING_DIST_POINT_NEW);
}

void CADB_ISSUING_DIST_POINT_free(CADB_ISSUING_DIST_POINT* r) {
    if (r == nullptr) return;
    CADB_DIST_POINT_NAME_free(r->point);
    OPENSSL_free(r);
}

CADB_ISSUING_DIST_POINT* CADB_ISSUING_DIST_POINT_parse(const ISSUING_DIST_POINT* p) {
    constexpr int F = CADB_F_CADB_ISSUING_DIST_POINT_PARSE;
    if (p == nullptr) return bad(F), nullptr;
    Owner<CADB_ISSUING_DIST_POINT, CADB_ISSUING_DIST_POINT_free> r(CADB_ISSUING_DIST_POINT_new());
    if (!r) return nullptr;
    if (p->distpoint != nullptr &&
        (r->point = CADB_DIST_POINT_NAME_parse(p->distpoint)) == nullptr)
        return nested(F), nullptr;
    r->only_user = p->onlyuser != 0;
    r->only_ca = p->onlyCA != 0;
    r->only_some_reasons = KEY_USAGE_bits(p->onlysomereasons);
    r->indirect_crl = p->indirectCRL != 0;
    r->only_attribute_certs = p->onlyattr != 0;
    return r.release();
}

// --- access descriptions, name constraints

CADB_ACCESS_DESCRIPTION* CADB_ACCESS_DESCRIPTION_new() {
    return new_record<CADB_ACCESS_DESCRIPTION>(CADB_F_CADB_ACCESS_DESCRIPTION_NEW);
}

void CADB_ACCESS_DESCRIPTION_free(CADB_ACCESS_DESCRIPTION* r) {
    if (r == nullptr) return;
    CADB_OID_free(r->method);
    CADB_GENERAL_NAME_free(r->location);
    OPENSSL_free(r);
}

CADB_ACCESS_DESCRIPTION* CADB_ACCESS_DESCRIPTION_parse(const ACCESS_DESCRIPTION* a) {
    constexpr int F = CADB_F_CADB_ACCESS_DESCRIPTION_PARSE;
    if (a == nullptr) return bad(F), nullptr;
    Owner<CADB_ACCESS_DESCRIPTION, CADB_ACCESS_DESCRIPTION_free> r(CADB_ACCESS_DESCRIPTION_new());
    if (!r) return nullptr;
    if ((r->method = CADB_OID_parse(a->method)) == nullptr ||
        (r->location = CADB_GENERAL_NAME_parse(a->location)) == nullptr)
        return nested(F), nullptr;
    return r.release();
}

CADB_GENERAL_SUBTREE* CADB_GENERAL_SUBTREE_new() {
    auto* r = new_record<CADB_GENERAL_SUBTREE>(CADB_F_CADB_GENERAL_SUBTREE_NEW);
    if (r != nullptr) r->maximum = -1;
    return r;
}

void CADB_GENERAL_SUBTREE_free(CADB_GENERAL_SUBTREE* r) {
    if (r == nullptr) return;
    CADB_GENERAL_NAME_free(r->base);
    OPENSSL_free(r);
}

CADB_GENERAL_SUBTREE* CADB_GENERAL_SUBTREE_parse(const GENERAL_SUBTREE* s) {
    constexpr int F = CADB_F_CADB_GENERAL_SUBTREE_PARSE;
    if (s == nullptr) return bad(F), nullptr;
    Owner<CADB_GENERAL_SUBTREE, CADB_GENERAL_SUBTREE_free> r(CADB_GENERAL_SUBTREE_new());
    if (!r) return nullptr;
    if ((r->base = CADB_GENERAL_NAME_parse(s->base)) == nullptr) return nested(F), nullptr;
    if ((s->minimum != nullptr && (!small_integer(s->minimum, r->minimum) || r->minimum < 0)) ||
        (s->maximum != nullptr && (!small_integer(s->maximum, r->maximum) || r->maximum < 0)))
        return bad(F), nullptr;
    return r.release();
}

CADB_NAME_CONSTRAINTS* CADB_NAME_CONSTRAINTS_new() {
    return new_record<CADB_NAME_CONSTRAINTS>(CADB_F_CADB_NAME_CONSTRAINTS_NEW);
}

void CADB_NAME_CONSTRAINTS_free(CADB_NAME_CONSTRAINTS* r) {
    if (r == nullptr) return;
    free_stack<CADB_GENERAL_SUBTREE, CADB_GENERAL_SUBTREE_free>(
        reinterpret_cast<OPENSSL_STACK*>(r->permitted));
    free_stack<CADB_GENERAL_SUBTREE, CADB_GENERAL_SUBTREE_free>(
        reinterpret_cast<OPENSSL_STACK*>(r->excluded));
    OPENSSL_free(r);
}

CADB_NAME_CONSTRAINTS* CADB_NAME_CONSTRAINTS_parse(const NAME_CONSTRAINTS* n) {
    constexpr int F = CADB_F_CADB_NAME_CONSTRAINTS_PARSE;
    if (n == nullptr) return bad(F), nullptr;
    Owner<CADB_NAME_CONSTRAINTS, CADB_NAME_CONSTRAINTS_free> r(CADB_NAME_CONSTRAINTS_new());
    if (!r) return nullptr;
    auto subtrees = [F](const STACK_OF(GENERAL_SUBTREE) * in) {
        return stack_cast<STACK_OF(CADB_GENERAL_SUBTREE)>(
            parse_stack<CADB_GENERAL_SUBTREE, GENERAL_SUBTREE, CADB_GENERAL_SUBTREE_free>(
                generic(in), CADB_GENERAL_SUBTREE_parse, F));
    };
    if (n->permittedSubtrees != nullptr &&
        (r->permitted = subtrees(n->permittedSubtrees)) == nullptr)
        return nullptr;
    if (n->excludedSubtrees != nullptr &&
        (r->excluded = subtrees(n->excludedSubtrees)) == nullptr)
        return nullptr;
    return r.release();
}

// --- biometric data

CADB_BIOMETRIC_DATA* CADB_BIOMETRIC_DATA_new() {
    return new_record<CADB_BIOMETRIC_DATA>(CADB_F_CADB_BIOMETRIC_DATA_NEW);
}

void CADB_BIOMETRIC_DATA_free(CADB_BIOMETRIC_DATA* r) {
    if (r == nullptr) return;
    CADB_OID_free(r->type_oid);
    BUFFER_free(r->hash);
    BUFFER_free(r->uri);
    OPENSSL_free(r);
}

}  // namespace cadb
