#include "platform/com/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/com/inproc.h"
#include "platform/com/object.h"

namespace cadb::com {
namespace {

namespace fs = std::filesystem;

class RegistryFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-registry-XXXXXX";
        dir_ = mkdtemp(tmpl);
        path_ = dir_ + "/conf/registry";
        setenv(kRegistryEnv, path_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv(kRegistryEnv);
        fs::remove_all(dir_);
    }
    std::string dir_;
    std::string path_;
};

TEST(Registry, ParsesWhatItWrites) {
    Registry reg;
    reg.set_value("HKCR\\Quillon.Quillon", "", "Quillon Class");
    reg.set_value("HKCR\\Quillon.Quillon", "CurVer", "Quillon.Quillon.1");
    reg.set_value("HKCR\\odd[key]%", "a=b@", "line\nbreak\\=[]%41");
    reg.create_key("HKCR\\CLSID\\{X}\\Programmable");
    std::optional<Registry> back = Registry::parse(reg.serialise());
    ASSERT_TRUE(back);
    EXPECT_EQ(back->serialise(), reg.serialise());
    EXPECT_EQ(back->value("hkcr\\quillon.quillon"), "Quillon Class");
    EXPECT_EQ(back->value("HKCR\\odd[key]%", "A=B@"), "line\nbreak\\=[]%41");
    EXPECT_TRUE(back->key_exists("HKCR\\CLSID\\{X}\\Programmable"));
    EXPECT_TRUE(back->key_exists("HKCR\\CLSID"));  // keys above are made too
}

TEST(Registry, RefusesMalformedText) {
    EXPECT_FALSE(Registry::parse("name=value\n"));  // a value outside any key
    EXPECT_FALSE(Registry::parse("[HKCR\\a\nno equals sign\n"));
    EXPECT_FALSE(Registry::parse("[HKCR]\nx=%G1\n"));
    EXPECT_FALSE(Registry::parse("[HKCR]\nx=%4\n"));
}

TEST(Registry, SubkeysAndRemoval) {
    Registry reg;
    reg.create_key("HKCR\\CLSID\\{A}\\InprocServer32");
    reg.create_key("HKCR\\CLSID\\{B}");
    reg.create_key("HKCR\\CLSIDX");
    EXPECT_EQ(reg.subkeys("hkcr\\clsid"), (std::vector<std::string>{"{A}", "{B}"}));
    reg.remove_key("HKCR\\clsid\\{a}");
    EXPECT_FALSE(reg.key_exists("HKCR\\CLSID\\{A}\\InprocServer32"));
    EXPECT_TRUE(reg.key_exists("HKCR\\CLSID\\{B}"));
    EXPECT_TRUE(reg.key_exists("HKCR\\CLSIDX"));
}

TEST_F(RegistryFile, UpdatesOnlyItsFile) {
    ASSERT_TRUE(registry_update(
        [](Registry& r) {
            r.set_value("HKCR\\k", "", "v");
            return true;
        },
        registry_path()));
    EXPECT_EQ(Registry::read(path_)->value("HKCR\\k"), "v");
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(dir_ + "/conf")) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"registry"});
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // An edit that gives up writes nothing.
    EXPECT_FALSE(registry_update(
        [](Registry& r) {
            r.set_value("HKCR\\k", "", "changed");
            return false;
        },
        registry_path()));
    EXPECT_EQ(Registry::read(path_)->value("HKCR\\k"), "v");
}

TEST_F(RegistryFile, ConcurrentWritersLoseNothing) {
    std::vector<std::thread> writers;
    for (int t = 0; t < 8; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 10; ++i)
                registry_update(
                    [&](Registry& r) {
                        r.set_value("HKCR\\t" + std::to_string(t), std::to_string(i), "x");
                        return true;
                    },
                    registry_path());
        });
    for (auto& w : writers) w.join();
    std::optional<Registry> reg = Registry::read(path_);
    ASSERT_TRUE(reg);
    for (int t = 0; t < 8; ++t)
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(reg->value("HKCR\\t" + std::to_string(t), std::to_string(i)), "x");
}

TEST_F(RegistryFile, UnreadableRegistryIsNotOverwritten) {
    fs::create_directories(dir_ + "/conf");
    { std::ofstream(path_) << "not a registry\n"; }
    EXPECT_FALSE(registry_update([](Registry&) { return true; }, path_));
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("Quillon.Quillon", &clsid), REGDB_E_READREGDB);
}

TEST_F(RegistryFile, ProgIdsLeadToClasses) {
    registry_update(
        [](Registry& r) {
            r.set_value("HKCR\\Quillon.Quillon.1\\CLSID", "",
                        "{22B18772-B2A6-4BD3-98C3-19665C869822}");
            r.set_value("HKCR\\Only.Version\\CurVer", "", "Quillon.Quillon.1");
            return true;
        },
        path_);
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID("quillon.quillon.1", &clsid), S_OK);
    EXPECT_EQ(guid_format(clsid), "{22B18772-B2A6-4BD3-98C3-19665C869822}");
    ASSERT_EQ(CLSIDFromProgID("Only.Version", &clsid), S_OK);
    EXPECT_EQ(CLSIDFromProgID("Nobody.Here", &clsid), CO_E_CLASSSTRING);
    void* out = nullptr;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, IID_IUnknown, &out), REGDB_E_CLASSNOTREG);
}

