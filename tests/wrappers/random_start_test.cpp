// The random start: an existing store opens and starts the generator from its
// saved state without a dialogue; a missing state asks for seed events once;
// missing files fail silently; token paths seed through the dialog library;
// a new store is made where the user chooses.
#include <gtest/gtest.h>

#include <cstring>

#include "crypto/init/init.h"
#include "crypto/store/media_io.h"
#include "tests/wrappers/store_fixture.h"
#include "wrappers/initializer.h"
#include "wrappers/log.h"

namespace cadb {
namespace {

using namespace cadb::testing;

class RandomStart : public StoreTest {
  protected:
    fs::path store_file(const char* name) const { return drive('a') / "store" / name; }
};

TEST_F(RandomStart, AStoreWithAllFourFilesStartsFromItsStateWithoutADialogue) {
    make_store("a:\\store");
    const std::string state = slurp(store_file("rand.opq"));
    ASSERT_EQ(state.size(), 36u);
    CN2kGlobalParams params;
    params.SetPSEPath("a:\\store");
    EXPECT_EQ(params.InitRandomizer(1), 1);
    EXPECT_EQ(params.LastRandomResult(), 1);
    EXPECT_EQ(CADB_rand_status(), 1);
    EXPECT_NE(params.pse().getPSE(), nullptr);
    EXPECT_TRUE(ui().calls().empty());
    EXPECT_EQ(slurp(store_file("rand.opq")), state);

    // Once started, the medium is not touched again.
    fs::remove_all(drive('a') / "store");
    EXPECT_EQ(params.InitRandomizer(1), 1);
    EXPECT_TRUE(ui().calls().empty());
}

TEST_F(RandomStart, AMissingOrEmptyStateAsksForSeedEventsOnce) {
    make_store("a:\\store");
    fs::remove(store_file("rand.opq"));
    {
        CN2kGlobalParams params;
        params.SetPSEPath("a:\\store");
        EXPECT_EQ(params.InitRandomizer(1), 1);
        EXPECT_EQ(CADB_rand_status(), 1);
        EXPECT_EQ(ui().count("rndInitCBK_Vambrace32"), 1);
        EXPECT_FALSE(fs::exists(store_file("rand.opq")));
    }
    PSE_rand_cleanup();
    std::ofstream(store_file("rand.opq"), std::ios::trunc);
    CN2kGlobalParams params;
    params.SetPSEPath("a:\\store");
    EXPECT_EQ(params.InitRandomizer(1), 1);
    EXPECT_EQ(ui().count("rndInitCBK_Vambrace32"), 2);
    EXPECT_EQ(fs::file_size(store_file("rand.opq")), 0u);
}

TEST_F(RandomStart, ARefusedSeedingShowsTheWarningAndFails) {
    make_store("a:\\store");
    fs::remove(store_file("rand.opq"));
    ui().script("rndInitCBK_Vambrace32", "0");
    CN2kGlobalParams params;
    params.SetPSEPath("a:\\store");
    EXPECT_EQ(params.InitRandomizer(1), 0);
    EXPECT_EQ(CADB_rand_status(), 0);
    EXPECT_EQ(ui().calls().back(), "MessageBoxA|S16|S38|48");
}

TEST_F(RandomStart, AMissingMasterKeyMasksOrKekFileFailsWithoutABox) {
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq"}) {
        make_store("a:\\store");
        fs::remove(store_file(name));
        CN2kGlobalParams params;
        params.SetPSEPath("a:\\store");
        EXPECT_EQ(params.InitRandomizer(1), 0) << name;
        EXPECT_EQ(params.LastRandomResult(), 0);
        fs::remove_all(drive('a') / "store");
    }
    EXPECT_TRUE(ui().calls().empty());
    EXPECT_EQ(CADB_rand_status(), 0);
}

TEST_F(RandomStart, AnEmptyMasksFileIsNoSuccess) {
    make_store("a:\\store");
    std::ofstream(store_file("masks.db3"), std::ios::trunc);
    CN2kGlobalParams params;
    params.SetPSEPath("a:\\store");
    EXPECT_EQ(params.InitRandomizer(1), 0);
    EXPECT_EQ(CADB_rand_status(), 0);
    EXPECT_EQ(params.pse().getPSE(), nullptr);
}

TEST_F(RandomStart, ATokenPathSeedsThroughTheDialogLibraryOnly) {
    CN2kGlobalParams params;
    params.SetPSEPath("pkcs11:\\softhsm\\store");
    EXPECT_EQ(params.InitRandomizer(1), 1);
    EXPECT_EQ(CADB_rand_status(), 1);
    EXPECT_EQ(ui().calls(), std::vector<std::string>{"rndInitCBK_Vambrace32"});
    EXPECT_EQ(params.pse().getPSE(), nullptr);
}

TEST_F(RandomStart, CreationWithoutAPathAsksForTheDirectoryOnce) {
    ui().script("dirOperationCBK", "cancel;a:\\made,0");
    CN2kGlobalParams params;
    params.SetPSEPath("");
    params.SetCreating(true);
    EXPECT_EQ(params.InitRandomizer(1), 0);
    EXPECT_EQ(ui().count("dirOperationCBK"), 1);
    EXPECT_EQ(ui().calls().front(), "rndInitCBK_Vambrace32");

    EXPECT_EQ(params.InitRandomizer(1), 1);
    EXPECT_EQ(ui().count("dirOperationCBK"), 2);
    EXPECT_EQ(ui().calls().back(), "dirOperationCBK|S79");
    EXPECT_EQ(params.GetPSEPath(), "a:\\made");
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq"})
        EXPECT_TRUE(fs::exists(drive('a') / "made" / name)) << name;
    EXPECT_EQ(fs::file_size(drive('a') / "made" / "rand.opq"), 36u);
    ASSERT_NE(params.pse().getPSE(), nullptr);

    // The store made opens again, from the state written.
    PSE_rand_cleanup();
    CN2kGlobalParams again;
    again.SetPSEPath("a:\\made");
    EXPECT_EQ(again.InitRandomizer(1), 1);
    EXPECT_EQ(ui().count("rndInitCBK_Vambrace32"), 1);  // the first seeding only
    ASSERT_NE(again.pse().getPSE(), nullptr);
    EXPECT_EQ(0, std::memcmp(again.pse().getPSE()->fingerprint,
                             params.pse().getPSE()->fingerprint, 32));
}

TEST_F(RandomStart, ASharingOfFewerThanTwoOrMoreThanTheMediaIsACancel) {
    for (const char* answer : {"1,3", "3,2", "cancel", "fail", "0,0"}) {
        StandIn fresh(dir_);
        fresh.script("getSShareCBK", answer);
        CN2kGlobalParams params;
        params.SetCreating(true);
        params.SetSharedStore(true);
        EXPECT_EQ(params.InitRandomizer(1), 0) << answer;
        EXPECT_EQ(fresh.count("dirOperationCBK"), 0) << answer;
        EXPECT_EQ(fresh.calls().back(), "MessageBoxA|S39|S83|48") << answer;
    }
}

TEST_F(RandomStart, TheInitialiserStartsTheLibraryTheLogAndTheMediumCallback) {
    fs::create_directories(dir_ / "state");
    setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
    SetCurrentUI(nullptr);
    {
        TCADBInitializer init;
        EXPECT_EQ(GetCurrentUI(), &GlobalUI());
        EXPECT_EQ(LogIsStarted(), 1);
        EXPECT_EQ(init.loadUILibrary(), 1);
        init.freeUILibrary();
        EXPECT_EQ(ui().calls(), (std::vector<std::string>{"Init", "Free"}));
        ui().script("devReqReady", "0");
        setenv("CADB_DRIVE_F", (dir_ / "absent").c_str(), 1);
        EXPECT_EQ(CADB_wait_media("f:\\x", nullptr, nullptr), 0);
        unsetenv("CADB_DRIVE_F");
        EXPECT_EQ(ui().count("devReqReady"), 1);
    }
    EXPECT_EQ(LogIsStarted(), 0);
    EXPECT_EQ(CADB_use_count(), 1);  // the test environment's own
    unsetenv("XDG_STATE_HOME");
}

}  // namespace
}  // namespace cadb
