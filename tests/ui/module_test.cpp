// The shared library itself, loaded by name as the enrolment library loads
// it: its exports, nothing else, and with no display every dialog export
// gives its Cancel result at once.
#include "platform/module.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <set>
#include <string>

#include "tests/ui/ui_test_support.h"
#include "ui/exports.h"
#include "ui/model.h"

namespace gorget::test {
namespace {

class GorgetModule : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv(cadb::kModulePathEnv, GORGET_MODULE_DIR, 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        module_ = cadb::module_load("GorgetA.dll");
        ASSERT_NE(module_, nullptr);
    }
    template <class Fn>
    Fn entry(const char* name) {
        Fn fn = nullptr;
        EXPECT_TRUE(cadb::module_entry(module_, name, fn)) << name;
        return fn;
    }
    // The call's result, which must come within a second.
    static int promptly(const std::function<int()>& call) {
        auto result = std::async(std::launch::async, call);
        if (result.wait_for(std::chrono::seconds(1)) != std::future_status::ready) {
            ADD_FAILURE() << "a dialog export waited without a display";
            result.wait();
        }
        return result.get();
    }
    cadb::Module module_;
};

TEST_F(GorgetModule, ExportsItsListedEntriesOnly) {
    const std::set<std::string> exports{
        "Free",
        "GorgetLoadString",
        "GorgetRunDialog",
        "GorgetSaveFileA",
        "Init",
        "MessageBoxA",
        "acceptPKCS7CBK",
        "devReqReady",
        "dirOperationCBK",
        "getPassCBK",
        "getPass_eTokenCBK",
        "getPass_pkcs11CBK",
        "getPass_ruTokenCBK",
        "getProgressCBK",
        "getSShareCBK",
        "putPassCBK",
        "rndInitCBK",
        "rndInitCBK_Vambrace32",
    };
    for (const std::string& name : exports)
        EXPECT_NE(cadb::module_symbol(module_, name.c_str()), nullptr) << name;
    // Every symbol the library defines for others, of any kind (functions,
    // data, template instances, unique objects), is one of its exports.
    const std::string command =
        std::string("nm -D --defined-only ") + GORGET_MODULE_DIR + "/libGorgetA.so";
    FILE* nm = popen(command.c_str(), "r");
    ASSERT_NE(nm, nullptr);
    char line[4096];
    std::set<std::string> defined;
    while (std::fgets(line, sizeof line, nm) != nullptr) {
        char kind = 0;
        char name[3000] = {};
        if (std::sscanf(line, "%*s %c %2999s", &kind, name) != 2) continue;
        defined.insert(name);
        EXPECT_TRUE(exports.count(name)) << kind << " " << name << " is visible";
    }
    EXPECT_EQ(pclose(nm), 0);
    EXPECT_EQ(defined, exports);
    using LoadString = std::int32_t (*)(std::uint32_t, char*, std::int32_t);
    char buf[64];
    const std::int32_t n = entry<LoadString>("GorgetLoadString")(39, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), cp1251("Внимание!"));
    // The reason the object layer gives when a share could not be produced.
    const std::int32_t m = entry<LoadString>("GorgetLoadString")(62, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, m), cp1251(" отказ криптографического преобразования."));
}

TEST_F(GorgetModule, WithoutADisplayEveryDialogCancelsAtOnce) {
    using Pass = std::int32_t (*)(char*, std::int32_t, std::int32_t, const char*);
    using Pin = std::int32_t (*)(char*, std::int32_t, std::int32_t, void*);
    char buf[16];
    std::memset(buf, 'X', sizeof buf);
    EXPECT_EQ(promptly([&] { return entry<Pass>("getPassCBK")(buf, 16, 0, nullptr); }), 0);
    EXPECT_EQ(promptly([&] { return entry<Pass>("putPassCBK")(buf, 16, 0, nullptr); }), -1);
    for (const char* pin : {"getPass_eTokenCBK", "getPass_ruTokenCBK", "getPass_pkcs11CBK"})
        EXPECT_EQ(promptly([&] { return entry<Pin>(pin)(buf, 16, 0, nullptr); }), 0) << pin;
    EXPECT_EQ(std::string(buf, 16), std::string(16, 'X'));

    using Share = std::int32_t (*)(std::int32_t, std::int32_t*, std::int32_t*);
    std::int32_t k = -1, n = -1;
    EXPECT_EQ(promptly([&] { return entry<Share>("getSShareCBK")(0, &k, &n); }), 0);
    EXPECT_EQ(k, -1);
    EXPECT_EQ(n, -1);

    using DevReq = std::int32_t (*)(const char*, std::int32_t);
    EXPECT_EQ(promptly([&] { return entry<DevReq>("devReqReady")("a:\\", 0); }), 0);

    using Dir = std::int32_t (*)(const char*, MediumRecord*);
    MediumRecord record{};
    std::memcpy(record.path, "a:\\", 3);
    EXPECT_EQ(promptly([&] { return entry<Dir>("dirOperationCBK")("x", &record); }), 0);

    using Sheet = std::int32_t (*)(char**, std::int32_t, char**);
    std::string text = "certificate";
    char* texts[] = {text.data()};
    EXPECT_EQ(promptly([&] { return entry<Sheet>("acceptPKCS7CBK")(texts, 1, nullptr); }), 0);

    using Plain = std::int32_t (*)();
    using Progress = std::int32_t (*)(std::int32_t, std::int32_t, std::int32_t);
    EXPECT_EQ(promptly([&] {
                  entry<Plain>("Init")();
                  for (int i = 0; i < 150; ++i) entry<Progress>("getProgressCBK")(0, 0, 0);
                  return entry<Plain>("Free")();
              }),
              0);

    using KeySeed = std::int32_t (*)(KeySeedFn);
    // Without a display the routine still runs, and any key it asks is
    // refused at once.
    static int asked = -1;
    KeySeedFn by_keys = [](cadb::PSE*, unsigned char*, cadb::GRAND_CHAR_CB cb, void*) {
        asked = cb('a', 0, 1, nullptr);
        return 1;
    };
    EXPECT_EQ(promptly([&] { return entry<KeySeed>("rndInitCBK")(by_keys); }), 1);
    EXPECT_EQ(asked, 0);

    using EventSeed = std::int32_t (*)(RegisterFn, EventSeedFn);
    static cadb::GRAND_SEED_ROUTINE registered = nullptr;
    RegisterFn keep = [](cadb::GRAND_SEED_ROUTINE r) { registered = r; };
    EventSeedFn run = [](cadb::PSE*, unsigned char*, int*, cadb::GRAND_CHAR_CB cb, void*) {
        cadb::GRAND_SEED record;
        return registered(&record, 40, cb, nullptr, [](cadb::GRAND_SEED*) { return 0; });
    };
    EXPECT_EQ(promptly([&] { return entry<EventSeed>("rndInitCBK_Vambrace32")(keep, run); }), 0);
    EXPECT_EQ(registered, nullptr);
}

