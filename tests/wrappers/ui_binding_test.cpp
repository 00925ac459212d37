// The binding of the dialog library: each operation reaches the stand-in by
// name, answers are bounded by the caller's buffer, missing libraries and
// exports give the fallbacks, and the seeding routine never outlives the
// library that registered it.
#include "wrappers/ui_binding.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/store/pse_ctx.h"
#include "tests/wrappers/standin.h"
#include "wrappers/log.h"

namespace cadb {
namespace {

using namespace cadb::testing;

int g_own_routine_calls = 0;
int own_routine(GRAND_SEED*, int, GRAND_CHAR_CB, void*, GRAND_EVENT_CB) {
    ++g_own_routine_calls;
    return 0;
}

bool standin_mapped() {
    const std::string path = std::string(CADB_TEST_MODULES_DIR) + "/libGorgetA.so";
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h != nullptr) dlclose(h);
    return h != nullptr;
}

class Binding : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = scratch_dir("ui");
        PSE_rand_cleanup();
        previous_ = SetCurrentUI(&GlobalUI());
    }
    void TearDown() override {
        SetCurrentUI(previous_);
        PSE_rand_cleanup();
        GRAND_set_seed_routine(GRAND_keyboard_seed);
        LoadUIString(nullptr, -1);
        fs::remove_all(dir_);
    }
    fs::path dir_;
    TUICallbacks* previous_ = nullptr;
};

TEST_F(Binding, EachOperationCallsItsExport) {
    StandIn ui(dir_);
    ui.script("getPassCBK", "secret");
    ui.script("getPass_pkcs11CBK", "1234");
    ui.script("putPassCBK", "newpass;cancel");
    ui.script("dirOperationCBK", "a:\\keys,0");
    ui.script("getSShareCBK", "2,3");
    ui.script("devReqReady", "1");

    char buf[64] = {};
    EXPECT_EQ(getPassCBK(buf, sizeof buf, 0, const_cast<char*>("prompt")), 6);
    EXPECT_EQ(std::string(buf, 6), "secret");
    EXPECT_EQ(pkcs11_passwd_cb(buf, sizeof buf, 1, nullptr), 4);
    EXPECT_EQ(std::string(buf, 4), "1234");
    EXPECT_EQ(etoken_passwd_cb(buf, sizeof buf, 0, nullptr), 0);  // the user cancelled
    EXPECT_EQ(GlobalUI().putPassCBK(buf, sizeof buf, 0, nullptr), 7);
    EXPECT_EQ(GlobalUI().putPassCBK(buf, sizeof buf, 0, nullptr), -1);

    UIDirRecord rec{};
    EXPECT_EQ(GlobalUI().dirOperationCBK("where", &rec), 7);
    EXPECT_STREQ(rec.path, "a:\\keys");
    std::int32_t k = 0, n = 0;
    EXPECT_EQ(GlobalUI().getSShareCBK(0, &k, &n), 0);
    EXPECT_EQ(k, 2);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(dev_req_callback("etoken:\\x", nullptr), 1);
    EXPECT_EQ(GlobalUI().Init(), 1);
    GlobalUI().Free();
    displProgressCBK(1, 2, nullptr);
    EXPECT_EQ(ui.count("getProgressCBK"), 1);
    EXPECT_EQ(ui.count("Free"), 1);
    EXPECT_FALSE(standin_mapped());  // unloaded after every call
}

TEST_F(Binding, AnAnswerLongerThanTheCallersBufferIsRefused) {
    StandIn ui(dir_);
    ui.script("getPassCBK", "#2000");
    ui.script("putPassCBK", "#65");
    ui.script("getPass_ruTokenCBK", "#64");
    ui.script("dirOperationCBK", "#300");
    char buf[64];
    std::memset(buf, '-', sizeof buf);
    EXPECT_EQ(getPassCBK(buf, sizeof buf, 0, nullptr), 0);
    EXPECT_EQ(GlobalUI().putPassCBK(buf, sizeof buf, 0, nullptr), -1);
    EXPECT_EQ(std::string(buf, sizeof buf), std::string(64, '-'));
    EXPECT_EQ(rutoken_passwd_cb(buf, sizeof buf, 0, nullptr), 64);  // exactly fits
    UIDirRecord rec{};
    EXPECT_EQ(GlobalUI().dirOperationCBK("where", &rec), 0);
    EXPECT_EQ(rec.path[0], '\0');
}

TEST_F(Binding, WithoutTheLibraryEveryCallbackGivesNothing) {
    fs::create_directories(dir_ / "empty");
    NoLibrary none(dir_ / "empty");
    char buf[32] = {};
    EXPECT_EQ(getPassCBK(buf, sizeof buf, 0, nullptr), 0);
    EXPECT_EQ(etoken_passwd_cb(buf, sizeof buf, 0, nullptr), 0);
    EXPECT_EQ(rutoken_passwd_cb(buf, sizeof buf, 0, nullptr), 0);
    EXPECT_EQ(pkcs11_passwd_cb(buf, sizeof buf, 0, nullptr), 0);
    EXPECT_EQ(rndInitCBK(0, 0, 0, nullptr), 0);
    EXPECT_EQ(CADB_rand_status(), 0);
    // A wait for the medium ends at once.
    EXPECT_EQ(dev_req_callback("etoken:\\x", nullptr), 0);
    EXPECT_EQ(UIString(16), "");
    EXPECT_EQ(UIMessageBox("text", "caption", MB_YESNO), IDNO);
    EXPECT_EQ(UIMessageBox("text", "caption", MB_OK), IDOK);
}

