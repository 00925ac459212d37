#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "tests/pkcs11/token_support.h"

namespace cadb {
namespace {

using testing::kToken;
using testing::logged_in;
using testing::make_context;
using testing::PinSource;

int last_reason() {
    unsigned long e = 0;
    unsigned long last = 0;
    while ((e = ERR_get_error()) != 0) last = e;
    return ERR_code_reason(last);
}

// A data object of this library labelled label holding value.
PKCS11_TEMPLATE_ptr data_template(const std::string& label, const std::string& value) {
    PKCS11_TEMPLATE_ptr t(PKCS11_TEMPLATE_data());
    EXPECT_EQ(PKCS11_TEMPLATE_add_text(t.get(), CKA_LABEL, label.c_str()), 1);
    if (!value.empty()) {
        EXPECT_EQ(PKCS11_TEMPLATE_add(t.get(), CKA_VALUE, value.data(), value.size()), 1);
    }
    return t;
}

std::string read_value(PKCS11_OBJ* ctx) {
    CK_ULONG len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx, CKA_VALUE, nullptr, &len), 1);
    std::string out(len, '\0');
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx, CKA_VALUE, out.data(), &len), 1);
    out.resize(len);
    return out;
}

TEST(TokenObject, OpenReadsTheToken) {
    REQUIRE_SOFTHSM();
    PinSource pins;
    PKCS11_OBJ_ptr ctx = make_context(kToken, &pins, false);
    ERR_reset_last_rv(0x123, TOKEN_CODE_PKCS11);
    ASSERT_EQ(PKCS11_OBJ_open(ctx.get()), 1);
    EXPECT_EQ(ERR_get_last_rv(), 0UL);  // every open starts a fresh account
    EXPECT_NE(ctx->session, 0UL);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(ctx->token_info.label), 4), "cadb");
    EXPECT_NE(ctx->token_info.flags & CKF_LOGIN_REQUIRED, 0UL);
    EXPECT_GE(ctx->token_info.ulMaxPinLen, 4UL);
    // Opening again replaces the session.
    ASSERT_EQ(PKCS11_OBJ_open(ctx.get()), 1);
    EXPECT_NE(ctx->session, 0UL);
}

TEST(TokenObject, OpenFailures) {
    REQUIRE_SOFTHSM();
    ERR_clear_error();
    EXPECT_EQ(PKCS11_OBJ_open(nullptr), 0);
    EXPECT_EQ(last_reason(), ERR_R_NULL_PARAMETER);
    PKCS11_OBJ_ptr no_path(PKCS11_OBJ_new());
    EXPECT_EQ(PKCS11_OBJ_open(no_path.get()), 0);
    EXPECT_EQ(last_reason(), ERR_R_NULL_PARAMETER);

    PKCS11_OBJ_ptr no_module = make_context("pkcs11:\\cadb-no-such-module", nullptr, false);
    EXPECT_EQ(PKCS11_OBJ_open(no_module.get()), 0);
    EXPECT_EQ(last_reason(), ERR_R_INTERNAL);

    PKCS11_OBJ_ptr empty_slot = make_context("pkcs119:\\softhsm2", nullptr, false);
    EXPECT_EQ(PKCS11_OBJ_open(empty_slot.get()), 0);
    EXPECT_EQ(last_reason(), PKCS11_R_TOKEN_NOT_PRESENT);
    EXPECT_EQ(ERR_get_last_rv(), CKR_TOKEN_NOT_PRESENT);
    // Nothing on a context that was never opened.
    EXPECT_EQ(PKCS11_OBJ_login(empty_slot.get(), 0), 0);
    EXPECT_EQ(PKCS11_OBJ_find_next(empty_slot.get()), 0);
    CK_ULONG len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(empty_slot.get(), CKA_VALUE, nullptr, &len), 0);
    ERR_clear_error();
}

