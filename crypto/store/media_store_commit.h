// A key store's files on token media are written one by one, and nothing
// there is renamed atomically. A rewrite of a store therefore first writes
// every new file whole under a reserve name beside it, then a mark telling
// that the reserves are whole, then the store's own files, and last takes
// the mark and the reserves away. A writer killed at any instant leaves the
// old store (no whole mark: the reserves are dropped) or the new one (a
// whole mark: the reserves are copied over the store's files), and the next
// holder of the devices' lock settles which before it reads or writes the
// store. Every function here runs with the lock of the store's devices held.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "crypto/cadb/buffer.h"

namespace cadb {

struct MediaStoreFiles {
    std::vector<std::string> paths;  // by kind: master key, masks, KEK and random state
    std::uint32_t flags = 0;         // media flags of every file
    const void* credential = nullptr;
};

// The whole file, or null when it is absent, unreadable, longer than max or
// changed size while it was read.
BufferPtr media_read_whole(const char* path, std::uint32_t flags, const void* credential,
                           long max);

// Whether a file is on its medium: 1, 0 when the medium answers that it is
// not, -1 when it cannot tell.
int media_file_state(const char* path);

// Finishes the commit a killed writer left with a whole mark, or drops the
// reserves of one it left without. 1, or 0 when a reserve or the mark could
// be neither read nor taken away (the store is then not to be trusted).
int media_store_settle(const MediaStoreFiles& files);

// One file of a commit: its new contents and what it replaces (null when
// the file was not there or could not be read; was_there tells which).
struct MediaStoreWrite {
    const BUFFER* data;
    const BUFFER* previous;
    bool was_there;
};

// Writes writes[kind].data to the store's file of each kind as one step. 1;
// 0 when the new store could not be made whole, the old one then left as it
// was. Only where the medium fails both the writes and the putting back of
// what they replaced is the commit left pending, for the next holder of the
// lock to finish; the new store, whole, then reports 1 if this call manages
// to finish it itself.
int media_store_commit(const MediaStoreFiles& files, const std::vector<MediaStoreWrite>& writes);

// Takes the mark and then the reserves away, so that nothing of a commit
// is finished after the store is erased: false when the mark stays.
bool media_store_drop(const MediaStoreFiles& files);

}  // namespace cadb
