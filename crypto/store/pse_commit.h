// How a key store on a disk changes from one whole state to the next.
//
// A store is several files that only make sense together: a master key
// beside the masks and key-encryption key of another one opens nothing. So a
// write never replaces the files one by one in place:
// 1. each new file is written beside its target under a temporary name
//    (".<name>.XXXXXX", mode 0600) and synced; the folders are synced;
// 2. a commit record naming every temporary file and the file it replaces
//    is written the same way and renamed to "pse.commit" in the store's
//    folder, then the folder is synced: this rename is the commit;
// 3. each temporary file is renamed onto its target, the folders are
//    synced, and the record is removed.
// A process that dies before step 2 leaves the old store and temporary
// files, which the next write, read or erase wipes and removes. One that
// dies after it leaves a record, and the next writer, reader or eraser of
// the store finishes the renames the record names (a temporary file that
// is gone has already been renamed), so the store is the new one.
//
// Writers of one store exclude each other, across processes too, by an
// advisory lock on the store's folder, held while the store is read,
// written or erased; a second writer waits a bounded time, then fails.
//
// Every path here is a Linux path (the file layer converts the system's).
#pragma once

#include <span>
#include <string>
#include <vector>

namespace cadb {

inline constexpr const char* kPseCommitRecord = "pse.commit";

// The store's folder held for one user; released with the object.
class PseFolderLock {
  public:
    PseFolderLock() = default;
    PseFolderLock(PseFolderLock&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    PseFolderLock& operator=(PseFolderLock&& o) noexcept;
    PseFolderLock(const PseFolderLock&) = delete;
    PseFolderLock& operator=(const PseFolderLock&) = delete;
    ~PseFolderLock() { release(); }

    // Takes the lock of folder, waiting at most wait_ms for another holder;
    // false when the folder cannot be opened or stays held.
    bool acquire(const std::string& folder, int wait_ms);
    bool held() const { return fd_ >= 0; }
    void release();

  private:
    bool hold(int fd, int wait_ms);
    int fd_ = -1;
};

// How long a second user of a store waits for the first: 20 seconds
// unless set otherwise for the process (tests shorten it).
inline constexpr int kPseLockWaitMs = 20000;
void pse_set_lock_wait(int ms);
int pse_lock_wait();

// One file of a commit: its target and its new contents.
struct PseCommitFile {
    std::string target;
    std::span<const unsigned char> data;
};

// Finishes a commit interrupted in folder (nothing to do: true); false when
// the record cannot be read or a rename fails.
bool pse_commit_recover(const std::string& folder);

// Wipes and removes the temporary files left beside each target, and a
// stale commit record's own temporary file in folder. Call with the folder
// locked and after pse_commit_recover.
void pse_commit_remove_stale(const std::string& folder, const std::vector<std::string>& targets);

// Replaces the targets by the new contents as one change (see above), with
// the folder locked and recovered. A target that exists but is not a
// writable regular file is not replaced, and nothing is. False on failure:
// before the commit the old files stay and no temporary file is left; after
// it (a failed rename) the next user of the store finishes the change.
bool pse_commit_write(const std::string& folder, std::span<const PseCommitFile> files);

// Erase: wipes and removes the commit record (so no half-done commit is
// finished afterwards) and the temporary files beside each target.
void pse_commit_erase(const std::string& folder, const std::vector<std::string>& targets);

// Overwrites a regular file with zeros, syncs it and removes it; anything
// else at path is only removed. False when something stays.
bool pse_wipe_file(const std::string& path);

}  // namespace cadb
