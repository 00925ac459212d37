// A directory-backed token for the driver tests: the stand-in vendor
// libraries read their readers and files from a temporary directory, and the
// drivers find them through the module path.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/module.h"

namespace cadb::test {

namespace fs = std::filesystem;

inline std::vector<unsigned char> file_bytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void put_file(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << text;
}

// The controls a stand-in library exports besides the vendor entries.
class Simulator {
  public:
    explicit Simulator(const char* name)
        : handle_(dlopen((std::string(CADB_TEST_MODULES_DIR) + "/lib" + name + ".so").c_str(),
                         RTLD_NOW)) {
        if (handle_ == nullptr) return;
        configure =
            reinterpret_cast<void (*)(const char*, const char*)>(dlsym(handle_, "simConfigure"));
        logins = reinterpret_cast<int (*)()>(dlsym(handle_, "simLogins"));
        lie = reinterpret_cast<void (*)(std::uint32_t, std::uint32_t)>(dlsym(handle_, "simLie"));
        deleted = reinterpret_cast<std::size_t (*)(unsigned char*, std::size_t)>(
            dlsym(handle_, "simDeletedContents"));
    }
    ~Simulator() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;
    bool ok() const { return configure && logins && lie && deleted; }

    std::vector<unsigned char> deleted_contents() const {
        std::vector<unsigned char> out(deleted(nullptr, 0));
        deleted(out.data(), out.size());
        return out;
    }

    void (*configure)(const char*, const char*) = nullptr;
    int (*logins)() = nullptr;
    void (*lie)(std::uint32_t, std::uint32_t) = nullptr;
    std::size_t (*deleted)(unsigned char*, std::size_t) = nullptr;

  private:
    void* handle_;
};

class ScopedModulePath {
  public:
    explicit ScopedModulePath(const std::string& value) {
        if (const char* old = std::getenv(kModulePathEnv)) old_ = old, had_ = true;
        setenv(kModulePathEnv, value.c_str(), 1);
    }
    ~ScopedModulePath() {
        if (had_)
            setenv(kModulePathEnv, old_.c_str(), 1);
        else
            unsetenv(kModulePathEnv);
    }

  private:
    std::string old_;
    bool had_ = false;
};

// A fresh temporary directory, removed afterwards.
class TempDir {
  public:
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "cadb-token-XXXXXX").string();
        path_ = mkdtemp(tmpl.data()) != nullptr ? fs::path(tmpl) : fs::path();
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

}  // namespace cadb::test
