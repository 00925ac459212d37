#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "crypto/bio/media_prefix.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"
#include "tests/media/media_env.h"
#include "tests/media/memory_driver.h"
#include "tests/media/token_objects.h"

namespace cadb {
namespace {

using testing::MediaTest;
using testing::MemoryDriverGuard;
using testing::MemoryMedium;
namespace fs = std::filesystem;

std::string build(const char* dir, const char* name, const char* ext) {
    char out[kMaxPath];
    std::fill(std::begin(out), std::end(out), '#');
    const char* r = BuildFilePath(out, dir, name, ext);
    return r == nullptr ? "<null>" : std::string(r);
}

TEST(BuildFilePath, JoinsAndNormalises) {
    EXPECT_EQ(build("a:", "keys", nullptr), "a:\\keys");
    EXPECT_EQ(build("a:\\keys\\", "00000001", "key"), "a:\\keys\\00000001.key");
    EXPECT_EQ(build("a:/keys/", "00000001", ".key"), "a:\\keys\\00000001.key");
    EXPECT_EQ(build("a:/keys", nullptr, nullptr), "a:\\keys");
    EXPECT_EQ(build("a:\\keys\\", nullptr, nullptr), "a:\\keys");  // one trailing '\' goes
    EXPECT_EQ(build("a:\\keys\\\\", nullptr, nullptr), "a:\\keys\\");
    EXPECT_EQ(build(nullptr, "mk", "db3"), "mk.db3");
    EXPECT_EQ(build("", "mk.db3", nullptr), "mk.db3");  // no root out of nothing
    EXPECT_EQ(build("/", "tmp", nullptr), "\\tmp");
    EXPECT_EQ(build("/", nullptr, nullptr), "\\");

    char out[kMaxPath] = "a:/keys/k1/";
    EXPECT_EQ(BuildFilePath(out, nullptr, nullptr, nullptr), out);
    EXPECT_STREQ(out, "a:\\keys\\k1");
    // The output may be its own directory argument.
    std::strcpy(out, "a:\\keys");
    EXPECT_STREQ(BuildFilePath(out, out, "k2", "key"), "a:\\keys\\k2.key");
    EXPECT_EQ(BuildFilePath(nullptr, "a:", "x", nullptr), nullptr);
}

TEST(BuildFilePath, NeverCutsAPathShort) {
    const std::string dir(200, 'd');
    const std::string name(58, 'n');
    EXPECT_EQ(build(dir.c_str(), name.c_str(), nullptr).size(), kMaxPath - 1);
    EXPECT_EQ(build(dir.c_str(), (name + "n").c_str(), nullptr), "<null>");
    EXPECT_EQ(build(dir.c_str(), name.c_str(), "k"), "<null>");
    const std::string huge(100000, 'h');
    EXPECT_EQ(build(huge.c_str(), nullptr, nullptr), "<null>");
    char out[kMaxPath] = "x";
    EXPECT_EQ(BuildFilePath(out, dir.c_str(), name.c_str(), "key"), nullptr);
    EXPECT_STREQ(out, "");
}

TEST(SplitPath, AtTheLastSeparator) {
    char path[kMaxPath] = "a:/keys/sub/00000001.key";
    char dir[kMaxPath];
    char name[kMaxPath];
    ASSERT_EQ(CADB_split_path(path, dir, name), 1);
    EXPECT_STREQ(path, "a:\\keys\\sub\\00000001.key");
    EXPECT_STREQ(dir, "a:\\keys\\sub");
    EXPECT_STREQ(name, "00000001.key");

    std::strcpy(path, "a:\\keys\\");
    ASSERT_EQ(CADB_split_path(path, dir, name), 1);
    EXPECT_STREQ(dir, "a:\\keys");
    EXPECT_STREQ(name, "");

    std::strcpy(path, "mk.db3");
    ASSERT_EQ(CADB_split_path(path, dir, name), 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(dir, path_from_os(cwd));
    EXPECT_STREQ(name, "mk.db3");

    EXPECT_EQ(CADB_split_path(nullptr, dir, name), 0);
    EXPECT_EQ(CADB_split_path(path, nullptr, name), 0);
    std::string huge(4000, 'x');
    EXPECT_EQ(CADB_split_path(huge.data(), dir, name), 0);
}

TEST(PathsOverlap, OnWholeComponentsWithoutCase) {
    EXPECT_EQ(CADB_paths_overlap("a:\\keys", "A:\\KEYS\\k1"), 1);
    EXPECT_EQ(CADB_paths_overlap("A:\\KEYS\\k1", "a:/keys"), 1);
    EXPECT_EQ(CADB_paths_overlap("a:\\keys", "a:\\keys"), 1);
    EXPECT_EQ(CADB_paths_overlap("a:\\", "a:\\keys"), 1);
    EXPECT_EQ(CADB_paths_overlap("a:\\key", "a:\\keys"), 0);
    EXPECT_EQ(CADB_paths_overlap("a:\\keys", "b:\\keys"), 0);
    EXPECT_EQ(CADB_paths_overlap("a:\\keys\\..\\pse", "a:\\pse\\mk.db3"), 1);
    EXPECT_EQ(CADB_paths_overlap("eToken:/3f00", "ETOKEN:\\3F00\\0001"), 1);
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(CADB_paths_overlap("sub", (std::string(cwd) + "/sub/x").c_str()), 1);
    EXPECT_EQ(CADB_paths_overlap("", "a:\\"), 0);
    EXPECT_EQ(CADB_paths_overlap(nullptr, "a:\\"), 0);
}

using MediaWalk = MediaTest;

struct Names {
    std::vector<std::string> seen;
    int stop_after = -1;
    static int add(const char* name, void* user) {
        auto* self = static_cast<Names*>(user);
        self->seen.emplace_back(name);
        return static_cast<int>(self->seen.size()) != self->stop_after;
    }
};

std::vector<std::string> walk(const char* path, int flags) {
    Names names;
    EXPECT_EQ(CADB_walk_dir(path, flags, Names::add, &names), 1) << path;
    return names.seen;
}

TEST_F(MediaWalk, DiskFoldersFlatRecursiveAndWithDirectories) {
    spit(drive_a_ / "keys/00000001.key", "1");
    spit(drive_a_ / "keys/00000002.KEY", "2");
    spit(drive_a_ / "keys/notes.txt", "n");
    spit(drive_a_ / "keys/sub/00000003.key", "3");
    fs::create_directory(drive_a_ / "keys/empty");
    fs::create_directory_symlink(drive_a_, drive_a_ / "keys/loop");

    using V = std::vector<std::string>;
    EXPECT_EQ(walk("a:\\keys", 0),
              (V{"a:\\keys\\00000001.key", "a:\\keys\\00000002.KEY", "a:\\keys\\notes.txt"}));
    EXPECT_EQ(walk("a:/keys/", CADB_WALK_DIRECTORIES),
              (V{"a:\\keys\\00000001.key", "a:\\keys\\00000002.KEY", "a:\\keys\\empty",
                 "a:\\keys\\loop", "a:\\keys\\notes.txt", "a:\\keys\\sub"}));
    // Subfolders first; a link to a folder is not walked into.
    EXPECT_EQ(walk("a:\\keys", CADB_WALK_RECURSE),
              (V{"a:\\keys\\sub\\00000003.key", "a:\\keys\\00000001.key", "a:\\keys\\00000002.KEY",
                 "a:\\keys\\notes.txt"}));
    EXPECT_EQ(
        walk("a:\\keys\\*.key", CADB_WALK_RECURSE),
        (V{"a:\\keys\\sub\\00000003.key", "a:\\keys\\00000001.key", "a:\\keys\\00000002.KEY"}));
    EXPECT_EQ(walk("a:\\keys\\0000000?.*", 0),
              (V{"a:\\keys\\00000001.key", "a:\\keys\\00000002.KEY"}));
    EXPECT_EQ(walk("a:\\keys\\*.*", 0).size(), 3u);
    EXPECT_EQ(walk("a:\\keys\\notes.txt", 0), (V{"a:\\keys\\notes.txt"}));
    EXPECT_EQ(walk("a:", CADB_WALK_DIRECTORIES), (V{"a:\\keys"}));
    EXPECT_EQ(walk("a:\\*", CADB_WALK_DIRECTORIES), (V{"a:\\keys"}));
    EXPECT_TRUE(walk("a:\\keys\\*.none", 0).empty());
    const std::string posix = (root_ / "drive-a/keys/sub").string();
    EXPECT_EQ(walk(posix.c_str(), 0), (V{path_from_os(posix) + "\\00000003.key"}));
}

TEST_F(MediaWalk, StopsWhenTheCallbackSaysSoAndFailsOnMissingFolders) {
    spit(drive_a_ / "k/1", "1");
    spit(drive_a_ / "k/2", "2");
    Names names;
    names.stop_after = 1;
    EXPECT_EQ(CADB_walk_dir("a:\\k", 0, Names::add, &names), 0);
    EXPECT_EQ(names.seen.size(), 1u);
    EXPECT_EQ(CADB_walk_dir("a:\\nowhere\\*", 0, Names::add, &names), 0);
    EXPECT_EQ(CADB_walk_dir(nullptr, 0, Names::add, &names), 0);
    EXPECT_EQ(CADB_walk_dir("a:\\k", 0, nullptr, nullptr), 0);
    EXPECT_EQ(CADB_walk_dir("a:\\..", 0, Names::add, &names), 0);
}

TEST_F(MediaWalk, TokenListingsThroughTheDriver) {
    MemoryDriverGuard guard(BIO_MEDIUM_ETOKEN);
    auto& m = MemoryMedium::get();
    m.dirs = {"eToken:\\3f00", "eToken:\\3f00\\1234"};
    m.files["eToken:\\3f00\\0001"] = "a";
    m.files["eToken:\\3f00\\1234\\0002"] = "b";
    using V = std::vector<std::string>;
    EXPECT_EQ(walk("eToken:/3f00/", 0), (V{"eToken:\\3f00\\0001"}));
    EXPECT_EQ(walk("eToken:\\3f00", CADB_WALK_RECURSE | CADB_WALK_DIRECTORIES),
              (V{"eToken:\\3f00\\1234\\0002", "eToken:\\3f00\\0001", "eToken:\\3f00\\1234"}));
    EXPECT_EQ(IsMediaDirectory("eToken:\\3f00\\1234"), 1);
    Names names;
    EXPECT_EQ(CADB_walk_dir("eToken:\\none", 0, Names::add, &names), 0);
}

TEST_F(MediaWalk, TouchMemoryNamesCarryTheirExtension) {
    MemoryDriverGuard guard(BIO_MEDIUM_IBUTTON);
    auto& m = MemoryMedium::get();
    m.dirs = {"iButton:\\keys", "iButton:\\keys\\SUB"};
    m.files["iButton:\\keys\\key .001"] = "k";
    m.files["iButton:\\keys\\rand.5"] = "r";
    m.files["iButton:\\keys\\SUB\\key .002"] = "k";
    using V = std::vector<std::string>;
    // No recursion on a button; the folder by its bare name.
    EXPECT_EQ(walk("iButton:\\keys", CADB_WALK_RECURSE | CADB_WALK_DIRECTORIES),
              (V{"iButton:\\keys\\key.001", "iButton:\\keys\\rand.005", "iButton:\\keys\\SUB"}));
    EXPECT_EQ(walk("iButton:\\keys", 0),
              (V{"iButton:\\keys\\key.001", "iButton:\\keys\\rand.005"}));
}

TEST_F(MediaWalk, PkcsElevenWalksTheTokensObjects) {
    REQUIRE_SOFTHSM();
    PKCS11_OBJ_ptr ctx = testing::logged_in();
    testing::create_certificate(ctx.get(), "media\\walk\\c1");
    testing::create_certificate(ctx.get(), "media\\walk\\deeper\\c2");
    EXPECT_EQ(walk("pkcs11:\\softhsm2\\media\\walk", PKCS11_WALK_CERTIFICATES),
              std::vector<std::string>{"pkcs11:\\softhsm2\\media\\walk\\c1"});
    EXPECT_EQ(
        walk("pkcs11:\\softhsm2\\media\\walk", PKCS11_WALK_CERTIFICATES | PKCS11_WALK_ALL).size(),
        2u);
}

using MediaWait = MediaTest;

struct Inserter {
    int calls = 0;
    int give_up_after = 3;
    std::function<void()> insert;
    static int cb(const char*, void* arg) {
        auto* self = static_cast<Inserter*>(arg);
        if (++self->calls == self->give_up_after) return 0;
        if (self->insert) self->insert();
        return 1;
    }
};

TEST_F(MediaWait, DrivesWaitForTheirFolder) {
    setenv("CADB_DRIVE_B", (root_ / "floppy").c_str(), 1);
    EXPECT_EQ(CADB_wait_media("b:\\keys", nullptr, nullptr), 1);  // no callback at all
    Inserter gives_up;
    EXPECT_EQ(CADB_wait_media("b:\\keys", Inserter::cb, &gives_up), 0);
    EXPECT_EQ(gives_up.calls, 3);

    Inserter inserts;
    inserts.insert = [&] { fs::create_directory(root_ / "floppy"); };
    EXPECT_EQ(CADB_wait_media("b:\\keys", Inserter::cb, &inserts), 1);
    EXPECT_EQ(inserts.calls, 1);

    Inserter never;
    EXPECT_EQ(CADB_wait_media("a:\\keys", Inserter::cb, &never), 1);
    EXPECT_EQ(CADB_wait_media("\\tmp\\x", Inserter::cb, &never), 1);
    EXPECT_EQ(CADB_wait_media("relative", Inserter::cb, &never), 1);
    EXPECT_EQ(never.calls, 0);
    EXPECT_EQ(CADB_wait_media(nullptr, Inserter::cb, &never), 0);
}

TEST_F(MediaWait, TheDefaultCallbackServesWhenNoneIsGiven) {
    setenv("CADB_DRIVE_B", (root_ / "floppy").c_str(), 1);
    static int calls = 0;
    calls = 0;
    auto counting = [](const char*, void*) { return ++calls < 2 ? 1 : 0; };
    EXPECT_EQ(CADB_set_insert_media_cb(counting), counting);
    EXPECT_EQ(CADB_wait_media("b:\\", nullptr, nullptr), 0);
    EXPECT_EQ(calls, 2);
    CADB_set_insert_media_cb(nullptr);
}

TEST_F(MediaWait, TokensWaitForTheirDriverAndToken) {
    Inserter cb;
    EXPECT_EQ(CADB_media_driver_ready("eToken:\\x"), 0);
    EXPECT_EQ(CADB_token_inserted("eToken:\\x"), 0);
    EXPECT_EQ(CADB_wait_media("eToken:\\x", Inserter::cb, &cb), 0);
    EXPECT_EQ(cb.calls, 0);

    MemoryDriverGuard guard(BIO_MEDIUM_ETOKEN);
    auto& m = MemoryMedium::get();
    m.present = false;
    Inserter inserts;
    inserts.insert = [&] { m.present = true; };
    EXPECT_EQ(CADB_media_driver_ready("eToken:\\x"), 1);
    EXPECT_EQ(CADB_token_inserted("eToken:\\x"), 0);
    EXPECT_EQ(CADB_wait_media("eToken:\\x", Inserter::cb, &inserts), 1);
    EXPECT_EQ(inserts.calls, 1);
    m.loaded = false;
    EXPECT_EQ(CADB_wait_media("eToken:\\x", Inserter::cb, &inserts), 0);

    // Disk and button paths are always there as far as this test goes.
    for (const char* p : {"a:\\x", "iButton:\\x", "/tmp"}) {
        EXPECT_EQ(CADB_token_inserted(p), 1) << p;
        EXPECT_EQ(CADB_media_driver_ready(p), 1) << p;
    }
    EXPECT_EQ(CADB_token_inserted(nullptr), 0);
    EXPECT_EQ(CADB_media_driver_ready(nullptr), 0);
}

TEST_F(MediaWait, PkcsElevenPathsAskTheModuleRegistry) {
    EXPECT_EQ(CADB_media_driver_ready("pkcs11:\\no-such-module\\k1"), 0);
    EXPECT_EQ(CADB_token_inserted("pkcs11:\\no-such-module\\k1"), 0);
    Inserter cb;
    EXPECT_EQ(CADB_wait_media("pkcs11:\\no-such-module\\k1", Inserter::cb, &cb), 0);
    EXPECT_EQ(cb.calls, 0);

    REQUIRE_SOFTHSM();
    EXPECT_EQ(CADB_media_driver_ready("pkcs11:\\softhsm2\\k1"), 1);
    EXPECT_EQ(CADB_token_inserted("pkcs11:\\softhsm2\\k1"), 1);
    EXPECT_EQ(CADB_token_inserted("PKCS11:/softhsm2"), 1);
    EXPECT_EQ(CADB_wait_media("pkcs11:\\softhsm2\\k1", Inserter::cb, &cb), 1);
    EXPECT_EQ(cb.calls, 0);
    // A slot index without a token behind it.
    EXPECT_EQ(CADB_token_inserted("pkcs11 7:\\softhsm2"), 0);
}

}  // namespace
}  // namespace cadb
