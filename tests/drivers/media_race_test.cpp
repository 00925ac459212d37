// Processes of the user sharing one token medium: the stand-in libraries keep
// the device in one directory that every forked process reaches. A new store
// or a new file name goes to one of them, whole; the others are told it is
// taken, as on a disk. What a writer that died left of a store is no store.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/etoken.h"
#include "crypto/bio/etoken_r2.h"
#include "crypto/bio/ikey.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken.h"
#include "crypto/bio/touch_memory.h"
#include "crypto/core/err.h"
#include "crypto/pse/pse.h"
#include "crypto/rand/grand.h"
#include "crypto/rand/pse_rand.h"
#include "crypto/rand/rand.h"
#include "crypto/store/media_io.h"
#include "crypto/store/media_lock.h"
#include "crypto/store/pse_commit.h"
#include "crypto/store/pse_ctx.h"
#include "tests/drivers/token_fixture.h"
#include "tests/grand/grand_fixture.h"
#include "tests/support/kernel_random.h"
#include "tests/support/process_race.h"

namespace cadb {
namespace {

namespace fs = std::filesystem;

constexpr int kProcesses = 6;
constexpr const char* kPin = "1234";

int pin_cb(char* buf, int size, int, void*) {
    const int n = static_cast<int>(std::strlen(kPin));
    if (n >= size) return -1;
    std::memcpy(buf, kPin, static_cast<std::size_t>(n) + 1);
    return n;
}

enum class Kind { eToken, eTokenR2, ruToken, touchMemory, iKey };

struct Medium {
    const char* name;
    Kind kind;
    const char* stores;  // the folder of store number n, "%02d" for n
    const char* keys;    // a folder of key files
};

// The store folder of number n.
std::string store_of(const Medium& m, int n) {
    char path[64];
    std::snprintf(path, sizeof path, m.stores, n);
    return path;
}

// The key file of number n in the medium's naming.
std::string key_name(const Medium& m, int n) {
    char name[16];
    std::snprintf(name, sizeof name, m.kind == Kind::touchMemory ? "key .%03d" : "%04d", n);
    return std::string(m.keys) + "\\" + name;
}

struct CtxFree {
    void operator()(PSE_CTX* c) const { PSE_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<PSE_CTX, CtxFree>;

CtxPtr store_context(const Medium& m, int store, const std::string& password, int flags) {
    CtxPtr ctx(PSE_CTX_new());
    PSE_CTX_set_path(ctx.get(), store_of(m, store).c_str(), 0);
    PSE_CTX_set_password(ctx.get(), password.c_str(), 0);
    // The iKey library takes its PIN from the media words.
    if (m.kind == Kind::iKey)
        PSE_CTX_set_media_words(ctx.get(), 4, kPin, static_cast<int>(std::strlen(kPin)) + 1);
    if (flags != 0) PSE_CTX_set_flags(ctx.get(), flags);
    return ctx;
}

using Fingerprint = std::array<unsigned char, 32>;

Fingerprint fingerprint_of(PSE_CTX* ctx) {
    Fingerprint f{};
    std::memcpy(f.data(), PSE_CTX_get_pse(ctx)->fingerprint, f.size());
    return f;
}

bool store_was_there() {
    bool there = false;
    for (unsigned long e; (e = ERR_get_error()) != 0;)
        there = there ||
                (ERR_code_lib(e) == ERR_LIB_CADB && ERR_code_reason(e) == CADB_R_KEY_STORE_EXISTS);
    return there;
}

std::string password(int creator) { return "password " + std::to_string(creator); }

// A stand-in library opened for its configuration entry.
class StandIn : public test::SimModule {
  public:
    using SimModule::SimModule;
    template <class F>
    F entry(const char* name) const {
        F fn = nullptr;
        bind(fn, name);
        return fn;
    }
};

class MediaRace : public ::testing::TestWithParam<Medium> {
  protected:
    void SetUp() override {
        const Medium& m = GetParam();
        const fs::path root = root_.path();
        switch (m.kind) {
            case Kind::eToken:
                configure<void (*)(const char*, const char*)>("etsdk", root.c_str(), kPin);
                fs::create_directories(root / "AKS ifdh 0" / "token");
                ETOKEN_set_passwd_cb(pin_cb);
                ASSERT_EQ(ETOKEN_load(), 1);
                break;
            case Kind::eTokenR2:
                configure<void (*)(const char*, const char*)>("etapi", root.c_str(), kPin);
                fs::create_directories(root / "AKS ifdh 0" / "token");
                ETOKEN_set_passwd_cb(pin_cb);
                ASSERT_EQ(ETR2_load(), 1);
                break;
            case Kind::ruToken:
                configure<void (*)(const char*, const char*)>("rtapilt", root.c_str(), kPin);
                fs::create_directories(root / "Aktiv Co. ruToken 0" / "token");
                RUTOKEN_set_passwd_cb(pin_cb);
                ASSERT_EQ(RUTOKEN_load(), 1);
                break;
            case Kind::touchMemory:
                configure<void (*)(const char*)>("ibfs32", root.c_str());
                fs::create_directories(root / "COM1" / "button");
                ASSERT_EQ(TM_load(), 1);
                break;
            case Kind::iKey: {
                static constexpr unsigned char kBinaryPin[4] = {0x34, 0x12, 0, 0};
                configure<void (*)(const char*, const char*, const unsigned char*)>(
                    "iKeyAPI", root.c_str(), kPin, kBinaryPin);
                fs::create_directories(root / "0");
                ASSERT_EQ(IKEY_load(), 1);
                break;
            }
        }
        ERR_clear_error();
    }
    void TearDown() override {
        if (GetParam().kind == Kind::iKey) IKEY_unload();
        ETOKEN_set_passwd_cb(nullptr);
        RUTOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }

    // Calls the stand-in's own configuration entry.
    template <class F, class... Args>
    void configure(const char* library, Args... args) {
        module_ = std::make_unique<StandIn>(library);
        const F fn = module_->entry<F>("simConfigure");
        ASSERT_NE(fn, nullptr) << library;
        fn(args...);
    }

    std::optional<Fingerprint> open_store(int store, const std::string& with) {
        CtxPtr ctx = store_context(GetParam(), store, with, 0);
        if (PSE_CTX_read(ctx.get()) != 1) return std::nullopt;
        return fingerprint_of(ctx.get());
    }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::TempDir root_;
    std::unique_ptr<StandIn> module_;
    testing::KernelRandom random_;
};

// Every process found the medium empty and makes a store with its own
// password at the same moment: one of them made the store that stays, and
// its password opens it; every other one was told a store is there. A few
// rounds, each on a store folder of its own.
TEST_P(MediaRace, ProcessesMakingAStoreAtOnceLeaveTheOneThatReportedIt) {
    constexpr int kRounds = 4;
    for (int round = 0; round < kRounds; ++round) {
        // Each process's store is made before they are let go: they all
        // write at once.
        std::vector<CtxPtr> creators;
        for (int i = 0; i < kProcesses; ++i) {
            creators.push_back(
                store_context(GetParam(), round, password(i), PSE_CTX_FLAG_NEW_STORE));
            ASSERT_EQ(PSE_CTX_create(creators.back().get()), 1);
        }
        const testing::Race race = testing::race_processes(
            kProcesses, 1 + Fingerprint{}.size(), [&creators](int i, int fd) {
                std::string record(1 + Fingerprint{}.size(), '\0');
                PSE_CTX* ctx = creators[static_cast<std::size_t>(i)].get();
                ERR_clear_error();
                if (PSE_CTX_write(ctx) == 1) {
                    record[0] = static_cast<char>('0' + i);
                    const Fingerprint f = fingerprint_of(ctx);
                    std::copy(f.begin(), f.end(), record.begin() + 1);
                } else {
                    record[0] = store_was_there() ? '-' : '!';
                }
                return testing::tell(fd, record.data(), record.size()) ? 0 : 3;
            });
        EXPECT_TRUE(race.all_exited_zero);
        ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kProcesses));
        std::vector<std::string> winners;
        for (const std::string& record : race.records) {
            EXPECT_NE(record[0], '!') << "a creator failed otherwise than on the store there";
            if (record[0] != '-' && record[0] != '!') winners.push_back(record);
        }
        ASSERT_EQ(winners.size(), 1u) << "round " << round;
        Fingerprint made{};
        std::copy(winners[0].begin() + 1, winners[0].end(), made.begin());
        EXPECT_EQ(open_store(round, password(winners[0][0] - '0')), made) << "round " << round;
    }
}

// A rewriter (a new password over the store) killed at any instant of its
// write leaves a store that the old password or the new one opens.
TEST_P(MediaRace, ARewriterKilledAtAnyInstantLeavesAStoreThatOpens) {
    const Medium m = GetParam();
    CtxPtr made = store_context(m, 0, password(0), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    // The kills are spread over one rewrite's time, and a little past it.
    CtxPtr timed = store_context(m, 0, password(0), 0);
    ASSERT_EQ(PSE_CTX_read(timed.get()), 1);
    const auto began = std::chrono::steady_clock::now();
    ASSERT_EQ(PSE_CTX_write(timed.get()), 1);
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - began)
                          .count();
    constexpr int kKills = 30;
    int current = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const int next = kill + 1;
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            CtxPtr ctx = store_context(m, 0, password(current), 0);
            if (PSE_CTX_read(ctx.get()) != 1) ::_exit(2);
            PSE_CTX_set_password(ctx.get(), password(next).c_str(), 0);
            if (::write(ready[1], "r", 1) != 1) ::_exit(3);
            ::_exit(PSE_CTX_write(ctx.get()) == 1 ? 0 : 4);
        }
        ::close(ready[1]);
        char c = 0;
        const bool child_ready = ::read(ready[0], &c, 1) == 1;
        ::close(ready[0]);
        ::usleep(static_cast<useconds_t>(took * kill * 5 / (kKills * 4)));
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(child_ready) << "kill " << kill;
        if (open_store(0, password(next))) {
            current = next;
        } else {
            ASSERT_TRUE(open_store(0, password(current))) << "kill " << kill << " of " << kKills;
        }
    }
}

