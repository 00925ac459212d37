#include "tests/pkcs11/fake_module.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "platform/module.h"
#include "tests/pkcs11/token_support.h"

namespace cadb {
namespace {

using testing::FakeConfig;
using testing::make_context;
using testing::PinSource;

constexpr const char* kFakePath = "pkcs11:\\cadbfakep11";

// Each test starts the module afresh with its own answers.
class FakeModule : public ::testing::Test {
  protected:
    void SetUp() override {
        PKCS11_registry_free_all();
        control_ = module_load("cadbfakep11");
        ASSERT_TRUE(control_);
        ASSERT_TRUE(module_entry(control_, kFakeConfigure, configure_));
        ASSERT_TRUE(module_entry(control_, kFakeCounters, counters_));
        *counters_() = {};
        configure(FakeConfig{});
        ERR_clear_error();
        ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    }
    void TearDown() override {
        PKCS11_registry_free_all();
        ERR_clear_error();
    }
    void configure(const FakeConfig& config) { configure_(&config); }
    testing::FakeCounters& counters() { return *counters_(); }

  private:
    Module control_;
    FakeConfigureFn configure_ = nullptr;
    FakeCountersFn counters_ = nullptr;
};

TEST_F(FakeModule, InitialisedElsewhereIsAcceptedAndLeftRunning) {
    FakeConfig config;
    config.initialize_rv = CKR_CRYPTOKI_ALREADY_INITIALIZED;
    configure(config);
    PKCS11_MODULE_ptr m(PKCS11_MODULE_get_by_name("cadbfakep11"));
    ASSERT_TRUE(m);
    m.reset();
    PKCS11_registry_free_all();
    EXPECT_EQ(counters().initialize, 1);
    EXPECT_EQ(counters().finalize, 0);  // another user started it

    configure(FakeConfig{});
    m.reset(PKCS11_MODULE_get_by_name("cadbfakep11"));
    ASSERT_TRUE(m);
    m.reset();
    PKCS11_registry_free_all();
    EXPECT_EQ(counters().initialize, 2);
    EXPECT_EQ(counters().finalize, 1);
}

TEST_F(FakeModule, OneModuleUnderTwoNames) {
    // "libcadbfakep11" reaches the same file as "cadbfakep11": one record,
    // started once, finalised once.
    PKCS11_MODULE_ptr first(PKCS11_MODULE_get_by_name("cadbfakep11"));
    PKCS11_MODULE_ptr second(PKCS11_MODULE_get_by_name("libcadbfakep11"));
    ASSERT_TRUE(first);
    EXPECT_EQ(second.get(), first.get());
    EXPECT_EQ(first->references, 3);
    EXPECT_EQ(counters().initialize, 1);
    PKCS11_MODULE_ptr third(PKCS11_MODULE_get_by_name("libcadbfakep11"));
    EXPECT_EQ(third.get(), first.get());
    first.reset();
    second.reset();
    third.reset();
    PKCS11_registry_free_all();
    EXPECT_EQ(counters().finalize, 1);
}

TEST_F(FakeModule, RefusedInitialisation) {
    FakeConfig config;
    config.initialize_rv = CKR_GENERAL_ERROR;
    configure(config);
    EXPECT_EQ(PKCS11_MODULE_get_by_name("cadbfakep11"), nullptr);
    EXPECT_EQ(ERR_get_last_rv(), CKR_GENERAL_ERROR);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), PKCS11_R_INITIALIZE_ERROR);
    EXPECT_EQ(counters().finalize, 0);
}

TEST_F(FakeModule, NoSlotsIsNoTokenWithoutError) {
    FakeConfig config;
    config.slot_count = 0;
    configure(config);
    EXPECT_EQ(PKCS11_token_present(kFakePath), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(ERR_get_last_rv(), 0UL);
}

TEST_F(FakeModule, SlotCounts) {
    FakeConfig config;
    config.slot_count = 2;
    config.grow_slots_once = 1;
    configure(config);
    PKCS11_MODULE_ptr m(PKCS11_MODULE_get_by_name("cadbfakep11"));
    ASSERT_TRUE(m);  // asked again after the list changed under it
    EXPECT_EQ(m->slots.size(), 2U);
    CK_SLOT_ID slot = 0;
    ASSERT_EQ(PKCS11_get_slot("pkcs111:\\cadbfakep11", &slot), 1);
    EXPECT_EQ(slot, 101UL);
    m.reset();
    PKCS11_registry_free_all();

    // A count past the array the module was handed is refused.
    config.grow_slots_once = 0;
    config.overstate_slots = 1;
    configure(config);
    EXPECT_EQ(PKCS11_MODULE_get_by_name("cadbfakep11"), nullptr);
    EXPECT_EQ(PKCS11_token_present(kFakePath), 0);
}

TEST_F(FakeModule, AttributeLengthsAreNotTrusted) {
    FakeConfig config;
    config.overstate_attribute = 1;
    configure(config);
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, nullptr);
    PKCS11_TEMPLATE_ptr search(PKCS11_TEMPLATE_data());
    ASSERT_EQ(PKCS11_OBJ_find_first(ctx.get(), search.get()), 1);
    std::array<unsigned char, 16> buf;
    buf.fill(0xEE);
    CK_ULONG len = 4;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, buf.data(), &len), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), PKCS11_R_BUFFER_TOO_SMALL);
    EXPECT_EQ(len, 4UL);
    for (unsigned char b : buf) EXPECT_EQ(b, 0xEE);

    config.overstate_attribute = 0;
    config.unavailable_attribute = 1;
    configure(config);
    len = 0;
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, nullptr, &len), 0);
    EXPECT_EQ(len, 0UL);
    EXPECT_EQ(PKCS11_OBJ_get_attribute(ctx.get(), CKA_VALUE, nullptr, nullptr), 0);
}

