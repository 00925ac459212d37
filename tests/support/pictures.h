// Pictures the window tests leave in a folder that outlives runs, for people
// to look at: a picture counts for a test only when it is a PNG written
// since that test began, so a file of an earlier run never passes.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

namespace cadb::test {

class Pictures {
  public:
    // Marks the start with a file of its own in dir: its time and the
    // pictures' come from one clock, the file system's.
    explicit Pictures(std::filesystem::path dir)
        : dir_(std::move(dir)), start_(dir_ / (".start-" + std::to_string(getpid()))) {
        std::filesystem::create_directories(dir_);
        std::ofstream(start_).put('\n');
    }
    ~Pictures() {
        std::error_code ec;
        std::filesystem::remove(start_, ec);
    }
    Pictures(const Pictures&) = delete;
    Pictures& operator=(const Pictures&) = delete;

    // Whether name.png was written as a PNG since the start.
    bool made(const std::string& name) const {
        const std::filesystem::path file = dir_ / (name + ".png");
        std::error_code ec;
        const auto written = std::filesystem::last_write_time(file, ec);
        const auto started = std::filesystem::last_write_time(start_, ec);
        if (ec || written < started) return false;
        std::ifstream in(file, std::ios::binary);
        char signature[8] = {};
        in.read(signature, sizeof signature);
        return in && std::string_view(signature, sizeof signature) == "\x89PNG\r\n\x1a\n";
    }

  private:
    std::filesystem::path dir_;
    std::filesystem::path start_;
};

}  // namespace cadb::test
