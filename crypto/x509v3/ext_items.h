// ASN.1 records of the extensions libcrypto has no type for: biometric
// information (RFC 3739) and subject directory attributes (RFC 5280).
#pragma once

#include <openssl/asn1t.h>
#include <openssl/x509.h>

namespace cadb {

// typeOfBiometricData: predefinedBiometricType INTEGER (0 picture, 1
// handwritten signature) or biometricDataOid OBJECT IDENTIFIER.
struct BIOMETRIC_TYPE {
    int type;  // 0 predefined, 1 object
    union {
        ASN1_INTEGER* predefined;
        ASN1_OBJECT* oid;
    } value;
};
DECLARE_ASN1_ITEM(BIOMETRIC_TYPE)

struct BIOMETRIC_DATA {
    BIOMETRIC_TYPE* type;
    X509_ALGOR* hash_algorithm;
    ASN1_OCTET_STRING* hash;
    ASN1_IA5STRING* source_uri;  // optional
};
DECLARE_ASN1_ITEM(BIOMETRIC_DATA)
DEFINE_STACK_OF(BIOMETRIC_DATA)

// BiometricSyntax ::= SEQUENCE OF BiometricData
using BIOMETRIC_SYNTAX = STACK_OF(BIOMETRIC_DATA);
DECLARE_ASN1_ITEM(BIOMETRIC_SYNTAX)

// SubjectDirectoryAttributes ::= SEQUENCE SIZE (1..MAX) OF Attribute
using SUBJECT_DIRECTORY_ATTRIBUTES = STACK_OF(X509_ATTRIBUTE);
DECLARE_ASN1_ITEM(SUBJECT_DIRECTORY_ATTRIBUTES)

}  // namespace cadb
