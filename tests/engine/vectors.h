// Reads the "name = value" vector files of tests/vectors: blank lines
// separate records, '#' starts a comment.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace cadb::test {

using Bytes = std::vector<unsigned char>;
using Record = std::map<std::string, std::string>;

inline std::string vector_path(const std::string& name) {
    return std::string(CADB_VECTORS_DIR) + "/" + name;
}

inline std::vector<Record> read_records(const std::string& name) {
    std::ifstream in(vector_path(name));
    EXPECT_TRUE(in.good()) << name;
    std::vector<Record> records;
    Record current;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            if (!current.empty()) records.push_back(std::move(current));
            current.clear();
            continue;
        }
        if (line[0] == '#') continue;
        const auto eq = line.find(" = ");
        if (eq == std::string::npos) continue;
        current[line.substr(0, eq)] = line.substr(eq + 3);
    }
    if (!current.empty()) records.push_back(std::move(current));
    return records;
}

inline Bytes hex(const std::string& s) {
    Bytes out;
    for (size_t i = 0; i + 1 < s.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::stoi(s.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes read_file(const std::string& name) {
    std::ifstream in(vector_path(name), std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace cadb::test
