// Error strings of the CRMF and CMC front ends and of the message records'
// readers.
#include "crypto/asn1/asn1_read.h"
#include "crypto/cadb/err_str.h"
#include "crypto/cms/cmc.h"
#include "crypto/cms/crmf.h"
#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kCmcFunctions[] = {
    {ERR_FUNC(CADB_F_CMC_NEW), "CMS_new"},
    {ERR_FUNC(CADB_F_CMC_PUSH_CRMF), "CMS_push_CRMF"},
    {ERR_FUNC(CADB_F_CMC_SET_TRANS_ID), "CMS_set_trans_id"},
    {ERR_FUNC(CADB_F_CMC_TATTR_NEW), "CMS_TATTR_new"},
    {ERR_FUNC(CADB_F_CMC_GET), "CMS_get"},
    {ERR_FUNC(CADB_F_CMC_READ), "CMS_read"},
    {ERR_FUNC(CADB_F_CMC_SPLIT), "CMS_split"},
    {ERR_FUNC(CADB_F_PKI_DATA_READ_BIO), "PKI_DATA_read_bio"},
    {ERR_FUNC(CADB_F_RESPONSE_BODY_READ_BIO), "RESPONSE_BODY_read_bio"},
    {ERR_FUNC(CADB_F_CMC_ADD_STATUS_INFO), "CMS_add_status_info"},
    {ERR_FUNC(CADB_F_CMC_STATUS_NEW), "CMS_STATUS_new"},
    {ERR_FUNC(CADB_F_CMC_ADD_REVREQ_INFO), "CMS_add_revreq_info"},
    {ERR_FUNC(CADB_F_CMC_REVREQ_NEW), "CMS_REVREQ_new"},
    {ERR_FUNC(CADB_F_CMC_TATTR_PUSH), "CMS_TATTR_push"},
    {ERR_FUNC(CADB_F_CMC_SET_OCTET_STRING), "CMS_set_octet_string"},
    {ERR_FUNC(CADB_F_CMP_TCERTREQ_NEW), "CMP_TCERTREQ_new"},
    {ERR_FUNC(CADB_F_CMP_TREQ_NEW), "CMP_TREQ_new"},
    {ERR_FUNC(CADB_F_CMP_PUSH_PKCS10), "CMP_push_PKCS10"},
    {ERR_FUNC(CADB_F_CRMF_NEW), "CRMF_new"},
    {ERR_FUNC(CADB_F_CRMF_SPLIT), "CRMF_split"},
    {ERR_FUNC(CADB_F_CRMF_APPEND_TEXT), "CRMF_append_text"},
};

constexpr ERR_STRING_DATA kCmcReasons[] = {
    {ERR_REASON(CADB_R_UNSUPPORTED_CMC_TYPE), "unsupported CMC content type"},
    {ERR_REASON(CADB_R_UNSUPPORTED_CONTROL), "unsupported CMC control"},
    {ERR_REASON(CADB_R_BAD_CONTROL_VALUE), "bad CMC control value"},
    {ERR_REASON(CADB_R_NUMBER_OUT_OF_RANGE), "number out of range"},
};

constexpr ERR_STRING_DATA kAsn1Functions[] = {
    {ERR_FUNC(ASN1_F_D2I_CRMF_CERT_REQ_MSG), "d2i_CRMF_CERT_REQ_MSG"},
    {ERR_FUNC(ASN1_F_D2I_CMC_PKI_DATA), "d2i_PKI_DATA"},
    {ERR_FUNC(ASN1_F_D2I_CMC_RESPONSE_BODY), "d2i_RESPONSE_BODY"},
};

ERR_LOAD_FLAG g_cmc_loaded;

}  // namespace

void ERR_load_CMC_strings() {
    ERR_load_strings_once(g_cmc_loaded, {{ERR_LIB_CADB, kCmcFunctions},
                                         {ERR_LIB_CADB, kCmcReasons},
                                         {ERR_LIB_ASN1_, kAsn1Functions}});
}

}  // namespace cadb
