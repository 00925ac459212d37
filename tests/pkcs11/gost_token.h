// The tests' GOST token: the module cadbgostp11 loaded by name, its control
// entries, and a fixture that empties its tokens before every test.
#pragma once

#include <gtest/gtest.h>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "platform/module.h"
#include "tests/pkcs11/gost_module.h"
#include "tests/pkcs11/token_support.h"

namespace cadb::testing {

inline constexpr const char* kGostToken = "pkcs11:\\cadbgostp11";

class GostTokenTest : public ::testing::Test {
  protected:
    void SetUp() override {
        control_ = module_load(kGostModule);
        ASSERT_TRUE(control_);
        ASSERT_TRUE(module_entry(control_, kGostControl, control_fn_));
        ASSERT_TRUE(module_entry(control_, kGostReset, reset_fn_));
        ASSERT_TRUE(module_entry(control_, kGostCount, count_fn_));
        ASSERT_TRUE(module_entry(control_, kGostDigests, digests_fn_));
        reset_fn_();
        PKCS11_set_passwd_cb(pin_from_source);
        ERR_clear_error();
        ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    }
    void TearDown() override {
        reset_fn_();
        ERR_clear_error();
    }
    void control(const GostModuleControl& c) { control_fn_(&c); }
    int count(CK_OBJECT_CLASS cls) { return count_fn_(cls); }
    int digests() { return digests_fn_(); }

    PinSource pins_;

  private:
    Module control_;
    GostControlFn control_fn_ = nullptr;
    GostResetFn reset_fn_ = nullptr;
    GostCountFn count_fn_ = nullptr;
    GostDigestsFn digests_fn_ = nullptr;
};

}  // namespace cadb::testing
