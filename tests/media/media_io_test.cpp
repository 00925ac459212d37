#include "crypto/store/media_io.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/bio/media_file.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/cadb/buffer.h"
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

using MediaFiles = MediaTest;

std::string read_whole(const char* path, int max_len = 1 << 16) {
    std::string buf(static_cast<std::size_t>(max_len), '\0');
    const int n = CADB_read_file_plain(path, buf.data(), max_len);
    if (n < 0) return "<failed>";
    buf.resize(static_cast<std::size_t>(n));
    return buf;
}

TEST_F(MediaFiles, DrivePathRoundTripMakesPrivateFoldersAndFiles) {
    const std::string key(1234, '\x5a');
    EXPECT_EQ(CADB_write_file_plain("a:/keys/00000001.key", key.data(), 1234), 1234);
    const fs::path file = drive_a_ / "keys" / "00000001.key";
    EXPECT_EQ(slurp(file), key);
    EXPECT_EQ(mode_of(file), 0600u);
    EXPECT_EQ(mode_of(drive_a_ / "keys"), 0700u);
    EXPECT_EQ(read_whole("A:\\KEYS\\..\\keys\\00000001.key"), key);
    EXPECT_EQ(CADB_file_size("a:\\keys\\00000001.key"), 1234);
    EXPECT_EQ(IsMediaPathPresent("a:\\keys\\00000001.key"), 1);
    EXPECT_EQ(IsMediaDirectory("a:\\keys"), 1);
    EXPECT_EQ(IsMediaDirectory("a:\\keys\\00000001.key"), 0);
    // Nothing is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(drive_a_ / "keys"), fs::directory_iterator()),
              1);
}

TEST_F(MediaFiles, PosixPathRoundTripAndDefaultDrive) {
    const fs::path file = root_ / "x" / "y" / "z.bin";
    EXPECT_EQ(CADB_write_file_plain(file.c_str(), "abc", 3), 3);
    EXPECT_EQ(read_whole(file.c_str()), "abc");
    EXPECT_EQ(read_whole(path_from_os(file.string()).c_str()), "abc");
    EXPECT_EQ(mode_of(root_ / "x" / "y"), 0700u);

    EXPECT_EQ(CADB_write_file_plain("c:\\pse\\mk.db3", "mk", 2), 2);
    EXPECT_EQ(slurp(root_ / "data/cadb/drives/c/pse/mk.db3"), "mk");
}

TEST_F(MediaFiles, AnEmptyFileIsWrittenAndCountsZero) {
    ASSERT_EQ(CADB_write_file_plain("a:\\f", "old", 3), 3);
    EXPECT_EQ(CADB_write_file_plain("a:\\f", "", 0), 0);
    EXPECT_EQ(CADB_file_size("a:\\f"), 0);
    char buf[4];
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 4), 0);
}

TEST_F(MediaFiles, AFileLongerThanTheRoomIsRefusedNotCut) {
    ASSERT_EQ(CADB_write_file_plain("a:\\f", "0123456789", 10), 10);
    char buf[16];
    std::fill(std::begin(buf), std::end(buf), '#');
    ERR_clear_error();
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 4), -1);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_READ);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CADB_READ_FILE);
    EXPECT_EQ(std::string(buf, 5), std::string(4, '\0') + "#");  // nothing of it is left
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 9), -1);
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 0), -1);
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 10), 10);
    EXPECT_EQ(std::string(buf, 10), "0123456789");
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, 16), 10);
    EXPECT_EQ(CADB_read_file_plain("a:\\f", buf, -1), -1);
    EXPECT_EQ(CADB_read_file_plain("a:\\f", nullptr, 4), -1);
}

