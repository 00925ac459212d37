// The key-store context over a drive mapped to a temporary folder.
#include "crypto/store/pse_ctx.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/core/objects.h"
#include "crypto/pse/pse_secrets.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rus/sbox.h"
#include "crypto/store/buffer_crypt.h"
#include "tests/support/kernel_random.h"
#include "tests/store/store_util.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

using testing::Bytes;
using testing::CtxPtr;
using testing::load;
using testing::save;

class PseCtx : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        root_ = testing::make_drive_a("psectx");
        ERR_clear_error();
    }
    void TearDown() override {
        ERR_clear_error();
        fs::remove_all(root_);
    }

    fs::path file(const char* name) const { return root_ / "store" / name; }

    // A new store written under path a:\store; its fingerprint is kept.
    void make_store(const char* password, int sbox_code = 31) {
        CtxPtr ctx(PSE_CTX_new());
        ASSERT_TRUE(ctx);
        ASSERT_EQ(PSE_CTX_set_path(ctx.get(), kPath, 0), 1);
        ASSERT_EQ(PSE_CTX_set_sbox_code(ctx.get(), sbox_code), 1);
        ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
        if (password != nullptr) {
            ASSERT_EQ(PSE_CTX_set_password(ctx.get(), password, 0), 1);
        }
        ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
        std::memcpy(fingerprint_, PSE_CTX_get_pse(ctx.get())->fingerprint, 32);
    }

    // Opens the store; the context when it opened, else null.
    CtxPtr open(const char* password) {
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        if (password != nullptr) PSE_CTX_set_password(ctx.get(), password, 0);
        if (!PSE_CTX_read(ctx.get())) {
            EXPECT_EQ(PSE_CTX_get_pse(ctx.get()), nullptr);
            return nullptr;
        }
        return ctx;
    }

    static constexpr const char* kPath = "a:\\store";
    fs::path root_;
    unsigned char fingerprint_[32]{};
    testing::KernelRandom random_;
};

TEST_F(PseCtx, CreatedStoreHasTheFourFilesAndReopens) {
    make_store("secret");
    EXPECT_EQ(load(file("mk.db3")).size(), 230u);  // 6 + 32 x 7
    EXPECT_GT(load(file("masks.db3")).size(), 32u);
    EXPECT_EQ(load(file("kek.opq")).size(), 36u);
    EXPECT_EQ(load(file("rand.opq")).size(), 36u);
    EXPECT_EQ(fs::status(file("mk.db3")).permissions() & fs::perms::group_all, fs::perms::none);

    CtxPtr ctx = open("secret");
    ASSERT_TRUE(ctx);
    PSE* pse = PSE_CTX_get_pse(ctx.get());
    EXPECT_EQ(std::memcmp(pse->fingerprint, fingerprint_, 32), 0);
    EXPECT_EQ(pse->path, kPath);
    EXPECT_EQ(std::memcmp(pse->sbox, GOSTE_get_sbox_by_code(31), 64), 0);
}

TEST_F(PseCtx, WrongOrMissingPasswordFailsCleanly) {
    make_store("secret");
    EXPECT_FALSE(open("Secret"));
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_KEY_STORE_IO);
    const unsigned long last = ERR_peek_last_error();
    EXPECT_EQ(ERR_code_lib(last), ERR_LIB_CADB);
    EXPECT_EQ(ERR_code_func(last), CADB_F_PSE_CTX_READ);
    EXPECT_EQ(ERR_code_reason(last), ERR_LIB_CADB);  // "CADB lib" closes a failed read
    ERR_clear_error();
    EXPECT_FALSE(open(nullptr));
    EXPECT_TRUE(open("secret"));
}

struct PasswordCall {
    const char* answer;
    int calls = 0;
};
int answer_password(char* buf, int size, int rwflag, void* arg) {
    auto* call = static_cast<PasswordCall*>(arg);
    ++call->calls;
    EXPECT_EQ(size, 1024);
    EXPECT_EQ(rwflag, 0);
    EXPECT_EQ(buf[0], 0);
    if (call->answer == nullptr) return -1;
    const int n = static_cast<int>(std::strlen(call->answer));
    std::memcpy(buf, call->answer, static_cast<std::size_t>(n));
    return n;
}

