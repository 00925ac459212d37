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
// The total length of a string element's octets, primitive or
// constructed; false when a piece is malformed or not an OCTET STRING.
bool ber_octets_size(const BerElem& e, std::size_t& size);
// Writes the octets of an element ber_octets_size accepted to out, which
// has room for all of them: a content is read once, into its final place.
void ber_octets_copy(const BerElem& e, unsigned char* out);

// Definite-length element.
void der_write(ByteVec& out, unsigned char tag, ByteSpan content);
void der_write_header(ByteVec& out, unsigned char tag, std::size_t len);

}  // namespace cadb