// Nothing in these tests may block on a pipe: every open of one must come
// back at once with a failure (a hang shows as the test timing out).
TEST_F(MediaFiles, ANamedPipeInAKeyPathIsRefusedWithoutBlocking) {
    const fs::path fifo = drive_a_ / "store" / "mk.db3";
    fs::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    char buf[16];
    ERR_clear_error();
    EXPECT_EQ(CADB_read_file_plain("a:\\store\\mk.db3", buf, 16), -1);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_READ);
    EXPECT_EQ(CADB_file_size("a:\\store\\mk.db3"), -1);
    BIO* bio = BIO_new_media_file("a:\\store\\mk.db3", "rb");
    EXPECT_EQ(bio, nullptr);
    BIO_free(bio);
    bio = BIO_new_media_file("a:\\store\\mk.db3", "r+b");
    EXPECT_EQ(bio, nullptr);
    BIO_free(bio);
    EXPECT_EQ(CADB_write_file_plain("a:\\store\\mk.db3", "x", 1), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_WRITE);
    EXPECT_EQ(CADB_erase_file_plain("a:\\store\\mk.db3"), 0);
    BufferPtr whole(BUFFER_load_file("a:\\store\\mk.db3"));
    EXPECT_FALSE(whole);
    EXPECT_TRUE(fs::is_fifo(fifo));
}

TEST_F(MediaFiles, FailuresReportTheirFunctionAndClass) {
    char buf[4];
    ERR_clear_error();
    EXPECT_EQ(CADB_read_file_plain("a:\\missing", buf, 4), -1);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_READ);
    const unsigned long e = ERR_peek_last_error();
    EXPECT_EQ(ERR_code_lib(e), ERR_LIB_CADB);
    EXPECT_EQ(ERR_code_func(e), CADB_F_CADB_READ_FILE);
    EXPECT_EQ(ERR_code_reason(e), ERR_R_INTERNAL);

    EXPECT_EQ(CADB_write_file_plain(nullptr, "x", 1), 0);
    EXPECT_EQ(CADB_write_file_plain("a:\\x", nullptr, 1), 0);
    EXPECT_EQ(CADB_write_file_plain("a:\\x", "x", -1), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_WRITE);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CADB_WRITE_FILE);
    EXPECT_EQ(CADB_erase_file_plain(nullptr), 0);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CADB_ERASE_FILE);
    EXPECT_EQ(CADB_mkdir(nullptr), 0);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CADB_MKDIR);
    EXPECT_EQ(CADB_file_size(nullptr), -1);
    EXPECT_EQ(CADB_file_size("a:\\missing"), -1);
    EXPECT_EQ(CADB_file_size("a:\\"), -1);  // a folder has no file size
}

TEST_F(MediaFiles, LongAndHostilePathsAreRefused) {
    // Folders of 50 characters: no single name passes the file system's own
    // limit.
    std::string longest = "a:";
    while (longest.size() + 51 < kMaxPath) longest += "\\" + std::string(50, 'k');
    longest += "\\" + std::string(kMaxPath - 2 - longest.size(), 'f');
    ASSERT_EQ(longest.size(), kMaxPath - 1);
    EXPECT_EQ(CADB_write_file_plain(longest.c_str(), "x", 1), 1);
    const std::string too_long = longest + "k";
    EXPECT_EQ(CADB_write_file_plain(too_long.c_str(), "x", 1), 0);
    char buf[2];
    EXPECT_EQ(CADB_read_file_plain(too_long.c_str(), buf, 2), -1);
    EXPECT_EQ(CADB_erase_file_plain(too_long.c_str()), 0);
    EXPECT_EQ(CADB_file_size(too_long.c_str()), -1);
    EXPECT_EQ(CADB_mkdir(too_long.c_str()), 0);
    EXPECT_EQ(CADB_walk_dir(
                  too_long.c_str(), 0, [](const char*, void*) { return 1; }, nullptr),
              0);

    // Nothing above the drive's folder is reached, whatever the dots say.
    spit(root_ / "outside", "secret");
    EXPECT_EQ(CADB_read_file_plain("a:\\..\\outside", buf, 2), -1);
    EXPECT_EQ(CADB_write_file_plain("a:\\keys\\..\\..\\outside", "x", 1), 0);
    EXPECT_EQ(CADB_erase_file_plain("a:/../outside"), 0);
    EXPECT_EQ(IsMediaPathPresent("a:\\..\\outside"), 0);
    EXPECT_EQ(slurp(root_ / "outside"), "secret");
    EXPECT_EQ(CADB_write_file_plain("a:\\x:y", "x", 1), 0);
}

