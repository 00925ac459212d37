// One record per decoded extension: the value decoded by the extension's
// ASN.1 type and parsed by its family.
#include <openssl/x509v3.h>

#include "crypto/cadb/time_tm.h"
#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_items.h"
#include "crypto/x509v3/v3ext_local.h"

namespace cadb {

using namespace v3ext;

namespace {

enum class Shape {
    BitMask, Text, Bytes, UsagePeriod, Names, Basic, Policies, KeyId, DistPoints, Objects,
    Enumerated, Time, Integer, Mappings, PolicyConstraints, NameConstraints, Access,
    IssuingDistPoint, Object, Attributes, Biometrics, Unknown
};

struct Kind {
    Shape shape;
    const ASN1_ITEM* item;
};

Kind kind_of(int nid) {
    switch (nid) {
        case 71: return {Shape::BitMask, ASN1_ITEM_rptr(ASN1_BIT_STRING)};
        case 72: case 73: case 74: case 75: case 76: case 77: case 78:
            return {Shape::Text, ASN1_ITEM_rptr(ASN1_IA5STRING)};
        case 82: return {Shape::Bytes, ASN1_ITEM_rptr(ASN1_OCTET_STRING)};
        case 88: case 140: return {Shape::Bytes, ASN1_ITEM_rptr(ASN1_INTEGER)};
        case 83: return {Shape::BitMask, ASN1_ITEM_rptr(ASN1_BIT_STRING)};
        case 84: return {Shape::UsagePeriod, ASN1_ITEM_rptr(PKEY_USAGE_PERIOD)};
        case 85: case 86: case NID_CERTIFICATE_ISSUER:
            return {Shape::Names, ASN1_ITEM_rptr(GENERAL_NAMES)};
        case 87: return {Shape::Basic, ASN1_ITEM_rptr(BASIC_CONSTRAINTS)};
        case 89: return {Shape::Policies, ASN1_ITEM_rptr(CERTIFICATEPOLICIES)};
        case 90: case NID_AUTHORITY_KEYID_3670: case NID_AUTHORITY_KEYID_10244:
            return {Shape::KeyId, ASN1_ITEM_rptr(AUTHORITY_KEYID)};
        case 103: case NID_FRESHEST_CRL: return {Shape::DistPoints, ASN1_ITEM_rptr(CRL_DIST_POINTS)};
        case 126: return {Shape::Objects, ASN1_ITEM_rptr(EXTENDED_KEY_USAGE)};
        case 141: return {Shape::Enumerated, ASN1_ITEM_rptr(ASN1_ENUMERATED)};
        case 142: return {Shape::Time, ASN1_ITEM_rptr(ASN1_GENERALIZEDTIME)};
        case NID_INHIBIT_ANY_POLICY: return {Shape::Integer, ASN1_ITEM_rptr(ASN1_INTEGER)};
        case NID_POLICY_MAPPINGS: return {Shape::Mappings, ASN1_ITEM_rptr(POLICY_MAPPINGS)};
        case NID_POLICY_CONSTRAINTS:
            return {Shape::PolicyConstraints, ASN1_ITEM_rptr(POLICY_CONSTRAINTS)};
        case NID_NAME_CONSTRAINTS: return {Shape::NameConstraints, ASN1_ITEM_rptr(NAME_CONSTRAINTS)};
        case NID_AUTHORITY_INFO_ACCESS: case NID_SUBJECT_INFO_ACCESS:
            return {Shape::Access, ASN1_ITEM_rptr(AUTHORITY_INFO_ACCESS)};
        case NID_ISSUING_DIST_POINT:
            return {Shape::IssuingDistPoint, ASN1_ITEM_rptr(ISSUING_DIST_POINT)};
        case NID_HOLD_INSTRUCTION_CODE: return {Shape::Object, ASN1_ITEM_rptr(ASN1_OBJECT)};
        case NID_SUBJECT_DIRECTORY_ATTRIBUTES:
            return {Shape::Attributes, ASN1_ITEM_rptr(SUBJECT_DIRECTORY_ATTRIBUTES)};
        case NID_BIOMETRIC_INFO: return {Shape::Biometrics, ASN1_ITEM_rptr(BIOMETRIC_SYNTAX)};
        default: return {Shape::Unknown, nullptr};
    }
}

struct Decoded {
    const ASN1_ITEM* item;
    ASN1_VALUE* value = nullptr;
    ~Decoded() { ASN1_item_free(value, item); }
};

template <typename T>
const OPENSSL_STACK* generic(const T* sk) {
    return reinterpret_cast<const OPENSSL_STACK*>(sk);
}

CADB_BIOMETRIC_DATA* biometric_parse(const BIOMETRIC_DATA* d) {
    constexpr int F = CADB_F_CADB_BIOMETRIC_DATA_PARSE;
    Owner<CADB_BIOMETRIC_DATA, CADB_BIOMETRIC_DATA_free> r(CADB_BIOMETRIC_DATA_new());
    if (!r) return nullptr;
    r->type_choice = d->type->type;
    if (d->type->type == 0) {
        std::int64_t v = 0;
        if (!ASN1_INTEGER_get_int64(&v, d->type->value.predefined) || v < INT32_MIN ||
            v > INT32_MAX)
            return bad(F), nullptr;
        r->predefined = static_cast<std::int32_t>(v);
    } else if ((r->type_oid = CADB_OID_parse(d->type->value.oid)) == nullptr) {
        return nested(F), nullptr;
    }
    const ASN1_OBJECT* alg = nullptr;
    X509_ALGOR_get0(&alg, nullptr, nullptr, d->hash_algorithm);
    r->hash_nid = cadb::OBJ_obj2nid(alg);
    if ((r->hash = ASN1_STRING_get_bytes(d->hash)) == nullptr ||
        (d->source_uri != nullptr && (r->uri = ASN1_STRING_get_bytes(d->source_uri)) == nullptr))
        return nested(F), nullptr;
    return r.release();
}

void free_objects(STACK_OF(CADB_OID) * sk) {
    free_stack<CADB_OID, CADB_OID_free>(reinterpret_cast<OPENSSL_STACK*>(sk));
}

// The family record of a decoded value, into r->value; false on failure.
bool parse_value(CADB_V3EXT* r, Shape shape, void* v) {
    auto* s = static_cast<ASN1_STRING*>(v);
    switch (shape) {
        case Shape::BitMask: r->value.integer = KEY_USAGE_bits(s); return true;
        case Shape::Text: return (r->value.buffer = ASN1_STRING_get_text(s)) != nullptr;
        case Shape::Bytes: return (r->value.buffer = ASN1_STRING_get_bytes(s)) != nullptr;
        case Shape::UsagePeriod:
            return (r->value.usage_period = CADB_PKEY_USAGE_PERIOD_parse(
                        static_cast<PKEY_USAGE_PERIOD*>(v))) != nullptr;
        case Shape::Names:
            return (r->value.names = CADB_GENERAL_NAMES_parse(static_cast<GENERAL_NAMES*>(v))) !=
                   nullptr;
        case Shape::Basic:
            return (r->value.basic_constraints =
                        CADB_BASIC_CONSTRAINTS_parse(static_cast<BASIC_CONSTRAINTS*>(v))) != nullptr;
        case Shape::Policies:
            return (r->value.policies = reinterpret_cast<STACK_OF(CADB_POLICY_INFO)*>(
                        parse_stack<CADB_POLICY_INFO, POLICYINFO, CADB_POLICY_INFO_free>(
                            static_cast<const OPENSSL_STACK*>(v), CADB_POLICY_INFO_parse,
                            CADB_F_CADB_V3EXT_PARSE))) != nullptr;
        case Shape::KeyId:
            return (r->value.keyid = CADB_AUTHORITY_KEYID_parse(static_cast<AUTHORITY_KEYID*>(v))) !=
                   nullptr;
        case Shape::DistPoints:
            return (r->value.dist_points = reinterpret_cast<STACK_OF(CADB_CRL_DIST_POINT)*>(
                        parse_stack<CADB_CRL_DIST_POINT, DIST_POINT, CADB_CRL_DIST_POINT_free>(
                            static_cast<const OPENSSL_STACK*>(v), CADB_CRL_DIST_POINT_parse,
                            CADB_F_CADB_V3EXT_PARSE))) != nullptr;
        case Shape::Objects:
            return (r->value.objects = reinterpret_cast<STACK_OF(CADB_OID)*>(
                        parse_stack<CADB_OID, ASN1_OBJECT, CADB_OID_free>(
                            static_cast<const OPENSSL_STACK*>(v), CADB_OID_parse,
                            CADB_F_CADB_V3EXT_PARSE))) != nullptr;
        case Shape::Enumerated:
        case Shape::Integer: {
            std::int64_t n = 0;
            const int ok = shape == Shape::Integer ? ASN1_INTEGER_get_int64(&n, s)
                                                   : ASN1_ENUMERATED_get_int64(&n, s);
            if (!ok || n < 0 || n > INT32_MAX) return false;
            r->value.integer = static_cast<std::int32_t>(n);
            return true;
        }
        case Shape::Time: return (r->value.time = ASN1_TIME_parse(s)) != nullptr;
        case Shape::Mappings:
            return (r->value.mappings = reinterpret_cast<STACK_OF(CADB_POLICY_MAPPING)*>(
                        parse_stack<CADB_POLICY_MAPPING, POLICY_MAPPING, CADB_POLICY_MAPPING_free>(
                            static_cast<const OPENSSL_STACK*>(v), CADB_POLICY_MAPPING_parse,
                            CADB_F_CADB_V3EXT_PARSE))) != nullptr;
        case Shape::PolicyConstraints:
            return (r->value.policy_constraints = CADB_POLICY_CONSTRAINTS_parse(
                        static_cast<POLICY_CONSTRAINTS*>(v))) != nullptr;
        case Shape::NameConstraints:
            return (r->value.name_constraints =
                        CADB_NAME_CONSTRAINTS_parse(static_cast<NAME_CONSTRAINTS*>(v))) != nullptr;
        case Shape::Access:
            return (r->value.access = reinterpret_cast<STACK_OF(CADB_ACCESS_DESCRIPTION)*>(
                        parse_stack<CADB_ACCESS_DESCRIPTION, ACCESS_DESCRIPTION,
                                    CADB_ACCESS_DESCRIPTION_free>(
                            static_cast<const OPENSSL_STACK*>(v), CADB_ACCESS_DESCRIPTION_parse,
                            CADB_F_CADB_V3EXT_PARSE))) != nullptr;
        case Shape::IssuingDistPoint:
            return (r->value.issuing_dist_point = CADB_ISSUING_DIST_POINT_parse(
                        static_cast<ISSUING_DIST_POINT*>(v))) != nullptr;
        case Shape::Object:
            return (r->value.object = CADB_OID_parse(static_cast<ASN1_OBJECT*>(v))) != nullptr;
        case Shape::Attributes: {
            auto* attrs = static_cast<STACK_OF(X509_ATTRIBUTE)*>(v);
            if ((r->value.attributes = CADB_ATTRIBUTES_parse(attrs)) != nullptr) return true;
            // Attributes with no text leave an empty list, which is no failure.
            for (int i = 0; i < sk_X509_ATTRIBUTE_num(attrs); ++i)
                if (attribute_has_text(sk_X509_ATTRIBUTE_value(attrs, i))) return false;
            return true;
        }
        case Shape::Biometrics:
            return (r->value.biometrics = reinterpret_cast<STACK_OF(CADB_BIOMETRIC_DATA)*>(
                        parse_stack<CADB_BIOMETRIC_DATA, BIOMETRIC_DATA, CADB_BIOMETRIC_DATA_free>(
                            static_cast<const OPENSSL_STACK*>(v), biometric_parse,
                            CADB_F_CADB_BIOMETRIC_INFO_PARSE))) != nullptr;
        case Shape::Unknown: return true;
    }
    return false;
}

void free_value(CADB_V3EXT* r) {
    if (!r->parsed) return;
    switch (kind_of(r->nid).shape) {
        case Shape::Text:
        case Shape::Bytes: BUFFER_free(r->value.buffer); break;
        case Shape::UsagePeriod: CADB_PKEY_USAGE_PERIOD_free(r->value.usage_period); break;
        case Shape::Names: CADB_GENERAL_NAMES_free(r->value.names); break;
        case Shape::Basic: CADB_BASIC_CONSTRAINTS_free(r->value.basic_constraints); break;
        case Shape::Policies:
            free_stack<CADB_POLICY_INFO, CADB_POLICY_INFO_free>(
                reinterpret_cast<OPENSSL_STACK*>(r->value.policies));
            break;
        case Shape::KeyId: CADB_AUTHORITY_KEYID_free(r->value.keyid); break;
        case Shape::DistPoints:
            free_stack<CADB_CRL_DIST_POINT, CADB_CRL_DIST_POINT_free>(
                reinterpret_cast<OPENSSL_STACK*>(r->value.dist_points));
            break;
        case Shape::Objects: free_objects(r->value.objects); break;
        case Shape::Time: OPENSSL_free(r->value.time); break;
        case Shape::Mappings:
            free_stack<CADB_POLICY_MAPPING, CADB_POLICY_MAPPING_free>(
                reinterpret_cast<OPENSSL_STACK*>(r->value.mappings));
            break;
        case Shape::PolicyConstraints:
            CADB_POLICY_CONSTRAINTS_free(r->value.policy_constraints);
            break;
        case Shape::NameConstraints: CADB_NAME_CONSTRAINTS_free(r->value.name_constraints); break;
        case Shape::Access:
            free_stack<CADB_ACCESS_DESCRIPTION, CADB_ACCESS_DESCRIPTION_free>(
                reinterpret_cast<OPENSSL_STACK*>(r->value.access));
            break;
        case Shape::IssuingDistPoint:
            CADB_ISSUING_DIST_POINT_free(r->value.issuing_dist_point);
            break;
        case Shape::Object: CADB_OID_free(r->value.object); break;
        case Shape::Attributes: ATTRIBUTE_free(r->value.attributes); break;
        case Shape::Biometrics:
            free_stack<CADB_BIOMETRIC_DATA, CADB_BIOMETRIC_DATA_free>(
                reinterpret_cast<OPENSSL_STACK*>(r->value.biometrics));
            break;
        default: break;
    }
    r->value.record = nullptr;
}

}  // namespace

CADB_V3EXT* CADB_V3EXT_new() { return new_record<CADB_V3EXT>(CADB_F_CADB_V3EXT_NEW); }

void CADB_V3EXT_free(CADB_V3EXT* r) {
    if (r == nullptr) return;
    free_value(r);
    X509_EXTENSION_free(r->ext);
    OPENSSL_cleanse(r, sizeof *r);
    OPENSSL_free(r);
}

CADB_V3EXT* CADB_V3EXT_parse(const X509_EXTENSION* ext) {
    constexpr int F = CADB_F_CADB_V3EXT_PARSE;
    if (ext == nullptr) return bad(F), nullptr;
    Owner<CADB_V3EXT, CADB_V3EXT_free> r(CADB_V3EXT_new());
    if (!r) return nullptr;
    r->critical = X509_EXTENSION_get_critical(ext) > 0;
    r->nid = cadb::OBJ_obj2nid(X509_EXTENSION_get_object(const_cast<X509_EXTENSION*>(ext)));
    const Kind kind = kind_of(r->nid);
    if (kind.shape == Shape::Unknown) {
        r->unknown = 1;
        return r.release();
    }
    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(ext));
    const unsigned char* p = ASN1_STRING_get0_data(data);
    const long len = ASN1_STRING_length(data);
    Decoded decoded{kind.item};
    decoded.value = ASN1_item_d2i(nullptr, &p, len, kind.item);
    // The value must be the whole of the extension's octets.
    if (decoded.value == nullptr || p != ASN1_STRING_get0_data(data) + len) {
        ERR_move_openssl_errors(ERR_LIB_CADB, F);
        return bad(F), nullptr;
    }
    // Flag first: a half-built value is freed by the record's destructor.
    r->parsed = 1;
    if (!parse_value(r.get(), kind.shape, decoded.value)) return bad(F), nullptr;
    return r.release();
}

STACK_OF(CADB_V3EXT) * CADB_V3EXT_parse_extensions(const STACK_OF(X509_EXTENSION) * exts) {
    constexpr int F = CADB_F_CADB_V3EXT_PARSE_EXTENSIONS;
    if (exts == nullptr) return bad(F), nullptr;
    STACK_OF(CADB_V3EXT)* out = sk_CADB_V3EXT_new_null();
    if (out == nullptr) {
        CADB_ERR(ERR_LIB_CADB, F, ERR_R_MALLOC);
        return nullptr;
    }
    for (int i = 0; i < sk_X509_EXTENSION_num(exts); ++i) {
        CADB_V3EXT* r = CADB_V3EXT_parse(sk_X509_EXTENSION_value(exts, i));
        if (r == nullptr || !sk_CADB_V3EXT_push(out, r)) {
            CADB_V3EXT_free(r);
            CADB_V3EXT_stack_free(out);
            bad(F);
            nested(F);
            return nullptr;
        }
    }
    return out;
}

void CADB_V3EXT_stack_free(STACK_OF(CADB_V3EXT) * records) {
    free_stack<CADB_V3EXT, CADB_V3EXT_free>(reinterpret_cast<OPENSSL_STACK*>(records));
}

}  // namespace cadb
