// Library 66 (CADB) functions of keys and their parameters.
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/keys/pkey.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(CADB_F_PKEY_PARAMS_NEW), "PKEY_PARAMS_new"},
    {ERR_FUNC(CADB_F_PKEY_PARAMS_GENERATE), "PKEY_PARAMS_generate"},
    {ERR_FUNC(CADB_F_PKEY_NEW), "PKEY_new"},
    {ERR_FUNC(CADB_F_PKEY_GENERATE), "PKEY_generate"},
    {ERR_FUNC(CADB_F_PKEY_SPLIT), "PKEY_split"},
    {ERR_FUNC(CADB_F_PKEY_READ_BUFFER), "PKEY_read_buffer"},
};

ERR_LOAD_FLAG g_loaded;

}  // namespace

void ERR_load_CADB_keys_strings() { ERR_load_strings_once(g_loaded, {{ERR_LIB_CADB, kFunctions}}); }

}  // namespace cadb
