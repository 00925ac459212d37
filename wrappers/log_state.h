// The log's process-wide state, shared by its writers and its file policies.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "wrappers/log.h"

namespace cadb::log_detail {

struct LogState {
    bool started = false;
    std::string directory;     // ends in '/'
    std::string current_file;  // directory + file name
    std::string stem;          // executable name up to and including its last '.'
    std::string base;          // base of date-named files
    std::string date_part;     // YYMMDD of the current date-named file
    unsigned flags = 0;
    std::int64_t size_limit = LOG_DEFAULT_SIZE_LIMIT;
    int days_kept = LOG_DEFAULT_DAYS_KEPT;
    int level = 0;
    bool line_open = false;
    LogClock clock = nullptr;
};

// The state and the one lock every writer holds.
LogState& state();
std::recursive_mutex& lock();

std::chrono::system_clock::time_point now(const LogState& s);

// Renames the current file for the date of now when it changed (or always,
// when forced), sweeping old files when the flags ask. Lock held.
void refresh_date_name(LogState& s, bool force);
// Deletes date-named files untouched for more than the days kept. Lock held.
void sweep_old_files(LogState& s);
// Applies the size policy to an open file descriptor. Lock held.
void apply_size_policy(LogState& s, int fd);

}  // namespace cadb::log_detail