TEST(TokenObject, LoginWrongThenRightPin) {
    REQUIRE_SOFTHSM();
    PinSource wrong;
    wrong.pin = "9999";
    PKCS11_OBJ_ptr ctx = make_context(kToken, &wrong);
    ERR_clear_error();
    // Forced, so that a login left by an earlier test is undone first.
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 1), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_PIN_INCORRECT);
    EXPECT_EQ(ERR_get_last_rv_kind(), TOKEN_CODE_PKCS11);
    EXPECT_EQ(last_reason(), PKCS11_R_LOGIN_FAILED);
    EXPECT_EQ(wrong.calls, 1);
    EXPECT_EQ(wrong.last_size, static_cast<int>(ctx->token_info.ulMaxPinLen));

    // The context stays usable for another attempt.
    PinSource right;
    ASSERT_EQ(PKCS11_OBJ_set_pin_arg(ctx.get(), &right), 1);
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
    EXPECT_EQ(right.calls, 1);

    // The login lives in the slot's shared session: another context asks
    // nothing, and a forced login asks again.
    PinSource later;
    PKCS11_OBJ_ptr other = make_context(kToken, &later);
    EXPECT_EQ(PKCS11_OBJ_login(other.get(), 0), 1);
    EXPECT_EQ(later.calls, 0);
    EXPECT_EQ(PKCS11_OBJ_login(other.get(), 1), 1);
    EXPECT_EQ(later.calls, 1);
}

TEST(TokenObject, PinCallbackOutOfRange) {
    REQUIRE_SOFTHSM();
    PinSource pins;
    PKCS11_OBJ_ptr ctx = make_context(kToken, &pins);
    for (int result : {-1, static_cast<int>(ctx->token_info.ulMaxPinLen) + 1}) {
        pins.forced_result = result;
        ERR_clear_error();
        ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
        EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 1), 0);
        EXPECT_EQ(last_reason(), ERR_R_INTERNAL);
        EXPECT_EQ(ERR_get_last_rv(), 0UL);  // no C_Login was made
    }
    // No callback at all.
    PKCS11_OBJ_ptr bare = make_context(kToken, nullptr);
    bare->pin_cb = nullptr;
    EXPECT_EQ(PKCS11_OBJ_login(bare.get(), 1), 0);
    EXPECT_EQ(last_reason(), ERR_R_NULL_PARAMETER);
    // Without an argument the callback is handed the context's path.
    PKCS11_set_passwd_cb(+[](char*, int, int, void* arg) {
        return std::string(static_cast<const char*>(arg)) == kToken ? -1 : -2;
    });
    PKCS11_OBJ_ptr by_path(PKCS11_OBJ_new());
    ASSERT_EQ(PKCS11_OBJ_set_path(by_path.get(), kToken), 1);
    ASSERT_EQ(PKCS11_OBJ_open(by_path.get()), 1);
    EXPECT_EQ(PKCS11_OBJ_login(by_path.get(), 1), 0);
    ERR_clear_error();
}

TEST(TokenObject, DataObjectRoundTrip) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = logged_in();
    const std::string value("key store\0bytes\xff", 16);
    PKCS11_TEMPLATE_ptr t = data_template("cadb round trip", value);
    ASSERT_EQ(PKCS11_OBJ_create(ctx.get(), t.get()), 1);
    EXPECT_NE(ctx->object, 0UL);
    EXPECT_EQ(read_value(ctx.get()), value);

    // A buffer one byte short is refused and left untouched.
    std::array<char, 15> small;
    small.fill('#');
    CK_ULONG len = small.size();
    ERR_clear_error();
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, small.data(), &len), 0);
    EXPECT_EQ(last_reason(), PKCS11_R_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, small.size());
    for (char c : small) EXPECT_EQ(c, '#');

    ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    PKCS11_TEMPLATE_ptr update(PKCS11_TEMPLATE_new());
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(update.get(), CKA_LABEL, "cadb relabelled"), 1);
    ASSERT_EQ(PKCS11_OBJ_set_attributes(ctx.get(), update.get()), 1);
    // A value the token keeps read-only is refused with the token's reason.
    PKCS11_TEMPLATE_ptr read_only(PKCS11_TEMPLATE_new());
    ASSERT_EQ(PKCS11_TEMPLATE_add_text(read_only.get(), CKA_VALUE, "replaced"), 1);
    EXPECT_EQ(PKCS11_OBJ_set_attributes(ctx.get(), read_only.get()), 0);
    EXPECT_EQ(ERR_get_last_rv(), 0x10UL);  // CKR_ATTRIBUTE_READ_ONLY

    // Found again from another context by its label.
    PKCS11_OBJ_ptr reader = logged_in();
    PKCS11_TEMPLATE_ptr search = data_template("cadb relabelled", "");
    ASSERT_EQ(PKCS11_OBJ_find_first(reader.get(), search.get()), 1);
    EXPECT_EQ(read_value(reader.get()), value);
    std::array<char, 64> label{};
    len = label.size();
    ASSERT_EQ(PKCS11_OBJ_get_attribute(reader.get(), CKA_APPLICATION, label.data(), &len), 1);
    EXPECT_EQ(std::string(label.data(), len), "Halberd software");

    ASSERT_EQ(PKCS11_OBJ_destroy(reader.get()), 1);
    EXPECT_EQ(reader->object, 0UL);
    ERR_clear_error();
    EXPECT_EQ(PKCS11_OBJ_find_first(reader.get(), search.get()), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);  // nothing found is not an error
    // Destroying with no current object is refused.
    EXPECT_EQ(PKCS11_OBJ_destroy(reader.get()), 0);
    ERR_clear_error();
}

