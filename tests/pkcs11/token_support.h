// Helpers for the tests that work on the SoftHSM2 token: owners for
// contexts and templates, and a PIN source that counts how often it is asked.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include "crypto/pkcs11/pkcs11_obj.h"
#include "tests/pkcs11/softhsm.h"

namespace cadb::testing {

// What the PIN callback answers: the PIN, or a forced result.
struct PinSource {
    std::string pin = kUserPin;
    int forced_result = 0;  // used when nonzero
    int calls = 0;
    int last_size = -1;
    std::string last_arg;
};

// Passed as the context's PIN argument.
inline int pin_from_source(char* buffer, int size, int /*rwflag*/, void* arg) {
    auto* src = static_cast<PinSource*>(arg);
    ++src->calls;
    src->last_size = size;
    if (src->forced_result != 0) return src->forced_result;
    const int n = std::min<int>(size, static_cast<int>(src->pin.size()));
    std::memcpy(buffer, src->pin.data(), static_cast<std::size_t>(n));
    return n;
}

// A context on path with the source's PIN; opened when open is set.
inline PKCS11_OBJ_ptr make_context(const char* path, PinSource* pins, bool open = true) {
    PKCS11_set_passwd_cb(pin_from_source);
    PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
    EXPECT_TRUE(ctx);
    if (!ctx) return ctx;
    EXPECT_EQ(PKCS11_OBJ_set_path(ctx.get(), path), 1);
    if (pins != nullptr) {
        EXPECT_EQ(PKCS11_OBJ_set_pin_arg(ctx.get(), pins), 1);
    }
    if (open) {
        EXPECT_EQ(PKCS11_OBJ_open(ctx.get()), 1);
    }
    return ctx;
}

// Opened and logged in with the right PIN.
inline PKCS11_OBJ_ptr logged_in(const char* path = kToken) {
    static PinSource pins;
    PKCS11_OBJ_ptr ctx = make_context(path, &pins);
    if (ctx) {
        EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
    }
    return ctx;
}

}  // namespace cadb::testing
