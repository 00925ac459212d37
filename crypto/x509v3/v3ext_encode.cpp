// Records back to extensions: each family rebuilt as libcrypto's value of
// the extension and encoded as its DER.
#include <openssl/bn.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "crypto/cadb/str_convert.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_items.h"
#include "crypto/x509v3/v3ext_local.h"

namespace cadb {

using namespace v3ext;

namespace {

template <typename T, void (*Free)(T*)>
struct OsslDeleter {
    void operator()(T* v) const { Free(v); }
};
template <typename T, void (*Free)(T*)>
using Ossl = std::unique_ptr<T, OsslDeleter<T, Free>>;

const char* text_of(const BUFFER* b) {
    return b != nullptr && b->data != nullptr ? reinterpret_cast<const char*>(b->data) : "";
}
int length_of(const BUFFER* b) { return b != nullptr ? b->length : 0; }

ASN1_OBJECT* object_of(const CADB_OID* o) {
    if (o == nullptr) return nullptr;
    if (o->oid.data != nullptr) return ::OBJ_txt2obj(text_of(&o->oid), 1);
    const ASN1_OBJECT* shared = cadb::OBJ_nid2obj(o->nid);
    return shared != nullptr ? OBJ_dup(shared) : nullptr;
}

// A string of `type` holding local text (UTF8String and BMPString
// converted, the narrow types only when the text fits them).
ASN1_STRING* string_of(const BUFFER* b, int type) {
    if (b == nullptr) return nullptr;
    Ossl<ASN1_STRING, ASN1_STRING_free> s(ASN1_STRING_type_new(type));
    if (!s || !X509_NAME_ENTRY_set_text(s.get(), text_of(b), length_of(b) > 0 ? length_of(b) : 0,
                                        type))
        return nullptr;
    // An empty text is a text: set_text reads 0 as strlen of "".
    return s.release();
}

ASN1_STRING* bytes_of(const BUFFER* b, int type) {
    if (b == nullptr) return nullptr;
    Ossl<ASN1_STRING, ASN1_STRING_free> s(ASN1_STRING_type_new(type));
    if (!s || !ASN1_STRING_set(s.get(), b->data, b->length)) return nullptr;
    return s.release();
}

ASN1_INTEGER* integer_of_bytes(const BUFFER* b) {
    if (b == nullptr) return nullptr;
    Ossl<BIGNUM, BN_free> bn(BN_bin2bn(b->data, b->length, nullptr));
    return bn ? BN_to_ASN1_INTEGER(bn.get(), nullptr) : nullptr;
}

ASN1_INTEGER* integer_of(long v) {
    Ossl<ASN1_INTEGER, ASN1_INTEGER_free> i(ASN1_INTEGER_new());
    if (!i || !ASN1_INTEGER_set_int64(i.get(), v)) return nullptr;
    return i.release();
}

ASN1_BIT_STRING* bits_of(std::int32_t mask) {
    Ossl<ASN1_BIT_STRING, ASN1_BIT_STRING_free> bits(ASN1_BIT_STRING_new());
    if (!bits) return nullptr;
    const auto m = static_cast<std::uint32_t>(mask);
    for (int i = 0; i < 32; ++i)
        if ((m >> i & 1) && !ASN1_BIT_STRING_set_bit(bits.get(), i, 1)) return nullptr;
    return bits.release();
}

// "a.b.c.d" or "a.b.c.d/m.m.m.m" as 4 or 8 octets.
ASN1_OCTET_STRING* ip_of(const BUFFER* b) {
    unsigned v[8];
    char tail = 0;
    const char* t = text_of(b);
    int n = 0;
    if (std::sscanf(t, "%u.%u.%u.%u/%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                    &v[6], &v[7], &tail) == 8)
        n = 8;
    else if (std::sscanf(t, "%u.%u.%u.%u%c", &v[0], &v[1], &v[2], &v[3], &tail) == 4)
        n = 4;
    unsigned char octets[8];
    for (int i = 0; i < n; ++i) {
        if (v[i] > 255) return nullptr;
        octets[i] = static_cast<unsigned char>(v[i]);
    }
    if (n == 0) return nullptr;
    Ossl<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free> ip(ASN1_OCTET_STRING_new());
    if (!ip || !ASN1_OCTET_STRING_set(ip.get(), octets, n)) return nullptr;
    return ip.release();
}

// A name from the name splitter's list: each value written in its recorded
// type, or in the attribute's usual type when the recorded one cannot hold
// the text.
X509_NAME* name_of(const ATTRIBUTE* list) {
    Ossl<X509_NAME, X509_NAME_free> name(X509_NAME_new());
    if (!name) return nullptr;
    for (const ATTRIBUTE* a = list; a != nullptr; a = a->next) {
        const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(a->nid);
        int type = a->string_type;
        int len = a->length;
        unsigned char* bytes = nullptr;
        if (X509_NAME_ENTRY_check_type(a->text, len, type))
            bytes = X509_NAME_ENTRY_encode_text(a->text, &len, type);
        if (bytes == nullptr) {
            type = 0;
            len = a->length;
            if (!X509_NAME_ENTRY_choose_type(a->nid, &type, a->text, len, NAME_ENTRY_ANY_LENGTH))
                type = V_ASN1_UTF8STRING;
            bytes = X509_NAME_ENTRY_encode_text(a->text, &len, type);
        }
        const bool ok = obj != nullptr && bytes != nullptr &&
                        X509_NAME_add_entry_by_OBJ(name.get(), obj, type, bytes, len, -1, 0);
        OPENSSL_free(bytes);
        if (!ok) return nullptr;
    }
    return name.release();
}

GENERAL_NAME* general_name_of(const CADB_GENERAL_NAME* g) {
    if (g == nullptr) return nullptr;
    Ossl<GENERAL_NAME, GENERAL_NAME_free> gn(GENERAL_NAME_new());
    if (!gn) return nullptr;
    switch (g->type) {
        case CADB_GEN_EMAIL:
        case CADB_GEN_DNS:
        case CADB_GEN_URI: {
            ASN1_STRING* s = string_of(g->value.text, V_ASN1_IA5STRING);
            if (s == nullptr) return nullptr;
            GENERAL_NAME_set0_value(gn.get(), g->type & 0x7F, s);
            break;
        }
        case CADB_GEN_DIRNAME: {
            X509_NAME* n = name_of(g->value.dirname);
            if (n == nullptr) return nullptr;
            GENERAL_NAME_set0_value(gn.get(), GEN_DIRNAME, n);
            break;
        }
        case CADB_GEN_IPADD: {
            ASN1_OCTET_STRING* ip = ip_of(g->value.text);
            if (ip == nullptr) return nullptr;
            GENERAL_NAME_set0_value(gn.get(), GEN_IPADD, ip);
            break;
        }
        case CADB_GEN_RID: {
            ASN1_OBJECT* o = object_of(g->value.rid);
            if (o == nullptr) return nullptr;
            GENERAL_NAME_set0_value(gn.get(), GEN_RID, o);
            break;
        }
        default: return nullptr;  // other-name, X.400, EDI party: nothing kept to write
    }
    return gn.release();
}

GENERAL_NAMES* general_names_of(const STACK_OF(CADB_GENERAL_NAME) * in) {
    Ossl<GENERAL_NAMES, GENERAL_NAMES_free> out(GENERAL_NAMES_new());
    if (!out || in == nullptr) return nullptr;
    for (int i = 0; i < sk_CADB_GENERAL_NAME_num(in); ++i) {
        GENERAL_NAME* gn = general_name_of(sk_CADB_GENERAL_NAME_value(in, i));
        if (gn == nullptr || !sk_GENERAL_NAME_push(out.get(), gn)) {
            GENERAL_NAME_free(gn);
            return nullptr;
        }
    }
    return out.release();
}

DIST_POINT_NAME* dist_point_name_of(const CADB_DIST_POINT_NAME* n) {
    Ossl<DIST_POINT_NAME, DIST_POINT_NAME_free> out(DIST_POINT_NAME_new());
    if (!out || n == nullptr) return nullptr;
    out->type = n->type;
    if (n->type == 0) {
        if ((out->name.fullname = general_names_of(n->name.full)) == nullptr) return nullptr;
    } else if (n->type == 1) {
        Ossl<X509_NAME, X509_NAME_free> rdn(name_of(n->name.relative));
        if (!rdn) return nullptr;
        out->name.relativename = sk_X509_NAME_ENTRY_new_null();
        if (out->name.relativename == nullptr) return nullptr;
        for (int i = 0; i < X509_NAME_entry_count(rdn.get()); ++i) {
            X509_NAME_ENTRY* e = X509_NAME_ENTRY_dup(X509_NAME_get_entry(rdn.get(), i));
            if (e == nullptr || !sk_X509_NAME_ENTRY_push(out->name.relativename, e)) {
                X509_NAME_ENTRY_free(e);
                return nullptr;
            }
        }
    } else {
        return nullptr;
    }
    return out.release();
}

DIST_POINT* dist_point_of(const CADB_CRL_DIST_POINT* p) {
    Ossl<DIST_POINT, DIST_POINT_free> out(DIST_POINT_new());
    if (!out || p == nullptr) return nullptr;
    if (p->point != nullptr && (out->distpoint = dist_point_name_of(p->point)) == nullptr)
        return nullptr;
    if (p->reasons != 0 && (out->reasons = bits_of(p->reasons)) == nullptr) return nullptr;
    if (p->crl_issuer != nullptr && (out->CRLissuer = general_names_of(p->crl_issuer)) == nullptr)
        return nullptr;
    return out.release();
}

USERNOTICE* user_notice_of(const CADB_USER_NOTICE* n) {
    Ossl<USERNOTICE, USERNOTICE_free> out(USERNOTICE_new());
    if (!out || n == nullptr) return nullptr;
    if (n->ref != nullptr) {
        out->noticeref = NOTICEREF_new();
        if (out->noticeref == nullptr) return nullptr;
        ASN1_STRING_free(out->noticeref->organization);
        // Display texts are written as UTF8String, converted from the local
        // code page.
        out->noticeref->organization = string_of(n->ref->organization, V_ASN1_UTF8STRING);
        if (out->noticeref->organization == nullptr) return nullptr;
        const std::string numbers(text_of(n->ref->numbers),
                                  static_cast<std::size_t>(length_of(n->ref->numbers)));
        std::size_t pos = 0;
        while (pos < numbers.size()) {
            std::size_t comma = numbers.find(',', pos);
            if (comma == std::string::npos) comma = numbers.size();
            const std::string dec = numbers.substr(pos, comma - pos);
            BIGNUM* bn = nullptr;
            if (dec.empty() || BN_dec2bn(&bn, dec.c_str()) != static_cast<int>(dec.size())) {
                BN_free(bn);
                return nullptr;
            }
            ASN1_INTEGER* i = BN_to_ASN1_INTEGER(bn, nullptr);
            BN_free(bn);
            if (i == nullptr || !sk_ASN1_INTEGER_push(out->noticeref->noticenos, i)) {
                ASN1_INTEGER_free(i);
                return nullptr;
            }
            pos = comma + 1;
        }
    }
    if (n->text != nullptr && (out->exptext = string_of(n->text, V_ASN1_UTF8STRING)) == nullptr)
        return nullptr;
    return out.release();
}

POLICYINFO* policy_of(const CADB_POLICY_INFO* p) {
    Ossl<POLICYINFO, POLICYINFO_free> out(POLICYINFO_new());
    if (!out || p == nullptr) return nullptr;
    ASN1_OBJECT_free(out->policyid);
    if ((out->policyid = object_of(p->policy)) == nullptr) return nullptr;
    if (p->qualifiers == nullptr) return out.release();
    out->qualifiers = sk_POLICYQUALINFO_new_null();
    if (out->qualifiers == nullptr) return nullptr;
    for (int i = 0; i < sk_CADB_POLICY_QUALIFIER_num(p->qualifiers); ++i) {
        const CADB_POLICY_QUALIFIER* q = sk_CADB_POLICY_QUALIFIER_value(p->qualifiers, i);
        Ossl<POLICYQUALINFO, POLICYQUALINFO_free> qi(POLICYQUALINFO_new());
        if (!qi) return nullptr;
        ASN1_OBJECT_free(qi->pqualid);
        if ((qi->pqualid = object_of(q->qualifier)) == nullptr) return nullptr;
        if (q->nid == NID_id_qt_cps) {
            if ((qi->d.cpsuri = string_of(q->value.cps, V_ASN1_IA5STRING)) == nullptr)
                return nullptr;
        } else if (q->nid == NID_id_qt_unotice) {
            if ((qi->d.usernotice = user_notice_of(q->value.notice)) == nullptr) return nullptr;
        } else {
            return nullptr;  // a qualifier of another kind keeps no value to write
        }
        if (!sk_POLICYQUALINFO_push(out->qualifiers, qi.get())) return nullptr;
        qi.release();
    }
    return out.release();
}

GENERAL_SUBTREE* subtree_of(const CADB_GENERAL_SUBTREE* s) {
    Ossl<GENERAL_SUBTREE, GENERAL_SUBTREE_free> out(GENERAL_SUBTREE_new());
    if (!out || s == nullptr) return nullptr;
    GENERAL_NAME_free(out->base);
    if ((out->base = general_name_of(s->base)) == nullptr) return nullptr;
    if (s->minimum != 0 && (out->minimum = integer_of(s->minimum)) == nullptr) return nullptr;
    if (s->maximum >= 0 && (out->maximum = integer_of(s->maximum)) == nullptr) return nullptr;
    return out.release();
}

STACK_OF(GENERAL_SUBTREE) * subtrees_of(const STACK_OF(CADB_GENERAL_SUBTREE) * in) {
    STACK_OF(GENERAL_SUBTREE)* out = sk_GENERAL_SUBTREE_new_null();
    if (out == nullptr) return nullptr;
    for (int i = 0; i < sk_CADB_GENERAL_SUBTREE_num(in); ++i) {
        GENERAL_SUBTREE* s = subtree_of(sk_CADB_GENERAL_SUBTREE_value(in, i));
        if (s == nullptr || !sk_GENERAL_SUBTREE_push(out, s)) {
            GENERAL_SUBTREE_free(s);
            sk_GENERAL_SUBTREE_pop_free(out, GENERAL_SUBTREE_free);
            return nullptr;
        }
    }
    return out;
}

void free_mappings(POLICY_MAPPINGS* m) { sk_POLICY_MAPPING_pop_free(m, POLICY_MAPPING_free); }

ASN1_GENERALIZEDTIME* time_of(const struct tm* t) { return TIME_to_generalized(t); }

// The value of a record as libcrypto's structure of the extension's item.
ASN1_VALUE* value_of(const CADB_V3EXT* r, const ASN1_ITEM* it) {
    const auto& v = r->value;
    switch (r->nid) {
        case 71:
        case 83: return reinterpret_cast<ASN1_VALUE*>(bits_of(v.integer));
        case 72: case 73: case 74: case 75: case 76: case 77: case 78:
            return reinterpret_cast<ASN1_VALUE*>(string_of(v.buffer, V_ASN1_IA5STRING));
        case 82: return reinterpret_cast<ASN1_VALUE*>(bytes_of(v.buffer, V_ASN1_OCTET_STRING));
        case 88:
        case 140: return reinterpret_cast<ASN1_VALUE*>(integer_of_bytes(v.buffer));
        case 141: {
            Ossl<ASN1_ENUMERATED, ASN1_ENUMERATED_free> e(ASN1_ENUMERATED_new());
            if (!e || !ASN1_ENUMERATED_set_int64(e.get(), v.integer)) return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(e.release());
        }
        case 142: return reinterpret_cast<ASN1_VALUE*>(time_of(v.time));
        case NID_INHIBIT_ANY_POLICY: return reinterpret_cast<ASN1_VALUE*>(integer_of(v.integer));
        case NID_HOLD_INSTRUCTION_CODE: return reinterpret_cast<ASN1_VALUE*>(object_of(v.object));
        case 84: {
            Ossl<PKEY_USAGE_PERIOD, PKEY_USAGE_PERIOD_free> p(PKEY_USAGE_PERIOD_new());
            const CADB_PKEY_USAGE_PERIOD* u = v.usage_period;
            if (!p || u == nullptr) return nullptr;
            if ((u->not_before != nullptr &&
                 (p->notBefore = time_of(u->not_before)) == nullptr) ||
                (u->not_after != nullptr && (p->notAfter = time_of(u->not_after)) == nullptr))
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(p.release());
        }
        case 85: case 86: case NID_CERTIFICATE_ISSUER:
            return reinterpret_cast<ASN1_VALUE*>(general_names_of(v.names));
        case 87: {
            Ossl<BASIC_CONSTRAINTS, BASIC_CONSTRAINTS_free> bc(BASIC_CONSTRAINTS_new());
            const CADB_BASIC_CONSTRAINTS* b = v.basic_constraints;
            if (!bc || b == nullptr) return nullptr;
            bc->ca = b->ca ? 0xFF : 0;
            if (b->path_length >= 0 && (bc->pathlen = integer_of(b->path_length)) == nullptr)
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(bc.release());
        }
        case 89: {
            Ossl<CERTIFICATEPOLICIES, CERTIFICATEPOLICIES_free> out(CERTIFICATEPOLICIES_new());
            if (!out || v.policies == nullptr) return nullptr;
            for (int i = 0; i < sk_CADB_POLICY_INFO_num(v.policies); ++i) {
                POLICYINFO* p = policy_of(sk_CADB_POLICY_INFO_value(v.policies, i));
                if (p == nullptr || !sk_POLICYINFO_push(out.get(), p)) {
                    POLICYINFO_free(p);
                    return nullptr;
                }
            }
            return reinterpret_cast<ASN1_VALUE*>(out.release());
        }
        case 90: case NID_AUTHORITY_KEYID_3670: case NID_AUTHORITY_KEYID_10244: {
            Ossl<AUTHORITY_KEYID, AUTHORITY_KEYID_free> a(AUTHORITY_KEYID_new());
            const CADB_AUTHORITY_KEYID* k = v.keyid;
            if (!a || k == nullptr) return nullptr;
            if ((k->keyid != nullptr &&
                 (a->keyid = bytes_of(k->keyid, V_ASN1_OCTET_STRING)) == nullptr) ||
                (k->issuer != nullptr && (a->issuer = general_names_of(k->issuer)) == nullptr) ||
                (k->serial != nullptr && (a->serial = integer_of_bytes(k->serial)) == nullptr))
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(a.release());
        }
        case 103: case NID_FRESHEST_CRL: {
            Ossl<CRL_DIST_POINTS, CRL_DIST_POINTS_free> out(CRL_DIST_POINTS_new());
            if (!out || v.dist_points == nullptr) return nullptr;
            for (int i = 0; i < sk_CADB_CRL_DIST_POINT_num(v.dist_points); ++i) {
                DIST_POINT* p = dist_point_of(sk_CADB_CRL_DIST_POINT_value(v.dist_points, i));
                if (p == nullptr || !sk_DIST_POINT_push(out.get(), p)) {
                    DIST_POINT_free(p);
                    return nullptr;
                }
            }
            return reinterpret_cast<ASN1_VALUE*>(out.release());
        }
        case 126: {
            Ossl<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free> out(EXTENDED_KEY_USAGE_new());
            if (!out || v.objects == nullptr) return nullptr;
            for (int i = 0; i < sk_CADB_OID_num(v.objects); ++i) {
                ASN1_OBJECT* o = object_of(sk_CADB_OID_value(v.objects, i));
                if (o == nullptr || !sk_ASN1_OBJECT_push(out.get(), o)) {
                    ASN1_OBJECT_free(o);
                    return nullptr;
                }
            }
            return reinterpret_cast<ASN1_VALUE*>(out.release());
        }
        case NID_POLICY_MAPPINGS: {
            Ossl<POLICY_MAPPINGS, free_mappings> out(sk_POLICY_MAPPING_new_null());
            if (!out || v.mappings == nullptr) return nullptr;
            for (int i = 0; i < sk_CADB_POLICY_MAPPING_num(v.mappings); ++i) {
                const CADB_POLICY_MAPPING* m = sk_CADB_POLICY_MAPPING_value(v.mappings, i);
                Ossl<POLICY_MAPPING, POLICY_MAPPING_free> pm(POLICY_MAPPING_new());
                if (!pm) return nullptr;
                ASN1_OBJECT_free(pm->issuerDomainPolicy);
                ASN1_OBJECT_free(pm->subjectDomainPolicy);
                pm->issuerDomainPolicy = object_of(m->issuer_domain);
                pm->subjectDomainPolicy = object_of(m->subject_domain);
                if (pm->issuerDomainPolicy == nullptr || pm->subjectDomainPolicy == nullptr ||
                    !sk_POLICY_MAPPING_push(out.get(), pm.get()))
                    return nullptr;
                pm.release();
            }
            return reinterpret_cast<ASN1_VALUE*>(out.release());
        }
        case NID_POLICY_CONSTRAINTS: {
            Ossl<POLICY_CONSTRAINTS, POLICY_CONSTRAINTS_free> pc(POLICY_CONSTRAINTS_new());
            const CADB_POLICY_CONSTRAINTS* c = v.policy_constraints;
            if (!pc || c == nullptr) return nullptr;
            if ((c->require_explicit >= 0 &&
                 (pc->requireExplicitPolicy = integer_of(c->require_explicit)) == nullptr) ||
                (c->inhibit_mapping >= 0 &&
                 (pc->inhibitPolicyMapping = integer_of(c->inhibit_mapping)) == nullptr))
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(pc.release());
        }
        case NID_NAME_CONSTRAINTS: {
            Ossl<NAME_CONSTRAINTS, NAME_CONSTRAINTS_free> nc(NAME_CONSTRAINTS_new());
            const CADB_NAME_CONSTRAINTS* c = v.name_constraints;
            if (!nc || c == nullptr) return nullptr;
            if ((c->permitted != nullptr &&
                 (nc->permittedSubtrees = subtrees_of(c->permitted)) == nullptr) ||
                (c->excluded != nullptr &&
                 (nc->excludedSubtrees = subtrees_of(c->excluded)) == nullptr))
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(nc.release());
        }
        case NID_AUTHORITY_INFO_ACCESS: case NID_SUBJECT_INFO_ACCESS: {
            Ossl<AUTHORITY_INFO_ACCESS, AUTHORITY_INFO_ACCESS_free> out(
                AUTHORITY_INFO_ACCESS_new());
            if (!out || v.access == nullptr) return nullptr;
            for (int i = 0; i < sk_CADB_ACCESS_DESCRIPTION_num(v.access); ++i) {
                const CADB_ACCESS_DESCRIPTION* a = sk_CADB_ACCESS_DESCRIPTION_value(v.access, i);
                Ossl<ACCESS_DESCRIPTION, ACCESS_DESCRIPTION_free> ad(ACCESS_DESCRIPTION_new());
                if (!ad) return nullptr;
                ASN1_OBJECT_free(ad->method);
                GENERAL_NAME_free(ad->location);
                ad->method = object_of(a->method);
                ad->location = general_name_of(a->location);
                if (ad->method == nullptr || ad->location == nullptr ||
                    !sk_ACCESS_DESCRIPTION_push(out.get(), ad.get()))
                    return nullptr;
                ad.release();
            }
            return reinterpret_cast<ASN1_VALUE*>(out.release());
        }
        case NID_ISSUING_DIST_POINT: {
            Ossl<ISSUING_DIST_POINT, ISSUING_DIST_POINT_free> idp(ISSUING_DIST_POINT_new());
            const CADB_ISSUING_DIST_POINT* p = v.issuing_dist_point;
            if (!idp || p == nullptr) return nullptr;
            if (p->point != nullptr && (idp->distpoint = dist_point_name_of(p->point)) == nullptr)
                return nullptr;
            idp->onlyuser = p->only_user ? 0xFF : 0;
            idp->onlyCA = p->only_ca ? 0xFF : 0;
            idp->indirectCRL = p->indirect_crl ? 0xFF : 0;
            idp->onlyattr = p->only_attribute_certs ? 0xFF : 0;
            if (p->only_some_reasons != 0 &&
                (idp->onlysomereasons = bits_of(p->only_some_reasons)) == nullptr)
                return nullptr;
            return reinterpret_cast<ASN1_VALUE*>(idp.release());
        }
        case NID_SUBJECT_DIRECTORY_ATTRIBUTES: {
            auto* out = sk_X509_ATTRIBUTE_new_null();
            if (out == nullptr) return nullptr;
            ASN1_VALUE* result = reinterpret_cast<ASN1_VALUE*>(out);
            for (const ATTRIBUTE* a = v.attributes; a != nullptr; a = a->next) {
                int len = a->length;
                unsigned char* bytes = X509_NAME_ENTRY_encode_text(a->text, &len, a->string_type);
                const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(a->nid);
                X509_ATTRIBUTE* attr =
                    bytes != nullptr && obj != nullptr
                        ? X509_ATTRIBUTE_create_by_OBJ(nullptr, obj, a->string_type, bytes, len)
                        : nullptr;
                OPENSSL_free(bytes);
                if (attr == nullptr || !sk_X509_ATTRIBUTE_push(out, attr)) {
                    X509_ATTRIBUTE_free(attr);
                    ASN1_item_free(result, it);
                    return nullptr;
                }
            }
            return result;
        }
        case NID_BIOMETRIC_INFO: {
            auto* out = sk_BIOMETRIC_DATA_new_null();
            if (out == nullptr || v.biometrics == nullptr) {
                sk_BIOMETRIC_DATA_free(out);
                return nullptr;
            }
            ASN1_VALUE* result = reinterpret_cast<ASN1_VALUE*>(out);
            for (int i = 0; i < sk_CADB_BIOMETRIC_DATA_num(v.biometrics); ++i) {
                const CADB_BIOMETRIC_DATA* b = sk_CADB_BIOMETRIC_DATA_value(v.biometrics, i);
                auto* d = reinterpret_cast<BIOMETRIC_DATA*>(
                    ASN1_item_new(ASN1_ITEM_rptr(BIOMETRIC_DATA)));
                bool ok = d != nullptr && sk_BIOMETRIC_DATA_push(out, d);
                if (!ok) {
                    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(d), ASN1_ITEM_rptr(BIOMETRIC_DATA));
                } else {
                    d->type->type = b->type_choice;
                    if (b->type_choice == 0)
                        ok = (d->type->value.predefined = integer_of(b->predefined)) != nullptr;
                    else
                        ok = (d->type->value.oid = object_of(b->type_oid)) != nullptr;
                    const ASN1_OBJECT* alg = cadb::OBJ_nid2obj(b->hash_nid);
                    ok = ok && alg != nullptr &&
                         X509_ALGOR_set0(d->hash_algorithm, OBJ_dup(alg), V_ASN1_UNDEF, nullptr) &&
                         b->hash != nullptr &&
                         ASN1_OCTET_STRING_set(d->hash, b->hash->data, b->hash->length) &&
                         (b->uri == nullptr ||
                          (d->source_uri = string_of(b->uri, V_ASN1_IA5STRING)) != nullptr);
                }
                if (!ok) {
                    ASN1_item_free(result, it);
                    return nullptr;
                }
            }
            return result;
        }
        default: return nullptr;
    }
}

const ASN1_ITEM* item_of(int nid) {
    switch (nid) {
        case 71: case 83: return ASN1_ITEM_rptr(ASN1_BIT_STRING);
        case 72: case 73: case 74: case 75: case 76: case 77: case 78:
            return ASN1_ITEM_rptr(ASN1_IA5STRING);
        case 82: return ASN1_ITEM_rptr(ASN1_OCTET_STRING);
        case 88: case 140: case NID_INHIBIT_ANY_POLICY: return ASN1_ITEM_rptr(ASN1_INTEGER);
        case 84: return ASN1_ITEM_rptr(PKEY_USAGE_PERIOD);
        case 85: case 86: case NID_CERTIFICATE_ISSUER: return ASN1_ITEM_rptr(GENERAL_NAMES);
        case 87: return ASN1_ITEM_rptr(BASIC_CONSTRAINTS);
        case 89: return ASN1_ITEM_rptr(CERTIFICATEPOLICIES);
        case 90: case NID_AUTHORITY_KEYID_3670: case NID_AUTHORITY_KEYID_10244:
            return ASN1_ITEM_rptr(AUTHORITY_KEYID);
        case 103: case NID_FRESHEST_CRL: return ASN1_ITEM_rptr(CRL_DIST_POINTS);
        case 126: return ASN1_ITEM_rptr(EXTENDED_KEY_USAGE);
        case 141: return ASN1_ITEM_rptr(ASN1_ENUMERATED);
        case 142: return ASN1_ITEM_rptr(ASN1_GENERALIZEDTIME);
        case NID_POLICY_MAPPINGS: return ASN1_ITEM_rptr(POLICY_MAPPINGS);
        case NID_POLICY_CONSTRAINTS: return ASN1_ITEM_rptr(POLICY_CONSTRAINTS);
        case NID_NAME_CONSTRAINTS: return ASN1_ITEM_rptr(NAME_CONSTRAINTS);
        case NID_AUTHORITY_INFO_ACCESS: case NID_SUBJECT_INFO_ACCESS:
            return ASN1_ITEM_rptr(AUTHORITY_INFO_ACCESS);
        case NID_ISSUING_DIST_POINT: return ASN1_ITEM_rptr(ISSUING_DIST_POINT);
        case NID_HOLD_INSTRUCTION_CODE: return ASN1_ITEM_rptr(ASN1_OBJECT);
        case NID_SUBJECT_DIRECTORY_ATTRIBUTES: return ASN1_ITEM_rptr(SUBJECT_DIRECTORY_ATTRIBUTES);
        case NID_BIOMETRIC_INFO: return ASN1_ITEM_rptr(BIOMETRIC_SYNTAX);
        default: return nullptr;
    }
}

}  // namespace

X509_EXTENSION* CADB_V3EXT_to_extension(const CADB_V3EXT* r) {
    constexpr int F = CADB_F_CADB_V3EXT_TO_EXTENSION;
    const ASN1_ITEM* it = r != nullptr && r->parsed ? item_of(r->nid) : nullptr;
    const ASN1_OBJECT* obj = r != nullptr ? cadb::OBJ_nid2obj(r->nid) : nullptr;
    if (it == nullptr || obj == nullptr) return bad(F), nullptr;
    ASN1_VALUE* value = value_of(r, it);
    unsigned char* der = nullptr;
    const int len = value != nullptr ? ASN1_item_i2d(value, &der, it) : -1;
    ASN1_item_free(value, it);
    Ossl<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free> data(ASN1_OCTET_STRING_new());
    X509_EXTENSION* ext = nullptr;
    if (len > 0 && data && ASN1_OCTET_STRING_set(data.get(), der, len))
        ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, r->critical ? 1 : 0, data.get());
    OPENSSL_free(der);
    if (ext == nullptr) {
        ERR_move_openssl_errors(ERR_LIB_CADB, F);
        return bad(F), nullptr;
    }
    return ext;
}

STACK_OF(X509_EXTENSION) * CADB_V3EXT_to_extensions(const STACK_OF(CADB_V3EXT) * records) {
    constexpr int F = CADB_F_CADB_V3EXT_TO_EXTENSION;
    if (records == nullptr) return bad(F), nullptr;
    STACK_OF(X509_EXTENSION)* out = sk_X509_EXTENSION_new_null();
    if (out == nullptr) return bad(F), nullptr;
    for (int i = 0; i < sk_CADB_V3EXT_num(records); ++i) {
        X509_EXTENSION* ext = CADB_V3EXT_to_extension(sk_CADB_V3EXT_value(records, i));
        if (ext == nullptr || !sk_X509_EXTENSION_push(out, ext)) {
            X509_EXTENSION_free(ext);
            sk_X509_EXTENSION_pop_free(out, X509_EXTENSION_free);
            nested(F);
            return nullptr;
        }
    }
    return out;
}

}  // namespace cadb
