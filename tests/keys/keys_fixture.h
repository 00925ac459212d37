// A disk drive in a temporary folder holding one open key store, and owners
// of the key records.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/core/objects.h"
#include "crypto/engine/engine.h"
#include "crypto/keys/pkey.h"
#include "crypto/store/pkey_ctx.h"
#include "crypto/store/pse_ctx.h"
#include "tests/support/kernel_random.h"

namespace cadb::test {

using Bytes = std::vector<unsigned char>;

struct PkeyFree {
    void operator()(PKEY* k) const { PKEY_free(k); }
};
using PkeyPtr = std::unique_ptr<PKEY, PkeyFree>;
struct PkeyCtxFree {
    void operator()(PKEY_CTX* c) const { PKEY_CTX_free(c); }
};
using PkeyCtxPtr = std::unique_ptr<PKEY_CTX, PkeyCtxFree>;
struct PseCtxFree {
    void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
};
using PseCtxPtr = std::unique_ptr<PSE_CTX, PseCtxFree>;

inline Bytes bytes_of(const BUFFER* b) {
    return b != nullptr && b->data != nullptr ? Bytes(b->data, b->data + b->length) : Bytes{};
}

// True when the queue holds an entry with the reason; the queue is emptied.
inline bool queue_has_reason(int reason) {
    bool seen = false;
    while (unsigned long e = ERR_get_error()) seen |= ERR_code_reason(e) == reason;
    return seen;
}

class KeysTest : public ::testing::Test {
  protected:
    static constexpr const char* kStorePath = "a:\\store";

    static void SetUpTestSuite() {
        ASSERT_EQ(ENGINE_load_cadb(), 1);
        ERR_load_CADB_strings();
    }

    void SetUp() override {
        root_ = std::filesystem::temp_directory_path() /
                ("keys-" + std::to_string(getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(root_);
        std::filesystem::create_directories(root_);
        setenv("CADB_DRIVE_A", root_.c_str(), 1);
        store_ = open_store(kStorePath);
        ASSERT_NE(store_, nullptr);
        ERR_clear_error();
    }

    void TearDown() override {
        PSE_free(store_);
        ERR_clear_error();
        std::filesystem::remove_all(root_);
    }

    // A new store written at path and opened again: a store as users have it.
    static PSE* open_store(const char* path) {
        PseCtxPtr made(PSE_CTX_new());
        if (!PSE_CTX_set_path(made.get(), path, 0) || !PSE_CTX_create(made.get()) ||
            !PSE_CTX_write(made.get()))
            return nullptr;
        PseCtxPtr opened(PSE_CTX_new());
        if (!PSE_CTX_set_path(opened.get(), path, 0) || !PSE_CTX_read(opened.get())) return nullptr;
        return PSE_up_ref(PSE_CTX_get_pse(opened.get()));
    }

    std::filesystem::path root_;
    PSE* store_ = nullptr;
    testing::KernelRandom random_;
};

}  // namespace cadb::test
