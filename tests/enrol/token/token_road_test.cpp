// The request road on a PKCS#11 token: the key store and the keys kept on
// the project's GOST test token, loaded under the CryptoPro module's name
// (whose token keys take the CryptoPro A curve), and every PIN question
// answered by the dialog library's scripted driver playing its PIN dialog.
// The requests are checked by the openssl command with Debian's GOST engine.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "crypto/pkcs11/cryptoki.h"
#include "enrol/identities.h"
#include "enrol/quillon_iface.h"
#include "platform/com/bstr.h"
#include "platform/com/object.h"
#include "platform/module.h"
#include "tests/pkcs11/gost_module.h"
#include "ui/driver.h"
#include "ui/exports.h"
#include "ui/model.h"
#include "wrappers/ui_binding.h"

extern "C" cadb::com::HRESULT DllGetClassObject(const cadb::com::CLSID& rclsid,
                                                const cadb::com::IID& riid, void** ppv);

namespace cadb::enrol::test {
namespace {

namespace fs = std::filesystem;
using namespace cadb::com;

constexpr const char* kTokenPath = "pkcs11:\\mskey-pkcs11";
constexpr const char* kPin = "1234";

// The library's binding, with the PIN question put to the dialog library
// linked into this test, whose driver plays the dialog.
class DriverPinUI : public TLibraryUI {
  public:
    int getPass_pkcs11CBK(char* buf, int size, int rwflag, void* arg) override {
        ++asked;
        return ::getPass_pkcs11CBK(buf, size, rwflag, arg);
    }
    int asked = 0;
};

struct Text {
    explicit Text(const std::string& utf8) : b(bstr_from_utf8(utf8)) {}
    ~Text() { SysFreeString(b); }
    BSTR b;
};

class TokenRoad : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-token-road-XXXXXX";
        dir_ = mkdtemp(tmpl);
        // The test token under the CryptoPro module's name.
        fs::create_directories(dir_ + "/modules");
        fs::create_symlink(std::string(CADB_TEST_MODULES_DIR) + "/libcadbgostp11.so",
                           dir_ + "/modules/libmskey-pkcs11.so");
        setenv(kModulePathEnv, (dir_ + "/modules:" + CADB_TEST_MODULES_DIR).c_str(), 1);
        setenv("CADB_DRIVE_B", dir_.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        control_ = module_load("mskey-pkcs11");
        ASSERT_TRUE(control_);
        ASSERT_TRUE(module_entry(control_, kGostReset, reset_));
        ASSERT_TRUE(module_entry(control_, kGostCount, count_));
        reset_();
        gorget::driver::use(gorget::driver::Mode::models);
        scope_ = std::make_unique<TCurrentUIScope>(&ui_);
        ComPtr<IClassFactory> factory;
        ASSERT_EQ(DllGetClassObject(CLSID_Quillon, IID_IClassFactory, factory.put_void()), S_OK);
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IQuillon, q_.put_void()), S_OK);
        set(&IQuillon::put_ProviderName, "ГОСТ Р 34.10-2001 CP");
        set(&IQuillon::put_ContainerName, kTokenPath);
        set(&IQuillon::put_DefaultPKeyPath, kTokenPath);
    }
    void TearDown() override {
        q_.reset();
        scope_.reset();
        gorget::driver::use(gorget::driver::Mode::automatic);
        if (reset_) reset_();
        unsetenv("CADB_DRIVE_B");
        fs::remove_all(dir_);
    }

    void set(HRESULT (IQuillon::*put)(BSTR), const std::string& value) {
        Text t(value);
        ASSERT_EQ((q_.get()->*put)(t.b), S_OK);
    }
    // The next PIN dialogs: the PIN typed and OK pressed.
    static void pins(int n, const char* pin = kPin) {
        for (int i = 0; i < n; ++i)
            gorget::driver::expect([pin](gorget::DialogHandle& h) {
                EXPECT_EQ(h.template_id(), 1009);
                EXPECT_TRUE(h.type(1008, pin));
                EXPECT_TRUE(h.press(gorget::IDOK));
            });
    }
    HRESULT request(const std::string& dn, std::string& pem) {
        Text name(dn), usage("");
        BSTR out = nullptr;
        const HRESULT hr = q_->createPKCS10(name.b, usage.b, &out);
        pem = out ? bstr_to_utf8(out) : "";
        SysFreeString(out);
        return hr;
    }
    // openssl's text of the request, empty when it does not verify.
    std::string verified_text(const std::string& pem) {
        const std::string file = dir_ + "/req.pem";
        std::ofstream(file) << pem;
        FILE* p = popen(("openssl req -engine gost -in '" + file + "' -verify -noout -text 2>&1")
                            .c_str(),
                        "r");
        std::string text;
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
        const int rc = pclose(p);
        return rc == 0 && text.find("verify OK") != std::string::npos ? text : "";
    }
    static std::string public_key(const std::string& text) {
        const auto at = text.find("Public key:");
        return at == std::string::npos ? std::string() : text.substr(at, 200);
    }
    int keys() { return count_(CKO_PRIVATE_KEY); }

    std::string dir_;
    Module control_;
    GostResetFn reset_ = nullptr;
    GostCountFn count_ = nullptr;
    DriverPinUI ui_;
    std::unique_ptr<TCurrentUIScope> scope_;
    ComPtr<IQuillon> q_;
};