// A writer that died after the master-key file left it alone on the
// medium: no password opens it, and the next new store takes its place.
TEST_P(MediaRace, WhatADeadWriterLeftIsReplacedByANewStore) {
    const Medium m = GetParam();
    CtxPtr dead = store_context(m, 0, password(0), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(dead.get()), 1);
    std::array<unsigned char, 512> mkey{};
    int mkey_len = static_cast<int>(mkey.size());
    ASSERT_EQ(PSE_CTX_get_mkey(dead.get(), mkey.data(), &mkey_len), 1);
    char path[260];
    ASSERT_NE(PSE_CTX_file_path(path, store_of(m, 0).c_str(), PSE_FILE_MKEY), nullptr);
    const std::uint32_t words = m.kind == Kind::iKey ? 4 : 0;
    ASSERT_EQ(CADB_write_file(path, mkey.data(), mkey_len, words, kPin), mkey_len);

    CtxPtr next = store_context(m, 0, password(1), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(next.get()), 1);
    ERR_clear_error();
    ASSERT_EQ(PSE_CTX_write(next.get()), 1);
    EXPECT_EQ(open_store(0, password(1)), fingerprint_of(next.get()));
    // A whole store is no remnant: it stays.
    CtxPtr third = store_context(m, 0, password(2), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(third.get()), 1);
    ERR_clear_error();
    EXPECT_EQ(PSE_CTX_write(third.get()), 0);
    EXPECT_TRUE(store_was_there());
    EXPECT_EQ(open_store(0, password(1)), fingerprint_of(next.get()));
}

