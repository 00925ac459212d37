// The bytes a message was read from, kept to be written back unchanged.
// A message and the ContentInfo nested in it hold ranges of one buffer, so
// a nested content is not kept a second time. The buffer is wiped when the
// last range of it is let go: a message read from decrypted content holds
// that content.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace cadb {

struct P7KeptBuffer {
    std::vector<unsigned char> bytes;
    ~P7KeptBuffer();
};

class P7KeptBytes {
  public:
    // Holds range, which lies inside buffer's bytes.
    void keep(std::shared_ptr<const P7KeptBuffer> buffer, std::span<const unsigned char> range) {
        buffer_ = std::move(buffer);
        range_ = range;
    }
    void clear() {
        buffer_.reset();
        range_ = {};
    }
    bool empty() const { return range_.empty(); }
    std::size_t size() const { return range_.size(); }
    const unsigned char* data() const { return range_.data(); }
    auto begin() const { return range_.begin(); }
    auto end() const { return range_.end(); }

  private:
    std::shared_ptr<const P7KeptBuffer> buffer_;
    std::span<const unsigned char> range_;
};

}  // namespace cadb
