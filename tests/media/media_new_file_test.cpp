// Files written under a name nobody holds yet: the name goes to one writer
// only, across processes, and a writer that finds it taken changes nothing.
#include <set>
#include <string>
#include <vector>

#include "crypto/store/media_io.h"
#include "tests/media/media_env.h"
#include "tests/support/process_race.h"

namespace cadb {
namespace {

using testing::MediaTest;
namespace fs = std::filesystem;

using NewFiles = MediaTest;

std::vector<std::string> names_in(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    return names;
}

TEST_F(NewFiles, ATakenNameIsLeftAsItWas) {
    const std::string first(700, 'k');
    EXPECT_EQ(CADB_write_new_file("a:\\keys\\00000002.key", first.data(), 700), 700);
    const fs::path file = drive_a_ / "keys" / "00000002.key";
    EXPECT_EQ(slurp(file), first);
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(drive_a_ / "keys"), 0700u);

    ERR_clear_error();
    EXPECT_EQ(CADB_write_new_file("a:/keys/00000002.key", "other", 5), -1);
    EXPECT_EQ(ERR_peek_error(), 0u);  // a taken name is an answer, not an error
    EXPECT_EQ(slurp(file), first);
    // Anything of that name takes it: a folder, a dangling link.
    fs::create_directory(drive_a_ / "keys" / "folder.key");
    fs::create_symlink(drive_a_ / "nowhere", drive_a_ / "keys" / "link.key");
    EXPECT_EQ(CADB_write_new_file("a:\\keys\\folder.key", "x", 1), -1);
    EXPECT_EQ(CADB_write_new_file("a:\\keys\\link.key", "x", 1), -1);
    EXPECT_FALSE(fs::exists(drive_a_ / "nowhere"));
    // No temporary file is left beside them.
    EXPECT_EQ(names_in(drive_a_ / "keys").size(), 3u);
}

TEST_F(NewFiles, RefusedPathsFail) {
    EXPECT_EQ(CADB_write_new_file(nullptr, "x", 1), 0);
    EXPECT_EQ(CADB_write_new_file("a:\\k", nullptr, 1), 0);
    EXPECT_EQ(CADB_write_new_file(std::string(300, 'a').c_str(), "x", 1), 0);
    EXPECT_EQ(CADB_write_new_file("a:\\..\\..\\escape", "x", 1), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_WRITE);
}

// Writers started together on one name: exactly one has it, the file holds
// its bytes whole, and every other writer was told the name was taken.
TEST_F(NewFiles, WritersInManyProcessesNeverShareAName) {
    constexpr int kWriters = 8;
    constexpr int kNames = 6;
    const testing::Race race = testing::race_processes(kWriters, 2, [](int w, int fd) {
        const std::string mine(4000 + w, static_cast<char>('A' + w));
        for (int n = 0; n < kNames; ++n) {
            const std::string path = "a:\\keys\\" + std::to_string(n) + ".key";
            const int r =
                CADB_write_new_file(path.c_str(), mine.data(), static_cast<int>(mine.size()));
            const char result[2] = {static_cast<char>('0' + n),
                                    r == static_cast<int>(mine.size()) ? static_cast<char>('A' + w)
                                    : r == -1                        ? '-'
                                                                     : '!'};
            if (!testing::tell(fd, result, 2)) return 2;
        }
        return 0;
    });
    EXPECT_TRUE(race.all_exited_zero);
    std::vector<std::set<char>> winners(kNames);
    for (const std::string& result : race.records) {
        ASSERT_NE(result[1], '!') << "a write failed";
        if (result[1] != '-') winners[static_cast<std::size_t>(result[0] - '0')].insert(result[1]);
    }
    const int answers = static_cast<int>(race.records.size());
    EXPECT_EQ(answers, kWriters * kNames);
    for (int n = 0; n < kNames; ++n) {
        ASSERT_EQ(winners[static_cast<std::size_t>(n)].size(), 1u) << n;
        const char w = *winners[static_cast<std::size_t>(n)].begin();
        EXPECT_EQ(slurp(drive_a_ / "keys" / (std::to_string(n) + ".key")),
                  std::string(static_cast<std::size_t>(4000 + (w - 'A')), w));
    }
    EXPECT_EQ(names_in(drive_a_ / "keys").size(), static_cast<std::size_t>(kNames));
}

}  // namespace
}  // namespace cadb