// What a writer killed while creating a file leaves of it: the file
// created and not yet written (empty, or zero-filled where a device creates
// files at full size), staged here on the medium as it would be found.
void stage(const Medium& m, const char* path, const std::vector<unsigned char>& bytes) {
    static const unsigned char kNone = 0;
    const std::uint32_t words = m.kind == Kind::iKey ? 4 : 0;
    CADB_write_file(path, bytes.empty() ? &kNone : bytes.data(), static_cast<int>(bytes.size()),
                    words, kPin);
    ASSERT_EQ(CADB_file_size_ex(path, words, kPin), static_cast<long>(bytes.size())) << path;
}

int seed_char(int ch, int, int, void*) { return ch; }

// A store whose KEK file a killed writer left empty or zero-filled is no
// store: a new store takes its place. A random state left empty is no
// state: a process whose generator does not yet run opens the store and
// seeds its generator as for a store without one.
TEST_P(MediaRace, RemnantsOfADeadWriterNeverTurnTheUserAway) {
    const Medium m = GetParam();
    char kek[260];
    ASSERT_NE(PSE_CTX_file_path(kek, store_of(m, 0).c_str(), PSE_FILE_KEK), nullptr);
    int made = 0;
    for (const std::vector<unsigned char>& remnant :
         {std::vector<unsigned char>{}, std::vector<unsigned char>(36, 0)}) {
        CtxPtr dead = store_context(m, 0, password(made), 0);
        ASSERT_EQ(PSE_CTX_create(dead.get()), 1);
        ASSERT_EQ(PSE_CTX_write(dead.get()), 1);
        stage(m, kek, remnant);
        ++made;
        CtxPtr next = store_context(m, 0, password(made), PSE_CTX_FLAG_NEW_STORE);
        ASSERT_EQ(PSE_CTX_create(next.get()), 1);
        ERR_clear_error();
        ASSERT_EQ(PSE_CTX_write(next.get()), 1) << remnant.size() << " bytes of KEK";
        EXPECT_EQ(open_store(0, password(made)), fingerprint_of(next.get()));
        ++made;
    }

    char rand[260];
    ASSERT_NE(PSE_CTX_file_path(rand, store_of(m, 0).c_str(), PSE_FILE_RAND), nullptr);
    stage(m, rand, {});
    test::clock() = test::FakeClock{};
    test::clock().cycles = test::varied_cycles(256);
    test::ScriptedRoutine::reset();
    GRAND_set_time_source(&test::kScriptedCycles);
    GRAND_set_seed_routine(test::ScriptedRoutine::run);
    RAND_set_rand_method(nullptr);
    CtxPtr cold = store_context(m, 0, password(made - 1), 0);
    PSE_CTX_set_rand_cb(cold.get(), seed_char);
    ERR_clear_error();
    const int opened = PSE_CTX_read(cold.get());
    const int seeded = test::ScriptedRoutine::calls;
    const int ready = RAND_status();
    PSE_rand_cleanup();
    GRAND_set_seed_routine(GRAND_keyboard_seed);
    GRAND_set_time_source(nullptr);
    RAND_set_rand_method(&testing::kKernelSource);
    EXPECT_EQ(opened, 1);
    EXPECT_EQ(seeded, 1);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(CADB_file_size_ex(rand, m.kind == Kind::iKey ? 4 : 0, kPin), 36);
}

