// CRMF: a received certificate request message split into ready-to-use
// fields for the enrolment layer, with its proof of possession checked.
#pragma once

#include <openssl/asn1.h>
#include <openssl/x509.h>

#include <cstdint>
#include <ctime>

#include "crypto/cadb/attribute.h"
#include "crypto/cadb/buffer.h"
#include "crypto/pkcs7/crmf_records.h"
#include "crypto/x509v3/v3ext.h"

namespace cadb {

// Library 66 (CADB) function codes of the CRMF front end.
enum CadbCrmfFunc : int {
    CADB_F_CRMF_NEW = 620,
    CADB_F_CRMF_SPLIT = 621,
    CADB_F_CRMF_APPEND_TEXT = 622,
};

struct CRMF {
    std::int32_t request_id;         // certReqId
    std::int32_t version;            // template version, -1 when absent
    std::int32_t key_algorithm;      // NID of the template key's algorithm
    std::int32_t key_size;           // bits
    std::int32_t signing_algorithm;  // NID of the template signingAlg
    std::int32_t pop_type;           // CrmfPopType, -1 when absent
    std::int32_t pop_result;         // 1 good, 0 not good, -1 not checked
    BUFFER* serial_number;           // template serial as bytes
    struct tm* not_before;           // OPENSSL_malloc'd
    struct tm* not_after;
    ATTRIBUTE* subject;
    ATTRIBUTE* issuer;
    STACK_OF(CADB_V3EXT) * extensions;          // parsed template extensions
    STACK_OF(X509_EXTENSION) * raw_extensions;  // a copy of them
    CRMF_CERT_REQ_MSG* message;                 // one counted reference
    BUFFER* key_fingerprint;
};

// A zeroed record holding an empty CertReqMsg, with version, POP type and
// POP result -1; null on allocation failure (reason 33).
CRMF* CRMF_new();
// Releases everything the record holds (the message by one reference); the
// record is zeroed first. Null accepted.
void CRMF_free(CRMF* crmf);

// A new flat record of the message, holding a counted reference to it, or
// null. A signature POP is verified with the template's public key over the
// DER of the CertRequest, or over poposkInput when the message carries one
// (RFC 4211; poposkInput's key must then be the template's key): a POP that
// does not verify is reported in pop_result, the split still succeeds.
// keyEncipherment and keyAgreement POPs, and a signature POP without a
// template key, fail the split.
CRMF* CRMF_split(CRMF_CERT_REQ_MSG* msg);

// Converts local text (code page 1251; len -1: up to the terminator) to
// UTF-8 and appends it to the string; the converted copy is wiped. 1/0.
int CRMF_append_text(ASN1_STRING* s, const char* text, int len);

}  // namespace cadb