TEST_F(FakeModule, TokenWithoutLoginAsksNoPin) {
    PinSource pins;
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, &pins);
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 1), 1);
    EXPECT_EQ(pins.calls, 0);
    EXPECT_EQ(counters().login, 0);
}

TEST_F(FakeModule, MaximumPinLengthZeroMeansSixteen) {
    FakeConfig config;
    config.token_flags = CKF_LOGIN_REQUIRED;
    config.max_pin_len = 0;
    configure(config);
    PinSource pins;
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, &pins);
    EXPECT_EQ(ctx->token_info.ulMaxPinLen, PKCS11_DEFAULT_MAX_PIN);
    ASSERT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
    EXPECT_EQ(pins.last_size, 16);
    EXPECT_EQ(counters().last_pin_len, 4UL);  // exactly the characters typed

    // A token claiming an absurd maximum still gets a bounded buffer.
    config.max_pin_len = ~0UL >> 1;
    configure(config);
    PKCS11_OBJ_ptr huge = make_context(kFakePath, &pins);
    ASSERT_EQ(PKCS11_OBJ_login(huge.get(), 1), 1);
    EXPECT_GT(pins.last_size, 16);
    EXPECT_LE(pins.last_size, 4096);
}

TEST_F(FakeModule, NoPinSpendsNoTryOfTheToken) {
    FakeConfig config;
    config.token_flags = CKF_LOGIN_REQUIRED;
    configure(config);
    PinSource pins;
    pins.pin.clear();  // the dialog was closed
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, &pins);
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 0);
    EXPECT_EQ(pins.calls, 1);
    EXPECT_EQ(counters().login, 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_R_INTERNAL);

    // The context stays usable: the next answer logs in.
    pins.pin = "1234";
    EXPECT_EQ(PKCS11_OBJ_login(ctx.get(), 0), 1);
    EXPECT_EQ(counters().login, 1);
}

TEST_F(FakeModule, LoopingSearchEnds) {
    FakeConfig config;
    config.repeat_find = 1;
    configure(config);
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, nullptr);
    // The object never goes away: the destroy loop ends and says so.
    EXPECT_EQ(PKCS11_OBJ_destroy_keys(ctx.get(), "x"), 0);
    std::vector<std::string> names;
    EXPECT_EQ(PKCS11_walk_dir(
                  "pkcs11:\\cadbfakep11", PKCS11_WALK_PUBLIC_KEYS | PKCS11_WALK_ALL,
                  [](const char* n, void* u) {
                      static_cast<std::vector<std::string>*>(u)->push_back(n);
                      return 1;
                  },
                  &names),
              1);
    EXPECT_EQ(names, std::vector<std::string>{"pkcs11:\\cadbfakep11\\fake value"});
}

TEST_F(FakeModule, FailedSearchIsNotNothingFound) {
    FakeConfig config;
    config.refuse_find = 1;
    configure(config);
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, nullptr);
    EXPECT_EQ(PKCS11_OBJ_find_private_key(ctx.get(), "x", nullptr), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_DEVICE_REMOVED);
    ERR_clear_error();
    EXPECT_EQ(PKCS11_OBJ_destroy_certificates(ctx.get(), "x"), 0);
    EXPECT_NE(ERR_peek_error(), 0UL);
    EXPECT_EQ(PKCS11_file_erase("pkcs11:\\cadbfakep11\\x"), 0);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), PKCS11_F_PKCS11_FILE_ERASE);
    EXPECT_EQ(PKCS11_walk_dir(
                  "pkcs11:\\cadbfakep11", PKCS11_WALK_CERTIFICATES,
                  [](const char*, void*) { return 1; }, nullptr),
              0);
}

TEST_F(FakeModule, SessionsAreClosed) {
    {
        PKCS11_OBJ_ptr ctx = make_context(kFakePath, nullptr);
        EXPECT_EQ(counters().open_sessions, 1);
        ASSERT_EQ(PKCS11_OBJ_open(ctx.get()), 1);  // the earlier session is closed
        EXPECT_EQ(counters().open_sessions, 1);
    }
    EXPECT_EQ(counters().open_sessions, 0);
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\cadbfakep11\\fake"), 1);
    EXPECT_EQ(PKCS11_file_exists("pkcs11:\\cadbfakep11\\other"), 0);
    EXPECT_EQ(counters().open_sessions, 0);
}

TEST_F(FakeModule, MechanismList) {
    PKCS11_OBJ_ptr ctx = make_context(kFakePath, nullptr);
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(ctx.get(), CKM_GOSTR3410), 1);
    EXPECT_EQ(PKCS11_OBJ_has_mechanism(ctx.get(), CKM_GOSTR3411), 0);
}

}  // namespace
}  // namespace cadb