TEST_F(PseCtx, PasswordCallbackIsAskedWhenNoPasswordIsSet) {
    make_store("secret");
    for (const char* answer : {"secret", "wrong", static_cast<const char*>(nullptr)}) {
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        PasswordCall call{answer};
        PSE_CTX_set_passwd_cb(ctx.get(), answer_password, &call);
        const bool right = answer != nullptr && std::string(answer) == "secret";
        EXPECT_EQ(PSE_CTX_read(ctx.get()), right ? 1 : 0);
        EXPECT_EQ(call.calls, 1);
        ERR_clear_error();
    }
}

TEST_F(PseCtx, StoreWithoutPasswordKeepsClearMasks) {
    make_store(nullptr);
    EXPECT_EQ(load(file("masks.db3")).size(), 32u);
    EXPECT_TRUE(open(nullptr));
    EXPECT_TRUE(open("ignored"));  // clear masks need no password
}

// The masks are judged by their message type, not their length: a message
// of another type is taken as clear and, not being a 32-byte share, fails
// without a password being asked for; an encrypted one in PEM decrypts.
TEST_F(PseCtx, MasksAreJudgedByTheirMessageType) {
    make_store("pw");
    const Bytes stored = load(file("masks.db3"));
    Bytes data_message = {0x30, 0x2F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                          0x0D, 0x01, 0x07, 0x01, 0xA0, 0x22, 0x04, 0x20};
    data_message.resize(data_message.size() + 32, 0x5A);
    save(file("masks.db3"), data_message);
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    PasswordCall call{"pw"};
    PSE_CTX_set_passwd_cb(ctx.get(), answer_password, &call);
    EXPECT_EQ(PSE_CTX_read(ctx.get()), 0);
    EXPECT_EQ(call.calls, 0);
    ERR_clear_error();

    // The same masks in the PEM form of the encrypted message.
    save(file("masks.db3"), stored);
    CtxPtr clear = open("pw");
    ASSERT_TRUE(clear);
    int len = 0;
    ASSERT_EQ(PSE_CTX_get_masks(clear.get(), nullptr, &len), 1);
    BufferPtr share(BUFFER_fill(clear->masks->data, clear->masks->length));
    BufferPtr pem(BUFFER_encrypt(share->data, share->length, 174, "pw", 2, -1, 0, 2, 0));
    ASSERT_TRUE(pem);
    save(file("masks.db3"), Bytes(pem->data, pem->data + pem->length));
    EXPECT_TRUE(open("pw"));
}

TEST_F(PseCtx, StoreSboxIsFoundByTheCheckValue) {
    for (int code : {32, 33, 35}) {
        make_store("pw", code);
        CtxPtr ctx = open("pw");
        ASSERT_TRUE(ctx) << code;
        EXPECT_EQ(std::memcmp(PSE_CTX_get_pse(ctx.get())->sbox, GOSTE_get_sbox_by_code(code), 64),
                  0);
        EXPECT_EQ(std::memcmp(PSE_CTX_get_pse(ctx.get())->fingerprint, fingerprint_, 32), 0);
    }
}

TEST_F(PseCtx, EachDamagedFileFailsTheRead) {
    make_store("pw");
    struct Damage {
        const char* name;
        void (*change)(Bytes&);
    };
    const Damage damages[] = {
        {"mk.db3", [](Bytes& b) { b[40] ^= 1; }},
        {"mk.db3", [](Bytes& b) { b.pop_back(); }},
        {"mk.db3", [](Bytes& b) { b.push_back(0); }},
        {"mk.db3", [](Bytes& b) { b[1] = 9; }},     // share count beyond the record
        {"mk.db3", [](Bytes& b) { b[0] = 0x21; }},  // not a master-key record
        {"mk.db3", [](Bytes& b) { b.clear(); }},
        {"masks.db3", [](Bytes& b) { b[b.size() - 3] ^= 0x80; }},
        {"masks.db3", [](Bytes& b) { b.resize(b.size() / 2); }},
        {"masks.db3", [](Bytes& b) { b.resize(33); }},
        {"kek.opq", [](Bytes& b) { b.pop_back(); }},
        {"kek.opq", [](Bytes& b) { b.push_back(0); }},
        {"kek.opq", [](Bytes& b) { b[3] ^= 4; }},
        {"kek.opq", [](Bytes& b) { b[35] ^= 4; }},
    };
    for (const Damage& d : damages) {
        const Bytes good = load(file(d.name));
        Bytes bad = good;
        d.change(bad);
        save(file(d.name), bad);
        EXPECT_FALSE(open("pw")) << d.name;
        ERR_clear_error();
        save(file(d.name), good);
    }
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq"}) {
        const Bytes good = load(file(name));
        fs::remove(file(name));
        EXPECT_FALSE(open("pw")) << name;
        save(file(name), good);
    }
    EXPECT_TRUE(open("pw"));
}

