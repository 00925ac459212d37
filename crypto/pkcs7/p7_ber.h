// A small BER reader and writer for the message level: definite and
// indefinite lengths, constructed strings, single-byte tags.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace cadb {

using ByteSpan = std::span<const unsigned char>;
using ByteVec = std::vector<unsigned char>;

struct BerElem {
    unsigned char tag = 0;  // the identifier octet
    ByteSpan content;       // without an end-of-contents pair
    ByteSpan whole;         // identifier through the last octet
    bool constructed() const { return (tag & 0x20) != 0; }
};

// Reads one element off the front of in. False for anything malformed,
// nested deeper than the reader allows, or a multi-byte tag.
bool ber_read(ByteSpan& in, BerElem& out);
// ber_read that also requires the tag.
bool ber_expect(ByteSpan& in, unsigned char tag, BerElem& out);
// The octets of a string element, primitive or constructed.
bool ber_octets(const BerElem& e, ByteVec& out);

// Definite-length element.
void der_write(ByteVec& out, unsigned char tag, ByteSpan content);
void der_write_header(ByteVec& out, unsigned char tag, std::size_t len);

}  // namespace cadb
