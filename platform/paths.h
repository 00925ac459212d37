// Paths. The library's paths keep the system's own form at every interface: a
// drive ("a:\keys\00000001.key") or medium prefix, '\' separators ('/' is
// accepted and turned into '\'). Only at the file-system boundary does a path
// become a Linux path:
// - a drive "x:" maps to the directory named by CADB_DRIVE_X (the letter in
//   upper case), or by default to <data dir>/cadb/drives/x, where the data
//   dir is $XDG_DATA_HOME or ~/.local/share; default drive folders are made
//   (0700) on first write, a directory named by the variable is used as it
//   stands and is absent like an empty drive when it does not exist;
// - a path beginning with '\' is an absolute file-system path;
// - any other path is relative to the current directory.
// Paths of kMaxPath characters or more, control characters, ':' anywhere but
// after a drive letter, and ".." above a drive's root are refused, so a path
// can never climb out of the folder its drive maps to.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cadb {

// The system's path buffers hold 260 bytes: a path must be shorter.
inline constexpr std::size_t kMaxPath = 260;
inline constexpr const char* kDriveEnvPrefix = "CADB_DRIVE_";

// '/' turned into '\'.
std::string path_normalise(std::string_view path);

// The lower-case drive letter of a drive path ("a:", "A:\x"), else 0.
char path_drive(std::string_view path);

// The directory a drive letter maps to; empty when no home directory is known.
std::string drive_directory(char letter);

// Whether a drive's medium is in: a default drive folder always is (it is
// made on first write), a folder named by the variable when it exists.
bool drive_present(char letter);

// The drives of the machine, in letter order: every letter whose variable
// names a folder that exists, every other letter whose default folder
// exists, and "a:", the system's default key drive, unless its variable
// names a folder that is not there (its default folder is made on first
// write).
std::vector<char> drive_letters();

enum class PathIntent {
    look,    // nothing is created
    create,  // a default drive folder is created when missing
};

struct OsPath {
    std::string path;      // the Linux path
    std::size_t root_len;  // leading part no directory walk creates: the
                           // drive folder, "/", or nothing for a relative path
};

// The Linux path of a system path, its "." and ".." resolved; nullopt when
// the path is refused (see above) or its drive cannot be mapped.
std::optional<OsPath> path_to_os(std::string_view system_path,
                                 PathIntent intent = PathIntent::look);

// A folder of this user's alone for the lock files of devices, the same for
// every process of the user whatever its environment or session:
// <home>/.local/state/cadb-locks, the home taken from the password database,
// else, for a user it gives no home, /run/user/<uid>/cadb. Made with mode
// 0700 when missing; a folder that is not a directory the user owns with no
// access for others is refused. Empty when there is none.
std::string lock_directory();

// A Linux path in the system's form: '/' becomes '\'.
std::string path_from_os(std::string_view os_path);

// The full system path, as GetFullPathName gives it: a relative path is put
// under the current directory, "." and ".." are resolved, drive letters
// keep their case. nullopt when the path is refused.
std::optional<std::string> path_full(std::string_view system_path);

}  // namespace cadb
