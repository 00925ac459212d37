// A new store is written only where no store is: processes that all found
// the drive empty and create at once end with one store, the first one
// written, which every one of them can then open and use.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/store/pse_ctx.h"
#include "tests/support/kernel_random.h"
#include "tests/support/process_race.h"
#include "tests/store/store_util.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

using testing::CtxPtr;
using testing::fingerprint_of;
using testing::Fingerprint;

constexpr const char* kPath = "a:\\store";

CtxPtr context(int flags) { return testing::store_context(kPath, "pw", flags); }

bool store_was_there() {
    bool there = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        there = there || (ERR_code_lib(e) == ERR_LIB_CADB &&
                          ERR_code_reason(e) == CADB_R_KEY_STORE_EXISTS);
    return there;
}

// The store a process ends up with: the new one it wrote, or the one it
// found there, opened.
std::optional<Fingerprint> create_or_open() {
    CtxPtr ctx = context(PSE_CTX_FLAG_NEW_STORE);
    if (PSE_CTX_create(ctx.get()) != 1) return std::nullopt;
    if (PSE_CTX_write(ctx.get()) == 1) return fingerprint_of(ctx.get());
    if (!store_was_there()) return std::nullopt;
    CtxPtr found = context(0);
    if (PSE_CTX_read(found.get()) != 1) return std::nullopt;
    return fingerprint_of(found.get());
}

class PseNewStore : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        char tmpl[] = "/tmp/psenew-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        setenv("CADB_DRIVE_A", root_.c_str(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        ERR_clear_error();
        fs::remove_all(root_);
    }

    std::optional<Fingerprint> open_store() {
        CtxPtr ctx = context(0);
        if (PSE_CTX_read(ctx.get()) != 1) return std::nullopt;
        return fingerprint_of(ctx.get());
    }

    fs::path root_;
    testing::KernelRandom random_;
};

TEST_F(PseNewStore, ASecondNewStoreLeavesTheFirst) {
    CtxPtr first = context(PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(first.get()), 1);
    ASSERT_EQ(PSE_CTX_write(first.get()), 1);
    const Fingerprint made = fingerprint_of(first.get());

    CtxPtr second = context(PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(second.get()), 1);
    ERR_clear_error();
    EXPECT_EQ(PSE_CTX_write(second.get()), 0);
    EXPECT_TRUE(store_was_there());
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_KEY_STORE_IO);
    EXPECT_EQ(open_store(), made);

    // The master-key file alone is already a store not to be replaced.
    fs::remove(root_ / "store" / "masks.db3");
    fs::remove(root_ / "store" / "kek.opq");
    EXPECT_EQ(PSE_CTX_write(second.get()), 0);
    EXPECT_TRUE(store_was_there());
    // Without the flag a write replaces what is there, as it always has.
    ASSERT_EQ(PSE_CTX_set_flags(second.get(), 0), 1);
    EXPECT_EQ(PSE_CTX_write(second.get()), 1);
    EXPECT_EQ(open_store(), fingerprint_of(second.get()));
}

// Every process found no store; each creates one at the same moment. They
// all end with the store that stays on the drive.
TEST_F(PseNewStore, ProcessesCreatingAtOnceShareOneStore) {
    const testing::Race race = testing::race_processes(8, Fingerprint{}.size(), [](int, int fd) {
        const std::optional<Fingerprint> f = create_or_open();
        if (!f) return 2;
        return testing::tell(fd, f->data(), f->size()) ? 0 : 3;
    });
    EXPECT_TRUE(race.all_exited_zero);
    std::set<Fingerprint> stores;
    for (const std::string& record : race.records) {
        Fingerprint f{};
        std::copy(record.begin(), record.end(), f.begin());
        stores.insert(f);
    }
    ASSERT_EQ(stores.size(), 1u);
    EXPECT_EQ(open_store(), *stores.begin());
}

}  // namespace
}  // namespace cadb
