// Library 66 (CADB) functions and reasons of the key-store context, file
// input and output over media, the password-encrypted format and shared
// secrets.
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/store/media_io.h"
#include "crypto/store/pse_ctx.h"
#include "crypto/store/shared_secret.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(CADB_F_SHARED_SECRET_GENERATE), "SHARED_SECRET_generate"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_PARAMS), "SHARED_SECRET_get_params"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_READ_PARAMS), "SHARED_SECRET_read_params"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_POINT), "SHARED_SECRET_get_point"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_ADD_POINT), "SHARED_SECRET_add_point"},
    {ERR_FUNC(CADB_F_SHARED_SECRET_GET_SECRET), "SHARED_SECRET_get_secret"},
    {ERR_FUNC(CADB_F_BUFFER_ENCRYPT), "BUFFER_encrypt"},
    {ERR_FUNC(CADB_F_BUFFER_DECRYPT), "BUFFER_decrypt"},
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
};
constexpr ERR_STRING_DATA kReasons[] = {
    {ERR_REASON(CADB_R_KEY_STORE_BUSY), "key store in use by another process"},
    {ERR_REASON(CADB_R_KEY_STORE_EXISTS), "key store already exists"},
    {ERR_REASON(CADB_R_KEY_NAME_TAKEN), "key name already taken"},
    {ERR_REASON(CADB_R_NO_LOCK_FOLDER), "no private folder for the token's lock file"},
    {ERR_REASON(CADB_R_LOCK_FILE_UNUSABLE), "device lock file cannot be opened"},
    {ERR_REASON(CADB_R_NAME_NOT_HELD), "file name the medium cannot hold"},
    {ERR_REASON(CADB_R_NO_MEDIUM), "no medium answers in the device"},
};

ERR_LOAD_FLAG g_loaded;

}  // namespace

void ERR_load_CADB_store_strings() {
    ERR_load_strings_once(g_loaded, {{ERR_LIB_CADB, kFunctions}, {ERR_LIB_CADB, kReasons}});
}

}  // namespace cadb
