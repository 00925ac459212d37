// Certificate Request Message Format records (RFC 4211 names), carried in
// CMC requests. Unlike RFC 4211, whose Name and Time elements are CHOICEs
// and therefore explicitly tagged, the template's issuer [3] and subject
// [5] and the validity's notBefore [0] and notAfter [1] are tagged
// implicitly: the context tag replaces the element's own tag byte. That is
// the form the authority's software writes and reads.
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include "crypto/asn1/asn1_item.h"

namespace cadb {

// OptionalValidity ::= SEQUENCE { notBefore [0] Time OPTIONAL,
// notAfter [1] Time OPTIONAL }.
struct CRMF_OPTIONAL_VALIDITY {
    ASN1_TIME* not_before;
    ASN1_TIME* not_after;
};
DECLARE_ASN1_ITEM(CRMF_OPTIONAL_VALIDITY)

// CertTemplate: every member optional, tags [0]..[9].
struct CRMF_CERT_TEMPLATE {
    ASN1_INTEGER* version;
    ASN1_INTEGER* serial_number;
    X509_ALGOR* signing_alg;
    X509_NAME* issuer;
    CRMF_OPTIONAL_VALIDITY* validity;
    X509_NAME* subject;
    X509_PUBKEY* public_key;
    ASN1_BIT_STRING* issuer_uid;
    ASN1_BIT_STRING* subject_uid;
    STACK_OF(X509_EXTENSION) * extensions;
};
DECLARE_ASN1_ITEM(CRMF_CERT_TEMPLATE)

// CertId ::= SEQUENCE { issuer GeneralName, serialNumber INTEGER }.
struct CRMF_CERT_ID {
    GENERAL_NAME* issuer;
    ASN1_INTEGER* serial_number;
};
DECLARE_ASN1_ITEM(CRMF_CERT_ID)

// AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }.
struct CRMF_ATTR_TYPE_AND_VALUE {
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};
DECLARE_ASN1_ITEM(CRMF_ATTR_TYPE_AND_VALUE)
DEFINE_STACK_OF(CRMF_ATTR_TYPE_AND_VALUE)

// A control of a CertRequest: the same SEQUENCE, its value decoded by the
// record its type selects. oldCertId carries a CertId; every other type
// (regToken, authenticator, pkiPublicationInfo, pkiArchiveOptions,
// protocolEncrKey and unknown types) is kept as ANY, which is also what a
// new control starts with.
struct CRMF_CONTROL {
    ASN1_OBJECT* type;
    union {
        CRMF_CERT_ID* old_cert_id;
        ASN1_TYPE* other;
    } value;
};
DECLARE_ASN1_ITEM(CRMF_CONTROL)
DEFINE_STACK_OF(CRMF_CONTROL)

// CertRequest ::= SEQUENCE { certReqId INTEGER, certTemplate CertTemplate,
// controls Controls OPTIONAL }; an empty controls stack is not written.
struct CRMF_CERT_REQUEST {
    ASN1_INTEGER* cert_req_id;
    CRMF_CERT_TEMPLATE* cert_template;
    STACK_OF(CRMF_CONTROL) * controls;
};
DECLARE_ASN1_ITEM(CRMF_CERT_REQUEST)

// PKMACValue ::= SEQUENCE { algId AlgorithmIdentifier, value BIT STRING }.
struct CRMF_PKMAC_VALUE {
    X509_ALGOR* algorithm;
    ASN1_BIT_STRING* value;
};
DECLARE_ASN1_ITEM(CRMF_PKMAC_VALUE)

// authInfo of POPOSigningKeyInput: sender [0] GeneralName or publicKeyMAC.
enum CrmfAuthInfoType : int { CRMF_AUTH_SENDER = 0, CRMF_AUTH_PUBLIC_KEY_MAC = 1 };
struct CRMF_POPO_AUTH_INFO {
    int type;
    union {
        GENERAL_NAME* sender;
        CRMF_PKMAC_VALUE* public_key_mac;
    } value;
};
DECLARE_ASN1_ITEM(CRMF_POPO_AUTH_INFO)

// POPOSigningKeyInput ::= SEQUENCE { authInfo, publicKey
// SubjectPublicKeyInfo }.
struct CRMF_POPO_SIGNING_KEY_INPUT {
    CRMF_POPO_AUTH_INFO* auth_info;
    X509_PUBKEY* public_key;
};
DECLARE_ASN1_ITEM(CRMF_POPO_SIGNING_KEY_INPUT)

// POPOSigningKey ::= SEQUENCE { poposkInput [0] POPOSigningKeyInput
// OPTIONAL, algorithmIdentifier, signature BIT STRING }.
struct CRMF_POPO_SIGNING_KEY {
    CRMF_POPO_SIGNING_KEY_INPUT* poposk_input;
    X509_ALGOR* algorithm;
    ASN1_BIT_STRING* signature;
};
DECLARE_ASN1_ITEM(CRMF_POPO_SIGNING_KEY)

// ProofOfPossession: the selector (-1 none) and its value. The two
// POPOPrivKey choices are read and written as they stand (their CHOICE is
// explicitly tagged), so that a message carrying them decodes and its POP
// can be refused by name.
enum CrmfPopType : int {
    CRMF_POP_NONE = -1,
    CRMF_POP_RA_VERIFIED = 0,
    CRMF_POP_SIGNATURE = 1,
    CRMF_POP_KEY_ENCIPHERMENT = 2,
    CRMF_POP_KEY_AGREEMENT = 3,
};
struct CRMF_PROOF_OF_POSSESSION {
    int type;
    union {
        ASN1_NULL* ra_verified;
        CRMF_POPO_SIGNING_KEY* signature;
        ASN1_TYPE* key_encipherment;
        ASN1_TYPE* key_agreement;
    } value;
};
DECLARE_ASN1_ITEM(CRMF_PROOF_OF_POSSESSION)

// CertReqMsg ::= SEQUENCE { certReq CertRequest, popo ProofOfPossession
// OPTIONAL, regInfo SEQUENCE OF AttributeTypeAndValue OPTIONAL }; an empty
// regInfo is not written. The record is shared by counted references (lock
// 7): CRMF_CERT_REQ_MSG_free releases one and frees the record with the
// last.
struct CRMF_CERT_REQ_MSG {
    CRMF_CERT_REQUEST* cert_req;
    CRMF_PROOF_OF_POSSESSION* popo;
    STACK_OF(CRMF_ATTR_TYPE_AND_VALUE) * reg_info;
    int references;  // not encoded
};
DECLARE_ASN1_ITEM(CRMF_CERT_REQ_MSG)
DEFINE_STACK_OF(CRMF_CERT_REQ_MSG)

CADB_ASN1_DECLARE_FUNCTIONS(CRMF_OPTIONAL_VALIDITY)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_CERT_TEMPLATE)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_CERT_ID)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_ATTR_TYPE_AND_VALUE)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_CONTROL)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_CERT_REQUEST)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_PKMAC_VALUE)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_POPO_AUTH_INFO)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_POPO_SIGNING_KEY_INPUT)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_POPO_SIGNING_KEY)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_PROOF_OF_POSSESSION)
CADB_ASN1_DECLARE_FUNCTIONS(CRMF_CERT_REQ_MSG)

// One more reference to the message. 1/0.
int CRMF_CERT_REQ_MSG_up_ref(CRMF_CERT_REQ_MSG* msg);

// The control's type in the library's numbering (0 when it has none).
int CRMF_CONTROL_nid(const CRMF_CONTROL* control);
// Sets the type and takes over the value: a CertId for oldCertId (229), an
// ASN1_TYPE for every other type. 1/0 (nothing taken on failure).
int CRMF_CONTROL_set(CRMF_CONTROL* control, int nid, void* value);

// Reads exactly len bytes as one message: trailing bytes, like any other
// fault, give null (library 13).
CRMF_CERT_REQ_MSG* CRMF_CERT_REQ_MSG_read(const unsigned char* der, long len);

}  // namespace cadb
