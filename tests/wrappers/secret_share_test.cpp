// Secret sharing of a key store over several drives: any K of the N media
// rebuild the store, K-1 fail cleanly, a medium given twice is refused, and
// no medium holds the masks value.
#include "wrappers/secret_share.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "tests/wrappers/store_fixture.h"
#include "wrappers/initializer.h"

namespace cadb {
namespace {

using namespace cadb::testing;

class SecretShare : public StoreTest {
  protected:
    // A 2-of-3 shared store on drives b, c and d through the random start.
    void create_shared(std::array<unsigned char, 32>& fingerprint) {
        ui().script("getSShareCBK", "2,3");
        ui().script("dirOperationCBK", "b:\\s,0;c:\\s,0;d:\\s,0");
        CN2kGlobalParams params;
        params.SetCreating(true);
        params.SetSharedStore(true);
        ASSERT_EQ(params.InitRandomizer(1), 1);
        EXPECT_EQ(params.GetPSEPath(), "SHARED");
        ASSERT_NE(params.pse().getPSE(), nullptr);
        std::memcpy(fingerprint.data(), params.pse().getPSE()->fingerprint, 32);
        PSE_rand_cleanup();
    }
    // Recovers from the media answered; 1/0 and the store's fingerprint.
    int recover(const std::string& media, std::array<unsigned char, 32>& fingerprint) {
        StandIn fresh(dir_);
        fresh.script("dirOperationCBK", media);
        fresh.script("MessageBoxA", "6");  // every question answered Yes
        CN2kGlobalParams params;
        params.SetPSEPath("SHARED");
        const int r = params.InitRandomizer(1);
        if (params.pse().getPSE() != nullptr)
            std::memcpy(fingerprint.data(), params.pse().getPSE()->fingerprint, 32);
        journal_ = fresh.calls();
        if (r == 1) {
            EXPECT_TRUE(params.IsSharedStore());
        }
        return r;
    }
    std::vector<std::string> journal_;
};

TEST_F(SecretShare, AnyTwoOfThreeMediaRebuildTheStore) {
    std::array<unsigned char, 32> made{};
    create_shared(made);
    std::set<std::string> shares;
    for (char d : std::string("bcd")) {
        const fs::path part = drive(d) / "s";
        for (const char* name : {"mk.db3", "kek.opq", "para.par"})
            EXPECT_TRUE(fs::exists(part / name)) << d << name;
        EXPECT_EQ(fs::file_size(part / "rand.opq"), 36u);
        const std::string share = slurp(part / "masks.db3");
        EXPECT_NE(share.size(), 32u);  // a DER share, never the masks value
        shares.insert(share);
        EXPECT_EQ(slurp(part / "para.par"), slurp(drive('b') / "s" / "para.par"));
    }
    EXPECT_EQ(shares.size(), 3u);
    EXPECT_EQ(ui().count("getSShareCBK"), 1);
    EXPECT_EQ(ui().count("dirOperationCBK"), 3);

    for (const char* pair : {"b:\\s,0;c:\\s,0", "b:\\s,0;d:\\s,0", "d:\\s,0;c:\\s,0"}) {
        std::array<unsigned char, 32> opened{};
        EXPECT_EQ(recover(pair, opened), 1) << pair;
        EXPECT_EQ(opened, made) << pair;
        EXPECT_EQ(CADB_rand_status(), 1);
        PSE_rand_cleanup();
    }
}

TEST_F(SecretShare, OneMediumShortOfTheThresholdFailsCleanly) {
    std::array<unsigned char, 32> made{};
    create_shared(made);
    std::array<unsigned char, 32> opened{};
    {
        StandIn fresh(dir_);
        fresh.script("dirOperationCBK", "b:\\s,0;cancel");
        CN2kGlobalParams params;
        params.SetPSEPath("SHARED");
        EXPECT_EQ(params.InitRandomizer(1), 0);
        EXPECT_EQ(params.pse().getPSE(), nullptr);
        EXPECT_EQ(CADB_rand_status(), 0);
        const auto calls = fresh.calls();
        ASSERT_FALSE(calls.empty());
        EXPECT_EQ(calls.back(), "MessageBoxA|S16|S76|48");
    }
    // However often the user asks to retry, the reading ends.
    EXPECT_EQ(recover("b:\\s,0;cancel", opened), 0);
    int questions = 0;
    for (const auto& c : journal_) questions += c.rfind("MessageBoxA|S39|S40 2S41S50", 0) == 0;
    EXPECT_EQ(questions, 3);
    EXPECT_NE(std::find(journal_.begin(), journal_.end(), "MessageBoxA|S16|S37|48"),
              journal_.end());
}

TEST_F(SecretShare, AMediumGivenTwiceIsRefusedAndAnotherAskedFor) {
    std::array<unsigned char, 32> made{};
    create_shared(made);
    std::array<unsigned char, 32> opened{};
    EXPECT_EQ(recover("c:\\s,0;c:\\s,0;b:\\s,0", opened), 1);
    EXPECT_EQ(opened, made);
    bool refused = false;
    for (const auto& c : journal_) refused |= c.find("S40 2S44S50") != std::string::npos;
    EXPECT_TRUE(refused);
}

TEST_F(SecretShare, ThresholdsBelowTwoOrAboveTheMediaAreRefused) {
    CSecretShare share;
    EXPECT_FALSE(share.setParams(1, 3, true));
    EXPECT_FALSE(share.setParams(3, 2, true));
    EXPECT_FALSE(share.setParams(0, 0, true));
    EXPECT_TRUE(share.setParams(2, 2, true));
    EXPECT_EQ(share.threshold(), 0);
    EXPECT_TRUE(ui().calls().empty());
}

TEST_F(SecretShare, AStoreUnderAPasswordCannotBeShared) {
    KernelRandom random;
    ui().script("putPassCBK", "password1");
    CSecretShare share;
    ASSERT_TRUE(share.setParams(2, 3, true));
    EXPECT_FALSE(share.generate("b:\\pw", true));
    EXPECT_EQ(share.lastError(), CSecretShare::E_SHARING);
    EXPECT_EQ(ui().count("putPassCBK"), 1);
}

TEST_F(SecretShare, WithoutADirectoryNothingIsCreated) {
    KernelRandom random;
    CSecretShare share;
    ASSERT_TRUE(share.setParams(2, 3, true));
    EXPECT_FALSE(share.generate(nullptr, false));  // the default dialogue chooses nothing
    EXPECT_EQ(share.lastError(), CSecretShare::E_NO_DIRECTORY);
}

}  // namespace
}  // namespace cadb
