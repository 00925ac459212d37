#include "crypto/pkcs11/pkcs11_err.h"

#include "crypto/core/err_str.h"
#include "crypto/pkcs11/pkcs11_module.h"

namespace cadb {
namespace {

// Only these two function codes have names; the others print by number.
constexpr ERR_STRING_DATA kFunctions[] = {
    {ERR_FUNC(PKCS11_F_PKCS11_MODULE_NEW), "PKCS11_MODULE_new"},
    {ERR_FUNC(PKCS11_F_PKCS11_MODULE_GET_BY_NAME), "PKCS11_MODULE_get_by_name"},
};

constexpr ERR_STRING_DATA kReasons[] = {
    {ERR_REASON(PKCS11_R_MODULE_NOT_FOUND), "PKCS11 module not found"},
    {ERR_REASON(PKCS11_R_FUNCTION_NOT_FOUND), "function not found"},
    {ERR_REASON(PKCS11_R_GET_FUNCTION_LIST_ERROR), "C_GetFunctionList function error"},
    {ERR_REASON(PKCS11_R_INITIALIZE_ERROR), "C_Initialize function error"},
    {ERR_REASON(PKCS11_R_BUFFER_TOO_SMALL), "buffer too small"},
    {ERR_REASON(PKCS11_R_LOGIN_FAILED), "login failed"},
    {ERR_REASON(PKCS11_R_TOKEN_NOT_PRESENT), "token not present in its slot"},
    {ERR_REASON(PKCS11_R_GET_TOKEN_INFO_ERROR), "getting token info error"},
    {ERR_REASON(PKCS11_R_OPEN_SESSION_ERROR), "opening session error"},
};

ERR_LOAD_FLAG g_loaded;

}  // namespace

void ERR_load_PKCS11_strings() {
    ERR_load_strings_once(g_loaded, {{ERR_LIB_PKCS11, kFunctions}, {ERR_LIB_PKCS11, kReasons}});
}

}  // namespace cadb