TEST_F(MediaFiles, AFailedWriteLeavesTheOldFile) {
    ASSERT_EQ(CADB_write_file_plain("a:\\kek.opq", "old contents", 12), 12);
    // The file-size limit makes the kernel refuse the write part way.
    struct sigaction ignore {};
    struct sigaction saved {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, &saved);
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit small{4096, limit.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    const std::string big(100000, 'n');
    const int written = CADB_write_file_plain("a:\\kek.opq", big.data(), 100000);
    setrlimit(RLIMIT_FSIZE, &limit);
    sigaction(SIGXFSZ, &saved, nullptr);

    EXPECT_EQ(written, 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_WRITE);
    EXPECT_EQ(slurp(drive_a_ / "kek.opq"), "old contents");
    EXPECT_EQ(std::distance(fs::directory_iterator(drive_a_), fs::directory_iterator()), 1);
}

TEST_F(MediaFiles, AReadOnlyFileIsNotReplaced) {
    ASSERT_EQ(CADB_write_file_plain("a:\\ro", "keep", 4), 4);
    EXPECT_EQ(SetMediaFileWritable("a:\\ro", 0), 1);
    EXPECT_EQ(mode_of(drive_a_ / "ro"), 0400u);
    EXPECT_EQ(CADB_write_file_plain("a:\\ro", "lost", 4), 0);
    EXPECT_EQ(slurp(drive_a_ / "ro"), "keep");
    EXPECT_EQ(SetMediaFileWritable("a:\\ro", CADB_FILE_WRITABLE), 1);
    EXPECT_EQ(mode_of(drive_a_ / "ro"), 0600u);
    EXPECT_EQ(CADB_write_file_plain("a:\\ro", "new!", 4), 4);
    EXPECT_EQ(SetMediaFileWritable("a:\\missing", CADB_FILE_WRITABLE), 0);
    EXPECT_EQ(SetMediaFileWritable("eToken:\\x", 0), 1);
}

TEST_F(MediaFiles, ReplacementIsInvisibleUntilCommitted) {
    ASSERT_EQ(CADB_write_file_plain("a:\\f", "first", 5), 5);
    BIO* out = BIO_new_media_file("a:\\f", "wb");
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(BIO_write(out, "second", 6), 6);
    EXPECT_EQ(read_whole("a:\\f"), "first");
    EXPECT_EQ(BIO_flush(out), 1);
    EXPECT_EQ(read_whole("a:\\f"), "second");
    BIO_free(out);
    EXPECT_EQ(read_whole("a:\\f"), "second");
}

TEST_F(MediaFiles, ReadersNeverSeeHalfAFile) {
    const std::string a(50000, 'a');
    const std::string b(70000, 'b');
    ASSERT_EQ(CADB_write_file_plain("a:\\store", a.data(), 50000), 50000);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        std::string buf(100000, '\0');
        while (!stop) {
            const int n = CADB_read_file_plain("a:\\store", buf.data(), 100000);
            const std::string got = buf.substr(0, static_cast<std::size_t>(std::max(n, 0)));
            if (got != a && got != b) ++torn;
        }
    });
    for (int i = 0; i < 200; ++i) {
        const std::string& next = i % 2 ? a : b;
        ASSERT_EQ(CADB_write_file_plain("a:\\store", next.data(), static_cast<int>(next.size())),
                  static_cast<int>(next.size()));
    }
    stop = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST_F(MediaFiles, EraseOverwritesWithZerosThenDeletes) {
    ASSERT_EQ(CADB_write_file_plain("a:\\mk.db3", "master key!", 11), 11);
    // A second name for the same bytes shows what the erase left in them.
    fs::create_hard_link(drive_a_ / "mk.db3", root_ / "witness");
    EXPECT_EQ(CADB_erase_file_plain("a:/mk.db3"), 1);
    EXPECT_FALSE(fs::exists(drive_a_ / "mk.db3"));
    EXPECT_EQ(slurp(root_ / "witness"), std::string(11, '\0'));

    EXPECT_EQ(CADB_erase_file_plain("a:\\never-there"), 1);

    ASSERT_EQ(CADB_write_file_plain("a:\\ro", "x", 1), 1);
    ASSERT_EQ(SetMediaFileWritable("a:\\ro", 0), 1);
    EXPECT_EQ(CADB_erase_file_plain("a:\\ro"), 1);
    EXPECT_FALSE(fs::exists(drive_a_ / "ro"));

    // A link goes, the file it names is not zeroed.
    spit(root_ / "target", "precious");
    fs::permissions(root_ / "target", fs::perms::owner_read);
    fs::create_symlink(root_ / "target", drive_a_ / "link");
    EXPECT_EQ(CADB_erase_file_plain("a:\\link"), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(drive_a_ / "link")));
    EXPECT_EQ(slurp(root_ / "target"), "precious");
    EXPECT_EQ(mode_of(root_ / "target"), 0400u);

    // A folder is not a file to erase.
    fs::create_directory(drive_a_ / "dir");
    EXPECT_EQ(CADB_erase_file_plain("a:\\dir"), 0);
    EXPECT_TRUE(fs::exists(drive_a_ / "dir"));
}

