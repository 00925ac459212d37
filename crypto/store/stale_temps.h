// What killed writers leave on a disk: the temporaries a replacement is
// written to (crypto/bio/replace_temp.h). The next write into a folder
// removes those its writers no longer hold.
#pragma once

#include <string>

namespace cadb {

// Wipes and removes, in the folder of target (a Linux path), the stale
// temporaries of files of target's kind: files with target's extension, or
// of target's own name when it has none, so that a write never touches what
// other programs keep there. Stale: no writer holds it, and it has not
// changed for kReplaceTempUnheldAge. Nothing is removed while the key store's lock
// on the folder is held or a store commit there waits to be finished: the
// store's temporaries are then its own users' to finish or remove
// (crypto/store/pse_commit.h).
void remove_stale_temps_beside(const std::string& target);

}  // namespace cadb