// A medium pulled after the store's generator started from its saved state
// and before the next state is written back: the open fails and leaves no
// generator running, so nothing drawn from that state is ever used.
int g_rand_events = 0;
const BIO_MEDIA_DRIVER* g_present = nullptr;
BIO_MEDIA_DRIVER g_pulled{};
long no_size(BIO*) { return -1; }
int no_token(const char*) { return 0; }
void pull_before_write_back(int event) {
    if (event != PSE_CTX_EVENT_RAND_BEGIN || ++g_rand_events != 2) return;
    g_pulled = *g_present;
    g_pulled.token_present = no_token;
    g_pulled.open_size = no_size;
    g_pulled.method = nullptr;  // no file opens
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &g_pulled);
}

using PulledMedium = MediaRace;

TEST_P(PulledMedium, BeforeTheStateIsSavedFailsTheOpen) {
    const Medium m = GetParam();
    CtxPtr made = store_context(m, 0, password(0), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(made.get()), 1);
    ASSERT_EQ(PSE_CTX_write(made.get()), 1);
    g_present = BIO_media_driver(BIO_MEDIUM_RUTOKEN);
    g_rand_events = 0;
    RAND_set_rand_method(nullptr);
    CtxPtr ctx = store_context(m, 0, password(0), 0);
    PSE_CTX_set_notify_cb(ctx.get(), pull_before_write_back);
    ERR_clear_error();
    const int opened = PSE_CTX_read(ctx.get());
    const int ready = RAND_status();
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, g_present);
    PSE_rand_cleanup();
    RAND_set_rand_method(&testing::kKernelSource);
    EXPECT_EQ(g_rand_events, 2);
    EXPECT_EQ(opened, 0);
    EXPECT_EQ(ready, 0);
}

