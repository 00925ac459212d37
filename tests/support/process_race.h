// Child processes let go at one moment, each telling the parent fixed-size
// records through a pipe: the harness of the tests that race processes on
// one file name, one store or one token.
#pragma once

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

namespace cadb::testing {

// Sends one record to the parent.
inline bool tell(int fd, const void* data, std::size_t size) {
    return ::write(fd, data, size) == static_cast<ssize_t>(size);
}

struct Race {
    std::vector<std::string> records;  // as they arrived
    bool all_exited_zero = true;
};

// Forks count children that all wait until every one of them exists, then
// run work(index, fd) and exit with its result; what they tell(fd, ...) the
// parent collects in records of record_size bytes.
template <class Work>
Race race_processes(int count, std::size_t record_size, Work work) {
    Race race;
    int go[2];
    int told[2];
    if (::pipe(go) != 0) return {{}, false};
    if (::pipe(told) != 0) {
        ::close(go[0]);
        ::close(go[1]);
        return {{}, false};
    }
    std::vector<pid_t> children;
    for (int i = 0; i < count; ++i) {
        const pid_t child = ::fork();
        if (child < 0) {
            race.all_exited_zero = false;
            break;
        }
        if (child == 0) {
            ::close(go[1]);
            ::close(told[0]);
            char c;
            while (::read(go[0], &c, 1) > 0) {
            }
            ::_exit(work(i, told[1]));
        }
        children.push_back(child);
    }
    ::close(go[0]);
    ::close(go[1]);
    ::close(told[1]);
    std::string record(record_size, '\0');
    while (::read(told[0], record.data(), record_size) == static_cast<ssize_t>(record_size))
        race.records.push_back(record);
    ::close(told[0]);
    for (const pid_t child : children) {
        int status = 0;
        if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            race.all_exited_zero = false;
    }
    return race;
}

}  // namespace cadb::testing
