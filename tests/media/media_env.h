// A private scratch folder for each test, with drive a: mapped into it and
// the default drive folders under it too, restored afterwards.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "crypto/core/err.h"

namespace cadb::testing {

namespace fs = std::filesystem;

class SavedEnv {
  public:
    explicit SavedEnv(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) value_ = v;
    }
    ~SavedEnv() {
        if (value_)
            setenv(name_.c_str(), value_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }

  private:
    std::string name_;
    std::optional<std::string> value_;
};

class MediaTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-media-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        drive_a_ = root_ / "drive-a";
        fs::create_directory(drive_a_);
        setenv("CADB_DRIVE_A", drive_a_.c_str(), 1);
        setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        unsetenv("CADB_DRIVE_B");
        ERR_clear_error();
        ERR_set_last_error(ERR_CLASS_NONE);
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, ec);
        fs::remove_all(root_, ec);
        ERR_clear_error();
    }

    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static void spit(const fs::path& p, const std::string& text) {
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << text;
    }
    static unsigned mode_of(const fs::path& p) {
        struct stat st {};
        EXPECT_EQ(::stat(p.c_str(), &st), 0) << p;
        return st.st_mode & 07777;
    }

    fs::path root_;
    fs::path drive_a_;

  private:
    SavedEnv drive_a_env_{"CADB_DRIVE_A"};
    SavedEnv drive_b_env_{"CADB_DRIVE_B"};
    SavedEnv xdg_env_{"XDG_DATA_HOME"};
};

}  // namespace cadb::testing
