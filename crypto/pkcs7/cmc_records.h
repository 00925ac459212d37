// Certificate Management over CMS records in the forms of the first CMC
// standard (RFC 2797), which is what the authority's software speaks:
// an INTEGER pendToken (RFC 5272 has an OCTET STRING), a TaggedRequest with
// only the tcr and crm choices, a bodyList that may be empty, and the
// RevRequest of RFC 2797. A PKIData or ResponseBody travels as the inner
// content of signed data, written directly under [0] rather than inside
// the OCTET STRING that RFC 5652 prescribes (the message engine does that).
#pragma once

#include <openssl/asn1.h>
#include <openssl/asn1t.h>
#include <openssl/x509.h>

#include "crypto/asn1/asn1_item.h"
#include "crypto/pkcs7/crmf_records.h"

namespace cadb {

// TaggedAttribute ::= SEQUENCE { bodyPartID INTEGER, attrType OBJECT
// IDENTIFIER, attrValues SET OF ANY }.
struct CMC_TAGGED_ATTRIBUTE {
    ASN1_INTEGER* body_part_id;
    ASN1_OBJECT* type;
    STACK_OF(ASN1_TYPE) * values;
};
DECLARE_ASN1_ITEM(CMC_TAGGED_ATTRIBUTE)
DEFINE_STACK_OF(CMC_TAGGED_ATTRIBUTE)

// TaggedCertificationRequest ::= SEQUENCE { bodyPartID INTEGER,
// certificationRequest CertificationRequest }.
struct CMC_TAGGED_CERT_REQUEST {
    ASN1_INTEGER* body_part_id;
    X509_REQ* request;
};
DECLARE_ASN1_ITEM(CMC_TAGGED_CERT_REQUEST)

// TaggedRequest ::= CHOICE { tcr [0] TaggedCertificationRequest, crm [1]
// CertReqMsg }, both tagged implicitly.
enum CmcRequestType : int { CMC_REQUEST_TCR = 0, CMC_REQUEST_CRM = 1 };
struct CMC_TAGGED_REQUEST {
    int type;
    union {
        CMC_TAGGED_CERT_REQUEST* tcr;
        CRMF_CERT_REQ_MSG* crm;
    } value;
};
DECLARE_ASN1_ITEM(CMC_TAGGED_REQUEST)
DEFINE_STACK_OF(CMC_TAGGED_REQUEST)

// TaggedContentInfo ::= SEQUENCE { bodyPartID INTEGER, contentInfo ANY }.
struct CMC_TAGGED_CONTENT_INFO {
    ASN1_INTEGER* body_part_id;
    ASN1_TYPE* content_info;
};
DECLARE_ASN1_ITEM(CMC_TAGGED_CONTENT_INFO)
DEFINE_STACK_OF(CMC_TAGGED_CONTENT_INFO)

// OtherMsg ::= SEQUENCE { bodyPartID INTEGER, otherMsgType OBJECT
// IDENTIFIER, otherMsgValue ANY }.
struct CMC_OTHER_MSG {
    ASN1_INTEGER* body_part_id;
    ASN1_OBJECT* type;
    ASN1_TYPE* value;
};
DECLARE_ASN1_ITEM(CMC_OTHER_MSG)
DEFINE_STACK_OF(CMC_OTHER_MSG)

// PKIData ::= SEQUENCE { controlSequence, reqSequence, cmsSequence,
// otherMsgSequence }, each a SEQUENCE OF written even when empty.
// ResponseBody is the same record without reqSequence (requests unused).
struct CMC_PKI_DATA {
    STACK_OF(CMC_TAGGED_ATTRIBUTE) * controls;
    STACK_OF(CMC_TAGGED_REQUEST) * requests;
    STACK_OF(CMC_TAGGED_CONTENT_INFO) * cms;
    STACK_OF(CMC_OTHER_MSG) * other;
};
DECLARE_ASN1_ITEM(CMC_PKI_DATA)
DECLARE_ASN1_ITEM(CMC_RESPONSE_BODY)

// PendInfo ::= SEQUENCE { pendToken INTEGER, pendTime GeneralizedTime }.
struct CMC_PEND_INFO {
    ASN1_INTEGER* pend_token;
    ASN1_GENERALIZEDTIME* pend_time;
};
DECLARE_ASN1_ITEM(CMC_PEND_INFO)

// otherInfo of CMCStatusInfo: CHOICE { failInfo INTEGER, pendInfo }.
enum CmcOtherInfoType : int { CMC_OTHER_INFO_FAIL = 0, CMC_OTHER_INFO_PEND = 1 };
struct CMC_OTHER_INFO {
    int type;
    union {
        ASN1_INTEGER* fail_info;
        CMC_PEND_INFO* pend_info;
    } value;
};
DECLARE_ASN1_ITEM(CMC_OTHER_INFO)

// CMCStatusInfo ::= SEQUENCE { cMCStatus INTEGER, bodyList SEQUENCE OF
// INTEGER, statusString UTF8String OPTIONAL, otherInfo OPTIONAL }.
struct CMC_STATUS_INFO {
    ASN1_INTEGER* status;
    STACK_OF(ASN1_INTEGER) * body_list;
    ASN1_UTF8STRING* status_string;
    CMC_OTHER_INFO* other_info;
};
DECLARE_ASN1_ITEM(CMC_STATUS_INFO)

// RevRequest ::= SEQUENCE { issuerName Name, serialNumber INTEGER, reason
// CRLReason, invalidityDate GeneralizedTime OPTIONAL, sharedSecret OCTET
// STRING OPTIONAL, comment UTF8String OPTIONAL }.
struct CMC_REVOKE_REQUEST {
    X509_NAME* issuer;
    ASN1_INTEGER* serial_number;
    ASN1_ENUMERATED* reason;
    ASN1_GENERALIZEDTIME* invalidity_date;
    ASN1_OCTET_STRING* shared_secret;
    ASN1_UTF8STRING* comment;
};
DECLARE_ASN1_ITEM(CMC_REVOKE_REQUEST)

// AddExtensions ::= SEQUENCE { pkiDataReference INTEGER, certReferences
// SEQUENCE OF INTEGER, extensions SEQUENCE OF Extension }.
struct CMC_ADD_EXTENSIONS {
    ASN1_INTEGER* pki_data_reference;
    STACK_OF(ASN1_INTEGER) * cert_references;
    STACK_OF(X509_EXTENSION) * extensions;
};
DECLARE_ASN1_ITEM(CMC_ADD_EXTENSIONS)

CADB_ASN1_DECLARE_FUNCTIONS(CMC_TAGGED_ATTRIBUTE)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_TAGGED_CERT_REQUEST)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_TAGGED_REQUEST)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_TAGGED_CONTENT_INFO)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_OTHER_MSG)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_PKI_DATA)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_PEND_INFO)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_OTHER_INFO)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_STATUS_INFO)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_REVOKE_REQUEST)
CADB_ASN1_DECLARE_FUNCTIONS(CMC_ADD_EXTENSIONS)

// The ResponseBody coders of the shared record.
CMC_PKI_DATA* CMC_RESPONSE_BODY_new();
void CMC_RESPONSE_BODY_free(CMC_PKI_DATA* v);
CMC_PKI_DATA* d2i_CMC_RESPONSE_BODY(CMC_PKI_DATA** v, const unsigned char** in, long len);
int i2d_CMC_RESPONSE_BODY(const CMC_PKI_DATA* v, unsigned char** out);

// A PKIData (251) or ResponseBody (252) in exactly len bytes, or null
// (library 13; another content type: reason 35).
CMC_PKI_DATA* CMC_body_read(int content_type, const unsigned char* der, long len);
// The DER of the body as PKIData (251) or ResponseBody (252): the length,
// or -1.
int CMC_body_write(int content_type, const CMC_PKI_DATA* body, unsigned char** out);

}  // namespace cadb