// The object layer's questions and notices come through MessageBoxA: with no
// display each box gives its refusing button at once and the trace says
// which box was not shown.
TEST_F(GorgetModule, MessageBoxWithoutADisplayRefusesAndSaysSo) {
    using Box = std::int32_t (*)(void*, const char*, const char*, std::uint32_t);
    const Box box = entry<Box>("MessageBoxA");
    ASSERT_NE(box, nullptr);
    const std::string text = cp1251("Заменить хранилище?");
    const std::string caption = cp1251("Внимание!");
    const struct {
        std::uint32_t type;
        int answer;
    } cases[] = {{MB_OK | MB_ICONINFORMATION, IDOK},
                 {MB_OK | MB_ICONSTOP, IDOK},
                 {MB_RETRYCANCEL | MB_ICONSTOP, IDCANCEL},
                 {MB_YESNO | MB_ICONQUESTION, IDNO},
                 {MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2, IDNO},
                 {MB_YESNO | MB_ICONEXCLAMATION, IDNO},
                 {MB_OKCANCEL, IDCANCEL},
                 {MB_YESNOCANCEL, IDCANCEL}};
    for (const auto& c : cases) {
        ::testing::internal::CaptureStderr();
        const int answer =
            promptly([&] { return box(nullptr, text.c_str(), caption.c_str(), c.type); });
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(answer, c.answer) << std::hex << c.type;
        EXPECT_NE(said.find("Gorget: box \"Заменить хранилище?\" refused: no display"),
                  std::string::npos)
            << said;
    }
    // Null texts are empty texts.
    EXPECT_EQ(promptly([&] { return box(nullptr, nullptr, nullptr, MB_YESNO); }), IDNO);
}

// A model made outside the library, as the enrolment library makes its
// chooser: shown (here: cancelled at once, never filled) only when it was
// built from the library's own records.
TEST_F(GorgetModule, RunsAnotherLibrarysModelOfItsOwnBuildOnly) {
    class Probe : public Dialog {
      public:
        Probe() : Dialog(7, "probe") {}
        bool opened = false;

      protected:
        void command(int id) override { finish(id); }
        void opening() override { opened = true; }
    };
    using Run = std::int32_t (*)(Dialog*, std::uint32_t);
    Probe probe;
    EXPECT_EQ(entry<Run>("GorgetRunDialog")(nullptr, kDialogModelAbi), 0);
    EXPECT_EQ(entry<Run>("GorgetRunDialog")(&probe, kDialogModelAbi + 1), 0);
    EXPECT_FALSE(probe.finished());
    EXPECT_EQ(promptly([&] { return entry<Run>("GorgetRunDialog")(&probe, kDialogModelAbi); }),
              IDCANCEL);
    EXPECT_TRUE(probe.finished());
    EXPECT_FALSE(probe.opened);
}

TEST(NoDisplay, AnUnopenableDisplayCancelsToo) {
    driver::use(driver::Mode::automatic);
    setenv("DISPLAY", ":65000", 1);  // no server there
    char buf[8];
    EXPECT_EQ(getPassCBK(buf, 8, 0, nullptr), 0);
    EXPECT_EQ(putPassCBK(buf, 8, 0, nullptr), -1);
    unsetenv("DISPLAY");
}

}  // namespace
}  // namespace gorget::test
