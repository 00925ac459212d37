#include "crypto/core/err.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/core/err_str.h"
#include "crypto/pkcs11/pkcs11_err.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"

namespace cadb {
namespace {

std::string reason(int r) {
    const char* s = ERR_reason_error_string(ERR_pack_code(ERR_LIB_PKCS11, 0, r));
    return s != nullptr ? s : "(none)";
}

TEST(Pkcs11Strings, FunctionsAndReasons) {
    ERR_load_PKCS11_strings();
    EXPECT_STREQ(
        ERR_func_error_string(ERR_pack_code(ERR_LIB_PKCS11, PKCS11_F_PKCS11_MODULE_GET_BY_NAME, 0)),
        "PKCS11_MODULE_get_by_name");
    EXPECT_STREQ(
        ERR_func_error_string(ERR_pack_code(ERR_LIB_PKCS11, PKCS11_F_PKCS11_MODULE_NEW, 0)),
        "PKCS11_MODULE_new");
    // The other codes print by number.
    EXPECT_EQ(ERR_func_error_string(ERR_pack_code(ERR_LIB_PKCS11, PKCS11_F_PKCS11_OBJ_LOGIN, 0)),
              nullptr);
    EXPECT_EQ(reason(PKCS11_R_MODULE_NOT_FOUND), "PKCS11 module not found");
    EXPECT_EQ(reason(PKCS11_R_LOGIN_FAILED), "login failed");
    EXPECT_EQ(reason(PKCS11_R_TOKEN_NOT_PRESENT), "token not present in its slot");
    EXPECT_EQ(reason(PKCS11_R_OPEN_SESSION_ERROR), "opening session error");
    EXPECT_EQ(reason(104), "(none)");
}

}  // namespace
}  // namespace cadb
