// The media table, the names of a store's files on each medium, and the
// container that reads and writes a store file by file.
#include "wrappers/pse_container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <set>
#include <string>

#include "tests/wrappers/store_fixture.h"

namespace cadb {
namespace {

using namespace cadb::testing;

TEST(MediaTable, TheKindComesFromTheShortNameAnywhereInThePath) {
    EXPECT_EQ(GetPSEMediaType("C:\\store\\PKCS11data"), PSE_MEDIA_PKCS11);
    EXPECT_EQ(GetPSEMediaType("a:\\"), PSE_MEDIA_FILE);
    EXPECT_EQ(GetPSEMediaType("etoken:\\0\\keys"), PSE_MEDIA_ETOKEN);
    EXPECT_EQ(GetPSEMediaType("RUTOKEN:\\keys"), PSE_MEDIA_RUTOKEN);
    EXPECT_EQ(GetPSEMediaType("ibutton:\\1"), PSE_MEDIA_IBUTTON);
    EXPECT_EQ(GetPSEMediaType(nullptr), PSE_MEDIA_FILE);
    EXPECT_STREQ(kPSEMediaTable[4].description, "pkcs11(Knowledge)");
    EXPECT_STREQ(kPSEMediaTable[1].prefix, "ibutton:");
}

TEST(MediaTable, StoreFileNamesFollowTheMedium) {
    StoreFileNames names;
    ASSERT_TRUE(BuildStoreFileNames("etoken:\\keys", PSE_MEDIA_ETOKEN, names));
    EXPECT_EQ(names, (StoreFileNames{"etoken:\\keys\\a001", "etoken:\\keys\\b001",
                                     "etoken:\\keys\\c001", "etoken:\\keys\\d001",
                                     "etoken:\\keys\\e001"}));
    ASSERT_TRUE(BuildStoreFileNames("ibutton:\\1", PSE_MEDIA_IBUTTON, names));
    EXPECT_EQ(names[STORE_MKEY], "ibutton:\\1\\mk  .001");
    ASSERT_TRUE(BuildStoreFileNames("a:\\s", PSE_MEDIA_FILE, names, 4));
    EXPECT_EQ(names[STORE_RAND], "a:\\s\\rand.opq");
    EXPECT_EQ(names[STORE_PARAMS], "");
    EXPECT_FALSE(BuildStoreFileNames("pkcs11:\\x", PSE_MEDIA_PKCS11, names));
    EXPECT_FALSE(BuildStoreFileNames(std::string(255, 'x').c_str(), PSE_MEDIA_FILE, names));
    EXPECT_EQ(names[STORE_MKEY], "");
}

class Container : public StoreTest {};

TEST_F(Container, ReadsAStoreWholeAndWritesItElsewhere) {
    make_store("a:\\s");
    TRef<TPSEContainer> c(new TPSEContainer);
    ASSERT_EQ(c->readFiles("a:\\s"), 1);
    EXPECT_EQ(c->lastError(), 0);
    EXPECT_EQ(c->contents(STORE_RAND).getLength(), 36);
    EXPECT_TRUE(c->contents(STORE_PARAMS).isEmpty());
    ASSERT_EQ(c->writeFiles("b:\\copy"), 1);
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"})
        EXPECT_EQ(slurp(drive('b') / "copy" / name), slurp(drive('a') / "s" / name)) << name;
    EXPECT_FALSE(fs::exists(drive('b') / "copy" / "para.par"));

    // The copy opens as the store itself.
    TRef<TPSEContainer> copy(new TPSEContainer);
    KernelRandom random;
    ASSERT_EQ(copy->openPath("b:\\copy"), 1);
    ASSERT_NE(copy->getPSE(), nullptr);
    EXPECT_EQ(copy->saveRandState(), 1);
    EXPECT_NE(slurp(drive('b') / "copy" / "rand.opq"), slurp(drive('a') / "s" / "rand.opq"));
}

TEST_F(Container, AnEmptyStateIsRecordedAndAMissingOneIsNot) {
    make_store("a:\\s");
    std::ofstream(drive('a') / "s" / "rand.opq", std::ios::trunc);
    TRef<TPSEContainer> c(new TPSEContainer);
    EXPECT_EQ(c->readFiles("a:\\s"), 1);
    EXPECT_EQ(c->lastError(), TPSEContainer::E_RAND_MISSING);

    fs::remove(drive('a') / "s" / "rand.opq");
    TRef<TPSEContainer> d(new TPSEContainer);
    EXPECT_EQ(d->readFiles("a:\\s"), 1);
    EXPECT_EQ(d->lastError(), 0);
    EXPECT_TRUE(d->contents(STORE_RAND).isEmpty());

    fs::remove(drive('a') / "s" / "kek.opq");
    EXPECT_EQ(d->readFiles("a:\\s"), 0);
    EXPECT_EQ(d->lastError(), TPSEContainer::E_FILES_MISSING);
}

TEST_F(Container, ReplacingFilesAsksTheUserFirst) {
    make_store("a:\\s");
    make_store("b:\\s");
    const std::string before = slurp(drive('b') / "s" / "mk.db3");
    TRef<TPSEContainer> c(new TPSEContainer);
    ASSERT_EQ(c->readFiles("a:\\s"), 1);
    EXPECT_EQ(c->writeFiles("b:\\s"), 0);  // the stand-in answers No
    EXPECT_EQ(slurp(drive('b') / "s" / "mk.db3"), before);
    EXPECT_EQ(ui().calls().back(), "MessageBoxA|S39|S67 1 b:\\s|52");
    ui().script("MessageBoxA", "6");
    EXPECT_EQ(c->writeFiles("b:\\s"), 1);
    EXPECT_EQ(slurp(drive('b') / "s" / "mk.db3"), slurp(drive('a') / "s" / "mk.db3"));
}

TEST_F(Container, EmptyBuffersAreNotWrittenAndAPkcs11PathReadsNothing) {
    TRef<TPSEContainer> c(new TPSEContainer);
    EXPECT_EQ(c->writeFiles("b:\\s"), 0);
    EXPECT_EQ(c->lastError(), TPSEContainer::E_BUFFERS_EMPTY);
    EXPECT_FALSE(fs::exists(drive('b') / "s"));
    EXPECT_EQ(c->readFiles("pkcs11:\\softhsm\\store"), 1);
    EXPECT_EQ(c->path(), "pkcs11:\\softhsm\\store");
    EXPECT_TRUE(c->contents(STORE_MKEY).isEmpty());
}

TEST_F(Container, CreationWritesAStoreAndErasingRemovesIt) {
    KernelRandom random;
    TRef<TPSEContainer> c(new TPSEContainer);
    EXPECT_EQ(c->create("", false), 0);
    EXPECT_EQ(c->lastError(), TPSEContainer::E_NO_PATH);
    ASSERT_EQ(c->create("c:\\new", false), 1);
    EXPECT_EQ(c->contents(STORE_MASKS).getLength(), 32);
    EXPECT_NE(c->getPSE(), nullptr);
    // Asked for a password the user refuses: no store.
    EXPECT_EQ(c->create("c:\\pw", true), 0);
    EXPECT_EQ(ui().count("putPassCBK"), 1);
    EXPECT_FALSE(fs::exists(drive('c') / "pw" / "mk.db3"));
    EXPECT_EQ(c->erase("c:\\new"), 1);
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"})
        EXPECT_FALSE(fs::exists(drive('c') / "new" / name)) << name;
}

// A store appeared where the caller found none (another process made it):
// it is used, never replaced, and a password asked for the new store goes
// to a store found without one, which keeps its master key.
TEST_F(Container, CreationWhereAStoreAppearedUsesThatStore) {
    KernelRandom random;
    TRef<TPSEContainer> first(new TPSEContainer);
    ASSERT_EQ(first->create("c:\\s", false), 1);
    const std::string mkey = slurp(drive('c') / "s" / "mk.db3");

    TRef<TPSEContainer> second(new TPSEContainer);
    ASSERT_EQ(second->createOrOpen("c:\\s", false), 1);
    ASSERT_NE(second->getPSE(), nullptr);
    EXPECT_EQ(0, std::memcmp(second->getPSE()->fingerprint, first->getPSE()->fingerprint, 32));
    EXPECT_EQ(slurp(drive('c') / "s" / "mk.db3"), mkey);
    EXPECT_EQ(second->contents(STORE_MASKS).getLength(), 32);

    ui().script("putPassCBK", "secret");
    TRef<TPSEContainer> third(new TPSEContainer);
    ASSERT_EQ(third->createOrOpen("c:\\s", true), 1);
    EXPECT_EQ(0, std::memcmp(third->getPSE()->fingerprint, first->getPSE()->fingerprint, 32));
    EXPECT_EQ(slurp(drive('c') / "s" / "mk.db3"), mkey);
    EXPECT_GT(third->contents(STORE_MASKS).getLength(), 32);  // now under the password

    // A store with a password of its own is opened with it, not given another.
    ui().script("putPassCBK", "other");
    ui().script("getPassCBK", "secret");
    const std::string masks = slurp(drive('c') / "s" / "masks.db3");
    TRef<TPSEContainer> fourth(new TPSEContainer);
    ASSERT_EQ(fourth->createOrOpen("c:\\s", true), 1);
    EXPECT_EQ(0, std::memcmp(fourth->getPSE()->fingerprint, first->getPSE()->fingerprint, 32));
    EXPECT_EQ(slurp(drive('c') / "s" / "masks.db3"), masks);

    // Where no store is, createOrOpen makes one as create does.
    TRef<TPSEContainer> fresh(new TPSEContainer);
    ASSERT_EQ(fresh->createOrOpen("c:\\t", false), 1);
    EXPECT_NE(0, std::memcmp(fresh->getPSE()->fingerprint, first->getPSE()->fingerprint, 32));
}

// A writer stopped after its commit record leaves the record and the new
// files under temporary names; erasing the store must take them too, or the
// store's next reader finishes the commit and the store is back.
TEST_F(Container, ErasingRemovesACommitLeftWaitingAndItsTemporaries) {
    KernelRandom random;
    TRef<TPSEContainer> c(new TPSEContainer);
    ASSERT_EQ(c->create("c:\\st", false), 1);
    const fs::path folder = drive('c') / "st";
    std::string record = "cadb key store commit 1\n";
    for (const char* name : {"mk.db3", "masks.db3", "kek.opq", "rand.opq"}) {
        const std::string temp = "." + std::string(name) + ".a1B2c3";
        fs::copy_file(folder / name, folder / temp);
        record += temp + '\0' + name + '\0';
    }
    record += std::string("end") + '\0';
    std::ofstream(folder / "pse.commit", std::ios::binary) << record;
    std::ofstream(folder / ".pse.commit.q1w2e3", std::ios::binary) << record;
    std::ofstream(folder / "notes.txt") << "the user's";

    EXPECT_EQ(c->erase("c:\\st"), 1);
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(folder)) left.insert(e.path().filename());
    EXPECT_EQ(left, std::set<std::string>{"notes.txt"});
    TRef<TPSEContainer> reader(new TPSEContainer);
    EXPECT_EQ(reader->openPath("c:\\st"), 0);
    EXPECT_FALSE(fs::exists(folder / "mk.db3"));
}

}  // namespace
}  // namespace cadb