TEST_F(MediaFiles, MkdirMakesEveryFolderOfTheDirectoryPart) {
    EXPECT_EQ(CADB_mkdir("a:\\p\\q\\r\\file"), 1);
    EXPECT_TRUE(fs::is_directory(drive_a_ / "p/q/r"));
    EXPECT_FALSE(fs::exists(drive_a_ / "p/q/r/file"));
    EXPECT_EQ(CADB_mkdir("a:\\p\\q\\r\\file"), 1);
    EXPECT_EQ(CADB_mkdir("a:\\file"), 1);
    EXPECT_EQ(CADB_mkdir("file"), 1);
    spit(drive_a_ / "plain", "x");
    EXPECT_EQ(CADB_mkdir("a:\\plain\\sub\\f"), 0);
    // Media without folders of their own need none.
    for (const char* p : {"eToken:\\3f00\\1234\\0001", "iButton:\\keys\\key .001",
                          "ruToken:\\0001\\0002", "eTR2:\\x\\y"})
        EXPECT_EQ(CADB_mkdir(p), 1) << p;
}

TEST_F(MediaFiles, TokenPathsFailCleanlyWithoutADriver) {
    char buf[4];
    for (const char* p : {"eToken:\\3f00\\0001", "ruToken:\\0001", "iButton:\\keys\\key .001",
                          "eTR2:\\0001", "pkcs11:\\cadb-no-such-module\\key"}) {
        SCOPED_TRACE(p);
        ERR_clear_error();
        EXPECT_EQ(CADB_write_file_plain(p, "x", 1), 0);
        EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CADB_WRITE_FILE);
        EXPECT_EQ(CADB_read_file_plain(p, buf, 4), -1);
        EXPECT_EQ(CADB_file_size(p), -1);
        EXPECT_EQ(IsMediaPathPresent(p), 0);
        EXPECT_EQ(IsMediaDirectory(p), 0);
        EXPECT_EQ(CADB_erase_file_plain(p), 1);  // nothing there to erase
        EXPECT_EQ(CADB_walk_dir(
                      p, 0, [](const char*, void*) { return 1; }, nullptr),
                  0);
        EXPECT_EQ(CADB_is_media_path(p), 1);
    }
}