// A driver that cannot tell of one file of a whole store, the KEK: the
// store may be there, so a new store is refused as one that is there, and
// the store stays as it was.
using UntoldFile = MediaRace;

std::string g_untold;
const BIO_MEDIA_DRIVER* g_driver = nullptr;
int exists_but_untold(const char* path) { return path == g_untold ? -1 : g_driver->exists(path); }

TEST_P(UntoldFile, LeavesTheStoreThereAsItWas) {
    const Medium m = GetParam();
    CtxPtr first = store_context(m, 0, password(0), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(first.get()), 1);
    ASSERT_EQ(PSE_CTX_write(first.get()), 1);
    char kek[260];
    ASSERT_NE(PSE_CTX_file_path(kek, store_of(m, 0).c_str(), PSE_FILE_KEK), nullptr);
    CtxPtr second = store_context(m, 0, password(1), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(second.get()), 1);
    g_untold = kek;
    g_driver = BIO_media_driver(BIO_MEDIUM_RUTOKEN);
    BIO_MEDIA_DRIVER untold = *g_driver;
    untold.exists = exists_but_untold;
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &untold);
    ERR_clear_error();
    const int written = PSE_CTX_write(second.get());
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, g_driver);
    EXPECT_EQ(written, 0);
    EXPECT_TRUE(store_was_there());
    EXPECT_EQ(open_store(0, password(0)), fingerprint_of(first.get()));
}

// Writers started together on one name: the name has one writer that was
// given it, and the medium holds that writer's bytes whole; every other
// writer was told the name was taken. A few rounds, each on a name of its
// own.
using NewNameRace = MediaRace;

TEST_P(NewNameRace, EachNameGoesWholeToTheOneWriterGivenIt) {
    const Medium m = GetParam();
    constexpr int kRounds = 4;
    const auto bytes_of = [](int w) { return std::string(600 + w, static_cast<char>('A' + w)); };
    for (int n = 1; n <= kRounds; ++n) {
        const std::string name = key_name(m, n);
        const testing::Race race = testing::race_processes(kProcesses, 1, [&](int w, int fd) {
            const std::string mine = bytes_of(w);
            const int r =
                CADB_write_new_file(name.c_str(), mine.data(), static_cast<int>(mine.size()));
            const char got = r == static_cast<int>(mine.size()) ? static_cast<char>('A' + w)
                             : r == -1                          ? '-'
                                                                : '!';
            return testing::tell(fd, &got, 1) ? 0 : 2;
        });
        EXPECT_TRUE(race.all_exited_zero);
        ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kProcesses));
        std::vector<char> given;
        for (const std::string& result : race.records) {
            EXPECT_NE(result[0], '!') << "a write failed";
            if (result[0] != '-' && result[0] != '!') given.push_back(result[0]);
        }
        ASSERT_EQ(given.size(), 1u) << name;
        EXPECT_EQ(test::read_plain(name.c_str(), 4000), bytes_of(given[0] - 'A')) << name;
    }
}

// One eToken reached through both of its path forms at once: the two
// drivers' stand-ins share one device folder, and writers of one new name
// through either form leave one writer given it.
class TwoPathForms : public ::testing::Test {
  protected:
    void SetUp() override {
        etsdk_ = std::make_unique<StandIn>("etsdk");
        etapi_ = std::make_unique<StandIn>("etapi");
        for (const StandIn* library : {etsdk_.get(), etapi_.get()}) {
            const auto fn = library->entry<void (*)(const char*, const char*)>("simConfigure");
            ASSERT_NE(fn, nullptr);
            fn(root_.path().c_str(), kPin);
        }
        fs::create_directories(root_.path() / "AKS ifdh 0" / "token");
        ETOKEN_set_passwd_cb(pin_cb);
        ASSERT_EQ(ETOKEN_load(), 1);
        ASSERT_EQ(ETR2_load(), 1);
        ERR_clear_error();
    }
    void TearDown() override {
        ETOKEN_set_passwd_cb(nullptr);
        ERR_clear_error();
    }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    test::TempDir root_;
    std::unique_ptr<StandIn> etsdk_;
    std::unique_ptr<StandIn> etapi_;
};

