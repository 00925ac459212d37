// Names of key files by medium: each medium numbers its key files in its own
// form (a disk folder "00000001.key", a touch-memory button "key .001", a
// USB token "0001", a PKCS#11 token "00000001.key" in decimal), a key file's
// name is read back into its number, and a new key takes the folder's next
// free number.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cadb::enrol {

// The name of key file number n on a medium of type mediaType (0 file
// system, 1 iButton, 2 eToken, 3 ruToken, 4 PKCS#11); empty for another type
// or a number the medium's form cannot hold.
std::string KeyFileName(std::int32_t mediaType, std::uint32_t n);

// The default key-file name of a media type (the name of number 1); a type
// outside the table gets the file system's.
std::string DefaultKeyFileName(std::int32_t mediaType);

// The number of a key file name (the last component of a path is taken), or
// -1 when it is not a key file name of that medium.
long KeyFileNumber(std::int32_t mediaType, std::string_view name);

// The next free number in the folder: one more than the largest key-file
// number found by walking it with walkFlags; 1 when there is none. nullopt
// when the largest number already fills the medium's form (the next name
// could not be written) or the walk failed.
std::optional<std::uint32_t> NextKeyFileNumber(const std::string& folder, std::int32_t mediaType,
                                               int walkFlags);

// The folder's path for a key file: path with a trailing backslash, added
// when it ends in neither "\" nor "/".
std::string WithTrailingSeparator(std::string path);

// True for a path that names no folder of its own (empty, blanks, or only
// separators): files "in" it would go to whatever directory the empty path
// or the root resolves to, so no store or key is written, read or erased
// there.
bool NamesNoFolder(std::string_view path);

}  // namespace cadb::enrol
