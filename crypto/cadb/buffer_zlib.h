// zlib compression of byte strings, for the compressed-data content type and
// the password-encrypted buffer format.
#pragma once

#include "crypto/cadb/buffer.h"

namespace cadb {

// zlib stream of len bytes at the given level (outside 0..9: zlib's
// default).
BUFFER* BUFFER_compress(const void* bytes, int len, int level);

// Inflates a zlib stream of len bytes. The output room starts at hint x len
// (hint <= 0: 4 x len) and doubles as needed; a stream that ends early or
// whose output would pass max_len bytes (<= 0: no limit below 2 GiB) fails,
// and so does one whose room cannot be had (reason 33).
BUFFER* BUFFER_uncompress(const void* bytes, int len, int hint, int max_len = 0);

}  // namespace cadb
