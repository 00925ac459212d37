// Error strings of the token medium drivers: the eToken driver's library
// (ETOKEN), the ruToken driver's functions under the stream library and its
// entry records (RUTOKEN). The eToken R2 vendor library's entries take the
// ETOKEN library's codes 100-112; the other eToken driver's functions lie
// above them, its entry constructor sharing code 112 and its name.
#include "crypto/bio/etoken.h"
#include "crypto/bio/etoken_r2.h"
#include "crypto/bio/rutoken.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kETokenFunctions[] = {
    {ERR_FUNC(ETOKEN_F_BIND), "ETOKEN_bind"},
    {ERR_FUNC(ETOKEN_F_LOGIN), "ETOKEN_login"},
    {ERR_FUNC(ETOKEN_F_OPEN), "ETOKEN_open"},
    {ERR_FUNC(ETOKEN_F_READ), "ETOKEN_read"},
    {ERR_FUNC(ETOKEN_F_WRITE), "ETOKEN_write"},
    {ERR_FUNC(ETOKEN_F_WRITE_BACK), "ETOKEN_write_back"},
    {ERR_FUNC(ETOKEN_F_LOAD), "ETOKEN_load"},
    {ERR_FUNC(ETOKEN_F_LIST), "ETOKEN_list_dir"},
    {ERR_FUNC(ETOKEN_F_DELETE), "ETOKEN_delete"},
    // ETOKEN_F_FILE_INFO_NEW prints from the eToken R2 library's names.
};

constexpr ERR_STRING_DATA kETokenReasons[] = {
    {ERR_REASON(TOKEN_R_STEP_FAILED), "token operation failed"},
    {ERR_REASON(TOKEN_R_BAD_OPEN_MODE), "bad open mode"},
    {ERR_REASON(TOKEN_R_NO_READER), "no token reader"},
    {ERR_REASON(TOKEN_R_NO_TOKEN), "no token in reader"},
    {ERR_REASON(TOKEN_R_LOGIN_FAILED), "token login failed"},
    {ERR_REASON(TOKEN_R_PIN_TOO_LONG), "PIN too long"},
};

constexpr ERR_STRING_DATA kETokenR2Functions[] = {
    {ERR_FUNC(vendor::ETR2_F_INIT), "ETOKEN_init"},
    {ERR_FUNC(vendor::ETR2_F_GET_CONFIG), "ETOKEN_get_config"},
    {ERR_FUNC(vendor::ETR2_F_GET_FILE_INFO), "ETOKEN_get_file_info"},
    {ERR_FUNC(vendor::ETR2_F_IS_FILE_EXIST), "ETOKEN_is_file_exist"},
    {ERR_FUNC(vendor::ETR2_F_LOGIN), "ETOKEN_login"},
    {ERR_FUNC(vendor::ETR2_F_LOGOUT), "ETOKEN_logout"},
    {ERR_FUNC(vendor::ETR2_F_CHANGE_PASSWORD), "ETOKEN_change_password"},
    {ERR_FUNC(vendor::ETR2_F_CREATE_DIRECTORY), "ETOKEN_create_directory"},
    {ERR_FUNC(vendor::ETR2_F_CREATE_FILE), "ETOKEN_create_file"},
    {ERR_FUNC(vendor::ETR2_F_DELETE), "ETOKEN_delete"},
    {ERR_FUNC(vendor::ETR2_F_WRITE), "ETOKEN_write"},
    {ERR_FUNC(vendor::ETR2_F_READ), "ETOKEN_read"},
    {ERR_FUNC(vendor::ETR2_F_FILE_INFO_NEW), "ETOKEN_FILE_INFO_new"},
};

constexpr ERR_STRING_DATA kETokenR2Reasons[] = {
    {ERR_REASON(vendor::ETR2_R_NO_TOKEN), "no token"},
    {ERR_REASON(vendor::ETR2_R_NOT_FOUND), "file not found"},
    {ERR_REASON(vendor::ETR2_R_EXISTS), "file exists"},
    {ERR_REASON(vendor::ETR2_R_LOGIN_FAILED), "token login failed"},
    {ERR_REASON(vendor::ETR2_R_NO_SPACE), "no space on token"},
    {ERR_REASON(vendor::ETR2_R_BAD_ARGUMENT), "bad argument"},
};

// The stream library's functions the media drivers report under.
constexpr ERR_STRING_DATA kBioDriverFunctions[] = {
    {ERR_FUNC(BIO_F_BIO_CTRL_), "BIO_ctrl"},
    {ERR_FUNC(BIO_F_BIO_WRITE_), "BIO_write"},
};

constexpr ERR_STRING_DATA kBioDriverReasons[] = {
    {ERR_REASON(TOKEN_R_BAD_OPEN_MODE), "bad fopen mode"},
};

constexpr ERR_STRING_DATA kRuTokenFunctions[] = {
    {ERR_FUNC(RUTOKEN_F_LOAD), "RUTOKEN_load"},
    {ERR_FUNC(RUTOKEN_F_OPEN), "RUTOKEN_open"},
    {ERR_FUNC(RUTOKEN_F_READ), "RUTOKEN_read"},
    {ERR_FUNC(RUTOKEN_F_WRITE), "RUTOKEN_write"},
    {ERR_FUNC(RUTOKEN_F_WRITE_BACK), "RUTOKEN_write_back"},
    {ERR_FUNC(RUTOKEN_F_LOGIN), "RUTOKEN_login"},
    {ERR_FUNC(RUTOKEN_F_LIST), "RUTOKEN_list_dir"},
    {ERR_FUNC(RUTOKEN_F_DELETE), "RUTOKEN_delete"},
    {ERR_FUNC(RUTOKEN_F_BIND), "RUTOKEN_bind"},
};

constexpr ERR_STRING_DATA kRuTokenRecordFunctions[] = {
    {ERR_FUNC(RUTOKEN_F_FILE_INFO_NEW), "RUTOKEN_FILE_INFO_new"},
};

ERR_LOAD_FLAG g_etoken_loaded;
ERR_LOAD_FLAG g_rutoken_loaded;

}  // namespace

void ERR_load_ETOKEN_strings() {
    ERR_load_strings_once(g_etoken_loaded,
                          {{ERR_LIB_ETOKEN, kETokenFunctions},
                           {ERR_LIB_ETOKEN, kETokenReasons},
                           {ERR_LIB_ETOKEN, kETokenR2Functions},
                           {ERR_LIB_ETOKEN, kETokenR2Reasons},
                           {ERR_LIB_BIO_, kBioDriverFunctions},
                           {ERR_LIB_BIO_, kBioDriverReasons}});
}

void ERR_load_RUTOKEN_strings() {
    ERR_load_strings_once(g_rutoken_loaded, {{ERR_LIB_BIO_, kRuTokenFunctions},
                                             {ERR_LIB_RUTOKEN, kRuTokenRecordFunctions}});
}

}  // namespace cadb
