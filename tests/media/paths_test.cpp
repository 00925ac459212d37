#include "platform/paths.h"

#include <unistd.h>

#include "tests/media/media_env.h"

namespace cadb {
namespace {

using testing::MediaTest;
namespace fs = std::filesystem;

using PathLayer = MediaTest;

TEST_F(PathLayer, DriveLettersMapToTheirFolders) {
    EXPECT_EQ(path_drive("a:\\keys"), 'a');
    EXPECT_EQ(path_drive("A:"), 'a');
    EXPECT_EQ(path_drive("\\tmp"), 0);
    EXPECT_EQ(path_drive("1:\\x"), 0);
    EXPECT_EQ(path_drive("a"), 0);

    EXPECT_EQ(drive_directory('a'), drive_a_.string());
    EXPECT_EQ(drive_directory('A'), drive_a_.string());
    EXPECT_EQ(drive_directory('c'), (root_ / "data/cadb/drives/c").string());

    const auto os = path_to_os("A:/keys\\00000001.key");
    ASSERT_TRUE(os);
    EXPECT_EQ(os->path, (drive_a_ / "keys/00000001.key").string());
    EXPECT_EQ(os->root_len, drive_a_.string().size());

    // "a:keys" has no relative form on a drive here: it is the drive's keys.
    EXPECT_EQ(path_to_os("a:keys")->path, (drive_a_ / "keys").string());
    EXPECT_EQ(path_to_os("a:")->path, drive_a_.string());
}

TEST_F(PathLayer, DefaultDriveFolderIsMadePrivateOnlyForWriting) {
    const fs::path c = root_ / "data/cadb/drives/c";
    ASSERT_TRUE(path_to_os("c:\\x"));
    EXPECT_FALSE(fs::exists(c));
    ASSERT_TRUE(path_to_os("c:\\x", PathIntent::create));
    EXPECT_TRUE(fs::is_directory(c));
    EXPECT_EQ(mode_of(c), 0700u);
    EXPECT_EQ(mode_of(root_ / "data/cadb"), 0700u);

    // A folder named by the variable is never made: it is the medium.
    setenv("CADB_DRIVE_B", (root_ / "no-disk").c_str(), 1);
    ASSERT_TRUE(path_to_os("b:\\x", PathIntent::create));
    EXPECT_FALSE(fs::exists(root_ / "no-disk"));
    EXPECT_FALSE(drive_present('b'));
    EXPECT_TRUE(drive_present('a'));
    EXPECT_TRUE(drive_present('c'));
}

TEST_F(PathLayer, DotsResolveButNeverClimbOutOfADrive) {
    EXPECT_EQ(path_to_os("a:\\keys\\..\\x\\.\\y")->path, (drive_a_ / "x/y").string());
    EXPECT_FALSE(path_to_os("a:\\..\\secret"));
    EXPECT_FALSE(path_to_os("a:\\keys\\..\\..\\etc\\passwd"));
    EXPECT_FALSE(path_to_os("a:/../../etc/passwd"));
    // Under the file-system root ".." stays at the root, as the kernel has it.
    EXPECT_EQ(path_to_os("\\..\\tmp\\x")->path, "/tmp/x");
    EXPECT_EQ(path_to_os("..\\x")->path, "../x");
    EXPECT_EQ(path_to_os("x\\..\\..\\y")->path, "../y");
}

TEST_F(PathLayer, HostileTextIsRefused) {
    EXPECT_FALSE(path_to_os(""));
    EXPECT_FALSE(path_to_os("pkcs11:\\module\\key"));
    EXPECT_FALSE(path_to_os("a:\\x:y"));
    EXPECT_FALSE(path_to_os("a:\\x\ny"));
    EXPECT_FALSE(path_to_os(std::string("a:\\x\x7fy")));
    EXPECT_FALSE(path_full("etoken:\\x"));

    std::string longest = "a:\\" + std::string(kMaxPath - 4, 'k');
    ASSERT_EQ(longest.size(), kMaxPath - 1);
    EXPECT_TRUE(path_to_os(longest));
    EXPECT_FALSE(path_to_os(longest + "k"));
    EXPECT_FALSE(path_to_os(std::string(10000, 'k')));
}

TEST_F(PathLayer, PosixPathsStandAsTheyAre) {
    EXPECT_EQ(path_to_os("/tmp/a/b")->path, "/tmp/a/b");
    EXPECT_EQ(path_to_os("\\tmp\\a\\\\b\\")->path, "/tmp/a/b");
    EXPECT_EQ(path_to_os("\\")->path, "/");
    EXPECT_EQ(path_to_os("keys\\k1")->path, "keys/k1");
    EXPECT_EQ(path_to_os(".")->path, ".");
    EXPECT_EQ(path_from_os("/tmp/a"), "\\tmp\\a");
    EXPECT_EQ(path_normalise("a:/b/c\\d"), "a:\\b\\c\\d");
}

TEST_F(PathLayer, FullPathsAsTheSystemGivesThem) {
    EXPECT_EQ(*path_full("A:/keys/../k1"), "A:\\k1");
    EXPECT_EQ(*path_full("a:"), "a:\\");
    EXPECT_EQ(*path_full("/tmp//x/."), "\\tmp\\x");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(*path_full("sub\\f"), path_from_os(cwd) + "\\sub\\f");
    EXPECT_FALSE(path_full("a:\\..\\x"));
}

}  // namespace
}  // namespace cadb
