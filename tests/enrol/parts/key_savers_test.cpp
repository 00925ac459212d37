// Saving a new key as key files: the reserve copy under the folder's next
// free name, the main name replaced only after the new key is on the medium,
// and the page's own name as a copy whose failure does not fail the save.
#include "enrol/key_savers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace cadb::enrol {
namespace {

namespace fs = std::filesystem;

class KeyFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/cadb-keysave-XXXXXX";
        dir_ = mkdtemp(tmpl);
        setenv("CADB_DRIVE_K", dir_.c_str(), 1);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
    }
    void TearDown() override {
        unsetenv("CADB_DRIVE_K");
        fs::remove_all(dir_);
    }
    void put(const std::string& relative, const std::string& text) {
        fs::create_directories(fs::path(dir_ + "/" + relative).parent_path());
        std::ofstream(dir_ + "/" + relative) << text;
    }
    std::string read(const std::string& relative) {
        std::ostringstream s;
        s << std::ifstream(dir_ + "/" + relative).rdbuf();
        return s.str();
    }
    static std::span<const unsigned char> bytes(const std::string& s) {
        return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
    }
    std::string dir_;
};

TEST_F(KeyFiles, ReserveCopyTakesTheNextFreeNumber) {
    put("keys/00000001.key", "old");
    put("keys/0000000A.key", "tenth");
    const std::string key = "new key";
    ASSERT_TRUE(SaveKeyFileGenerated("k:\\keys\\00000001.key", bytes(key), nullptr));
    EXPECT_EQ(read("keys/00000001.key"), key);
    EXPECT_EQ(read("keys/0000000B.key"), key);
    EXPECT_EQ(read("keys/0000000A.key"), "tenth");
}

TEST_F(KeyFiles, AFreshFolderGetsTheKeyAndItsReserve) {
    const std::string key = "first";
    const std::string user = "k:\\keys\\mine.key";
    ASSERT_TRUE(SaveKeyFileGenerated("k:\\keys\\00000001.key", bytes(key), &user));
    EXPECT_EQ(read("keys/00000001.key"), key);
    EXPECT_EQ(read("keys/00000002.key"), key);
    EXPECT_EQ(read("keys/mine.key"), key);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ + "/keys"), fs::directory_iterator()), 3);
}

TEST_F(KeyFiles, NoReserveNameKeepsTheOldKey) {
    put("keys/00000001.key", "old");
    put("keys/FFFFFFFF.key", "last");
    EXPECT_FALSE(SaveKeyFileGenerated("k:\\keys\\00000001.key", bytes(std::string("new")), nullptr));
    EXPECT_EQ(read("keys/00000001.key"), "old");
}

TEST_F(KeyFiles, AFailingUserCopyDoesNotFailTheSave) {
    fs::create_directories(dir_ + "/keys/taken.key");  // a folder where the copy should go
    const std::string user = "k:\\keys\\taken.key";
    EXPECT_TRUE(SaveKeyFileGenerated("k:\\keys\\00000001.key", bytes(std::string("k")), &user));
    EXPECT_EQ(read("keys/00000001.key"), "k");
    EXPECT_TRUE(fs::is_directory(dir_ + "/keys/taken.key"));
}

TEST_F(KeyFiles, FolderOfAKeyPath) {
    EXPECT_EQ(KeyFolderOf("a:\\keys\\00000001.key"), "a:\\keys\\");
    EXPECT_EQ(KeyFolderOf("/tmp/keys/00000001.key"), "/tmp/keys\\");
    EXPECT_EQ(KeyFolderOf("00000001.key"), "\\");
}

}  // namespace
}  // namespace cadb::enrol
