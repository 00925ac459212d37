// Tokens SoftHSM2 cannot play, through a module of the tests' own: no
// maximum PIN length, refusals with each code the program names, an empty
// slot.

#include <gtest/gtest.h>

#include <string>

#include "tests/admin/program.h"

namespace cadb::testing {
namespace {

class FakeToken : public ::testing::Test {
  protected:
    void SetUp() override {
        home_.install_module("libjcPKCS11.so",
                             std::string(CADB_TEST_MODULES_DIR) + "/libtassetfakep11.so");
        log_ = (home_.root() / "calls.log").string();
        home_.set_env("TASSET_FAKE_LOG", log_);
    }
    std::string calls() const { return read_file(log_); }

    TokenHome home_;
    std::string log_;
};

TEST_F(FakeToken, NoMaximumPinLengthMeansSixteen) {
    // Sixteen keys fill the SO PIN.
    const Outcome o = home_.run({"-init"}, "short\n" "ABCDEFGHIJKLMNOP\n" "qrst\n");
    EXPECT_EQ(o.out,
              "Enter token label: short\nEnter SO PIN: ****************\n"
              "Enter user PIN: ****\nOK.\n");
    EXPECT_EQ(o.code, 0);
    // The label blank-padded to 32 bytes, no terminator.
    EXPECT_EQ(calls(),
              "InitToken pin=ABCDEFGHIJKLMNOP label=[short                           ]\n"
              "Login user=0 pin=ABCDEFGHIJKLMNOP\n"
              "InitPIN pin=qrst\n");
}

TEST_F(FakeToken, APinOverTheMaximumIsRefusedNotCarriedOver) {
    // Twenty keys at the SO PIN prompt: refused whole, and its tail does not
    // answer the user PIN prompt; the token is not touched.
    const Outcome o = home_.run({"-init"}, "short\n" "ABCDEFGHIJKLMNOPqrst\n" "1234\n");
    EXPECT_EQ(o.out,
              "Enter token label: short\nEnter SO PIN: ****************\n"
              "Too long: at most 16 characters.\n"
              "Error: can't initialize token 'pkcs11:\\jcPKCS11'.\n");
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(calls(), "");
}

TEST_F(FakeToken, InfoShowsTheFieldsAsTheTokenGivesThem) {
    const Outcome o = home_.run({"-info"}, "1\n");
    EXPECT_EQ(o.out,
              "Root path:      pkcs11:\\jcPKCS11\n"
              "ManufacturerID: Tasset tests                    \n"
              "Model:          fake            \n"
              "SerialNumber:   0000000000000042\n\n"
              "Enter user PIN: *\n"
              "\nPrivate keys:\n\nUser certificates:\n\nCA certificates:\n\nOK.\n");
    EXPECT_EQ(o.code, 0);
}

TEST_F(FakeToken, EachRefusalHasItsLine) {
    const struct {
        const char* rv;
        const char* line;
    } cases[] = {
        {"A0", "User PIN is incorrect.\n"},
        {"A4", "User PIN is locked.\n"},
        {"E0", "Token not present.\n"},
        {"30", "Token error 0x30.\n"},
    };
    for (const auto& c : cases) {
        TokenHome home;
        home.install_module("libjcPKCS11.so",
                            std::string(CADB_TEST_MODULES_DIR) + "/libtassetfakep11.so");
        home.set_env("TASSET_FAKE_LOGIN_RV", c.rv);
        const Outcome o = home.run({"-remcert", "x"}, "1\n");
        EXPECT_EQ(o.out, std::string("Enter user PIN: *\nError: can't remove certificate 'x'.\n") +
                             c.line)
            << c.rv;
        EXPECT_EQ(o.code, 1);
    }
}

TEST_F(FakeToken, EmptySlot) {
    home_.set_env("TASSET_FAKE_NO_TOKEN", "1");
    Outcome o = home_.run({"-info"});
    EXPECT_EQ(o.out,
              "Root path:      pkcs11:\\jcPKCS11\n"
              "Error: can't get token 'pkcs11:\\jcPKCS11' information.\n"
              "Token not present.\n");
    EXPECT_EQ(o.code, 1);
    o = home_.run({"-init"}, "label\n");
    EXPECT_EQ(o.out,
              "Enter token label: label\n"
              "Error: can't initialize token 'pkcs11:\\jcPKCS11'.\n"
              "Token not present.\n");
    EXPECT_EQ(o.code, 1);
    EXPECT_EQ(calls(), "");
}

}  // namespace
}  // namespace cadb::testing