TEST_F(TwoPathForms, OneNameGoesToOneWriterWhicheverFormItTakes) {
    constexpr int kRounds = 4;
    const auto bytes_of = [](int w) { return std::string(600 + w, static_cast<char>('A' + w)); };
    for (int n = 1; n <= kRounds; ++n) {
        // The eToken driver's root is the R2 driver's 3f00 folder.
        char tail[16];
        std::snprintf(tail, sizeof tail, "\\bbbb\\%04d", n);
        const std::string forms[2] = {std::string("eToken 0:") + tail,
                                      std::string("eTR2:\\3f00") + tail};
        const testing::Race race = testing::race_processes(kProcesses, 1, [&](int w, int fd) {
            const std::string mine = bytes_of(w);
            const int r = CADB_write_new_file(forms[w % 2].c_str(), mine.data(),
                                              static_cast<int>(mine.size()));
            const char got = r == static_cast<int>(mine.size()) ? static_cast<char>('A' + w)
                             : r == -1                          ? '-'
                                                                : '!';
            return testing::tell(fd, &got, 1) ? 0 : 2;
        });
        EXPECT_TRUE(race.all_exited_zero);
        ASSERT_EQ(race.records.size(), static_cast<std::size_t>(kProcesses));
        std::vector<char> given;
        for (const std::string& result : race.records) {
            EXPECT_NE(result[0], '!') << "a write failed";
            if (result[0] != '-' && result[0] != '!') given.push_back(result[0]);
        }
        ASSERT_EQ(given.size(), 1u) << forms[0];
        for (const std::string& form : forms)
            EXPECT_EQ(test::read_plain(form.c_str(), 4000), bytes_of(given[0] - 'A')) << form;
    }
}

// Savers replace a key file as a token's saver does, the old file erased
// and the new one written in one hold of the device's lock, while readers
// read the name: every read gives one saver's key whole, never the zeros
// or the gap between the erase and the write.
using ReadsBesideSavers = MediaRace;

TEST_P(ReadsBesideSavers, SeeTheOldKeyOrTheNew) {
    const std::string name = key_name(GetParam(), 1);
    const auto key_of = [](int s) { return std::string(300, static_cast<char>('K' + s)); };
    ASSERT_EQ(test::write_plain(name.c_str(), key_of(0)), 1);
    constexpr int kSavers = 2;
    constexpr int kSaves = 30;
    constexpr int kReads = 60;
    const testing::Race race = testing::race_processes(4, 1, [&](int w, int fd) {
        char bad = '0';
        if (w < kSavers) {
            const std::string mine = key_of(w + 1);
            for (int i = 0; i < kSaves; ++i) {
                MediaLock device;
                if (!device.acquire({name.c_str()}, CADB_F_CADB_WRITE_FILE) ||
                    CADB_erase_file_plain(name.c_str()) != 1 ||
                    test::write_plain(name.c_str(), mine) != 1)
                    bad = '!';
            }
        } else {
            for (int i = 0; i < kReads; ++i) {
                const std::string got = test::read_plain(name.c_str(), 1000);
                if (got != key_of(0) && got != key_of(1) && got != key_of(2)) bad = 'x';
            }
        }
        return testing::tell(fd, &bad, 1) ? 0 : 2;
    });
    EXPECT_TRUE(race.all_exited_zero);
    ASSERT_EQ(race.records.size(), 4u);
    for (const std::string& r : race.records) EXPECT_EQ(r[0], '0');
}

// A store write that fails partway puts back what it replaced and takes
// away what it made: a file that was there but could not be read is
// neither.
using StoreRollBack = MediaRace;

TEST_P(StoreRollBack, LeavesAFileItCouldNotRead) {
    const Medium m = GetParam();
    char masks[260];
    ASSERT_NE(PSE_CTX_file_path(masks, store_of(m, 0).c_str(), PSE_FILE_MASKS), nullptr);
    // Larger than any store file: no store read takes it.
    ASSERT_EQ(test::write_plain(masks, std::string(20000, 'm')), 1);
    CtxPtr ctx = store_context(m, 0, password(0), 0);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    // A KEK name the medium cannot hold: the write fails after the masks.
    const std::string unheld = store_of(m, 0) + "\\123";
    ASSERT_EQ(PSE_CTX_set_kek_path(ctx.get(), unheld.c_str(), 0), 1);
    ERR_clear_error();
    EXPECT_EQ(PSE_CTX_write(ctx.get()), 0);
    EXPECT_EQ(IsMediaPathPresent(masks), 1);
}

