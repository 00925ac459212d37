// CMC: enrolment and revocation requests as Certificate Management over
// CMS messages (the RFC 2797 forms): the in-memory record of a PKIData or
// ResponseBody with its controls and tagged requests, its DER, and the
// record rebuilt from a received body. Wrapping into signed data is the
// message engine's (inner content type 251 or 252).
#pragma once

#include <openssl/bio.h>
#include <openssl/x509.h>

#include <ctime>

#include "crypto/cadb/buffer.h"
#include "crypto/pkcs7/cmc_records.h"
#include "crypto/x509/pkcs10.h"

namespace cadb {

// Library 66 (CADB) function codes of the CMC front end. The texts keep
// the names under which the authority's tools know these failures.
enum CadbCmcFunc : int {
    CADB_F_CMC_NEW = 600,             // "CMS_new"
    CADB_F_CMC_PUSH_CRMF = 601,       // "CMS_push_CRMF"
    CADB_F_CMC_SET_TRANS_ID = 602,    // "CMS_set_trans_id"
    CADB_F_CMC_TATTR_NEW = 603,       // "CMS_TATTR_new"
    CADB_F_CMC_GET = 604,             // "CMS_get"
    CADB_F_CMC_READ = 605,            // "CMS_read"
    CADB_F_CMC_SPLIT = 606,           // "CMS_split"
    CADB_F_PKI_DATA_READ_BIO = 607,
    CADB_F_RESPONSE_BODY_READ_BIO = 608,
    CADB_F_CMC_ADD_STATUS_INFO = 609,   // "CMS_add_status_info"
    CADB_F_CMC_STATUS_NEW = 610,        // "CMS_STATUS_new"
    CADB_F_CMC_ADD_REVREQ_INFO = 611,   // "CMS_add_revreq_info"
    CADB_F_CMC_REVREQ_NEW = 612,        // "CMS_REVREQ_new"
    CADB_F_CMC_TATTR_PUSH = 613,        // "CMS_TATTR_push"
    CADB_F_CMC_SET_OCTET_STRING = 614,  // "CMS_set_octet_string"
    CADB_F_CMP_TCERTREQ_NEW = 615,
    CADB_F_CMP_TREQ_NEW = 616,
    CADB_F_CMP_PUSH_PKCS10 = 617,
};

// Library 66 reasons of the CMC front end.
enum CadbCmcReason : int {
    CADB_R_UNSUPPORTED_CMC_TYPE = 170,   // content type other than 251, 252
    CADB_R_UNSUPPORTED_CONTROL = 171,    // a control type the encoder has no form for
    CADB_R_BAD_CONTROL_VALUE = 172,      // not exactly one value, or not of its type
    CADB_R_NUMBER_OUT_OF_RANGE = 173,    // a number the record's int cannot hold
};

// Request choices of a CMP_TREQ.
enum CmpRequestChoice : int { CMP_TREQ_PKCS10 = 0, CMP_TREQ_CRMF = 1 };

// cmcStatusInfo value. Text is local (code page 1251).
struct CMS_STATUS {
    int status;
    int body_part_ref;
    BUFFER* status_string;  // null when absent
    int fail_info;          // -1 when absent
};

// revokeRequest value.
struct CMS_REVREQ {
    X509_NAME* issuer;
    BUFFER* serial;            // big-endian magnitude
    int reason;                // CRLReason
    struct tm* invalidity_date;  // OPENSSL_malloc'd, null when absent
    BUFFER* shared_secret;     // null when absent
    BUFFER* comment;           // local text, null when absent
};

// A control: body part, type NID and the value of the type: 231
// CMS_STATUS, 235/245/246 BUFFER, 244 CMS_REVREQ.
struct CMS_TATTR {
    int body_part_id;
    int type;
    union {
        CMS_STATUS* status;
        BUFFER* bytes;
        CMS_REVREQ* revreq;
        void* any;
    } value;
};
DEFINE_STACK_OF(CMS_TATTR)

struct CMP_TCERTREQ {
    int body_part_id;
    PKCS10* request;  // owned
};

struct CMP_TREQ {
    int choice;  // CmpRequestChoice
    union {
        CMP_TCERTREQ* tcr;
        CRMF_CERT_REQ_MSG* crm;  // one counted reference
        void* any;
    } value;
};
DEFINE_STACK_OF(CMP_TREQ)

struct CMC {
    int content_type;                  // 251, 252; set by CMC_get and CMS_read
    STACK_OF(CMP_TREQ) * requests;     // made on first use
    STACK_OF(CMS_TATTR) * controls;    // made on first use
    CMC_PKI_DATA* content;             // the last body encoded or decoded
};

CMC* CMC_new();
void CMC_free(CMC* cmc);

CMS_STATUS* CMS_STATUS_new();  // fail_info -1
void CMS_STATUS_free(CMS_STATUS* s);
CMS_REVREQ* CMS_REVREQ_new();
void CMS_REVREQ_free(CMS_REVREQ* r);
CMS_TATTR* CMS_TATTR_new();
void CMS_TATTR_free(CMS_TATTR* a);  // frees the value by its type
CMP_TCERTREQ* CMP_TCERTREQ_new();
void CMP_TCERTREQ_free(CMP_TCERTREQ* t);
CMP_TREQ* CMP_TREQ_new();
void CMP_TREQ_free(CMP_TREQ* t);  // frees the value by its choice

// Appends a tagged PKCS#10 request; *p10 is taken over and cleared, on
// failure too (then freed). 1/0.
int CMP_push_PKCS10(CMC* cmc, int body_part_id, PKCS10** p10);
// Appends a CRMF request; the message is taken over, on failure too. 1/0.
int CMS_push_CRMF(CMC* cmc, CRMF_CERT_REQ_MSG* msg);

// Appends a control whose value (of the type's kind) is taken over, on
// failure too; a type other than 231, 235, 244, 245, 246 is refused and its
// value, which the record could not free, stays the caller's. With replace, earlier controls of the same type go first,
// so that a message never carries two transaction identifiers. 1/0.
int CMS_TATTR_push(CMC* cmc, int body_part_id, int nid, void* value, int replace);
// A control (235, 245 or 246) holding a copy of the bytes. 1/0.
int CMS_set_octet_string(CMC* cmc, int body_part_id, int nid, const BUFFER* bytes, int replace);
// The transactionId control (235), replacing any earlier one. 1/0.
int CMS_set_trans_id(CMC* cmc, int body_part_id, const BUFFER* bytes);
// A cmcStatusInfo control (231); status_string is local text or null,
// fail_info -1 for none. 1/0.
int CMS_add_status_info(CMC* cmc, int body_part_id, int status, int body_part_ref,
                        const char* status_string, int fail_info);
// A revokeRequest control (244). invalidity_date, shared_secret and comment
// (local text) may be null. 1/0.
int CMS_add_revreq_info(CMC* cmc, int body_part_id, const X509_NAME* issuer, const BUFFER* serial,
                        int reason, const struct tm* invalidity_date, const char* shared_secret,
                        const char* comment);

// The DER of the record as PKIData (251) or ResponseBody (252) in a new
// BUFFER; the body becomes the record's content. Null on failure.
BUFFER* CMC_get(CMC* cmc, int content_type);

// The body in the whole stream (PKIData, ResponseBody), or null.
CMC_PKI_DATA* PKI_DATA_read_bio(BIO* in);
CMC_PKI_DATA* RESPONSE_BODY_read_bio(BIO* in);
// The same readers under the names the request layer gives them.
CMC_PKI_DATA* d2i_PKI_DATA_bio(BIO* in);
CMC_PKI_DATA* d2i_RESPONSE_BODY_bio(BIO* in);

// A record rebuilt from a body (which stays the caller's), or null.
CMC* CMS_split(const CMC_PKI_DATA* body, int content_type);
// A record read from exactly len bytes of DER and split; it owns the
// decoded body as its content. Null on failure.
CMC* CMS_read(const unsigned char* der, long len, int content_type);

}  // namespace cadb
