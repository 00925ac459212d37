// Library 66 (CADB) functions of certificates, CRLs, requests and chain
// verification.
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/x509/cert_codes.h"
#include "crypto/x509/pkcs10.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(CADB_F_CERT_NEW), "CERT_new"},
    {ERR_FUNC(CADB_F_CERT_READ_BIO), "CERT_read_bio"},
    {ERR_FUNC(CADB_F_CERT_READ_BUFFER), "CERT_read_buffer"},
    {ERR_FUNC(CADB_F_CERT_SPLIT), "CERT_split"},
    {ERR_FUNC(CADB_F_CERT_GET), "CERT_get"},
    {ERR_FUNC(CADB_F_CRL_NEW), "CRL_new"},
    {ERR_FUNC(CADB_F_CRL_READ_BIO), "CRL_read_bio"},
    {ERR_FUNC(CADB_F_CRL_READ_BUFFER), "CRL_read_buffer"},
    {ERR_FUNC(CADB_F_CRL_SPLIT), "CRL_split"},
    {ERR_FUNC(CADB_F_CRL_GET), "CRL_get"},
    {ERR_FUNC(CADB_F_REVOKED_NEW), "REVOKED_new"},
    {ERR_FUNC(CADB_F_X509_VERIFY_ERROR_NEW), "X509_VERIFY_ERROR_new"},
    {ERR_FUNC(CADB_F_CERT_VERIFY), "CERT_verify"},
    {ERR_FUNC(CADB_F_PKCS10_NEW), "PKCS10_new"},
    {ERR_FUNC(CADB_F_PKCS10_SPLIT), "PKCS10_split"},
    {ERR_FUNC(CADB_F_PKCS10_READ_BIO), "PKCS10_read_bio"},
    {ERR_FUNC(CADB_F_PKCS10_READ_BUFFER), "PKCS10_read_buffer"},
    {ERR_FUNC(CADB_F_PKCS10_MAKE), "PKCS10_make"},
    {ERR_FUNC(CADB_F_ADD_ATTRIBUTE_OBJECT), "add_attribute_object"},
};

ERR_LOAD_FLAG g_loaded;

}  // namespace

void ERR_load_CADB_x509_strings() { ERR_load_strings_once(g_loaded, {{ERR_LIB_CADB, kFunctions}}); }

}  // namespace cadb