// A name whose file a killed writer created and never wrote (empty, or
// zero-filled) is free: the next writer given it writes it whole.
TEST_P(NewNameRace, AFileLeftUnwrittenHoldsNoName) {
    const Medium m = GetParam();
    const std::string mine(600, 'K');
    int n = 10;
    for (const std::vector<unsigned char>& remnant :
         {std::vector<unsigned char>{}, std::vector<unsigned char>(600, 0)}) {
        const std::string name = key_name(m, ++n);
        stage(m, name.c_str(), remnant);
        EXPECT_EQ(CADB_write_new_file(name.c_str(), mine.data(), static_cast<int>(mine.size())),
                  static_cast<int>(mine.size()))
            << remnant.size() << " bytes";
        EXPECT_EQ(test::read_plain(name.c_str(), 4000), mine);
    }
}

// A name the driver cannot tell of may be taken: the write fails and the
// file under it stays as it was.
using UntoldName = MediaRace;

TEST_P(UntoldName, IsNeverWrittenOver) {
    const Medium m = GetParam();
    const std::string name = key_name(m, 1);
    const std::string old(300, 'O');
    const std::string mine(600, 'N');
    ASSERT_EQ(test::write_plain(name.c_str(), old), 1);
    g_untold = name;
    g_driver = BIO_media_driver(BIO_MEDIUM_RUTOKEN);
    BIO_MEDIA_DRIVER untold = *g_driver;
    untold.exists = exists_but_untold;
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &untold);
    const int written =
        CADB_write_new_file(name.c_str(), mine.data(), static_cast<int>(mine.size()));
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, g_driver);
    EXPECT_NE(written, static_cast<int>(mine.size()));
    EXPECT_EQ(test::read_plain(name.c_str(), 4000), old);
}

// A device that does not answer now (none there, or one busy in another
// process) may answer a moment later: nothing is written to it unlocked.
using SilentDevice = MediaRace;

int answers_nothing(const char*, char*, std::size_t) { return 0; }
int never_present(const char*) { return 0; }

unsigned long last_reason() {
    const unsigned long e = ERR_peek_last_error();
    ERR_clear_error();
    return ERR_code_lib(e) == ERR_LIB_CADB ? ERR_code_reason(e) : 0;
}

TEST_P(SilentDevice, IsNeverWrittenUnlocked) {
    const std::string name = key_name(GetParam(), 1);
    const std::string mine(600, 'N');
    g_driver = BIO_media_driver(BIO_MEDIUM_RUTOKEN);
    BIO_MEDIA_DRIVER silent = *g_driver;
    silent.identity = answers_nothing;
    silent.token_present = never_present;
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, &silent);
    ERR_clear_error();
    const int written =
        CADB_write_new_file(name.c_str(), mine.data(), static_cast<int>(mine.size()));
    const unsigned long reason = last_reason();
    BIO_media_register_driver(BIO_MEDIUM_RUTOKEN, g_driver);
    EXPECT_NE(written, static_cast<int>(mine.size()));
    EXPECT_EQ(reason, static_cast<unsigned long>(CADB_R_NO_MEDIUM));
    EXPECT_EQ(IsMediaPathPresent(name.c_str()), 0);
}

// A file name in a form the medium cannot hold (a disk's key file name on
// a token that holds 4-hex-digit names) says so, rather than sending the
// user looking for another process that holds the device.
using UnheldName = MediaRace;

TEST_P(UnheldName, FailsWithAReasonOfItsOwn) {
    const std::string name = std::string(GetParam().keys) + "\\00000001.key";
    const std::string mine(600, 'N');
    ERR_clear_error();
    EXPECT_NE(CADB_write_new_file(name.c_str(), mine.data(), static_cast<int>(mine.size())),
              static_cast<int>(mine.size()));
    EXPECT_EQ(last_reason(), static_cast<unsigned long>(CADB_R_NAME_NOT_HELD));
}

// The path whose device the PIN callback below looks at, and what it saw.
std::string g_probed;
int g_asked = 0;
int g_asked_under_hold = 0;
thread_local bool t_looking = false;

