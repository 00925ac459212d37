// A SoftHSM2 token of the tests' own: a configuration and a token folder in
// a fresh temporary directory, named through SOFTHSM2_CONF before the module
// is first loaded, so the user's configuration is never touched. The token
// is initialised by softhsm2-util with the user PIN kUserPin.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace cadb::testing {

inline constexpr const char* kUserPin = "1234";
inline constexpr const char* kSoPin = "87654321";
inline constexpr const char* kSoftHsmDir = "/usr/lib/softhsm";
inline constexpr const char* kToken = "pkcs11:\\softhsm2";

class SoftHsmEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        char templ[] = "/tmp/cadb-softhsm-XXXXXX";
        const char* dir = mkdtemp(templ);
        ASSERT_NE(dir, nullptr);
        root_ = dir;
        std::filesystem::create_directory(root_ / "tokens");
        const auto conf = root_ / "softhsm2.conf";
        std::ofstream(conf) << "directories.tokendir = " << (root_ / "tokens").string()
                            << "\nobjectstore.backend = file\nlog.level = ERROR\n";
        setenv("SOFTHSM2_CONF", conf.c_str(), 1);
        // The tests' own stand-in modules are found beside SoftHSM2.
        const std::string modules = std::string(CADB_TEST_MODULES_DIR) + ":" + kSoftHsmDir;
        setenv("CADB_MODULE_PATH", modules.c_str(), 1);
        available_ = std::filesystem::exists(std::string(kSoftHsmDir) + "/libsofthsm2.so");
        if (!available_) return;
        const std::string init = std::string("softhsm2-util --init-token --free --label cadb") +
                                 " --pin " + kUserPin + " --so-pin " + kSoPin + " >/dev/null";
        ASSERT_EQ(std::system(init.c_str()), 0);
    }
    void TearDown() override {
        if (!root_.empty()) std::filesystem::remove_all(root_);
    }
    static bool available() { return available_; }

  private:
    std::filesystem::path root_;
    static inline bool available_ = false;
};

}  // namespace cadb::testing

#define REQUIRE_SOFTHSM()                                                               \
    do {                                                                                \
        if (!::cadb::testing::SoftHsmEnvironment::available())                          \
            GTEST_SKIP() << "SoftHSM2 is not installed (scripts/install-deps adds it)"; \
    } while (0)
