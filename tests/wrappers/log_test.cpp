// The trace log: stamps, date-named files, the sweep of old files, the size
// policies, whole lines from concurrent writers, and nothing after the end.
#include "wrappers/log.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <atomic>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "tests/wrappers/standin.h"

namespace cadb {
namespace {

using namespace cadb::testing;

std::atomic<std::int64_t> g_now{0};
std::chrono::system_clock::time_point test_clock() {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(g_now.load()));
}

// 2026-12-08 06:52:11.123 local time, as milliseconds since the epoch.
std::int64_t local_ms(int year, int mon, int day, int h, int m, int s, int ms) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = mon - 1;
    tm.tm_mday = day;
    tm.tm_hour = h;
    tm.tm_min = m;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return static_cast<std::int64_t>(mktime(&tm)) * 1000 + ms;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t pos; (pos = text.find("\r\n", start)) != std::string::npos; start = pos + 2)
        out.push_back(text.substr(start, pos - start));
    if (start != text.size()) out.push_back(text.substr(start));  // an unfinished tail
    return out;
}

const std::regex kStamped(R"(^[A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d\.\d{3} - .*)");

class Log : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = scratch_dir("log");
        fs::create_directories(dir_ / "app" / "log");
        setenv("XDG_STATE_HOME", (dir_ / "state").c_str(), 1);
        g_now = local_ms(2026, 12, 8, 6, 52, 11, 123);
        LogSetClock(test_clock);
    }
    void TearDown() override {
        FreeIniLogPathes();
        LogSetClock(nullptr);
        unsetenv("XDG_STATE_HOME");
        fs::remove_all(dir_);
    }
    // The initialiser's own set-up, beside a host executable in app/.
    void start(unsigned flags = 11) {
        ASSERT_NE(LogInit(nullptr, (dir_ / "app" / "host.exe").c_str(), "\\Gorget", 0), 0);
        LogSetDaysToKeep(2);
        LogConfigure(flags, "Gorget");
    }
    fs::path dir_;
};

TEST_F(Log, StampIsZeroPaddedMonthDayTimeAndMilliseconds) {
    std::tm tm{};
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = 6;
    tm.tm_min = 52;
    tm.tm_sec = 11;
    EXPECT_EQ(LogFormatStamp(tm, 123), "Dec 08 06:52:11.123 - ");
    tm.tm_mon = 0;
    tm.tm_mday = 1;
    EXPECT_EQ(LogFormatStamp(tm, 7), "Jan 01 06:52:11.007 - ");
}

