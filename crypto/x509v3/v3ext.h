// Flat records of X.509 v3 extensions: every extension parsed into plain
// values for the object and enrolment layers (texts as BUFFERs in the local
// code page, objects as object records, times as broken-down UTC times,
// small numbers as integers), and the records made back into extensions.
#pragma once

#include <openssl/safestack.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <ctime>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/cadb_oid.h"

namespace cadb {

// Library 66 (CADB) function codes of the record families.
enum V3extFunc : int {
    CADB_F_CADB_V3EXT_NEW = 273,
    CADB_F_CADB_V3EXT_PARSE = 274,
    CADB_F_CADB_V3EXT_PARSE_EXTENSIONS = 275,
    CADB_F_CADB_GENERAL_NAME_NEW = 276,
    CADB_F_CADB_GENERAL_NAME_PARSE = 277,
    CADB_F_CADB_GENERAL_NAMES_PARSE = 278,
    CADB_F_CADB_AUTHORITY_KEYID_NEW = 279,
    CADB_F_CADB_AUTHORITY_KEYID_PARSE = 280,
    CADB_F_CADB_NOTICE_REF_NEW = 281,
    CADB_F_CADB_NOTICE_REF_PARSE = 282,
    CADB_F_CADB_USER_NOTICE_NEW = 283,
    CADB_F_CADB_USER_NOTICE_PARSE = 284,
    CADB_F_CADB_POLICY_QUALIFIER_NEW = 285,
    CADB_F_CADB_POLICY_QUALIFIER_PARSE = 286,
    CADB_F_CADB_POLICY_INFO_NEW = 287,
    CADB_F_CADB_POLICY_INFO_PARSE = 288,
    CADB_F_CADB_POLICY_MAPPING_NEW = 289,
    CADB_F_CADB_POLICY_MAPPING_PARSE = 290,
    CADB_F_CADB_BASIC_CONSTRAINTS_NEW = 291,
    CADB_F_CADB_BASIC_CONSTRAINTS_PARSE = 292,
    CADB_F_CADB_PKEY_USAGE_PERIOD_NEW = 293,
    CADB_F_CADB_PKEY_USAGE_PERIOD_PARSE = 294,
    CADB_F_CADB_DIST_POINT_NAME_NEW = 295,
    CADB_F_CADB_DIST_POINT_NAME_PARSE = 296,
    CADB_F_CADB_CRL_DIST_POINT_NEW = 297,
    CADB_F_CADB_CRL_DIST_POINT_PARSE = 298,
    CADB_F_CADB_ISSUING_DIST_POINT_NEW = 299,
    CADB_F_CADB_ISSUING_DIST_POINT_PARSE = 300,
    CADB_F_CADB_ACCESS_DESCRIPTION_NEW = 301,
    CADB_F_CADB_ACCESS_DESCRIPTION_PARSE = 302,
    CADB_F_CADB_POLICY_CONSTRAINTS_NEW = 303,
    CADB_F_CADB_POLICY_CONSTRAINTS_PARSE = 304,
    CADB_F_CADB_GENERAL_SUBTREE_NEW = 305,
    CADB_F_CADB_GENERAL_SUBTREE_PARSE = 306,
    CADB_F_CADB_NAME_CONSTRAINTS_NEW = 307,
    CADB_F_CADB_NAME_CONSTRAINTS_PARSE = 308,
    CADB_F_CADB_ATTRIBUTES_PARSE = 309,
    CADB_F_CADB_V3EXT_TO_EXTENSION = 310,
    CADB_F_CADB_BIOMETRIC_DATA_NEW = 380,
    CADB_F_CADB_BIOMETRIC_DATA_PARSE = 381,
    CADB_F_CADB_BIOMETRIC_INFO_PARSE = 382,
};

// General-name choice codes (context tag | 0x80).
enum CadbGeneralNameType : int {
    CADB_GEN_OTHERNAME = 128,
    CADB_GEN_EMAIL = 129,
    CADB_GEN_DNS = 130,
    CADB_GEN_X400 = 131,
    CADB_GEN_DIRNAME = 132,
    CADB_GEN_EDIPARTY = 133,
    CADB_GEN_URI = 134,
    CADB_GEN_IPADD = 135,
    CADB_GEN_RID = 136,
};

struct CADB_GENERAL_NAME {
    std::int32_t type;  // CadbGeneralNameType
    union {
        BUFFER* text;        // email, DNS, URI, IP address ("a.b.c.d" or "a.b.c.d/m.m.m.m")
        ATTRIBUTE* dirname;  // directory name, as the name splitter gives it
        CADB_OID* rid;       // registered ID
    } value;                 // all null for other-name, X.400, EDI party and IPv6
};
DEFINE_STACK_OF(CADB_GENERAL_NAME)

struct CADB_AUTHORITY_KEYID {
    BUFFER* keyid;                          // absent: null
    STACK_OF(CADB_GENERAL_NAME) * issuer;  // absent: null
    BUFFER* serial;                         // the INTEGER's bytes; absent: null
};

struct CADB_NOTICE_REF {
    BUFFER* organization;
    BUFFER* numbers;  // decimal numbers joined by ","
};

struct CADB_USER_NOTICE {
    CADB_NOTICE_REF* ref;  // absent: null
    BUFFER* text;          // explicit text; absent: null
};

struct CADB_POLICY_QUALIFIER {
    CADB_OID* qualifier;
    std::int32_t nid;  // 164 CPS URI, 165 user notice, else no value
    union {
        BUFFER* cps;
        CADB_USER_NOTICE* notice;
    } value;
};
DEFINE_STACK_OF(CADB_POLICY_QUALIFIER)

struct CADB_POLICY_INFO {
    CADB_OID* policy;
    STACK_OF(CADB_POLICY_QUALIFIER) * qualifiers;  // absent: null
};
DEFINE_STACK_OF(CADB_POLICY_INFO)

struct CADB_POLICY_MAPPING {
    CADB_OID* issuer_domain;
    CADB_OID* subject_domain;
};
DEFINE_STACK_OF(CADB_POLICY_MAPPING)

struct CADB_BASIC_CONSTRAINTS {
    std::int32_t ca;           // [0]
    std::int32_t path_length;  // [-1] absent
};

struct CADB_PKEY_USAGE_PERIOD {
    struct tm* not_before;  // absent: null
    struct tm* not_after;   // absent: null
};

struct CADB_DIST_POINT_NAME {
    std::int32_t type;  // [-1], 0 full name, 1 name relative to the CRL issuer
    union {
        STACK_OF(CADB_GENERAL_NAME) * full;
        ATTRIBUTE* relative;
    } name;
};

struct CADB_CRL_DIST_POINT {
    CADB_DIST_POINT_NAME* point;                // absent: null
    std::int32_t reasons;                       // bits of the reason flags; absent: 0
    STACK_OF(CADB_GENERAL_NAME) * crl_issuer;  // absent: null
};
DEFINE_STACK_OF(CADB_CRL_DIST_POINT)

struct CADB_ISSUING_DIST_POINT {
    CADB_DIST_POINT_NAME* point;  // absent: null
    std::int32_t only_user;
    std::int32_t only_ca;
    std::int32_t only_some_reasons;  // bits; absent: 0
    std::int32_t indirect_crl;
    std::int32_t only_attribute_certs;  // kept so that nothing is lost on the way back
};

struct CADB_ACCESS_DESCRIPTION {
    CADB_OID* method;
    CADB_GENERAL_NAME* location;
};
DEFINE_STACK_OF(CADB_ACCESS_DESCRIPTION)

struct CADB_POLICY_CONSTRAINTS {
    long require_explicit;  // [-1] absent
    long inhibit_mapping;   // [-1] absent
};

struct CADB_GENERAL_SUBTREE {
    CADB_GENERAL_NAME* base;
    long minimum;  // [0]
    long maximum;  // [-1] absent
};
DEFINE_STACK_OF(CADB_GENERAL_SUBTREE)

struct CADB_NAME_CONSTRAINTS {
    STACK_OF(CADB_GENERAL_SUBTREE) * permitted;  // absent: null
    STACK_OF(CADB_GENERAL_SUBTREE) * excluded;   // absent: null
};

struct CADB_BIOMETRIC_DATA {
    std::int32_t type_choice;  // 0 predefined type, 1 type object
    std::int32_t predefined;   // 0 picture, 1 handwritten signature, ...
    CADB_OID* type_oid;        // choice 1
    std::int32_t hash_nid;     // the hash algorithm's object number
    BUFFER* hash;
    BUFFER* uri;  // absent: null
};
DEFINE_STACK_OF(CADB_BIOMETRIC_DATA)

struct CADB_V3EXT {
    std::int32_t critical;
    std::int32_t parsed;   // 1 when a value was produced
    std::int32_t unknown;  // 1 when the NID has no parser
    std::int32_t nid;      // the extension's object number
    union {
        std::int32_t integer;  // 71, 83 bit masks; 141, 200 numbers
        BUFFER* buffer;        // 72-78 texts; 82 octets; 88, 140 number bytes
        CADB_OID* object;      // 214
        struct tm* time;       // 142
        CADB_PKEY_USAGE_PERIOD* usage_period;              // 84
        STACK_OF(CADB_GENERAL_NAME) * names;              // 85, 86, 215
        CADB_BASIC_CONSTRAINTS* basic_constraints;         // 87
        STACK_OF(CADB_POLICY_INFO) * policies;            // 89
        CADB_AUTHORITY_KEYID* keyid;                       // 90, 304, 306
        STACK_OF(CADB_CRL_DIST_POINT) * dist_points;      // 103, 201
        STACK_OF(CADB_OID) * objects;                     // 126
        STACK_OF(CADB_POLICY_MAPPING) * mappings;         // 202
        CADB_POLICY_CONSTRAINTS* policy_constraints;       // 203
        CADB_NAME_CONSTRAINTS* name_constraints;           // 204
        STACK_OF(CADB_ACCESS_DESCRIPTION) * access;       // 206, 207
        CADB_ISSUING_DIST_POINT* issuing_dist_point;       // 213
        ATTRIBUTE* attributes;                             // 220
        STACK_OF(CADB_BIOMETRIC_DATA) * biometrics;       // 340
        void* record;
    } value;
    X509_EXTENSION* ext;  // owned when set, freed with the record
};
DEFINE_STACK_OF(CADB_V3EXT)

// Constructors (defaults as above), parsers of libcrypto's decoded values
// and destructors (null accepted; every owned member freed) of each family.
CADB_GENERAL_NAME* CADB_GENERAL_NAME_new();
CADB_GENERAL_NAME* CADB_GENERAL_NAME_parse(const GENERAL_NAME* gn);
void CADB_GENERAL_NAME_free(CADB_GENERAL_NAME* gn);
STACK_OF(CADB_GENERAL_NAME) * CADB_GENERAL_NAMES_parse(const GENERAL_NAMES* names);
void CADB_GENERAL_NAMES_free(STACK_OF(CADB_GENERAL_NAME) * names);

CADB_AUTHORITY_KEYID* CADB_AUTHORITY_KEYID_new();
CADB_AUTHORITY_KEYID* CADB_AUTHORITY_KEYID_parse(const AUTHORITY_KEYID* akid);
void CADB_AUTHORITY_KEYID_free(CADB_AUTHORITY_KEYID* r);

CADB_NOTICE_REF* CADB_NOTICE_REF_new();
CADB_NOTICE_REF* CADB_NOTICE_REF_parse(const NOTICEREF* ref);
void CADB_NOTICE_REF_free(CADB_NOTICE_REF* r);

CADB_USER_NOTICE* CADB_USER_NOTICE_new();
CADB_USER_NOTICE* CADB_USER_NOTICE_parse(const USERNOTICE* notice);
void CADB_USER_NOTICE_free(CADB_USER_NOTICE* r);

CADB_POLICY_QUALIFIER* CADB_POLICY_QUALIFIER_new();
CADB_POLICY_QUALIFIER* CADB_POLICY_QUALIFIER_parse(const POLICYQUALINFO* q);
void CADB_POLICY_QUALIFIER_free(CADB_POLICY_QUALIFIER* r);

CADB_POLICY_INFO* CADB_POLICY_INFO_new();
CADB_POLICY_INFO* CADB_POLICY_INFO_parse(const POLICYINFO* p);
void CADB_POLICY_INFO_free(CADB_POLICY_INFO* r);

CADB_POLICY_MAPPING* CADB_POLICY_MAPPING_new();
CADB_POLICY_MAPPING* CADB_POLICY_MAPPING_parse(const POLICY_MAPPING* m);
void CADB_POLICY_MAPPING_free(CADB_POLICY_MAPPING* r);

CADB_BASIC_CONSTRAINTS* CADB_BASIC_CONSTRAINTS_new();
CADB_BASIC_CONSTRAINTS* CADB_BASIC_CONSTRAINTS_parse(const BASIC_CONSTRAINTS* bc);
void CADB_BASIC_CONSTRAINTS_free(CADB_BASIC_CONSTRAINTS* r);

CADB_PKEY_USAGE_PERIOD* CADB_PKEY_USAGE_PERIOD_new();
CADB_PKEY_USAGE_PERIOD* CADB_PKEY_USAGE_PERIOD_parse(const PKEY_USAGE_PERIOD* p);
void CADB_PKEY_USAGE_PERIOD_free(CADB_PKEY_USAGE_PERIOD* r);

CADB_DIST_POINT_NAME* CADB_DIST_POINT_NAME_new();
CADB_DIST_POINT_NAME* CADB_DIST_POINT_NAME_parse(const DIST_POINT_NAME* n);
void CADB_DIST_POINT_NAME_free(CADB_DIST_POINT_NAME* r);

CADB_CRL_DIST_POINT* CADB_CRL_DIST_POINT_new();
CADB_CRL_DIST_POINT* CADB_CRL_DIST_POINT_parse(const DIST_POINT* p);
void CADB_CRL_DIST_POINT_free(CADB_CRL_DIST_POINT* r);

CADB_ISSUING_DIST_POINT* CADB_ISSUING_DIST_POINT_new();
CADB_ISSUING_DIST_POINT* CADB_ISSUING_DIST_POINT_parse(const ISSUING_DIST_POINT* p);
void CADB_ISSUING_DIST_POINT_free(CADB_ISSUING_DIST_POINT* r);

CADB_ACCESS_DESCRIPTION* CADB_ACCESS_DESCRIPTION_new();
CADB_ACCESS_DESCRIPTION* CADB_ACCESS_DESCRIPTION_parse(const ACCESS_DESCRIPTION* a);
void CADB_ACCESS_DESCRIPTION_free(CADB_ACCESS_DESCRIPTION* r);

CADB_POLICY_CONSTRAINTS* CADB_POLICY_CONSTRAINTS_new();
CADB_POLICY_CONSTRAINTS* CADB_POLICY_CONSTRAINTS_parse(const POLICY_CONSTRAINTS* p);
void CADB_POLICY_CONSTRAINTS_free(CADB_POLICY_CONSTRAINTS* r);

CADB_GENERAL_SUBTREE* CADB_GENERAL_SUBTREE_new();
CADB_GENERAL_SUBTREE* CADB_GENERAL_SUBTREE_parse(const GENERAL_SUBTREE* s);
void CADB_GENERAL_SUBTREE_free(CADB_GENERAL_SUBTREE* r);

CADB_NAME_CONSTRAINTS* CADB_NAME_CONSTRAINTS_new();
CADB_NAME_CONSTRAINTS* CADB_NAME_CONSTRAINTS_parse(const NAME_CONSTRAINTS* n);
void CADB_NAME_CONSTRAINTS_free(CADB_NAME_CONSTRAINTS* r);

CADB_BIOMETRIC_DATA* CADB_BIOMETRIC_DATA_new();
void CADB_BIOMETRIC_DATA_free(CADB_BIOMETRIC_DATA* r);

// Attributes of single string values as an attribute list (type, local
// text, string type); attributes of other values are left out.
ATTRIBUTE* CADB_ATTRIBUTES_parse(const STACK_OF(X509_ATTRIBUTE) * attributes);

// Object record of an object: numbers, names, dotted text. Null on failure.
CADB_OID* CADB_OID_parse(const ASN1_OBJECT* obj);
DEFINE_STACK_OF(CADB_OID)

// "a.b.c.d" for 4 bytes, "a.b.c.d/m.m.m.m" for 8 (address and mask), null
// for any other length (IPv6 has no text here).
BUFFER* IP_ADDRESS_get_text(const ASN1_OCTET_STRING* ip);

// The record of one decoded extension; null (reason 12) for a null argument
// or a value that does not parse, in full, as the extension's DER. An
// extension without a parser gives a record with the unknown flag.
CADB_V3EXT* CADB_V3EXT_new();
CADB_V3EXT* CADB_V3EXT_parse(const X509_EXTENSION* ext);
void CADB_V3EXT_free(CADB_V3EXT* r);
// One record per extension in the same order, or null (the partial stack
// freed).
STACK_OF(CADB_V3EXT) * CADB_V3EXT_parse_extensions(const STACK_OF(X509_EXTENSION) * exts);
void CADB_V3EXT_stack_free(STACK_OF(CADB_V3EXT) * records);

// The extension a parsed record stands for (critical flag, object, DER of
// the value); texts are written back from the local code page (UTF8String
// values converted). Null (reason 12) for an unknown or unparsed record or
// a value that cannot be written (other-name, X.400 and EDI-party names,
// IPv6 addresses).
X509_EXTENSION* CADB_V3EXT_to_extension(const CADB_V3EXT* r);
STACK_OF(X509_EXTENSION) * CADB_V3EXT_to_extensions(const STACK_OF(CADB_V3EXT) * records);

}  // namespace cadb
