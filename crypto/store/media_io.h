// File input and output over every key medium: disk paths (drive letters as
// "a:\keys\00000001.key", or file-system paths), touch-memory buttons, USB
// tokens and PKCS#11 tokens. Each operation decides the medium from the
// path's prefix (crypto/bio/media_prefix.h) and opens files through the
// stream factory (crypto/bio/media_file.h). Whole files are written and read
// at once. Paths are narrow text shorter than 260 characters; a longer one
// fails before any medium is touched. A failure pushes (66, function code,
// 12 "internal error") and sets the thread's error class: 23 for a failed
// read, 24 for a failed write, 2 for the other operations.
#pragma once

#include <openssl/pem.h>

#include <cstdint>

namespace cadb {

enum CadbIoFunc : int {
    CADB_F_CADB_READ_FILE = 319,
    CADB_F_CADB_WRITE_FILE = 320,
    CADB_F_CADB_ERASE_FILE = 321,
    CADB_F_CADB_MKDIR = 376,
};

// CADB_walk_dir flags.
inline constexpr int CADB_WALK_RECURSE = 1;
inline constexpr int CADB_WALK_DIRECTORIES = 2;

// SetMediaFileWritable mode: writable; without it the file becomes read-only.
inline constexpr int CADB_FILE_WRITABLE = 0x80;

// Asks the user to insert the medium of path; 0 gives up.
using CADB_INSERT_MEDIA_CB = int (*)(const char* path, void* arg);
// Called with each full name; 0 stops the walk.
using CADB_WALK_CB = int (*)(const char* name, void* user);

// Writes len bytes as the whole file, creating the directories of the path
// (mode 0700) first. A disk file is replaced atomically with mode 0600: a
// failure leaves the old file as it was. flags and credential are the media
// words (crypto/bio/media_driver.h). Returns len, or 0 on failure.
int CADB_write_file(const char* path, const void* data, int len, std::uint32_t flags,
                    const void* credential);
int CADB_write_file_plain(const char* path, const void* data, int len);
// As CADB_write_file_plain into a folder that is there: no directory of the
// path is made, so one whose folder is missing fails (0) and leaves no
// folder behind. A default drive folder is the medium, not a folder of the
// path, and is made as for any write.
int CADB_write_file_in_dir(const char* path, const void* data, int len);
// As CADB_write_file; a token asks for its PIN through cb with arg.
int CADB_write_file_cb(const char* path, const void* data, int len, std::uint32_t flags,
                       const void* credential, pem_password_cb* cb, void* arg);

// Writes len bytes as a file of a name no one holds yet, creating the
// directories first: for writers that choose the next free name of a folder.
// On a disk the whole file appears under its name only where no file of that
// name is, decided in one step for every process, so two writers never share
// a name and neither replaces the other; on a token medium the name is tested
// and written under the device's lock (media_lock.h), to the same end.
// Returns len; -1 when the name is
// taken (nothing written, nothing pushed on the error queue); 0 on another
// failure.
int CADB_write_new_file(const char* path, const void* data, int len);

// Reads the whole file into buf. Returns the count read, or -1; a file
// longer than max_len is refused (-1, buf wiped), not cut. What is not a
// regular file on disk (a named pipe, a device) is refused without blocking.
// A token medium's file is read under the device's lock (media_lock.h), so
// a read sees a file another process replaces whole, old or new.
int CADB_read_file(const char* path, void* buf, int max_len, std::uint32_t flags,
                   const void* credential);
int CADB_read_file_plain(const char* path, void* buf, int max_len);

// Overwrites the file with zeros of its own length, then deletes it. A path
// that does not exist counts as erased. 1/0.
int CADB_erase_file(const char* path, std::uint32_t flags, const void* credential);
int CADB_erase_file_plain(const char* path);

// Creates every directory of the path's directory part (the part before its
// last '\'). Media with no directories of their own succeed at once. 1/0.
int CADB_mkdir(const char* path);

// The size of the file in bytes, or -1.
long CADB_file_size_ex(const char* path, std::uint32_t flags, const void* credential);
long CADB_file_size(const char* path);

// Calls cb(full name, user) for each entry of a directory. A path that
// exists is the directory (pattern "*"); otherwise its last component is a
// pattern ('*' and '?', letters matched without case) in the directory
// before it; a path naming a file reports itself. CADB_WALK_RECURSE walks
// each subdirectory first, CADB_WALK_DIRECTORIES reports directories too.
// On PKCS#11 paths flags naming a kind of object are the token's own
// (crypto/pkcs11/pkcs11_files.h); without one, the token's keys are listed
// (every object with CADB_WALK_RECURSE, else the path's direct children). Entries come sorted by
// name; symbolic links to directories are not followed. 1, or 0 when the walk failed or cb stopped
// it.
int CADB_walk_dir(const char* path, int flags, CADB_WALK_CB cb, void* user);

// Normalises path in place ('/' to '\') and splits it at its last '\' into
// dir and name (each 260 bytes); without a '\', dir is the current directory
// and name the path. 1/0.
int CADB_split_path(char* path, char* dir, char* name);

// 1 for touch-memory, eToken R2, eToken, ruToken and PKCS#11 paths.
int CADB_is_media_path(const char* path);
// 1 when the path's medium is present (disk and touch-memory paths always).
int CADB_token_inserted(const char* path);
// 1 when the driver of the path's medium can serve it (disk and
// touch-memory paths always).
int CADB_media_driver_ready(const char* path);

// Sets the process-wide insert-medium callback; returns cb.
CADB_INSERT_MEDIA_CB CADB_set_insert_media_cb(CADB_INSERT_MEDIA_CB cb);
// Waits until the medium of path is there, calling cb (or the process-wide
// callback when cb is null) between tries. A drive is there when the folder
// it maps to exists. 1 when the medium is there or there is no callback at
// all, 0 when the callback gave up or a token's driver is not ready.
int CADB_wait_media(const char* path, CADB_INSERT_MEDIA_CB cb, void* arg);

// 1 when one path lies inside the other (or they are the same), compared on
// whole components without regard to case after each is made full.
int CADB_paths_overlap(const char* a, const char* b);

// out (260 bytes) := dir, a separator, name, "." and ext (each part
// optional), '/' turned into '\' and one trailing '\' dropped; with all three
// null, out is only normalised. Returns out, or null (out emptied) when the
// result would not fit: a cut path would name another file.
char* BuildFilePath(char* out, const char* dir, const char* name, const char* ext);

// 1 when the file or directory exists on its medium.
int IsMediaPathPresent(const char* path);
// As IsMediaPathPresent, with -1 where the medium cannot tell (no driver,
// a driver that cannot answer for the path, a PKCS#11 token that cannot be
// asked), which is no "not there".
int media_path_state(const char* path);
// 1 when the path is a directory on its medium.
int IsMediaDirectory(const char* path);
// Media paths: 1. Disk paths: 1 when the file's permission could be set to
// writable (mode CADB_FILE_WRITABLE) or read-only.
int SetMediaFileWritable(const char* path, int mode);

}  // namespace cadb