TEST_F(Log, FilesAreNamedByDateAndANewDayStartsANewFile) {
    start();
    EXPECT_EQ(LogDirectory(), (dir_ / "app" / "log").string() + "/");
    LogMessage("first %d", 1);
    g_now += 3600 * 1000;
    LogMessage("second");
    const fs::path first = dir_ / "app" / "log" / "Gorget261208-0652.log";
    EXPECT_EQ(slurp(first),
              "Dec 08 06:52:11.123 - first 1\r\nDec 08 07:52:11.123 - second\r\n");
    struct stat st {};
    ASSERT_EQ(stat(first.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    g_now = local_ms(2026, 12, 9, 0, 1, 0, 0);
    LogMessage("after midnight");
    EXPECT_EQ(LogCurrentFile(), (dir_ / "app" / "log" / "Gorget261209-0001.log").string());
    EXPECT_EQ(slurp(LogCurrentFile()), "Dec 09 00:01:00.000 - after midnight\r\n");
}

TEST_F(Log, TheFirstWriteOfADaySweepsFilesOlderThanTheDaysKept) {
    const fs::path log = dir_ / "app" / "log";
    auto aged = [&](const std::string& name, int days) {
        std::ofstream(log / name) << "x";
        const std::time_t t = g_now / 1000 - days * 86400 - 60;
        utimbuf times{t, t};
        utime((log / name).c_str(), &times);
    };
    aged("Gorget261201-0900.log", 7);
    aged("Gorget261205-0900.log", 3);
    aged("Gorget261207-0900.log", 1);
    aged("Other261201-0900.log", 7);
    aged("Gorget261201-0900.txt", 7);
    start();
    LogMessage("sweep");
    EXPECT_FALSE(fs::exists(log / "Gorget261201-0900.log"));
    EXPECT_FALSE(fs::exists(log / "Gorget261205-0900.log"));
    EXPECT_TRUE(fs::exists(log / "Gorget261207-0900.log"));
    EXPECT_TRUE(fs::exists(log / "Other261201-0900.log"));
    EXPECT_TRUE(fs::exists(log / "Gorget261201-0900.txt"));
}

TEST_F(Log, WithoutALogFolderBesideTheHostTheStateFolderServes) {
    fs::create_directories(dir_ / "bare");
    ASSERT_NE(LogInit(nullptr, (dir_ / "bare" / "host.exe").c_str(), "\\Gorget", 0), 0);
    LogConfigure(11, "Gorget");
    LogMessage("elsewhere");
    const fs::path file = dir_ / "state" / "cadb" / "log" / "Gorget261208-0652.log";
    EXPECT_EQ(slurp(file), "Dec 08 06:52:11.123 - elsewhere\r\n");
    struct stat st {};
    ASSERT_EQ(stat((dir_ / "state" / "cadb" / "log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(Log, ANameWithoutADotTakesTheFallbackName) {
    ASSERT_NE(LogInit(nullptr, (dir_ / "app" / "host").c_str(), nullptr, 0), 0);
    EXPECT_EQ(LogCurrentFile(), (dir_ / "app" / "log" / "qq.log").string());
    LogWriteText("plain");
    EXPECT_EQ(slurp(dir_ / "app" / "log" / "qq.log"), "plain\r\n");
}

TEST_F(Log, RawWritesLeaveTheLineOpenUntilTheNextLine) {
    start(LOG_DATE_NAMES);
    LogWriteRaw("a");
    LogWriteRaw("b");
    LogMessage("c");
    LogMessageNoCRLF("d");
    LogMessage("e");
    EXPECT_EQ(slurp(LogCurrentFile()), "ab\r\nc\r\nde\r\n");
}

TEST_F(Log, ALongLineIsCutLeavingRoomForItsLineEnd) {
    start();
    const std::string big(3 * LOG_LINE_MAX, 'z');
    LogMessage("%s", big.c_str());
    const std::string text = slurp(LogCurrentFile());
    const std::string stamp = "Dec 08 06:52:11.123 - ";
    ASSERT_EQ(text.size(), stamp.size() + LOG_LINE_MAX - 1);
    EXPECT_EQ(text.substr(text.size() - 3), "z\r\n");
}

TEST_F(Log, AtTheLimitTheOldestThirdIsCutAtALineBoundary) {
    start(LOG_DATE_NAMES | LOG_STAMP | LOG_CUT_HEAD);
    LogSetSizeLimit(3000);
    for (int i = 0; i < 400; ++i) LogMessage("line %04d of the size test", i);
    const std::string text = slurp(LogCurrentFile());
    EXPECT_LT(text.size(), 3000u);
    EXPECT_GT(text.size(), 1000u);
    const auto lines = lines_of(text);
    ASSERT_FALSE(lines.empty());
    for (const std::string& l : lines) EXPECT_TRUE(std::regex_match(l, kStamped)) << l;
    EXPECT_NE(lines.back().find("line 0399"), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(Log, AtTheLimitANewFileCanStartInstead) {
    start(LOG_DATE_NAMES | LOG_STAMP | LOG_NEW_FILE_AT_LIMIT);
    LogSetSizeLimit(500);
    std::set<std::string> files;
    for (int i = 0; i < 60; ++i) {
        LogMessage("line %02d", i);
        files.insert(LogCurrentFile());
        g_now += 60 * 1000;
    }
    EXPECT_GT(files.size(), 2u);
    for (const auto& f : files) EXPECT_LT(fs::file_size(f), 500u + 40u) << f;
}

TEST_F(Log, ConcurrentWritersProduceWholeLines) {
    start();
    constexpr int kThreads = 8, kLines = 200;
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) LogMessage("writer %d line %d %s", t, i, "payload");
        });
    for (auto& w : writers) w.join();
    const auto lines = lines_of(slurp(LogCurrentFile()));
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kLines));
    const std::regex whole(R"(^Dec 08 06:52:11\.123 - writer \d line \d+ payload$)");
    for (const std::string& l : lines) ASSERT_TRUE(std::regex_match(l, whole)) << l;
}

TEST_F(Log, NothingIsWrittenAfterTheEndOrWhenSilenced) {
    start();
    LogMessage("before");
    const std::string file = LogCurrentFile();
    FreeIniLogPathes();
    const std::string ended = slurp(file);
    EXPECT_NE(ended.find("FreeIniLogPathes() - deleting buffers..."), std::string::npos);
    EXPECT_EQ(LogIsStarted(), 0);
    EXPECT_EQ(LogMessage("after"), 0);
    LogWriteRaw("raw");
    LogWriteText("text");
    EXPECT_EQ(LogCurrentFile(), "");
    EXPECT_EQ(slurp(file), ended);

    start();
    LogSetLevel(LOG_LEVEL_OFF);
    LogMessage("silenced");
    LogSetLevel(0);
    EXPECT_EQ(slurp(file), ended);
}

TEST_F(Log, AnUnwritableFolderFailsNothing) {
    setenv("XDG_STATE_HOME", "/proc/no-such-state", 1);
    fs::create_directories(dir_ / "bare");
    LogInit(nullptr, (dir_ / "bare" / "host.exe").c_str(), "\\Gorget", 0);
    LogConfigure(11, "Gorget");
    EXPECT_EQ(LogMessage("nowhere"), 0);
    EXPECT_EQ(LogCurrentFile(), "");
}

}  // namespace
}  // namespace cadb
