// Library 66 (CADB): the reasons every folder reports, and the
// functions of the encodings, names and attributes; and the byte-buffer
// operations, which report under the buffer library.
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(CADB_F_X2TEXT), "x2text"},
    {ERR_FUNC(CADB_F_X2PEM), "x2pem"},
    {ERR_FUNC(CADB_F_X2DER), "x2der"},
    {ERR_FUNC(CADB_F_X509_NAME_SPLIT), "X509_NAME_split"},
    {ERR_FUNC(CADB_F_X509_ATTRIBUTES_SPLIT), "X509_ATTRIBUTES_split"},
    {ERR_FUNC(CADB_F_ATTRIBUTE_NEW), "ATTRIBUTE_new"},
    {ERR_FUNC(CADB_F_ATTRIBUTE_ADD), "ATTRIBUTE_add"},
    {ERR_FUNC(CADB_F_CADB_OID_NEW), "CADB_OID_new"},
    {ERR_FUNC(CADB_F_FINGER_PRINT_GET), "FINGER_PRINT_get"},
};
constexpr ERR_STRING_DATA kCadbReasons[] = {
    {ERR_REASON(CADB_R_ERROR_ADD_ATTRIBUTE), "error add attribute"},
    {ERR_REASON(CADB_R_INTEGRITY_CHECK_FAILURE), "integrity check value failure"},
    {ERR_REASON(CADB_R_ENCRYPTED_DATA_EXPECTED), "encrypted data expected"},
    {ERR_REASON(CADB_R_DIGESTED_DATA_EXPECTED), "digested data expected"},
    {ERR_REASON(CADB_R_DATA_EXPECTED), "data expected"},
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

ERR_LOAD_FLAG g_loaded;
ERR_LOAD_FLAG g_buf_loaded;

}  // namespace

void ERR_load_CADB_shared_strings() {
    ERR_load_strings_once(g_loaded, {{ERR_LIB_CADB, kFunctions}, {ERR_LIB_CADB, kCadbReasons}});
}

void ERR_load_BUF_strings() {
    ERR_load_strings_once(g_buf_loaded, {{ERR_LIB_BUF_, kBufFunctions}});
}

}  // namespace cadb
