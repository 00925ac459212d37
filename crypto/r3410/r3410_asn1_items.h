// ASN.1 records of the GOST R 34.10-94 encodings and owners for them.
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>

#include <memory>

#include "crypto/asn1/asn1_int.h"
#include "crypto/asn1/asn1_item.h"
#include "crypto/bn/bn_ptr.h"

namespace cadb {

// SEQUENCE { INTEGER r, INTEGER s }
struct R3410_SIG_DER {
    ASN1_INTEGER* r;
    ASN1_INTEGER* s;
};
DECLARE_ASN1_ITEM(R3410_SIG_DER)

// SEQUENCE { INTEGER x0, INTEGER c }
struct R3410_GENVAL {
    ASN1_INTEGER* x0;
    ASN1_INTEGER* c;
};
DECLARE_ASN1_ITEM(R3410_GENVAL)

// NULL or the generation values.
struct R3410_GEN {
    int type;
    union {
        ASN1_NULL* none;
        R3410_GENVAL* values;
    } value;
};
enum { R3410_GEN_NONE = 0, R3410_GEN_VALUES = 1 };
DECLARE_ASN1_ITEM(R3410_GEN)

// SEQUENCE { p, q, a, generation values }
struct R3410_PARAMS_DER {
    ASN1_INTEGER* p;
    ASN1_INTEGER* q;
    ASN1_INTEGER* a;
    R3410_GEN* gen;
};
DECLARE_ASN1_ITEM(R3410_PARAMS_DER)

// SEQUENCE { wrapped key, check value }
struct R3410_WRAPPED {
    ASN1_INTEGER* key;
    ASN1_INTEGER* check;
};
DECLARE_ASN1_ITEM(R3410_WRAPPED)

// The private number: INTEGER x or the wrapped form.
struct R3410_PRIV_X {
    int type;
    union {
        ASN1_INTEGER* x;
        R3410_WRAPPED* wrapped;
    } value;
};
enum { R3410_PRIV_PLAIN = 0, R3410_PRIV_WRAPPED = 1 };
DECLARE_ASN1_ITEM(R3410_PRIV_X)

// SEQUENCE { version, p, q, a, y, private number }
struct R3410_PRIV_DER {
    ASN1_INTEGER* version;
    ASN1_INTEGER* p;
    ASN1_INTEGER* q;
    ASN1_INTEGER* a;
    ASN1_INTEGER* y;
    R3410_PRIV_X* x;
};
DECLARE_ASN1_ITEM(R3410_PRIV_DER)

// SEQUENCE { y, p, q, a }
struct R3410_PUB_SEQ {
    ASN1_INTEGER* y;
    ASN1_INTEGER* p;
    ASN1_INTEGER* q;
    ASN1_INTEGER* a;
};
DECLARE_ASN1_ITEM(R3410_PUB_SEQ)

// INTEGER y or SEQUENCE { y, p, q, a }
struct R3410_PUB_DER {
    int type;
    union {
        ASN1_INTEGER* y;
        R3410_PUB_SEQ* seq;
    } value;
};
enum { R3410_PUB_Y = 0, R3410_PUB_WITH_PARAMS = 1 };
DECLARE_ASN1_ITEM(R3410_PUB_DER)

}  // namespace cadb
