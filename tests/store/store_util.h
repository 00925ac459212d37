// What the key-store context tests share: the context owned, a store's
// fingerprint, and whole files read and written as bytes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "crypto/pse/pse.h"
#include "crypto/store/pse_ctx.h"

namespace cadb::testing {

struct CtxDeleter {
    void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<PSE_CTX, CtxDeleter>;

// A context on path with the password and flags set, not yet read or made.
inline CtxPtr store_context(const char* path, const char* password, int flags = 0) {
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), path, 0);
    PSE_CTX_set_password(ctx.get(), password, 0);
    if (flags != 0) PSE_CTX_set_flags(ctx.get(), flags);
    return ctx;
}

using Fingerprint = std::array<unsigned char, 32>;

inline Fingerprint fingerprint_of(PSE_CTX* ctx) {
    Fingerprint f{};
    std::memcpy(f.data(), PSE_CTX_get_pse(ctx)->fingerprint, f.size());
    return f;
}

using Bytes = std::vector<unsigned char>;

inline Bytes load(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void save(const std::filesystem::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A fresh folder named after the running test, standing as drive a:.
inline std::filesystem::path make_drive_a(const std::string& prefix) {
    const std::filesystem::path root =
        std::filesystem::temp_directory_path() /
        (prefix + "-" + std::to_string(getpid()) + "-" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    setenv("CADB_DRIVE_A", root.c_str(), 1);
    return root;
}

}  // namespace cadb::testing
