// The memory a token-file stream holds its file in. The token drivers read
// a whole file when a stream opens it and write the memory back when the
// stream lets it go; between the two, reads, writes and lines work on these
// bytes. Every copy of the contents is wiped before its memory is released.
#pragma once

#include <openssl/bio.h>

#include <cstddef>
#include <vector>

namespace cadb {

// Wipes the bytes and releases their memory.
void held_wipe(std::vector<unsigned char>& bytes);

// Appends n bytes. Memory grows by copy, to twice what is needed (at least
// 256 bytes) but never past limit, and the old copy is wiped. The caller
// has checked that the bytes fit under limit.
void held_append(std::vector<unsigned char>& bytes, const void* data, std::size_t n,
                 std::size_t limit);

// Copies up to n bytes from pos on into out and moves pos past them; the
// number copied.
int held_read(const std::vector<unsigned char>& bytes, std::size_t& pos, char* out, int n);

// One line from pos on: up to and including its line feed, at most size - 1
// characters, then a zero. With fold_crlf a line ending in CR LF comes out
// ending in LF alone. The number of characters in out.
int held_gets(const std::vector<unsigned char>& bytes, std::size_t& pos, char* out, int size,
              bool fold_crlf);

// The handlers of a token-file stream method.
struct HeldFileHandlers {
    int (*write)(BIO*, const char*, int);
    int (*read)(BIO*, char*, int);
    int (*puts)(BIO*, const char*);
    int (*gets)(BIO*, char*, int);
    long (*ctrl)(BIO*, int, long, void*);
    int (*create)(BIO*);
    int (*destroy)(BIO*);
};

// A new stream method of the token-file type under name, or null.
BIO_METHOD* held_file_method_new(const char* name, const HeldFileHandlers& handlers);

}  // namespace cadb