TEST_F(PseCtx, RewriteUnderANewPasswordKeepsTheStore) {
    make_store("old");
    CtxPtr ctx = open("old");
    ASSERT_TRUE(ctx);
    ASSERT_EQ(PSE_CTX_set_password(ctx.get(), "new", 0), 1);
    ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
    EXPECT_FALSE(open("old"));
    CtxPtr again = open("new");
    ASSERT_TRUE(again);
    EXPECT_EQ(std::memcmp(PSE_CTX_get_pse(again.get())->fingerprint, fingerprint_, 32), 0);
}

TEST_F(PseCtx, FailedWriteLeavesTheOldStore) {
    make_store("pw");
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    // The KEK file cannot be replaced: a folder stands in its place.
    const Bytes kek = load(file("kek.opq"));
    fs::remove(file("kek.opq"));
    fs::create_directory(file("kek.opq"));
    EXPECT_EQ(PSE_CTX_write(ctx.get()), 0);
    fs::remove(file("kek.opq"));
    save(file("kek.opq"), kek);
    CtxPtr old = open("pw");
    ASSERT_TRUE(old);
    EXPECT_EQ(std::memcmp(PSE_CTX_get_pse(old.get())->fingerprint, fingerprint_, 32), 0);
}

TEST_F(PseCtx, EraseRemovesTheFiles) {
    make_store("pw");
    CtxPtr ctx(PSE_CTX_new());
    EXPECT_EQ(PSE_CTX_erase(ctx.get()), 0);  // no store path
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    EXPECT_EQ(PSE_CTX_erase(ctx.get()), 1);
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"})
        EXPECT_FALSE(fs::exists(file(name))) << name;
    EXPECT_FALSE(open("pw"));
}

TEST_F(PseCtx, PathOverridesAndSuppliedContents) {
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    PSE_CTX_set_masks_path(ctx.get(), "a:\\elsewhere\\m.bin", 0);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
    EXPECT_FALSE(fs::exists(file("masks.db3")));
    EXPECT_EQ(load(root_ / "elsewhere" / "m.bin").size(), 32u);
    EXPECT_FALSE(open(nullptr));

    // Contents handed over directly are used in place of their files.
    int len = 0;
    ASSERT_EQ(PSE_CTX_get_masks(ctx.get(), nullptr, &len), 1);
    Bytes masks(static_cast<std::size_t>(len));
    ASSERT_EQ(PSE_CTX_get_masks(ctx.get(), masks.data(), &len), 1);
    CtxPtr other(PSE_CTX_new());
    PSE_CTX_set_path(other.get(), kPath, 0);
    EXPECT_EQ(PSE_CTX_set_masks(other.get(), nullptr, 32), 0);
    ASSERT_EQ(PSE_CTX_set_masks(other.get(), masks.data(), len), 1);
    EXPECT_EQ(PSE_CTX_read(other.get()), 1);
}

TEST_F(PseCtx, LongStorePathsYieldNoFiles) {
    char out[260];
    const std::string ok = "a:\\" + std::string(244, 'x');  // 247 characters
    const std::string too_long = ok + "y";
    EXPECT_NE(PSE_CTX_file_path(out, ok.c_str(), PSE_FILE_MKEY), nullptr);
    EXPECT_EQ(PSE_CTX_file_path(out, too_long.c_str(), PSE_FILE_MKEY), nullptr);
    EXPECT_EQ(PSE_CTX_file_path(nullptr, ok.c_str(), PSE_FILE_MKEY), nullptr);
    EXPECT_EQ(PSE_CTX_file_path(out, nullptr, PSE_FILE_MKEY), nullptr);
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), too_long.c_str(), 0);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    EXPECT_EQ(PSE_CTX_write(ctx.get()), 0);
    CtxPtr fresh(PSE_CTX_new());
    PSE_CTX_set_path(fresh.get(), too_long.c_str(), 0);
    EXPECT_EQ(PSE_CTX_read(fresh.get()), 0);
}

