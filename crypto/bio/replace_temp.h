// The temporary file a disk file's replacement is written to before it is
// renamed over the target: ".<name>.XXXXXX" beside it, mode 0600.
//
// A writer that is killed leaves its temporary behind, and a key file's
// temporary is a working private key. So a writer holds an exclusive lock
// (flock) on its temporary from the moment it exists under its name until
// it has been renamed; the lock goes with the process. A temporary nobody
// holds is a stopped writer's leftover, which a cleaner may wipe and
// remove: it locks it first, and checks that the name still leads to the
// file it locked.
//
// Every path here is a Linux path.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace cadb {

// Creates and locks a new temporary beside target; the open descriptor
// (read and write, close-on-exec) or -1. path receives its name. The lock
// lasts until the descriptor is closed: rename the file before closing it.
int replace_temp_create(const std::string& target, std::string& path);

// Whether a folder entry is one of the temporaries of a file named
// target_name: "." + target_name + "." + six letters or digits.
bool replace_temp_of(std::string_view entry, std::string_view target_name);

// The name of the file an entry would be the temporary of, or empty when it
// has not the form of one.
std::string_view replace_temp_target(std::string_view entry);

// How long a temporary nobody holds must have stood unchanged before a
// cleaner outside the key store's lock takes it for a leftover: writers that
// hold no lock on theirs (the key store's commit, which holds its folder's
// lock instead; programs of an older build) have written and renamed theirs
// long before.
inline constexpr std::chrono::seconds kReplaceTempUnheldAge{60};

// Wipes and removes the temporary at path when its writer is gone: a
// regular file of this user with one link that nobody holds and that has
// not changed for at least min_age. True when it was removed.
bool replace_temp_remove_stale(const std::string& path,
                               std::chrono::seconds min_age = std::chrono::seconds{0});

}  // namespace cadb
