// Whose a key pair generated on a token and not yet named is. Between its
// generation and its naming an enrolment's pair bears only the generation
// labels, and a process that ends in between leaves it behind; the labels
// therefore carry an owner mark, so that a generation removes only the pairs
// no running enrolment holds. The mark names one process for good, whatever
// reboots and process ids used again: the boot, the process id and the
// process's start time; a number of the process's own tells its pairs
// apart.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cadb {

// A mark for a pair this process is about to generate, one no other pair
// bears: "<boot id> <process id> <start time> <number>". Nothing when the
// system does not tell who this process is.
std::optional<std::string> pair_mark_new();

// A key of this process holds the pair with this mark from now on (false
// when that cannot be kept), or no longer (the key is gone).
bool pair_mark_hold(const std::string& mark);
void pair_mark_release(const std::string& mark);

// Whether the pair with this mark is left over: its process has ended (on
// this boot its id is gone, belongs to a process started at another time or
// to one that has died, or the mark is of another boot), or it is this
// process's and no key holds it. A mark that cannot be read, or a process
// that cannot be looked at, leaves the pair alone.
bool pair_mark_left_over(std::string_view mark);

}  // namespace cadb