TEST(PseCtxPaths, FileNamesFollowTheMedium) {
    char out[260];
    EXPECT_STREQ(PSE_CTX_file_path(out, "a:\\s", PSE_FILE_MASKS), "a:\\s\\masks.db3");
    EXPECT_STREQ(PSE_CTX_file_path(out, "a:\\s", PSE_FILE_PKCS12), "a:\\s\\store.pfx");
    EXPECT_STREQ(PSE_CTX_file_path(out, "iButton\\1", PSE_FILE_MKEY), "iButton\\1\\mk  .001");
    EXPECT_STREQ(PSE_CTX_file_path(out, "iButton\\1", PSE_FILE_KEK), "iButton\\1\\kek .001");
    EXPECT_STREQ(PSE_CTX_file_path(out, "eToken\\0", PSE_FILE_RAND), "eToken\\0\\d001");
    EXPECT_STREQ(PSE_CTX_file_path(out, "ruToken\\0", PSE_FILE_KEYS_DIR), "ruToken\\0\\aaaa");
    EXPECT_STREQ(PSE_CTX_file_path(out, "pkcs11\\t", PSE_FILE_KEK), "pkcs11\\t\\kek.opq");
    EXPECT_EQ(PSE_CTX_file_path(out, "a:\\s", 6), nullptr);
    EXPECT_STREQ(CADB_key_file_path_1("a:\\s", out), "a:\\s\\keys\\00000001.key");
    EXPECT_STREQ(CADB_key_file_path("a:\\s", 0x1A, out), "a:\\s\\keys\\0000001A.key");
    EXPECT_STREQ(CADB_key_file_path("eToken\\0", 7, out), "eToken\\0\\aaaa\\0007");
    EXPECT_STREQ(CADB_key_file_path("iButton\\1", 2, out), "iButton\\1\\keys\\key .002");
}

TEST_F(PseCtx, Pkcs11PathsAreRefusedWithoutTheirMethod) {
    CtxPtr ctx(PSE_CTX_new());
    EXPECT_EQ(ctx->method, PSE_get_default_method());
    ASSERT_EQ(PSE_CTX_set_path(ctx.get(), "PKCS11\\token", 0), 1);
    EXPECT_STREQ(ctx->method->name, "PSE_CTX pkcs11 method");
    EXPECT_EQ(PSE_CTX_create(ctx.get()), 0);
    EXPECT_EQ(PSE_CTX_read(ctx.get()), 0);
    EXPECT_EQ(PSE_CTX_erase(ctx.get()), 0);
    ASSERT_EQ(PSE_CTX_set_path(ctx.get(), kPath, 0), 1);
    EXPECT_EQ(ctx->method, PSE_get_default_method());
}

TEST_F(PseCtx, BadArguments) {
    EXPECT_EQ(PSE_CTX_set_path(nullptr, "a:\\x", 0), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_BAD_ARGUMENT);
    CtxPtr ctx(PSE_CTX_new());
    EXPECT_EQ(PSE_CTX_set_path(ctx.get(), nullptr, 0), 0);
    EXPECT_EQ(PSE_CTX_set_shares(ctx.get(), 0), 0);
    EXPECT_EQ(PSE_CTX_set_shares(ctx.get(), 9), 0);
    EXPECT_EQ(PSE_CTX_set_sbox_code(ctx.get(), 23), 0);
    EXPECT_EQ(PSE_CTX_write(ctx.get()), 0);  // nothing held
    int len = 0;
    EXPECT_EQ(PSE_CTX_get_mkey(ctx.get(), nullptr, &len), 0);
    EXPECT_EQ(PSE_CTX_read(nullptr), 0);
    EXPECT_EQ(PSE_CTX_create(nullptr), 0);
    PSE_CTX_free(nullptr);
}

TEST(PseCtxErrors, FunctionNamesAreKnown) {
    ERR_load_CADB_strings();
    EXPECT_STREQ(ERR_func_error_string(ERR_pack_code(ERR_LIB_CADB, CADB_F_PSE_CTX_READ, 0)),
                 "PSE_CTX_read");
    EXPECT_STREQ(ERR_func_error_string(ERR_pack_code(ERR_LIB_CADB, CADB_F_PSE_CTX_ERASE, 0)),
                 "PSE_CTX_erase");
}

