// The trace log of the object layer and the enrolment control: one process-
// wide text log of date-named files, each line stamped "Dec 08 06:52:11.123 - ",
// that sweeps its own old files and keeps itself under a size limit. The log
// is never read by the system; a log that cannot be written is silently
// skipped, so tracing never makes an operation fail.
//
// The log directory is "log" beside the host executable when that directory
// exists and is writable, else $XDG_STATE_HOME/cadb/log (by default under
// ~/.local/state), made with mode 0700; files are made with mode 0600.
//
// All writers of all threads serialise on one lock; every write opens,
// appends and closes the file, so other processes may read it between writes.
#pragma once

#include <chrono>
#include <cstdint>
#include <ctime>
#include <string>

namespace cadb {

// Flags of LogConfigure.
inline constexpr unsigned LOG_DATE_NAMES = 0x01;      // base + YYMMDD-HHMM + ".log"
inline constexpr unsigned LOG_STAMP = 0x02;           // time stamp before each write
inline constexpr unsigned LOG_DELETE_CURRENT = 0x04;  // delete the current file at start
inline constexpr unsigned LOG_SWEEP_OLD = 0x08;       // delete files older than the days kept
inline constexpr unsigned LOG_CUT_HEAD = 0x10;        // at the size limit drop the oldest third
inline constexpr unsigned LOG_NEW_FILE_AT_LIMIT = 0x20;  // at the size limit start a new file

// Flag of LogFPEx: stamp this write.
inline constexpr int LOG_FP_STAMP = 0x02;

// A formatted line, its "\r\n" included, never exceeds this many bytes.
inline constexpr int LOG_LINE_MAX = 8192;
inline constexpr std::int64_t LOG_DEFAULT_SIZE_LIMIT = 104857600;
inline constexpr int LOG_DEFAULT_DAYS_KEPT = 7;
// The level that turns every write into a no-op.
inline constexpr int LOG_LEVEL_OFF = -2;

// Builds the paths from the executable (module null: the host process's; else
// an address inside the module) or from modulePath when given. sectionName and
// value are recorded for compatibility and not used. Nonzero on success.
int LogInit(const void* module, const char* modulePath, const char* sectionName, int value);
// Sets the flags and the base name of date-named files.
void LogConfigure(unsigned flags, const char* baseName);
void LogSetDaysToKeep(int days);
void LogSetSizeLimit(std::int64_t bytes);
void LogSetLevel(int level);
// Nonzero between LogInit and FreeIniLogPathes.
int LogIsStarted();

// Formats (printf rules) and writes one line ending in "\r\n"; a line longer
// than LOG_LINE_MAX is cut so that its "\r\n" still fits. 0 at level off.
int LogMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The same without the "\r\n".
int LogMessageNoCRLF(const char* format, ...) __attribute__((format(printf, 1, 2)));
// text + "\r\n" as one line.
int LogWriteText(const char* text);
// Ends an open raw line first, then writes text to the current file.
int LogWriteLine(const char* text);
// Writes text without a stamp and leaves the line open.
int LogWriteRaw(const char* text);
// Appends text to a file: LogFP stamps when the flags say so, LogFPEx when
// its own flags carry LOG_FP_STAMP. Return 0.
int LogFP(const char* text, const char* fileName);
int LogFPEx(const char* text, int flags, const char* fileName);
// Ends the log: later writes do nothing.
void FreeIniLogPathes();

// The file the next line goes to, and the log directory (ending in '/');
// empty when the log is not started.
std::string LogCurrentFile();
std::string LogDirectory();

// "Dec 08 06:52:11.123 - ": month abbreviation, zero-padded day, time and
// milliseconds of a local time.
std::string LogFormatStamp(const std::tm& local, unsigned milliseconds);

// Where the log reads the time (null: the system clock); for tests.
using LogClock = std::chrono::system_clock::time_point (*)();
void LogSetClock(LogClock clock);

}  // namespace cadb
