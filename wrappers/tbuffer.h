// An owned handle on a library byte buffer, and the reading of whole streams
// into one.
#pragma once

#include <istream>

#include "crypto/cadb/buffer.h"

namespace cadb {

class TBuffer {
  public:
    TBuffer();  // a new empty buffer
    TBuffer(const TBuffer& other);
    // A copy of a data/length record; from null, no buffer.
    explicit TBuffer(const BUFFER* source);
    TBuffer& operator=(const TBuffer& other);
    virtual ~TBuffer();

    bool isEmpty() const;
    int getLength() const;
    const unsigned char* getData() const;
    BUFFER* get() const { return buffer_.get(); }

    // Each frees the held buffer first (its bytes wiped).
    bool assign(const void* data, int length);
    bool allocate(int length);         // length zero bytes
    bool setRandom(int length);        // from the library's generator; true when all came
    bool toBase64();                   // in place
    int loadFile(const char* source);  // any medium path; the new length, 0 when none read
    // Takes ownership of a library buffer, freeing what was held.
    void attach(BUFFER* buffer);

  private:
    BufferPtr buffer_;
};

// Reads a whole stream into target, from streams that seek and from those
// that do not (pipes); an empty or failing stream, or one longer than
// kMaxStreamBytes, leaves target untouched.
inline constexpr std::streamoff kMaxStreamBytes = 16 << 20;
void ReadStreamToBuffer(std::istream& stream, TBuffer& target);

}  // namespace cadb
