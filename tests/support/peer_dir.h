// A folder of files exchanged with the openssl command, which tests run as
// a child process (never loaded here): made for each test, removed after it.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace cadb::test {

// Whether the openssl command here has the GOST engine to be a peer.
inline bool peer_has_gost_engine() {
    return std::system("openssl engine gost >/dev/null 2>&1") == 0;
}

class PeerDir {
  protected:
    // A fresh folder named from prefix, the process and the running test.
    void make_dir(const std::string& prefix) {
        dir_ = std::filesystem::temp_directory_path() /
               (prefix + "-" + std::to_string(getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir_);
    }
    void remove_dir() {
        std::error_code ec;
        if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
    }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    void write(const std::string& name, const std::vector<unsigned char>& b) const {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    std::vector<unsigned char> read(const std::string& name) const {
        std::ifstream f(path(name), std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
    }
    // What the last command wrote to the folder's "log".
    std::string log() const {
        const std::vector<unsigned char> b = read("log");
        return std::string(b.begin(), b.end());
    }

    std::filesystem::path dir_;
};

}  // namespace cadb::test
