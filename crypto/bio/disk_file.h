// The disk file stream: the stream the factory opens disk paths with. It
// takes the system's path form (drive letters, '\') and keeps a failure
// from ever leaving half a file:
// - read (mode flags 3): the file as it is; what is not a regular file
//   (a named pipe, a device, a folder) is refused without blocking;
// - write (5): a new file is written beside the target under a temporary
//   name with mode 0600 and only replaces the target, by rename after
//   fsync, on flush or when the stream is freed; a failed write, or a
//   failed flush, leaves the old file untouched. A target without write
//   permission is not replaced (as a read-only file on the system's media);
// - read and write (7): the existing file updated in place, never through
//   a symbolic link; flush syncs it to the disk.
#pragma once

#include <openssl/bio.h>

namespace cadb {

const BIO_METHOD* BIO_s_disk_file();

}  // namespace cadb
