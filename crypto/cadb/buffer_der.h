// A small DER writer and reader for the password-encrypted buffer format.
// Both work on the caller's bytes without copies into libcrypto's records,
// so every byte of plain content stays in memory that is wiped on release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace cadb {

// Bytes that may hold plain content: wiped when released or reassigned.
class SecureBytes {
  public:
    SecureBytes() = default;
    explicit SecureBytes(std::span<const unsigned char> b) : v_(b.begin(), b.end()) {}
    ~SecureBytes() { wipe(); }
    SecureBytes(SecureBytes&& o) noexcept : v_(std::move(o.v_)) {}
    SecureBytes& operator=(SecureBytes&& o) noexcept;
    SecureBytes(const SecureBytes&) = delete;
    SecureBytes& operator=(const SecureBytes&) = delete;

    void append(std::span<const unsigned char> b);
    void append_byte(unsigned char c) { append({&c, 1}); }
    // Room for n more bytes; the new bytes are zero and returned.
    std::span<unsigned char> extend(std::size_t n);
    void resize_down(std::size_t n);

    unsigned char* data() { return v_.data(); }
    const unsigned char* data() const { return v_.data(); }
    std::size_t size() const { return v_.size(); }
    std::span<const unsigned char> view() const { return {v_.data(), v_.size()}; }

  private:
    void wipe();
    // Growth goes through fresh blocks that the old one is wiped out of.
    void reserve_for(std::size_t n);
    std::vector<unsigned char> v_;
};

// Tags used by the format.
enum DerTag : unsigned char {
    DER_INTEGER = 0x02,
    DER_OCTET_STRING = 0x04,
    DER_NULL = 0x05,
    DER_OID = 0x06,
    DER_SEQUENCE = 0x30,
    DER_CONTEXT_0 = 0x80,       // [0] IMPLICIT, primitive
    DER_CONTEXT_0_CONS = 0xA0,  // [0] EXPLICIT or constructed
};

// Appends tag, length and content. False when the content is too long.
bool der_put(SecureBytes& out, unsigned char tag, std::span<const unsigned char> content);
// Content bytes of the library object's OID, or empty for an unknown number.
std::span<const unsigned char> der_oid(int nid);

// One element read from the front of a byte range.
struct DerItem {
    unsigned char tag;
    std::span<const unsigned char> content;
};

// Reads one definite-length element with a single-byte tag off the front of
// in, advancing it. Nothing when the bytes do not hold one.
std::optional<DerItem> der_get(std::span<const unsigned char>& in);
// der_get that also requires the tag.
std::optional<std::span<const unsigned char>> der_get(std::span<const unsigned char>& in,
                                                      unsigned char tag);

}  // namespace cadb
