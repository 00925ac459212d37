// Error strings of the PKCS#11 library: the module registry and the attribute
// templates. Start-up names only the library; the token administration
// program loads these texts with ERR_load_PKCS11_strings.
#include "crypto/cadb/err_str.h"
#include "crypto/core/err_str.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_template.h"

namespace cadb {
namespace {

// The registry's other codes (103, 115, 116) have no names.
constexpr ERR_STRING_DATA kPkcs11Functions[] = {
    {ERR_FUNC(PKCS11_F_PKCS11_MODULE_NEW), "PKCS11_MODULE_new"},
    {ERR_FUNC(PKCS11_F_PKCS11_MODULE_GET_BY_NAME), "PKCS11_MODULE_get_by_name"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_NEW), "PKCS11_TEMPLATE_new"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_ADD), "PKCS11_TEMPLATE_add"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_FIND), "PKCS11_TEMPLATE_find"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEYS), "PKCS11_TEMPLATE_private_keys"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEYS), "PKCS11_TEMPLATE_public_keys"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_PUBLIC_KEY), "PKCS11_TEMPLATE_public_key"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_PRIVATE_KEY), "PKCS11_TEMPLATE_private_key"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_DERIVED_KEY), "PKCS11_TEMPLATE_derived_key"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_CERTIFICATES), "PKCS11_TEMPLATE_certificates"},
    {ERR_FUNC(PKCS11_F_PKCS11_TEMPLATE_DATA), "PKCS11_TEMPLATE_data"},
};
constexpr ERR_STRING_DATA kPkcs11Reasons[] = {
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

ERR_LOAD_FLAG g_pkcs11_loaded;

}  // namespace

void ERR_load_PKCS11_strings() {
    ERR_load_strings_once(g_pkcs11_loaded,
                          {{ERR_LIB_PKCS11, kPkcs11Functions}, {ERR_LIB_PKCS11, kPkcs11Reasons}});
}

}  // namespace cadb