TEST_F(MediaFiles, TokenPathsGoThroughTheirDriverWithTheMediaWords) {
    MemoryDriverGuard guard(BIO_MEDIUM_RUTOKEN);
    auto& m = MemoryMedium::get();
    int credential = 0;
    EXPECT_EQ(CADB_write_file("ruToken:/0001/0002", "secret", 6, 2, &credential), 6);
    EXPECT_EQ(m.files["ruToken:\\0001\\0002"], "secret");
    ASSERT_FALSE(m.opens.empty());
    EXPECT_EQ(m.opens.back().flags, 2u);
    EXPECT_EQ(m.opens.back().credential, &credential);
    EXPECT_EQ(CADB_file_size("ruToken:\\0001\\0002"), 6);
    char buf[16];
    EXPECT_EQ(CADB_read_file("ruToken:\\0001\\0002", buf, 16, 0, nullptr), 6);
    EXPECT_EQ(IsMediaPathPresent("ruToken:\\0001\\0002"), 1);

    m.fail_commit = true;
    EXPECT_EQ(CADB_write_file_plain("ruToken:\\0001\\0003", "x", 1), 0);
    EXPECT_EQ(ERR_get_last_error(), ERR_CLASS_WRITE);
    m.fail_commit = false;

    // Erase reads the file through, writes zeros over its length and deletes
    // through the open stream.
    EXPECT_EQ(CADB_erase_file_plain("ruToken:\\0001\\0002"), 1);
    ASSERT_EQ(m.deleted.size(), 1u);
    EXPECT_EQ(m.deleted[0], "ruToken:\\0001\\0002=secret" + std::string(6, '\0'));
    EXPECT_EQ(m.files.count("ruToken:\\0001\\0002"), 0u);
}

TEST_F(MediaFiles, TouchMemoryErasesByPathAfterClosing) {
    MemoryDriverGuard guard(BIO_MEDIUM_IBUTTON);
    auto& m = MemoryMedium::get();
    ASSERT_EQ(CADB_write_file_plain("iButton:\\keys\\key .001", "k", 1), 1);
    EXPECT_EQ(CADB_erase_file_plain("iButton:\\keys\\key .001"), 1);
    ASSERT_EQ(m.deleted.size(), 1u);
    EXPECT_EQ(m.deleted[0], "iButton:\\keys\\key .001");
}

TEST_F(MediaFiles, PkcsElevenObjectsAreTestedAndErasedOnTheToken) {
    REQUIRE_SOFTHSM();
    testing::create_certificate(testing::logged_in().get(), "media\\erase\\cert1");
    EXPECT_EQ(IsMediaPathPresent("pkcs11:\\softhsm2\\media\\erase\\cert1"), 1);
    EXPECT_EQ(IsMediaPathPresent("pkcs11:\\softhsm2\\media\\erase\\other"), 0);
    EXPECT_EQ(IsMediaDirectory("pkcs11:\\softhsm2\\media\\erase"), 0);
    EXPECT_EQ(CADB_erase_file_plain("pkcs11:/softhsm2/media/erase/cert1"), 1);
    EXPECT_EQ(IsMediaPathPresent("pkcs11:\\softhsm2\\media\\erase\\cert1"), 0);
    // Token objects are no files: not read, written or sized as such.
    char buf[4];
    EXPECT_EQ(CADB_write_file_plain("pkcs11:\\softhsm2\\media\\x", "x", 1), 0);
    EXPECT_EQ(CADB_read_file_plain("pkcs11:\\softhsm2\\media\\x", buf, 4), -1);
    EXPECT_EQ(CADB_file_size("pkcs11:\\softhsm2\\media\\x"), -1);
}

}  // namespace
}  // namespace cadb
