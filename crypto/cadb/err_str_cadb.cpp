// Error strings of the certificate-database library (CADB): file input and
// output over the media.
#include "crypto/cadb/err_str.h"
#include "crypto/cadb/media_io.h"
#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kCadbFunctions[] = {
    {ERR_FUNC(CADB_F_CADB_READ_FILE), "CADB_read_file"},
    {ERR_FUNC(CADB_F_CADB_WRITE_FILE), "CADB_write_file"},
    {ERR_FUNC(CADB_F_CADB_ERASE_FILE), "CADB_erase_file"},
    {ERR_FUNC(CADB_F_CADB_MKDIR), "CADB_mkdir"},
};

ERR_LOAD_FLAG g_cadb_loaded;

}  // namespace

void ERR_load_CADB_strings() {
    ERR_load_strings_once(g_cadb_loaded, {{ERR_LIB_CADB, kCadbFunctions}});
}

}  // namespace cadb
