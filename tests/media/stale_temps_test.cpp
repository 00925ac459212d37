// What killed writers leave on a disk: the temporary a replacement is
// written to. The next write into the folder wipes and removes those of
// files of its kind, never one a live writer (in this or another process)
// still holds or one changed within the last minute, never while the key
// store holds the folder or a store commit waits there.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/media_file.h"
#include "crypto/store/media_io.h"
#include "crypto/store/pse_commit.h"
#include "tests/media/media_env.h"

namespace cadb {
namespace {

using testing::MediaTest;
namespace fs = std::filesystem;

class StaleTemps : public MediaTest {
  protected:
    fs::path keys() const { return drive_a_ / "keys"; }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(keys())) out.insert(e.path().filename());
        return out;
    }
    // The temporaries of name in the key folder.
    std::vector<std::string> temps_of(const std::string& name) const {
        std::vector<std::string> out;
        for (const std::string& n : names())
            if (n.size() == name.size() + 8 && n.rfind("." + name + ".", 0) == 0) out.push_back(n);
        return out;
    }
    static bool write(const char* path, const std::string& text) {
        return CADB_write_file_plain(path, text.data(), static_cast<int>(text.size())) ==
               static_cast<int>(text.size());
    }
    // A file as a writer stopped long ago left it.
    static void plant(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
        age(p);
    }
    static void age(const fs::path& p) {
        fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::minutes(5));
    }
};

// A child that writes a key file and stops before committing it: it sits
// there, alive, until it is killed.
pid_t start_writer_that_hangs(const std::string& key) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        BIO* out = BIO_new_media_file("a:\\keys\\00000001.key", "wb");
        if (out == nullptr || BIO_write(out, key.data(), static_cast<int>(key.size())) !=
                                  static_cast<int>(key.size()))
            _exit(1);
        (void)!::write(ready[1], "r", 1);
        for (;;) ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    const bool ok = ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    return ok ? pid : -1;
}

TEST_F(StaleTemps, AKilledWritersKeyIsWipedAndRemovedByTheNextWriteNotBefore) {
    ASSERT_TRUE(write("a:\\keys\\00000009.key", "older key"));
    // More than the stream buffers, so that most of it is in the file.
    const std::string key(200000, 'K');
    const pid_t writer = start_writer_that_hangs(key);
    ASSERT_GT(writer, 0);
    // A failing check must not leave the writer waiting for ever.
    struct Reaper {
        pid_t pid;
        ~Reaper() {
            if (::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
        }
    } reaper{writer};
    ASSERT_EQ(temps_of("00000001.key").size(), 1u);
    const fs::path temp = keys() / temps_of("00000001.key").front();

    // The writer lives: its temporary stays, however old.
    age(temp);
    ASSERT_TRUE(write("a:\\keys\\00000002.key", "second key"));
    EXPECT_TRUE(fs::exists(temp));

    ASSERT_EQ(::kill(writer, SIGKILL), 0);
    ASSERT_EQ(::waitpid(writer, nullptr, 0), writer);
    // Nobody holds it now; a writer that holds no lock on its temporary
    // would still be busy with one this fresh.
    fs::last_write_time(temp, fs::file_time_type::clock::now());
    ASSERT_TRUE(write("a:\\keys\\00000004.key", "fourth key"));
    EXPECT_TRUE(fs::exists(temp));
    age(temp);
    // A witness that keeps reading the leftover's bytes after its name goes.
    const int witness = ::open(temp.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(witness, 0);
    const off_t size = fs::file_size(temp);
    EXPECT_GT(size, 0);
    // Files of other kinds, and names no writer makes, are not the write's.
    plant(keys() / ".notes.txt.a1b2c3", "someone's notes");
    plant(keys() / ".00000005.key.tmp", "not a temporary's name");

    ASSERT_TRUE(write("a:\\keys\\00000003.key", "third key"));
    EXPECT_FALSE(fs::exists(temp));
    std::string left(static_cast<std::size_t>(size), 'x');
    EXPECT_EQ(::pread(witness, left.data(), left.size(), 0), size);
    EXPECT_EQ(left, std::string(static_cast<std::size_t>(size), '\0'));
    ::close(witness);
    EXPECT_EQ(names(),
              (std::set<std::string>{"00000002.key", "00000003.key", "00000004.key", "00000009.key",
                                     ".notes.txt.a1b2c3", ".00000005.key.tmp"}));
    EXPECT_EQ(slurp(keys() / "00000009.key"), "older key");
}

TEST_F(StaleTemps, TheKeyStoresHoldOnTheFolderAndItsWaitingCommitAreRespected) {
    ASSERT_TRUE(write("a:\\keys\\00000001.key", "first"));
    plant(keys() / ".00000007.key.Ab12Cd", "leftover");
    {
        PseFolderLock store;
        ASSERT_TRUE(store.acquire(keys(), 0));
        ASSERT_TRUE(write("a:\\keys\\00000002.key", "second"));
        EXPECT_TRUE(fs::exists(keys() / ".00000007.key.Ab12Cd"));
    }
    plant(keys() / kPseCommitRecord, "cadb key store commit 1\n");
    ASSERT_TRUE(write("a:\\keys\\00000003.key", "third"));
    EXPECT_TRUE(fs::exists(keys() / ".00000007.key.Ab12Cd"));
    fs::remove(keys() / kPseCommitRecord);
    ASSERT_TRUE(write("a:\\keys\\00000004.key", "fourth"));
    EXPECT_FALSE(fs::exists(keys() / ".00000007.key.Ab12Cd"));
}

// Writers and cleaners at once: a cleaner that catches a new temporary
// before its writer has locked it makes the writer start over, never lose
// its file.
TEST_F(StaleTemps, WritersBesideEachOthersCleanupLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kFiles = 60;
    std::vector<std::thread> threads;
    std::atomic<int> failed{0};
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([t, &failed] {
            for (int i = 0; i < kFiles; ++i) {
                const std::string path =
                    "a:\\keys\\" + std::to_string(t) + "-" + std::to_string(i) + ".key";
                if (!write(path.c_str(), path)) ++failed;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(failed.load(), 0);
    std::set<std::string> expected;
    for (int t = 0; t < kThreads; ++t)
        for (int i = 0; i < kFiles; ++i) {
            const std::string name = std::to_string(t) + "-" + std::to_string(i) + ".key";
            expected.insert(name);
            EXPECT_EQ(slurp(keys() / name), "a:\\keys\\" + name);
        }
    EXPECT_EQ(names(), expected);
}

}  // namespace
}  // namespace cadb
