// Objects on the tests' SoftHSM2 token for the media layer's PKCS#11 paths:
// a certificate under a CKA_ID is all the file view looks at.
#pragma once

#include <string>

#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/pkcs11/pkcs11_template.h"
#include "tests/pkcs11/token_support.h"

namespace cadb::testing {

inline void create_certificate(PKCS11_OBJ* ctx, const std::string& id) {
    ASSERT_NE(ctx, nullptr);
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_certificates());
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_ID, id.c_str()), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_SUBJECT, "\x30\x00"), 1);
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_VALUE, "certificate bytes"), 1);
    ASSERT_EQ(PKCS11_OBJ_create(ctx, t.get()), 1);
}

}  // namespace cadb::testing