TEST_F(PseCtx, SuppliedContentsAreCheckedLikeFiles) {
    make_store(nullptr);
    const Bytes kek = load(file("kek.opq"));
    for (std::size_t size : {35u, 37u}) {
        Bytes bad = kek;
        bad.resize(size);
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        ASSERT_EQ(PSE_CTX_set_kek(ctx.get(), bad.data(), static_cast<int>(bad.size())), 1);
        EXPECT_EQ(PSE_CTX_read(ctx.get()), 0) << size;
        ERR_clear_error();
    }
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    ASSERT_EQ(PSE_CTX_set_kek(ctx.get(), kek.data(), static_cast<int>(kek.size())), 1);
    EXPECT_EQ(PSE_CTX_read(ctx.get()), 1);
}

TEST_F(PseCtx, OneShareStoreKeepsOnlyTheHeaderInTheMasterKeyFile) {
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    ASSERT_EQ(PSE_CTX_set_shares(ctx.get(), 1), 1);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    ASSERT_EQ(PSE_CTX_write(ctx.get()), 1);
    EXPECT_EQ(load(file("mk.db3")).size(), 6u);
    EXPECT_TRUE(open(nullptr));
}

TEST_F(PseCtx, RandomStateGetter) {
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    int len = 0;
    EXPECT_EQ(PSE_CTX_get_rand_state(ctx.get(), nullptr, &len), 0);  // no store held
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    len = 0;
    EXPECT_EQ(PSE_CTX_get_rand_state(ctx.get(), nullptr, &len), 0);  // the room is checked first
    EXPECT_EQ(len, 36);
    EXPECT_EQ(PSE_CTX_get_rand_state(ctx.get(), nullptr, &len), 1);
    EXPECT_EQ(len, 36);
    unsigned char state[36];
    len = 35;
    EXPECT_EQ(PSE_CTX_get_rand_state(ctx.get(), state, &len), 0);
    len = 36;
    ASSERT_EQ(PSE_CTX_get_rand_state(ctx.get(), state, &len), 1);
    unsigned char clear[32];
    EXPECT_NE(PSE_read_opaque(PSE_CTX_get_pse(ctx.get()), state, clear), nullptr);
}

struct InsertCall {
    fs::path drive;
    bool insert;
    int calls = 0;
};
int insert_medium(const char* path, void* arg) {
    auto* call = static_cast<InsertCall*>(arg);
    ++call->calls;
    EXPECT_STREQ(path, "a:\\store");
    if (call->insert) fs::create_directories(call->drive);
    return call->insert ? 1 : 0;
}

TEST_F(PseCtx, ReadWaitsForTheMedium) {
    make_store("pw");
    const fs::path away = root_.string() + "-away";
    fs::rename(root_, away);
    for (bool insert : {false, true}) {
        InsertCall call{root_, insert};
        CtxPtr ctx(PSE_CTX_new());
        PSE_CTX_set_path(ctx.get(), kPath, 0);
        PSE_CTX_set_password(ctx.get(), "pw", 0);
        PSE_CTX_set_insert_media_cb(ctx.get(), insert_medium, &call);
        EXPECT_EQ(PSE_CTX_read(ctx.get()), 0);  // the medium came back empty, or not at all
        EXPECT_GE(call.calls, 1);
        ERR_clear_error();
    }
    fs::remove_all(root_);
    fs::rename(away, root_);
    InsertCall call{root_, false};
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    PSE_CTX_set_password(ctx.get(), "pw", 0);
    PSE_CTX_set_insert_media_cb(ctx.get(), insert_medium, &call);
    EXPECT_EQ(PSE_CTX_read(ctx.get()), 1);
    EXPECT_EQ(call.calls, 0);
}

TEST_F(PseCtx, OneContextSharedByThreads) {
    make_store("pw");
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), kPath, 0);
    PSE_CTX_set_password(ctx.get(), "pw", 0);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                if (t % 2 == 0) {
                    if (!PSE_CTX_read(ctx.get())) ++failures;
                } else {
                    std::lock_guard g(ctx->mutex);
                    PSE* pse = PSE_CTX_get_pse(ctx.get());
                    if (pse != nullptr && std::memcmp(pse->fingerprint, fingerprint_, 32) != 0)
                        ++failures;
                    if (pse != nullptr && !PSE_CTX_write(ctx.get())) ++failures;
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_TRUE(open("pw"));
}

}  // namespace
}  // namespace cadb
