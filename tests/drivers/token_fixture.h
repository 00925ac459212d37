// A directory-backed token for the driver tests: the stand-in vendor
// libraries read their readers and files from a temporary directory, and the
// drivers find them through the module path.
#pragma once

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bio.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "crypto/store/media_io.h"
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

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// 1 when the whole text was written to the path through the file layer.
inline int write_plain(const char* path, const std::string& text) {
    const int n = static_cast<int>(text.size());
    return CADB_write_file_plain(path, text.data(), n) == n ? 1 : 0;
}

// What the file layer reads from the path into room bytes, or "<fail>".
inline std::string read_plain(const char* path, std::size_t room) {
    std::vector<char> buf(room);
    const int n = CADB_read_file_plain(path, buf.data(), static_cast<int>(buf.size()));
    return n < 0 ? std::string("<fail>") : std::string(buf.data(), static_cast<std::size_t>(n));
}

// Writes the text and reads it back, rounds times; true when every round
// gave the text back.
inline bool plain_rounds(const char* path, const std::string& text, int rounds) {
    for (int round = 0; round < rounds; ++round)
        if (write_plain(path, text) != 1 || read_plain(path, 1000) != text) return false;
    return true;
}

// A stand-in library opened for its controls, closed afterwards.
class SimModule {
  public:
    explicit SimModule(const char* name)
        : handle_(dlopen((std::string(CADB_TEST_MODULES_DIR) + "/lib" + name + ".so").c_str(),
                         RTLD_NOW)) {}
    ~SimModule() {
        if (handle_ != nullptr) dlclose(handle_);
    }
    SimModule(const SimModule&) = delete;
    SimModule& operator=(const SimModule&) = delete;

  protected:
    // The entry, or null without the library or the entry.
    template <class F>
    void bind(F& fn, const char* entry) const {
        fn = handle_ != nullptr ? reinterpret_cast<F>(dlsym(handle_, entry)) : nullptr;
    }

  private:
    void* handle_;
};

// The controls a stand-in library exports besides the vendor entries.
class Simulator : public SimModule {
  public:
    explicit Simulator(const char* name) : SimModule(name) {
        bind(configure, "simConfigure");
        bind(logins, "simLogins");
        bind(lie, "simLie");
        bind(deleted, "simDeletedContents");
    }
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