// The PIN, answered while another thread looks whether the device's lock is
// free: a question put to the user inside a hold of the lock keeps every
// other process waiting for the device. The looking thread is answered at
// once.
int probing_pin_cb(char* buf, int size, int rwflag, void* arg) {
    if (!t_looking) {
        ++g_asked;
        std::thread look([] {
            t_looking = true;
            const int wait = pse_lock_wait();
            pse_set_lock_wait(100);
            MediaLock device;
            if (!device.acquire({g_probed.c_str()}, CADB_F_CADB_READ_FILE)) ++g_asked_under_hold;
            device.release();
            pse_set_lock_wait(wait);
            ERR_clear_error();
        });
        look.join();
    }
    return pin_cb(buf, size, rwflag, arg);
}

// The PIN of a medium is asked before its device's lock is taken, never
// while it is held: a new file written and read back, a store written,
// opened and erased.
using PinsBeforeTheHold = MediaRace;

TEST_P(PinsBeforeTheHold, AreNeverAskedWhileTheDeviceIsHeld) {
    const Medium m = GetParam();
    const std::string name = key_name(m, 1);
    g_probed = name;
    g_asked = 0;
    g_asked_under_hold = 0;
    if (m.kind == Kind::ruToken)
        RUTOKEN_set_passwd_cb(probing_pin_cb);
    else
        ETOKEN_set_passwd_cb(probing_pin_cb);
    const std::string key(300, 'K');
    EXPECT_EQ(CADB_write_new_file(name.c_str(), key.data(), static_cast<int>(key.size())),
              static_cast<int>(key.size()));
    EXPECT_EQ(test::read_plain(name.c_str(), 1000), key);
    CtxPtr ctx = store_context(m, 0, password(0), PSE_CTX_FLAG_NEW_STORE);
    ASSERT_EQ(PSE_CTX_create(ctx.get()), 1);
    EXPECT_EQ(PSE_CTX_write(ctx.get()), 1);
    EXPECT_EQ(open_store(0, password(0)), fingerprint_of(ctx.get()));
    EXPECT_EQ(PSE_CTX_erase(ctx.get()), 1);
    EXPECT_GE(g_asked, 1);
    EXPECT_EQ(g_asked_under_hold, 0) << "of " << g_asked << " PIN questions";
}

const Medium kEToken{"eToken", Kind::eToken, "eToken 0:\\50%02d", "eToken 0:\\aaaa"};
const Medium kETokenR2{"eTokenR2", Kind::eTokenR2, "eTR2:\\50%02d", "eTR2:\\aaaa"};
const Medium kRuToken{"ruToken", Kind::ruToken, "ruToken:\\50%02d", "ruToken:\\aaaa"};
const Medium kTouchMemory{"touchMemory", Kind::touchMemory, "iButton:\\ks%02d", "iButton:\\keys"};
const Medium kIKey{"iKey", Kind::iKey, "iKey:\\50%02d", "iKey:\\aaaa"};

std::string medium_name(const ::testing::TestParamInfo<Medium>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Media, MediaRace,
                         ::testing::Values(kEToken, kETokenR2, kRuToken, kTouchMemory, kIKey),
                         medium_name);
INSTANTIATE_TEST_SUITE_P(Media, ReadsBesideSavers,
                         ::testing::Values(kEToken, kRuToken, kTouchMemory), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, PinsBeforeTheHold, ::testing::Values(kEToken, kETokenR2, kRuToken),
                         medium_name);
INSTANTIATE_TEST_SUITE_P(Media, StoreRollBack, ::testing::Values(kRuToken), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, UntoldFile, ::testing::Values(kRuToken), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, PulledMedium, ::testing::Values(kRuToken), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, UntoldName, ::testing::Values(kRuToken), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, SilentDevice, ::testing::Values(kRuToken), medium_name);
INSTANTIATE_TEST_SUITE_P(Media, UnheldName, ::testing::Values(kEToken, kETokenR2, kRuToken),
                         medium_name);
// A new name carries no PIN word, which the iKey library needs for every
// write.
INSTANTIATE_TEST_SUITE_P(Media, NewNameRace,
                         ::testing::Values(kEToken, kETokenR2, kRuToken, kTouchMemory),
                         medium_name);

}  // namespace
}  // namespace cadb
