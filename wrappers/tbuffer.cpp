#include "wrappers/tbuffer.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <vector>

namespace cadb {

TBuffer::TBuffer() : buffer_(BUFFER_new()) {}

TBuffer::TBuffer(const TBuffer& other) : TBuffer(other.buffer_.get()) {}

TBuffer::TBuffer(const BUFFER* source) {
    if (source != nullptr)
        buffer_.reset(BUFFER_fill(source->data, source->data ? source->length : 0));
}

TBuffer& TBuffer::operator=(const TBuffer& other) {
    if (this != &other) {
        const BUFFER* src = other.buffer_.get();
        buffer_.reset(src != nullptr ? BUFFER_fill(src->data, src->data ? src->length : 0)
                                     : nullptr);
    }
    return *this;
}

TBuffer::~TBuffer() = default;

bool TBuffer::isEmpty() const { return !buffer_ || buffer_->length == 0; }
int TBuffer::getLength() const { return buffer_ ? buffer_->length : 0; }
const unsigned char* TBuffer::getData() const { return buffer_ ? buffer_->data : nullptr; }

bool TBuffer::assign(const void* data, int length) {
    buffer_.reset();
    if (data == nullptr || length < 0) return false;
    buffer_.reset(BUFFER_fill(data, length));
    return buffer_ != nullptr;
}

bool TBuffer::allocate(int length) {
    buffer_.reset();
    if (length < 0) return false;
    buffer_.reset(BUFFER_fill(nullptr, length));
    return buffer_ != nullptr;
}

bool TBuffer::setRandom(int length) {
    buffer_.reset(BUFFER_rand(length));
    return buffer_ != nullptr;
}

bool TBuffer::toBase64() { return buffer_ && BUFFER_to_base64(buffer_.get()) != nullptr; }

int TBuffer::loadFile(const char* source) {
    buffer_.reset(source != nullptr ? BUFFER_load_file(source) : nullptr);
    return getLength();
}

void TBuffer::attach(BUFFER* buffer) { buffer_.reset(buffer); }

void ReadStreamToBuffer(std::istream& stream, TBuffer& target) {
    std::vector<char> bytes;
    bool whole = true;
    try {
        stream.clear();
        if (stream.seekg(0, std::ios::end)) {
            const std::streamoff size = stream.tellg();
            if (size <= 0 || size > kMaxStreamBytes || !stream.seekg(0, std::ios::beg)) {
                whole = false;
            } else {
                bytes.resize(static_cast<std::size_t>(size));
                stream.read(bytes.data(), size);
                bytes.resize(
                    static_cast<std::size_t>(std::max<std::streamsize>(stream.gcount(), 0)));
            }
        } else {
            // A stream that cannot seek (a pipe) is read to its end, within
            // the same bound.
            stream.clear();
            char chunk[4096];
            while (whole) {
                stream.read(chunk, sizeof chunk);
                const std::streamsize got = stream.gcount();
                if (got <= 0) break;
                if (bytes.size() + static_cast<std::size_t>(got) >
                    static_cast<std::size_t>(kMaxStreamBytes)) {
                    whole = false;
                    break;
                }
                bytes.insert(bytes.end(), chunk, chunk + got);
                if (!stream) break;
            }
            OPENSSL_cleanse(chunk, sizeof chunk);
        }
    } catch (...) {
        whole = false;  // a failing stream leaves the target as it was
    }
    if (whole && !bytes.empty()) target.assign(bytes.data(), static_cast<int>(bytes.size()));
    OPENSSL_cleanse(bytes.data(), bytes.size());
}

}  // namespace cadb
