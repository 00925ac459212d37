// How the stand-in vendor libraries look at the directory that holds their
// device: other processes change it meanwhile, so a file or directory that
// goes between a listing and a look at it is no error, as a device answers
// for what it holds now and does not crash its caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <system_error>
#include <vector>

namespace sim_fs {

namespace fs = std::filesystem;

// The members of dir as they are now; none when it is not there.
inline std::vector<fs::directory_entry> members(const fs::path& dir) {
    std::vector<fs::directory_entry> out;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(*it);
    return out;
}

inline bool is_directory(const fs::directory_entry& e) {
    std::error_code ec;
    return e.is_directory(ec);
}

// The size of a file, 0 when it is gone.
inline std::uint32_t size_of(const fs::path& p) {
    std::error_code ec;
    const std::uintmax_t n = fs::file_size(p, ec);
    return ec ? 0 : static_cast<std::uint32_t>(n);
}

// The bytes the files below dir hold.
inline std::uint64_t bytes_below(const fs::path& dir) {
    std::uint64_t total = 0;
    for (const fs::directory_entry& e : members(dir)) {
        std::error_code ec;
        if (e.is_symlink(ec)) continue;
        if (is_directory(e))
            total += bytes_below(e.path());
        else if (e.is_regular_file(ec))
            total += size_of(e.path());
    }
    return total;
}

}  // namespace sim_fs