TEST(TokenObject, SearchWalksEveryMatch) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = logged_in();
    for (int i = 0; i < 3; ++i) {
        PKCS11_TEMPLATE_ptr t = data_template("cadb walk", std::to_string(i));
        ASSERT_EQ(PKCS11_OBJ_create(ctx.get(), t.get()), 1);
    }
    PKCS11_TEMPLATE_ptr search = data_template("cadb walk", "");
    ASSERT_EQ(PKCS11_OBJ_find_init(ctx.get(), search.get()), 1);
    std::vector<std::string> seen;
    while (PKCS11_OBJ_find_next(ctx.get())) seen.push_back(read_value(ctx.get()));
    ASSERT_EQ(PKCS11_OBJ_find_final(ctx.get()), 1);
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, (std::vector<std::string>{"0", "1", "2"}));
}

TEST(TokenObject, Mechanisms) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = logged_in();
    constexpr CK_MECHANISM_TYPE kSha256 = 0x250;
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(ctx.get(), kSha256), 1);
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(ctx.get(), 0x8000FEED), 0);
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(nullptr, kSha256), 0);
    ERR_clear_error();
}

TEST(TokenObject, ManyThreadsLogInAndRead) {
    REQUIRE_SOFTHSM();
    {
        PKCS11_OBJ_ptr ctx = logged_in();
        PKCS11_TEMPLATE_ptr t = data_template("cadb shared", "shared value");
        ASSERT_EQ(PKCS11_OBJ_create(ctx.get(), t.get()), 1);
        // Logged out again, so that the threads race for the one login
        // every other thread then finds done.
        const int slot = PKCS11_MODULE_slot_index(ctx->module.get(), ctx->slot);
        ASSERT_GE(slot, 0);
        ASSERT_EQ(ctx->module->functions->C_Logout(ctx->module->slots[slot].session), CKR_OK);
    }
    constexpr int kThreads = 6;
    std::atomic<int> failures{0};
    std::atomic<int> pins_asked{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&failures, &pins_asked] {
            for (int round = 0; round < 10; ++round) {
                PinSource pins;
                PKCS11_OBJ_ptr ctx(PKCS11_OBJ_new());
                ctx->pin_cb = testing::pin_from_source;
                if (!PKCS11_OBJ_set_path(ctx.get(), kToken) ||
                    !PKCS11_OBJ_set_pin_arg(ctx.get(), &pins) || !PKCS11_OBJ_open(ctx.get()) ||
                    !PKCS11_OBJ_login(ctx.get(), 0)) {
                    ++failures;
                    continue;
                }
                pins_asked += pins.calls;
                PKCS11_TEMPLATE_ptr search = data_template("cadb shared", "");
                if (PKCS11_OBJ_find_first(ctx.get(), search.get()) != 1) ++failures;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(pins_asked.load(), 1);
}

}  // namespace
}  // namespace cadb
