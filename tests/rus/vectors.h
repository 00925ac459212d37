// Reads the known-answer files of tests/vectors: records of "name = value"
// lines separated by blank lines; '#' starts a comment line.
#pragma once

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace cadb::testing {

using Record = std::map<std::string, std::string>;

inline std::vector<Record> read_records(const std::string& file) {
    std::ifstream in(std::string(CADB_VECTORS_DIR) + "/" + file);
    std::vector<Record> out;
    Record current;
    std::string line;
    auto flush = [&] {
        if (!current.empty()) out.push_back(current);
        current.clear();
    };
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            flush();
            continue;
        }
        if (line[0] == '#') continue;
        const auto eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        current[line.substr(0, eq)] = line.substr(eq + 3);
    }
    flush();
    return out;
}

inline std::vector<unsigned char> unhex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

}  // namespace cadb::testing
