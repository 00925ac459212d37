// The error texts the program loads beyond the library's own: the token
// library's table (81) with the utilities' functions, and the iKey driver's
// library (82), whose functions and reasons report under the stream library
// and are named here.

#include "admin/err_tables.h"

#include "admin/signtool.h"
#include "admin/tasset.h"
#include "crypto/bio/rutoken_fs.h"
#include "crypto/core/err_str.h"
#include "crypto/pkcs11/pkcs11_err.h"

namespace cadb {
namespace {

constexpr ERR_STRING_DATA kLibraryNames[] = {
    {ERR_LIB_ENTRY(ERR_LIB_IKSDK), "IKSDK routines"},
};

constexpr ERR_STRING_DATA kUtilityFunctions[] = {
    {ERR_FUNC(PKCS11_F_TASSET_INIT_TOKEN), "Tasset_init_token"},
    {ERR_FUNC(PKCS11_F_TASSET_REMOVE_CERTIFICATE), "Tasset_remove_certificate"},
    {ERR_FUNC(PKCS11_F_TASSET_REMOVE_KEY), "Tasset_remove_key"},
};

constexpr ERR_STRING_DATA kIkeyFunctions[] = {
    {ERR_FUNC(221), "IKSDK_login"},         {ERR_FUNC(222), "IKSDK_new"},
    {ERR_FUNC(223), "IKSDK_file_open"},     {ERR_FUNC(224), "IKSDK_file_create"},
    {ERR_FUNC(225), "IKSDK_file_write"},    {ERR_FUNC(226), "IKSDK_file_read"},
    {ERR_FUNC(227), "IKSDK_file_delete"},   {ERR_FUNC(228), "IKSDK_file_get_info"},
    {ERR_FUNC(229), "IKSDK_dir_get_info"},  {ERR_FUNC(230), "IKSDK_root_dir_open"},
    {ERR_FUNC(231), "IKSDK_dir_create"},    {ERR_FUNC(232), "IKSDK_dir_open"},
    {ERR_FUNC(233), "IKSDK_chdir"},         {ERR_FUNC(234), "IKSDK_touch"},
    {ERR_FUNC(235), "IKSDK_flush"},
};

// The sign-tool records' functions, under the ASN.1 library.
constexpr ERR_STRING_DATA kSignToolFunctions[] = {
    {ERR_FUNC(ASN1_F_ISSUER_SIGN_TOOL_NEW), "ISSUER_SIGN_TOOL_new"},
    {ERR_FUNC(ASN1_F_D2I_ISSUER_SIGN_TOOL), "d2i_ISSUER_SIGN_TOOL"},
};

// The driver's reasons, under the stream library.
constexpr ERR_STRING_DATA kIkeyReasons[] = {
    {ERR_REASON(TOKEN_R_NO_TOKEN), "token not found"},
    {ERR_REASON(TOKEN_R_LOGIN_FAILED), "login failed"},
    {ERR_REASON(TOKEN_R_PIN_TOO_LONG), "phrase is too short or reading failed"},
};

ERR_LOAD_FLAG g_utilities;
ERR_LOAD_FLAG g_ikey;

}  // namespace

void ERR_load_IKSDK_strings() {
    ERR_load_strings_once(g_ikey, {{0, kLibraryNames},
                                   {ERR_LIB_IKSDK, kIkeyFunctions},
                                   // The driver queues under the stream library
                                   // with these codes: its lines get the names
                                   // too.
                                   {ERR_LIB_BIO_, kIkeyFunctions},
                                   {ERR_LIB_BIO_, kIkeyReasons}});
}

void Tasset_load_error_strings() {
    ERR_load_PKCS11_strings();
    ERR_load_strings_once(g_utilities, {{ERR_LIB_PKCS11, kUtilityFunctions},
                                        {ERR_LIB_ASN1_, kSignToolFunctions}});
    ERR_load_IKSDK_strings();
}

}  // namespace cadb
