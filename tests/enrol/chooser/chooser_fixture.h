// What the chooser's tests stand on: drives of their own in a fresh folder,
// PKCS#11 modules answering to the names the chooser looks for (the tests'
// GOST module under "rtPKCS11ECP" or "mskey-pkcs11"), objects put on its
// token, and the dialog library's scripted driver.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/pkcs11/cryptoki.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "platform/module.h"
#include "tests/enrol/chooser/gorget_ui.h"
#include "tests/pkcs11/gost_module.h"
#include "ui/driver.h"

namespace cadb::enrol::test {

namespace fs = std::filesystem;

class ChooserFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char templ[] = "/tmp/cadb-chooser-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        root_ = templ;
        fs::create_directories(root_ / "data");
        fs::create_directories(root_ / "modules");
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        setenv(kModulePathEnv, (root_ / "modules").c_str(), 1);
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            unsetenv((std::string("CADB_DRIVE_") + letter).c_str());
        // Drive b: holds a key folder with a key file, a folder below it
        // and a file beside it.
        drive_b_ = root_ / "b";
        fs::create_directories(drive_b_ / "keys" / "old");
        write(drive_b_ / "keys" / "00000001.key");
        write(drive_b_ / "notes.txt");
        setenv("CADB_DRIVE_B", drive_b_.c_str(), 1);
        setenv("CADB_DRIVE_C", (root_ / "no-such-folder").c_str(), 1);
        PKCS11_set_passwd_cb(pkcs11_passwd_cb);
        gorget::driver::use(gorget::driver::Mode::models);
    }
    void TearDown() override {
        EXPECT_EQ(gorget::driver::failures(), 0);
        // The registry keeps a module it loaded: the next test finds only
        // the modules it offers.
        held_.reset();
        PKCS11_registry_free_all();
        control_.reset();
        fs::remove_all(root_);
    }
    static void write(const fs::path& file) {
        FILE* f = std::fopen(file.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("x", f);
        std::fclose(f);
    }

    // The tests' GOST module answers to name from now on; its token sits in
    // slot token_slot. The module stays loaded (with what its token holds)
    // until the test ends.
    void offer_token(const std::string& name, int token_slot = 0) {
        const fs::path module = fs::path(CADB_TEST_MODULES_DIR) / "libcadbgostp11.so";
        fs::create_symlink(module, root_ / "modules" / ("lib" + name + ".so"));
        control_ = module_load(module.string());
        ASSERT_TRUE(control_);
        GostControlFn control = nullptr;
        GostResetFn reset = nullptr;
        ASSERT_TRUE(module_entry(control_, kGostControl, control));
        ASSERT_TRUE(module_entry(control_, kGostReset, reset));
        held_.reset(PKCS11_MODULE_get_by_name(name.c_str()));
        ASSERT_TRUE(held_);
        reset();
        testing::GostModuleControl c;
        c.token_slot = token_slot;
        control(&c);
    }

    // Puts a private key and certificates under these names on the token
    // (logged in for the key, logged out again afterwards).
    void put_objects(const std::string& key, const std::string& user_cert,
                     const std::string& ca_cert) {
        using CK_C_GetFunctionList = CK_RV (*)(CK_FUNCTION_LIST**);
        CK_C_GetFunctionList get = nullptr;
        ASSERT_TRUE(module_entry(control_, "C_GetFunctionList", get));
        CK_FUNCTION_LIST* f = nullptr;
        ASSERT_EQ(get(&f), CKR_OK);
        CK_SLOT_ID slots[2];
        CK_ULONG count = 2;
        ASSERT_EQ(f->C_GetSlotList(CK_TRUE, slots, &count), CKR_OK);
        ASSERT_GE(count, 1u);
        CK_SESSION_HANDLE session = 0;
        ASSERT_EQ(f->C_OpenSession(slots[0], CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr,
                                   nullptr, &session),
                  CKR_OK);
        CK_UTF8CHAR pin[] = {'1', '2', '3', '4'};
        ASSERT_EQ(f->C_Login(session, CKU_USER, pin, sizeof pin), CKR_OK);
        CK_BBOOL yes = CK_TRUE;
        CK_OBJECT_CLASS private_class = CKO_PRIVATE_KEY;
        CK_KEY_TYPE gost = CKK_GOSTR3410;
        unsigned char params[] = {0x06, 0x07, 0x2A, 0x85, 0x03, 0x02, 0x02, 0x23, 0x01};
        unsigned char value[32];
        for (unsigned char& b : value) b = 0x11;
        std::string key_id = key;
        CK_ATTRIBUTE key_template[] = {
            {CKA_CLASS, &private_class, sizeof private_class},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_KEY_TYPE, &gost, sizeof gost},
            {CKA_GOSTR3410_PARAMS, params, sizeof params},
            {CKA_VALUE, value, sizeof value},
            {CKA_ID, key_id.data(), key_id.size()},
        };
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(f->C_CreateObject(session, key_template, 6, &handle), CKR_OK);
        put_certificate(f, session, user_cert, 1);
        put_certificate(f, session, key, 1);  // the key's own certificate
        put_certificate(f, session, ca_cert, 2);
        ASSERT_EQ(f->C_Logout(session), CKR_OK);
        ASSERT_EQ(f->C_CloseSession(session), CKR_OK);
    }

    static void put_certificate(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session,
                                const std::string& name, CK_ULONG category) {
        CK_BBOOL yes = CK_TRUE;
        CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
        CK_CERTIFICATE_TYPE type = CKC_X_509;
        std::string id = name;
        unsigned char der[] = {0x30, 0x00};
        CK_ATTRIBUTE t[] = {
            {CKA_CLASS, &cls, sizeof cls},
            {CKA_TOKEN, &yes, sizeof yes},
            {CKA_CERTIFICATE_TYPE, &type, sizeof type},
            {CKA_CERTIFICATE_CATEGORY, &category, sizeof category},
            {CKA_ID, id.data(), id.size()},
            {CKA_VALUE, der, sizeof der},
        };
        CK_OBJECT_HANDLE handle = 0;
        ASSERT_EQ(f->C_CreateObject(session, t, 6, &handle), CKR_OK);
    }

    fs::path root_;
    fs::path drive_b_;
    LinkedGorgetUI ui_;
    TCurrentUIScope ui_scope_{&ui_};
    Module control_;
    PKCS11_MODULE_ptr held_;
};

}  // namespace cadb::enrol::test
