// The scripted stand-in of the dialog library, and a scratch folder per test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cadb::testing {

namespace fs = std::filesystem;

inline fs::path scratch_dir(const std::string& tag) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::temp_directory_path() /
                   ("wrappers-" + tag + "-" + std::to_string(getpid()) + "-" + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

inline std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Points the module search at the stand-in and gives it a script and a journal.
class StandIn {
  public:
    explicit StandIn(const fs::path& dir, const std::string& modules = CADB_TEST_MODULES_DIR)
        : script_(dir / "gorget.script"), journal_(dir / "gorget.journal") {
        setenv("CADB_MODULE_PATH", modules.c_str(), 1);
        setenv("GORGET_STANDIN_SCRIPT", script_.c_str(), 1);
        setenv("GORGET_STANDIN_JOURNAL", journal_.c_str(), 1);
        std::ofstream(script_, std::ios::trunc);
        std::ofstream(journal_, std::ios::trunc);
    }
    ~StandIn() {
        unsetenv("GORGET_STANDIN_SCRIPT");
        unsetenv("GORGET_STANDIN_JOURNAL");
        unsetenv("CADB_MODULE_PATH");
    }
    // Adds "entry=answers" to the script.
    void script(const std::string& entry, const std::string& answers) {
        std::ofstream(script_, std::ios::app) << entry << '=' << answers << '\n';
    }
    std::vector<std::string> calls() const {
        std::ifstream in(journal_);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    int count(const std::string& entry) const {
        int n = 0;
        for (const std::string& c : calls())
            if (c == entry || c.rfind(entry + "|", 0) == 0) ++n;
        return n;
    }

  private:
    fs::path script_, journal_;
};

// Without any dialog library to find.
class NoLibrary {
  public:
    explicit NoLibrary(const fs::path& empty_dir) {
        setenv("CADB_MODULE_PATH", empty_dir.c_str(), 1);
    }
    ~NoLibrary() { unsetenv("CADB_MODULE_PATH"); }
};

}  // namespace cadb::testing