TEST_F(Binding, WithoutACurrentObjectTheCallbacksLogAndGiveNothing) {
    fs::create_directories(dir_ / "app" / "log");
    ASSERT_NE(LogInit(nullptr, (dir_ / "app" / "host.exe").c_str(), "\\Gorget", 0), 0);
    SetCurrentUI(nullptr);
    char buf[8];
    EXPECT_EQ(etoken_passwd_cb(buf, 8, 0, nullptr), 0);
    EXPECT_EQ(rutoken_passwd_cb(buf, 8, 0, nullptr), 0);
    EXPECT_EQ(pkcs11_passwd_cb(buf, 8, 0, nullptr), 0);
    EXPECT_EQ(getPassCBK(buf, 8, 0, nullptr), 0);
    EXPECT_EQ(displProgressCBK(0, 0, nullptr), 0);
    EXPECT_EQ(rndInitCBK(0, 0, 0, nullptr), 0);
    EXPECT_EQ(dev_req_callback("a:\\", nullptr), 0);
    const std::string log = slurp(LogCurrentFile());
    FreeIniLogPathes();
    for (const char* line : {"!!!etoken_passwd_cb()... e-Token Function is not defined !",
                             "!!!rutoken_passwd_cb()... ru-Token Function is not defined !",
                             "!!!pkcs11_passwd_cb()... PKCS11 Function is not defined !",
                             "!!!getPassCBK()... Function is not defined !",
                             "!!!displProgressCBK()... Function is not defined !",
                             "!!!rndInitCBK()... Function is not defined !",
                             "!!!dev_req_callback()... Function is not defined !"})
        EXPECT_NE(log.find(std::string(line) + "\r\n"), std::string::npos) << line;
}

TEST_F(Binding, SeedingTakesTheLibrarysRoutineBackBeforeUnloading) {
    StandIn ui(dir_);
    GRAND_set_seed_routine(own_routine);
    g_own_routine_calls = 0;
    ASSERT_EQ(CADB_rand_status(), 0);
    EXPECT_EQ(rndInitCBK(0, 0, 0, nullptr), 1);
    EXPECT_EQ(CADB_rand_status(), 1);
    EXPECT_EQ(ui.count("rndInitCBK_Vambrace32"), 1);
    EXPECT_FALSE(standin_mapped());
    // The registered routine is ours again, not one in the unmapped library:
    // a later seeding calls into mapped code.
    EXPECT_EQ(GRAND_get_seed_routine(), &own_routine);
    GRAND_SEED record;
    GRAND_call_seed_routine(&record, 1, nullptr, nullptr, GRAND_add_event);
    EXPECT_EQ(g_own_routine_calls, 1);
    EXPECT_EQ(g_own_routine_calls, 1);

    // Already seeded: the library is not even loaded.
    EXPECT_EQ(GlobalUI().rndInitCBK_Vambrace32(10, 1, 0, 0), 1);
    EXPECT_EQ(ui.count("rndInitCBK_Vambrace32"), 1);
}

TEST_F(Binding, ASeedingTheUserRefusesLeavesTheGeneratorStopped) {
    StandIn ui(dir_);
    ui.script("rndInitCBK_Vambrace32", "0");
    EXPECT_EQ(rndInitCBK(0, 0, 0, nullptr), 0);
    EXPECT_EQ(CADB_rand_status(), 0);
}

TEST_F(Binding, AHolderKeepsTheLibraryLoadedBetweenCalls) {
    StandIn ui(dir_);
    GlobalUI().setHolder(LoadUILibraryHolder());
    EXPECT_EQ(GlobalUI().Init(), 1);
    EXPECT_TRUE(standin_mapped());
    GlobalUI().Free();
    GlobalUI().setHolder(nullptr);
    EXPECT_FALSE(standin_mapped());
}

TEST_F(Binding, ALibraryLackingAnExportGivesZeroAndIsUnloaded) {
    StandIn ui(dir_, std::string(CADB_TEST_MODULES_DIR) + "/lacking");
    char* texts[1] = {const_cast<char*>("text")};
    EXPECT_EQ(GlobalUI().acceptPKCS7CBK(texts, 1, nullptr), 0);
    EXPECT_EQ(ui.count("acceptPKCS7CBK"), 0);
    const std::string path = std::string(CADB_TEST_MODULES_DIR) + "/lacking/libGorgetA.so";
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(h, nullptr);
    if (h != nullptr) dlclose(h);
}

TEST_F(Binding, StringsComeFromTheLibrarysTable) {
    StandIn ui(dir_);
    EXPECT_EQ(UIString(16), "S16");
    EXPECT_EQ(UIFormat(UIString(67), {"3", "a:\\keys"}), "S67 3 a:\\keys");
    EXPECT_EQ(UIMessageBox("text\nmore", "caption", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(ui.calls().back(), "MessageBoxA|caption|text~more|48");
}

TEST(UIFormat, FillsOnlyTheFieldsItIsGiven) {
    EXPECT_EQ(UIFormat("part %d of %s", {"1", "x"}), "part 1 of x");
    EXPECT_EQ(UIFormat("%li%% %n %x %s %s", {"7"}), "7% %n %x  ");
    EXPECT_EQ(UIFormat("tail %", {}), "tail %");
}

}  // namespace
}  // namespace cadb