TEST_F(RegistryFile, CategoriesKeepDescriptionsWhenClassesLeave) {
    constexpr CLSID cls = guid("{43BD9E45-328F-11D0-A6B9-00AA00A70FC2}");
    ComPtr<ICatRegister> cat;
    ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, IID_ICatRegister,
                               cat.put_void()),
              S_OK);
    CATEGORYINFO info;
    info.catid = CATID_SafeForScripting;
    info.lcid = 0x409;
    std::u16string long_text(200, u'x');
    std::copy_n(long_text.begin(), 127, info.szDescription);
    ASSERT_EQ(cat->RegisterCategories(1, &info), S_OK);
    const CATID both[] = {CATID_SafeForInitializing, CATID_SafeForScripting};
    ASSERT_EQ(cat->RegisterClassImplCategories(cls, 2, both), S_OK);
    EXPECT_TRUE(class_implements_category(cls, CATID_SafeForScripting));
    EXPECT_EQ(
        Registry::read(path_)
            ->value("HKCR\\Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}", "409")
            ->size(),
        127u);
    ASSERT_EQ(cat->UnRegisterClassImplCategories(cls, 2, both), S_OK);
    EXPECT_FALSE(class_implements_category(cls, CATID_SafeForScripting));
    std::optional<Registry> reg = Registry::read(path_);
    EXPECT_FALSE(reg->key_exists("HKCR\\CLSID\\{43BD9E45-328F-11D0-A6B9-00AA00A70FC2}"));
    EXPECT_TRUE(
        reg->key_exists("HKCR\\Component Categories\\{7DD95801-9882-11CF-9FA9-00AA006C42C4}"));
}

TEST_F(RegistryFile, MachineValuesReachTheLibraryHooksWhole) {
    const char* key = "Software\\Dallas Semiconductor\\iButton TMEX\\3.00";
    ASSERT_TRUE(registry_update(
        [&](Registry& r) {
            r.set_value(std::string("HKLM\\") + key, "DefaultPortNum", "3");
            r.set_value(std::string("HKCU\\") + key, "DefaultPortType", "user's, not the machine's");
            return true;
        },
        path_));
    char out[4] = {'x', 'x', 'x', 'x'};
    ASSERT_EQ(registry_read_machine_text(key, "defaultportnum", out, sizeof out), 1);
    EXPECT_STREQ(out, "3");
    // Another root's value, a missing one and one without room for its zero
    // leave the caller's bytes alone.
    std::memcpy(out, "abc", 4);
    EXPECT_EQ(registry_read_machine_text(key, "DefaultPortType", out, sizeof out), 0);
    EXPECT_EQ(registry_read_machine_text("Software\\None", "DefaultPortNum", out, sizeof out), 0);
    EXPECT_EQ(registry_read_machine_text(key, "DefaultPortNum", out, 1), 0);
    EXPECT_EQ(registry_read_machine_text(key, "DefaultPortNum", nullptr, 4), 0);
    EXPECT_STREQ(out, "abc");
}

// A registry path that names a named pipe would block the reader for ever,
// one that names a device such as /dev/zero would read without end: both are
// refused at once, as is a regular file too large to be a registry.
TEST_F(RegistryFile, RefusesPipesDevicesAndHugeFiles) {
    fs::create_directories(dir_ + "/conf");
    ASSERT_EQ(mkfifo(path_.c_str(), 0600), 0);
    EXPECT_FALSE(Registry::read(path_));
    EXPECT_FALSE(registry_update([](Registry&) { return true; }, path_));
    CLSID clsid;
    EXPECT_EQ(CLSIDFromProgID("Quillon.Quillon", &clsid), REGDB_E_READREGDB);
    char out[8];
    EXPECT_EQ(registry_read_machine_text("Software", "Value", out, sizeof out), 0);
    EXPECT_EQ(fs::status(path_).type(), fs::file_type::fifo);  // not replaced

    setenv(kRegistryEnv, "/dev/zero", 1);
    EXPECT_FALSE(Registry::read("/dev/zero"));
    EXPECT_EQ(CLSIDFromProgID("Quillon.Quillon", &clsid), REGDB_E_READREGDB);
    EXPECT_EQ(registry_read_machine_text("Software", "Value", out, sizeof out), 0);
    setenv(kRegistryEnv, path_.c_str(), 1);

    fs::remove(path_);
    {
        std::ofstream big(path_, std::ios::binary);
        const std::string line(99, '#');
        for (long n = 0; n <= kMaxRegistrySize; n += 100) big << line << '\n';
    }
    EXPECT_FALSE(Registry::read(path_));
    fs::resize_file(path_, static_cast<std::uintmax_t>(kMaxRegistrySize));
    EXPECT_TRUE(Registry::read(path_));  // comment lines only: an empty tree
}

}  // namespace
}  // namespace cadb::com