TEST_F(TokenRoad, KeyMadeSavedBackedUpAndLoadedAgain) {
    pins(4);
    std::string first;
    ASSERT_EQ(request("CN=Token;O=Org;", first), S_OK);
    EXPECT_GT(ui_.asked, 0);
    EXPECT_EQ(gorget::driver::failures(), 0);
    const std::string first_text = verified_text(first);
    ASSERT_FALSE(first_text.empty()) << first;
    // A token key takes the CryptoPro A curve.
    EXPECT_NE(first_text.find("CryptoPro-A-ParamSet"), std::string::npos) << first_text;
    EXPECT_EQ(first_text.find("XchA"), std::string::npos) << first_text;
    const int after_first = keys();
    EXPECT_GE(after_first, 1);

    // A second key: the first is kept under the next free name.
    std::string second;
    ASSERT_EQ(request("CN=Second;", second), S_OK);
    const std::string second_text = verified_text(second);
    ASSERT_FALSE(second_text.empty()) << second;
    EXPECT_NE(public_key(first_text), public_key(second_text)) << first_text;
    EXPECT_EQ(keys(), after_first + 1);

    // The key at the default name is read back from the token.
    ASSERT_EQ(q_->put_UseExistingKeySet(1), S_OK);
    std::string again;
    ASSERT_EQ(request("CN=Again;", again), S_OK);
    const std::string again_text = verified_text(again);
    ASSERT_FALSE(again_text.empty()) << again;
    EXPECT_EQ(public_key(again_text), public_key(second_text));
    // The first key, kept under the next free name, is read from there.
    set(&IQuillon::put_DefaultPKeyFileName, "00000002.key");
    std::string backup;
    ASSERT_EQ(request("CN=Backup;", backup), S_OK);
    const std::string backup_text = verified_text(backup);
    ASSERT_FALSE(backup_text.empty()) << backup;
    EXPECT_EQ(public_key(backup_text), public_key(first_text));
    EXPECT_EQ(keys(), after_first + 1);
    EXPECT_EQ(gorget::driver::failures(), 0);
}

// A key made inside the token is one object, which cannot be copied: the
// page's own name is the name it is left under.
TEST_F(TokenRoad, ThePagesOwnKeyNameNamesTheTokenKey) {
    pins(4);
    set(&IQuillon::put_DefaultPKeyFileName, "Mine.KEY");
    std::string made;
    ASSERT_EQ(request("CN=Mine;", made), S_OK);
    const std::string made_text = verified_text(made);
    ASSERT_FALSE(made_text.empty()) << made;
    EXPECT_EQ(keys(), 1);
    ASSERT_EQ(q_->put_UseExistingKeySet(1), S_OK);
    set(&IQuillon::put_DefaultPKeyFileName, "mine.key");
    std::string again;
    ASSERT_EQ(request("CN=Again;", again), S_OK);
    EXPECT_EQ(public_key(verified_text(again)), public_key(made_text));
    EXPECT_EQ(gorget::driver::failures(), 0);
}

TEST_F(TokenRoad, ADiskKeyTakesTheExchangeCurve) {
    set(&IQuillon::put_ContainerName, "b:\\store");
    set(&IQuillon::put_DefaultPKeyPath, "b:\\keys");
    std::string pem;
    ASSERT_EQ(request("CN=Disk;", pem), S_OK);
    const std::string text = verified_text(pem);
    ASSERT_FALSE(text.empty()) << pem;
    EXPECT_NE(text.find("CryptoPro-XchA-ParamSet"), std::string::npos) << text;
}

TEST_F(TokenRoad, AWrongPinWritesNoKey) {
    pins(4, "0000");
    std::string pem;
    EXPECT_NE(request("CN=Refused;", pem), S_OK);
    EXPECT_EQ(ui_.asked, 1);
    EXPECT_EQ(pem, "");
    EXPECT_EQ(keys(), 0);
}

}  // namespace
}  // namespace cadb::enrol::test
