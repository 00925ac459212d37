// Error strings of the certificate-database library (CADB): the shared-secret
// front end, file input and output over the media and the encoding
// utilities; and the byte-buffer operations, which report under the buffer
// library.
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/keys/pkey.h"
#include "crypto/store/media_io.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/store/shared_secret.h"
#include "crypto/x509/cert_codes.h"
#include "crypto/x509/pkcs10.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kCadbFunctions[] = {
    {ERR_FUNC(CADB_F_SHARED_SECRET_GENERATE), "SHARED_SECRET_generate"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_PARAMS), "SHARED_SECRET_get_params"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_READ_PARAMS), "SHARED_SECRET_read_params"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_POINT), "SHARED_SECRET_get_point"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_ADD_POINT), "SHARED_SECRET_add_point"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_SECRET), "SHARED_SECRET_get_secret"},
    {ERR_FUNC(CADB_F_BUFFER_ENCRYPT), "BUFFER_encrypt"},
    {ERR_FUNC(CADB_F_BUFFER_DECRYPT), "BUFFER_decrypt"},
    {ERR_FUNC(CADB_F_X2TEXT), "x2text"},
    {ERR_FUNC(CADB_F_X2PEM), "x2pem"},
    {ERR_FUNC(CADB_F_X2DER), "x2der"},
    {ERR_FUNC(CADB_F_X509_NAME_SPLIT), "X509_NAME_split"},
    {ERR_FUNC(CADB_F_X509_ATTRIBUTES_SPLIT), "X509_ATTRIBUTES_split"},
    {ERR_FUNC(CADB_F_ATTRIBUTE_NEW), "ATTRIBUTE_new"},
    {ERR_FUNC(CADB_F_ATTRIBUTE_ADD), "ATTRIBUTE_add"},
    {ERR_FUNC(CADB_F_CADB_OID_NEW), "CADB_OID_new"},
    {ERR_FUNC(CADB_F_FINGER_PRINT_GET), "FINGER_PRINT_get"},
    {ERR_FUNC(CADB_F_CADB_READ_FILE), "CADB_read_file"},
    {ERR_FUNC(CADB_F_CADB_WRITE_FILE), "CADB_write_file"},
    {ERR_FUNC(CADB_F_CADB_ERASE_FILE), "CADB_erase_file"},
    {ERR_FUNC(CADB_F_CADB_MKDIR), "CADB_mkdir"},
    {ERR_FUNC(CADB_F_PSE_CTX_NEW), "PSE_CTX_new"},
    {ERR_FUNC(CADB_F_PSE_CTX_SET), "PSE_CTX_set"},
    {ERR_FUNC(CADB_F_PSE_CTX_READ), "PSE_CTX_read"},
    {ERR_FUNC(CADB_F_PSE_CTX_WRITE), "PSE_CTX_write"},
    {ERR_FUNC(CADB_F_PSE_CTX_CREATE), "PSE_CTX_create"},
    {ERR_FUNC(CADB_F_PSE_CTX_ERASE), "PSE_CTX_erase"},
    {ERR_FUNC(CADB_F_PKEY_PARAMS_NEW), "PKEY_PARAMS_new"},
    {ERR_FUNC(CADB_F_PKEY_PARAMS_GENERATE), "PKEY_PARAMS_generate"},
    {ERR_FUNC(CADB_F_PKEY_NEW), "PKEY_new"},
    {ERR_FUNC(CADB_F_PKEY_GENERATE), "PKEY_generate"},
    {ERR_FUNC(CADB_F_PKEY_SPLIT), "PKEY_split"},
    {ERR_FUNC(CADB_F_PKEY_READ_BUFFER), "PKEY_read_buffer"},
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
constexpr ERR_STRING_DATA kCadbReasons[] = {
    {ERR_REASON(CADB_R_ERROR_ADD_ATTRIBUTE), "error add attribute"},
    {ERR_REASON(CADB_R_INTEGRITY_CHECK_FAILURE), "integrity check value failure"},
    {ERR_REASON(CADB_R_ENCRYPTED_DATA_EXPECTED), "encrypted data expected"},
    {ERR_REASON(CADB_R_DIGESTED_DATA_EXPECTED), "digested data expected"},
    {ERR_REASON(CADB_R_DATA_EXPECTED), "data expected"},
    {ERR_REASON(CADB_R_KEY_STORE_BUSY), "key store in use by another process"},
    {ERR_REASON(CADB_R_KEY_STORE_EXISTS), "key store already exists"},
    {ERR_REASON(CADB_R_UNKNOWN_ALGORITHM), "unknown algorithm"},
    {ERR_REASON(CADB_R_INVALID_ENCODE_TYPE), "invalid encode type"},
    {ERR_REASON(CADB_R_INVALID_PKCS10_VERSION), "invalid PKCS10 version"},
    {ERR_REASON(CADB_R_SUBJECT_IS_EMPTY), "subject is empty"},
    {ERR_REASON(CADB_R_INVALID_DATA), "invalid data"},
    {ERR_REASON(CADB_R_UNABLE_TO_GET_PUBLIC_KEY), "unable to get public key"},
    {ERR_REASON(CADB_R_INVALID_KEY_SIZE), "invalid key size"},
};

constexpr ERR_STRING_DATA kBufFunctions[] = {
    {ERR_FUNC(BUF_F_BUFFER_NEW), "BUFFER_new"},
    {ERR_FUNC(BUF_F_BUFFER_FILL), "BUFFER_fill"},
    {ERR_FUNC(BUF_F_BUFFER_CAT), "BUFFER_cat"},
    {ERR_FUNC(BUF_F_BUFFER_APPEND), "BUFFER_append"},
    {ERR_FUNC(BUF_F_BUFFER_READ_FILE), "BUFFER_read_file"},
    {ERR_FUNC(BUF_F_BUFFER_RAND), "BUFFER_rand"},
    {ERR_FUNC(BUF_F_BUFFER_COMPRESS), "BUFFER_compress"},
    {ERR_FUNC(BUF_F_BUFFER_UNCOMPRESS), "BUFFER_uncompress"},
};

ERR_LOAD_FLAG g_cadb_loaded;
ERR_LOAD_FLAG g_buf_loaded;

}  // namespace

void ERR_load_CADB_strings() {
    ERR_load_strings_once(g_cadb_loaded,
                          {{ERR_LIB_CADB, kCadbFunctions}, {ERR_LIB_CADB, kCadbReasons}});
}

void ERR_load_BUF_strings() {
    ERR_load_strings_once(g_buf_loaded, {{ERR_LIB_BUF_, kBufFunctions}});
}

}  // namespace cadb
