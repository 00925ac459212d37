// DER coders of the additional extensions, over libcrypto's records of the
// same RFC 5280 structures (and the library's own records of the two it
// lacks). A decoder reports under the ASN.1 library and leaves nothing half
// built; it refuses trailing bytes after the value. An encoder called
// without output returns the length. libcrypto exports functions of most of
// these names: call these as cadb::d2i_..., cadb::i2d_....
#pragma once

#include <openssl/x509v3.h>

#include "crypto/x509v3/ext_items.h"

namespace cadb {

// Library 13 (ASN.1) function codes of the decoders.
enum ExtDerFunc : int {
    ASN1_F_D2I_AUTHORITY_INFO_ACCESS = 230,
    ASN1_F_D2I_SUBJECT_DIRECTORY_ATTRIBUTES = 231,
    ASN1_F_D2I_ISSUING_DIST_POINT = 232,
    ASN1_F_D2I_NAME_CONSTRAINTS = 233,
    ASN1_F_D2I_POLICY_CONSTRAINTS = 234,
    ASN1_F_D2I_POLICY_MAPPINGS = 235,
    ASN1_F_D2I_CRL_DIST_POINTS = 236,
    ASN1_F_D2I_BIOMETRIC_SYNTAX = 237,
};

AUTHORITY_INFO_ACCESS* d2i_AUTHORITY_INFO_ACCESS(AUTHORITY_INFO_ACCESS** out,
                                                 const unsigned char** in, long len);
int i2d_AUTHORITY_INFO_ACCESS(const AUTHORITY_INFO_ACCESS* v, unsigned char** out);

SUBJECT_DIRECTORY_ATTRIBUTES* d2i_SUBJECT_DIRECTORY_ATTRIBUTES(
    SUBJECT_DIRECTORY_ATTRIBUTES** out, const unsigned char** in, long len);
int i2d_SUBJECT_DIRECTORY_ATTRIBUTES(const SUBJECT_DIRECTORY_ATTRIBUTES* v, unsigned char** out);
SUBJECT_DIRECTORY_ATTRIBUTES* SUBJECT_DIRECTORY_ATTRIBUTES_new();
void SUBJECT_DIRECTORY_ATTRIBUTES_free(SUBJECT_DIRECTORY_ATTRIBUTES* v);

ISSUING_DIST_POINT* d2i_ISSUING_DIST_POINT(ISSUING_DIST_POINT** out, const unsigned char** in,
                                           long len);
int i2d_ISSUING_DIST_POINT(const ISSUING_DIST_POINT* v, unsigned char** out);

NAME_CONSTRAINTS* d2i_NAME_CONSTRAINTS(NAME_CONSTRAINTS** out, const unsigned char** in,
                                       long len);
int i2d_NAME_CONSTRAINTS(const NAME_CONSTRAINTS* v, unsigned char** out);

POLICY_CONSTRAINTS* d2i_POLICY_CONSTRAINTS(POLICY_CONSTRAINTS** out, const unsigned char** in,
                                           long len);
int i2d_POLICY_CONSTRAINTS(const POLICY_CONSTRAINTS* v, unsigned char** out);

POLICY_MAPPINGS* d2i_POLICY_MAPPINGS(POLICY_MAPPINGS** out, const unsigned char** in, long len);
int i2d_POLICY_MAPPINGS(const POLICY_MAPPINGS* v, unsigned char** out);

CRL_DIST_POINTS* d2i_CRL_DIST_POINTS(CRL_DIST_POINTS** out, const unsigned char** in, long len);
int i2d_CRL_DIST_POINTS(const CRL_DIST_POINTS* v, unsigned char** out);

BIOMETRIC_SYNTAX* d2i_BIOMETRIC_SYNTAX(BIOMETRIC_SYNTAX** out, const unsigned char** in,
                                       long len);
int i2d_BIOMETRIC_SYNTAX(const BIOMETRIC_SYNTAX* v, unsigned char** out);
BIOMETRIC_SYNTAX* BIOMETRIC_SYNTAX_new();
void BIOMETRIC_SYNTAX_free(BIOMETRIC_SYNTAX* v);

// {notBefore [0], notAfter [1]}, each present only when set.
int i2d_PKEY_USAGE_PERIOD(const PKEY_USAGE_PERIOD* v, unsigned char** out);

}  // namespace cadb
