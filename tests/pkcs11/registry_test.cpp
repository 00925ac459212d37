#include <gtest/gtest.h>

#include <cstddef>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/core/err.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/pkcs11/pkcs11_mutex.h"
#include "tests/pkcs11/softhsm.h"

namespace cadb {
namespace {

using testing::kToken;

// The Linux x86-64 ABI the modules are built for: natural alignment, 8-byte
// CK_ULONG, so the version is followed by padding before the entries.
#if defined(__x86_64__)
static_assert(sizeof(CK_TOKEN_INFO) == 208);
static_assert(sizeof(CK_ATTRIBUTE) == 24);
static_assert(offsetof(CK_FUNCTION_LIST, C_Initialize) == 8);
static_assert(sizeof(CK_FUNCTION_LIST) == 8 + 68 * sizeof(void*));
static_assert(offsetof(CK_FUNCTION_LIST, C_WaitForSlotEvent) == 8 + 67 * sizeof(void*));
#endif

struct Parsed {
    int ok;
    std::string module;
    int index;
};

Parsed parse(const char* path) {
    Parsed p{0, "unset", -7};
    p.ok = PKCS11_path_parse(path, &p.module, &p.index);
    return p;
}

TEST(PathParse, ModuleAndIndex) {
    for (const char* path : {"pkcs11:\\m", "pkcs11:/m/x", "PKCS11:\\m\\x", "Pkcs11:\\m/x\\y"}) {
        const Parsed p = parse(path);
        EXPECT_EQ(p.ok, 1) << path;
        EXPECT_EQ(p.module, "m") << path;
        EXPECT_EQ(p.index, -1) << path;
    }
    const Parsed three = parse("pkcs113:\\m");
    EXPECT_EQ(three.ok, 1);
    EXPECT_EQ(three.index, 3);
    EXPECT_EQ(parse("pkcs1112:\\rtPKCS11ECP\\key1").index, 12);
    EXPECT_EQ(parse("pkcs1112:\\rtPKCS11ECP\\key1").module, "rtPKCS11ECP");
    EXPECT_EQ(parse("pkcs11:\\").module, "");
}

TEST(PathParse, Refused) {
    for (const char* path : {"pkcs11:m", "pkcs11\\m", "pkcs11", "pkcs11:", "pkcs1:\\m", "a:\\keys",
                             "etoken:\\m", ""}) {
        EXPECT_EQ(parse(path).ok, 0) << path;
    }
    EXPECT_EQ(PKCS11_path_parse(nullptr, nullptr, nullptr), 0);
    // A module name past the path limit is refused rather than cut.
    const std::string long_name = "pkcs11:\\" + std::string(PKCS11_MAX_PATH + 1, 'm');
    EXPECT_EQ(parse(long_name.c_str()).ok, 0);
    EXPECT_EQ(parse(("pkcs11:\\" + std::string(PKCS11_MAX_PATH, 'm')).c_str()).ok, 1);
}

TEST(PathParse, HostileIndex) {
    // An index past the range of int saturates instead of overflowing.
    EXPECT_EQ(parse("pkcs1199999999999999999999:\\m").index, INT_MAX);
    EXPECT_EQ(parse("pkcs11x:\\m").index, 0);
}

TEST(PathParse, OutputsAreOptional) {
    int index = -7;
    EXPECT_EQ(PKCS11_path_parse("pkcs114:\\m", nullptr, &index), 1);
    EXPECT_EQ(index, 4);
    std::string module;
    EXPECT_EQ(PKCS11_path_parse("pkcs114:\\m", &module, nullptr), 1);
    EXPECT_EQ(module, "m");
}

TEST(Names, CompareWithoutCase) {
    EXPECT_EQ(PKCS11_name_cmp("jcPKCS11", "JCpkcs11"), 0);
    EXPECT_NE(PKCS11_name_cmp("jcPKCS11", "jcPKCS12"), 0);
    EXPECT_EQ(PKCS11_name_cmp(nullptr, nullptr), 0);
    EXPECT_NE(PKCS11_name_cmp(nullptr, "a"), 0);
    EXPECT_NE(PKCS11_name_cmp("a", nullptr), 0);
}

TEST(ContextMutex, RecursiveAndNullSafe) {
    PKCS11_MUTEX* m = nullptr;
    ASSERT_EQ(PKCS11_mutex_new(&m), 1);
    EXPECT_EQ(PKCS11_mutex_lock(m), 1);
    EXPECT_EQ(PKCS11_mutex_lock(m), 1);
    EXPECT_EQ(PKCS11_mutex_unlock(m), 1);
    EXPECT_EQ(PKCS11_mutex_unlock(m), 1);
    // Another thread gets it once this one has let go.
    std::thread([m] {
        EXPECT_EQ(PKCS11_mutex_lock(m), 1);
        EXPECT_EQ(PKCS11_mutex_unlock(m), 1);
    }).join();
    EXPECT_EQ(PKCS11_mutex_free(m), 1);
    EXPECT_EQ(PKCS11_mutex_new(nullptr), 0);
    EXPECT_EQ(PKCS11_mutex_lock(nullptr), 0);
    EXPECT_EQ(PKCS11_mutex_unlock(nullptr), 0);
    EXPECT_EQ(PKCS11_mutex_free(nullptr), 0);
}

TEST(Registry, MissingModuleFailsCleanly) {
    ERR_clear_error();
    EXPECT_EQ(PKCS11_MODULE_get_by_name("cadb-no-such-module"), nullptr);
    const unsigned long e = ERR_get_error();
    EXPECT_EQ(ERR_code_lib(e), ERR_LIB_PKCS11);
    EXPECT_EQ(ERR_code_func(e), PKCS11_F_PKCS11_MODULE_GET_BY_NAME);
    EXPECT_EQ(ERR_code_reason(e), PKCS11_R_MODULE_NOT_FOUND);
    EXPECT_EQ(PKCS11_MODULE_get_by_name(nullptr), nullptr);
    ERR_clear_error();

    EXPECT_EQ(PKCS11_module_probe("pkcs11:\\cadb-no-such-module"), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(PKCS11_module_probe("not a token path"), 0);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(PKCS11_token_present("pkcs11:\\cadb-no-such-module"), 0);
    ERR_clear_error();
}

TEST(Registry, NullArguments) {
    ERR_clear_error();
    PKCS11_MODULE_free(nullptr);
    EXPECT_EQ(PKCS11_MODULE_slot_index(nullptr, 0), -1);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_R_NULL_PARAMETER);
    EXPECT_EQ(PKCS11_MODULE_load_slots(nullptr), 0);
    ERR_clear_error();
}

TEST(Registry, LoadsOnceAndCounts) {
    REQUIRE_SOFTHSM();
    PKCS11_MODULE_ptr first(PKCS11_MODULE_get_by_name("softhsm2"));
    ASSERT_TRUE(first);
    EXPECT_EQ(first->references, 2);  // the registry's and ours
    PKCS11_MODULE_ptr second(PKCS11_MODULE_get_by_name("softhsm2"));
    EXPECT_EQ(second.get(), first.get());
    EXPECT_EQ(first->references, 3);
    // Another spelling of the same name is the same module, not a second
    // initialisation that would finalise the first one's sessions.
    PKCS11_MODULE_ptr other_case(PKCS11_MODULE_get_by_name("SoftHSM2"));
    EXPECT_EQ(other_case.get(), first.get());
    EXPECT_EQ(first->references, 4);
    other_case.reset();
    second.reset();
    EXPECT_EQ(first->references, 2);
    EXPECT_EQ(first->name, "softhsm2");
    ASSERT_NE(first->functions, nullptr);
    EXPECT_EQ(first->functions->version.major, 2);
    // SoftHSM2 keeps one free slot beside every initialised token.
    ASSERT_EQ(first->slots.size(), 2U);
    EXPECT_EQ(PKCS11_MODULE_slot_index(first.get(), first->slots[1].id), 1);
    EXPECT_EQ(PKCS11_MODULE_slot_index(first.get(), 0xDEADBEEF), -1);
    EXPECT_EQ(PKCS11_module_probe("pkcs11:\\softhsm2"), 1);
    EXPECT_EQ(ERR_peek_error(), 0UL);
    EXPECT_EQ(first->references, 2);
}

TEST(Registry, CleanupReleasesWhenTheLastUserStops) {
    REQUIRE_SOFTHSM();
    PKCS11_registry_init();
    PKCS11_registry_init();
    PKCS11_MODULE_ptr held(PKCS11_MODULE_get_by_name("softhsm2"));
    ASSERT_TRUE(held);
    PKCS11_registry_cleanup();
    PKCS11_MODULE_ptr again(PKCS11_MODULE_get_by_name("softhsm2"));
    EXPECT_EQ(again.get(), held.get());  // still registered
    again.reset();
    PKCS11_registry_cleanup();  // the registry lets go; our reference keeps it
    EXPECT_EQ(held->references, 1);
    EXPECT_FALSE(held->registered);
    // Asked for again, the module still running is taken back into the
    // registry rather than started a second time beside it.
    PKCS11_MODULE_ptr back(PKCS11_MODULE_get_by_name("softhsm2"));
    EXPECT_EQ(back.get(), held.get());
    EXPECT_EQ(held->references, 3);
    PKCS11_registry_cleanup();  // a cleanup without a start changes nothing
    EXPECT_EQ(held->references, 3);
    back.reset();
    held.reset();
    PKCS11_registry_free_all();
    // After a full release the module starts afresh.
    PKCS11_MODULE_ptr fresh(PKCS11_MODULE_get_by_name("softhsm2"));
    ASSERT_TRUE(fresh);
    EXPECT_EQ(fresh->references, 2);
    EXPECT_EQ(PKCS11_token_present(kToken), 1);
}

TEST(Slots, TokenAndIndex) {
    REQUIRE_SOFTHSM();
    PKCS11_MODULE_ptr m(PKCS11_MODULE_get_by_name("softhsm2"));
    ASSERT_TRUE(m);
    CK_SLOT_ID slot = 0xFFFF;
    ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    ASSERT_EQ(PKCS11_get_slot(kToken, &slot), 1);
    EXPECT_EQ(slot, m->slots[0].id);
    ASSERT_EQ(PKCS11_get_slot("pkcs111:\\softhsm2", &slot), 1);
    EXPECT_EQ(slot, m->slots[1].id);
    EXPECT_EQ(PKCS11_get_slot("PKCS110:/softhsm2/anything", &slot), 1);
    EXPECT_EQ(slot, m->slots[0].id);
    EXPECT_EQ(ERR_get_last_rv(), 0UL);
    // An index past the slots never matches and says why.
    EXPECT_EQ(PKCS11_token_present("pkcs115:\\softhsm2"), 0);
    EXPECT_EQ(ERR_get_last_rv(), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(ERR_get_last_rv_kind(), TOKEN_CODE_PKCS11);
    ERR_reset_last_rv(0, TOKEN_CODE_PKCS11);
    EXPECT_EQ(PKCS11_get_slot("pkcs11:softhsm2", &slot), 0);
    ERR_clear_error();
}

TEST(Registry, ManyThreadsShareOneModule) {
    REQUIRE_SOFTHSM();
    PKCS11_registry_free_all();  // every thread races for the first load
    constexpr int kThreads = 8;
    constexpr int kRounds = 25;
    std::vector<PKCS11_MODULE*> seen(kThreads, nullptr);
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &seen, &failures] {
            for (int i = 0; i < kRounds; ++i) {
                PKCS11_MODULE* m = PKCS11_MODULE_get_by_name("softhsm2");
                if (m == nullptr || (seen[t] != nullptr && seen[t] != m)) ++failures[t];
                seen[t] = m;
                if (PKCS11_token_present(kToken) != 1) ++failures[t];
                PKCS11_MODULE_free(m);
            }
        });
    }
    for (auto& th : threads) th.join();
    std::set<PKCS11_MODULE*> distinct(seen.begin(), seen.end());
    EXPECT_EQ(distinct.size(), 1U);
    for (int f : failures) EXPECT_EQ(f, 0);
    PKCS11_MODULE_ptr m(PKCS11_MODULE_get_by_name("softhsm2"));
    EXPECT_EQ(m.get(), *distinct.begin());
    EXPECT_EQ(m->references, 2);
}

}  // namespace
}  // namespace cadb
