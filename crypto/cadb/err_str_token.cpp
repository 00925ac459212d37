// Error strings of the token medium drivers: the eToken driver's library
// (ETOKEN), the ruToken driver's functions under the stream library and its
// entry records (RUTOKEN).
#include "crypto/bio/etoken.h"
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
    {ERR_FUNC(ETOKEN_F_FILE_INFO_NEW), "ETOKEN_FILE_INFO_new"},
};

constexpr ERR_STRING_DATA kETokenReasons[] = {
    {ERR_REASON(TOKEN_R_STEP_FAILED), "token operation failed"},
    {ERR_REASON(TOKEN_R_BAD_OPEN_MODE), "bad open mode"},
    {ERR_REASON(TOKEN_R_NO_READER), "no token reader"},
    {ERR_REASON(TOKEN_R_NO_TOKEN), "no token in reader"},
    {ERR_REASON(TOKEN_R_LOGIN_FAILED), "token login failed"},
    {ERR_REASON(TOKEN_R_PIN_TOO_LONG), "PIN too long"},
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
                          {{ERR_LIB_ETOKEN, kETokenFunctions}, {ERR_LIB_ETOKEN, kETokenReasons}});
}

void ERR_load_RUTOKEN_strings() {
    ERR_load_strings_once(g_rutoken_loaded, {{ERR_LIB_BIO_, kRuTokenFunctions},
                                             {ERR_LIB_RUTOKEN, kRuTokenRecordFunctions}});
}

}  // namespace cadb
