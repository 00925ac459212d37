// Recipient information in its three forms, and the nested key-wrap
// algorithm carried in the parameter position of a key-agreement
// key-encryption algorithm.
#pragma once

#include <openssl/x509.h>

#include <cstdint>

#include "crypto/pkcs7/p7_records.h"

namespace cadb {

enum RecipForm : std::int32_t {
    RECIP_FORM_TRANSPORT = 0,  // KeyTransRecipientInfo
    RECIP_FORM_AGREE = 1,      // KeyAgreeRecipientInfo under [1] EXPLICIT
    RECIP_FORM_COMPACT = 2,    // agreement record inside a key-transport encryptedKey
};

struct PKCS7_RECIP_INFO {
    ASN1_INTEGER* version;                       // 0 key transport, 3 key agreement
    PKCS7_ISSUER_AND_SERIAL* issuer_and_serial;  // transport and compact forms
    X509_ALGOR* key_enc_algor;
    ASN1_OCTET_STRING* enc_key;
    X509* cert;                        // recipient certificate, not encoded
    PKCS7_ORIGINATOR_KEY* originator;  // sender's ephemeral public key
    ASN1_OCTET_STRING* ukm;
    STACK_OF(ASN1_PAIR) * rek;  // recipient encrypted keys
    std::int32_t form;
};

// Version INTEGER, issuer-and-serial, algorithm and an empty encrypted key;
// the rest null and form 0.
PKCS7_RECIP_INFO* PKCS7_RECIP_INFO_new();
void PKCS7_RECIP_INFO_free(PKCS7_RECIP_INFO* ri);

// Version 0: KeyTransRecipientInfo. Version 3, form 1: [1] EXPLICIT around
// the KeyAgreeRecipientInfo SEQUENCE, originatorKey [1] EXPLICIT. Version 3,
// other forms: the RFC 5652 form ([1] IMPLICIT, originatorKey [1] IMPLICIT).
int i2d_PKCS7_RECIP_INFO(const PKCS7_RECIP_INFO* ri, unsigned char** out);
// A leading [1] is key agreement: explicit tagging reads as form 1,
// implicit tagging as form 0 (the derivation it was written with); anything
// else is key transport. A record whose version is not the one its layout
// is written with (3 for agreement, another for transport) is refused.
PKCS7_RECIP_INFO* d2i_PKCS7_RECIP_INFO(PKCS7_RECIP_INFO** ri, const unsigned char** in, long len);

// The compact agreement record of a recipient (form 2), written into the
// encryptedKey of a key-transport record: SEQUENCE { version, originator [0]
// EXPLICIT OPTIONAL, ukm [1] EXPLICIT OPTIONAL, keyEncryptionAlgorithm,
// encryptedKey }. The UKM slot is the library's addition so that a UKM
// survives this form; without a UKM the record is the one older readers know.
int i2d_PKCS7_RECIP_INFO_compact(const PKCS7_RECIP_INFO* ri, unsigned char** out);
// Reads the record into a new recipient of form 2 and version 3.
PKCS7_RECIP_INFO* d2i_PKCS7_RECIP_INFO_compact(const unsigned char* in, long len);

// Recipient of a certificate: issuer and serial, a reference to the
// certificate, and for key transport its public-key algorithm.
int PKCS7_RECIP_INFO_set(PKCS7_RECIP_INFO* ri, X509* cert);

// SEQUENCE { wrap OID, NULL } as the parameter of alg.
int X509_ALGOR_set_nested(X509_ALGOR* alg, int wrap_nid);
// The library's number of the nested wrap algorithm, 0 when there is none.
int X509_ALGOR_get_nested_nid(const X509_ALGOR* alg);

}  // namespace cadb
