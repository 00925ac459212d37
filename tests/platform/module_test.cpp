#include "platform/module.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace cadb {
namespace {

namespace fs = std::filesystem;

class ModulePath : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const char* v = std::getenv(kModulePathEnv)) saved_ = v;
    }
    void TearDown() override {
        if (saved_)
            setenv(kModulePathEnv, saved_->c_str(), 1);
        else
            unsetenv(kModulePathEnv);
    }

  private:
    std::optional<std::string> saved_;
};

std::string exe_dir() { return fs::canonical("/proc/self/exe").parent_path().string(); }

TEST_F(ModulePath, CandidatesInSearchOrder) {
    setenv(kModulePathEnv, "/opt/a::/opt/b", 1);
    const std::string own = exe_dir();
    const std::vector<std::string> expected{
        own + "/libGorgetA.so", own + "/GorgetA.so", "/opt/a/libGorgetA.so", "/opt/a/GorgetA.so",
        "/opt/b/libGorgetA.so", "/opt/b/GorgetA.so", "libGorgetA.so",        "GorgetA.so",
    };
    EXPECT_EQ(module_candidates("GorgetA.dll"), expected);
    // The suffix is dropped whatever its case; a bare name keeps its form.
    EXPECT_EQ(module_candidates("GorgetA.DLL"), expected);
    EXPECT_EQ(module_candidates("jcPKCS11").back(), "jcPKCS11.so");
}

TEST_F(ModulePath, PathsAndEmptyNames) {
    EXPECT_EQ(module_candidates("/usr/lib/x.so"), std::vector<std::string>{"/usr/lib/x.so"});
    EXPECT_TRUE(module_candidates("").empty());
    EXPECT_FALSE(module_load(""));
    EXPECT_EQ(module_symbol(Module(), "anything"), nullptr);
}

TEST_F(ModulePath, FoundInTheEnvironmentDirectories) {
    unsetenv(kModulePathEnv);
    EXPECT_FALSE(module_load("snellock.dll"));
    setenv(kModulePathEnv, "/nonexistent:" CADB_TEST_MODULES_DIR, 1);
    Module m = module_load("snellock.dll");
    ASSERT_TRUE(m);
    EXPECT_NE(module_symbol(m, "sbGetRand"), nullptr);
    EXPECT_EQ(module_symbol(m, "noSuchEntry"), nullptr);
    int (*is_card)() = nullptr;
    EXPECT_TRUE(module_entry(m, "sbisCard", is_card));
    EXPECT_EQ(is_card(), 0);
}

TEST_F(ModulePath, FoundBesideTheCallingBinary) {
    unsetenv(kModulePathEnv);
    const std::string name = "cadbmodtest" + std::to_string(getpid());
    const fs::path beside = fs::path(exe_dir()) / (name + ".so");
    fs::copy_file(fs::path(CADB_TEST_MODULES_DIR) / "libsnellock.so", beside);
    Module m = module_load(name + ".dll");
    fs::remove(beside);
    ASSERT_TRUE(m);
    EXPECT_NE(module_symbol(m, "sbGetRand"), nullptr);
}

TEST_F(ModulePath, FoundThroughTheSystemLoader) {
    unsetenv(kModulePathEnv);
    // The compression library's development link is part of the build.
    Module z = module_load("z");
    ASSERT_TRUE(z);
    EXPECT_NE(module_symbol(z, "zlibVersion"), nullptr);
}

TEST_F(ModulePath, AbsolutePathLoadsAsItStands) {
    Module m = module_load(CADB_TEST_MODULES_DIR "/libsnellock.so");
    EXPECT_TRUE(m);
    EXPECT_FALSE(module_load(CADB_TEST_MODULES_DIR "/libmissing.so"));
}

}  // namespace
}  // namespace cadb
