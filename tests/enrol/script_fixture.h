// The enrolment object as a page script sees it: the library registered in
// the test's registry, scripts run by the real script host.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

#include "tests/enrol/fixture.h"

namespace cadb::enrol::test {

class ScriptHost : public QuillonModule {
  protected:
    void SetUp() override {
        QuillonModule::SetUp();
        // Scripts run headless: every dialog gives its Cancel answer.
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        ASSERT_EQ(std::system((std::string(REGSVR) + " " QUILLON_MODULE " >/dev/null").c_str()), 0);
    }

    // Runs the script with the arguments; stdout in out_, stderr in err_.
    int run(const std::string& source, const std::string& args = "") {
        const std::string script = dir_ + "/test.js";
        std::ofstream(script) << source;
        return run_file(script, args);
    }
    int run_file(const std::string& script, const std::string& args = "") {
        const std::string err = dir_ + "/stderr";
        const std::string cmd =
            std::string(SCRIPT_HOST) + " '" + script + "' " + args + " 2>'" + err + "'";
        FILE* pipe = popen(cmd.c_str(), "r");
        out_.clear();
        char buf[4096];
        std::size_t n;
        while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) out_.append(buf, n);
        const int status = pclose(pipe);
        std::ostringstream e;
        e << std::ifstream(err).rdbuf();
        err_ = e.str();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string out_;
    std::string err_;
};

// The same with drive b: mapped to a folder of the test.
class ScriptDrive : public ScriptHost {
  protected:
    void SetUp() override {
        ScriptHost::SetUp();
        drive_ = dir_ + "/drive-b";
        std::filesystem::create_directories(drive_);
        setenv("CADB_DRIVE_B", drive_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("CADB_DRIVE_B");
        ScriptHost::TearDown();
    }
    // Every file under the drive, relative to it.
    std::set<std::string> files() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::recursive_directory_iterator(drive_))
            if (e.is_regular_file())
                out.insert(std::filesystem::relative(e.path(), drive_).string());
        return out;
    }

    std::string drive_;
};

}  // namespace cadb::enrol::test
