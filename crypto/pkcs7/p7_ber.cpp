#include "crypto/pkcs7/p7_ber.h"

#include <algorithm>

namespace cadb {
namespace {

constexpr int kMaxDepth = 48;

bool read_at(ByteSpan& in, BerElem& out, int depth);

bool read_length(ByteSpan& in, std::size_t& len, bool& indefinite) {
    if (in.empty()) return false;
    const unsigned char first = in[0];
    in = in.subspan(1);
    indefinite = false;
    if (first < 0x80) {
        len = first;
        return len <= in.size();
    }
    if (first == 0x80) {
        indefinite = true;
        return true;
    }
    const std::size_t n = first & 0x7F;
    if (n > sizeof(std::size_t) - 1 || in.size() < n) return false;
    len = 0;
    for (std::size_t i = 0; i < n; ++i) len = len << 8 | in[i];
    in = in.subspan(n);
    return len <= in.size();
}

bool read_at(ByteSpan& in, BerElem& out, int depth) {
    if (depth > kMaxDepth || in.size() < 2) return false;
    const ByteSpan start = in;
    const unsigned char tag = in[0];
    if ((tag & 0x1F) == 0x1F) return false;
    in = in.subspan(1);
    std::size_t len = 0;
    bool indefinite = false;
    if (!read_length(in, len, indefinite)) return false;
    if (!indefinite) {
        out.tag = tag;
        out.content = in.first(len);
        in = in.subspan(len);
        out.whole = start.first(start.size() - in.size());
        return true;
    }
    if ((tag & 0x20) == 0) return false;
    const ByteSpan body = in;
    while (true) {
        if (in.size() >= 2 && in[0] == 0 && in[1] == 0) break;
        BerElem child;
        if (!read_at(in, child, depth + 1)) return false;
    }
    out.tag = tag;
    out.content = body.first(body.size() - in.size());
    in = in.subspan(2);
    out.whole = start.first(start.size() - in.size());
    return true;
}

// Calls piece for each primitive piece of a string element, in order.
template <typename Piece>
bool pieces_at(const BerElem& e, Piece&& piece, int depth) {
    if (!e.constructed()) {
        piece(e.content);
        return true;
    }
    if (depth > kMaxDepth) return false;
    ByteSpan in = e.content;
    while (!in.empty()) {
        BerElem child;
        if (!read_at(in, child, depth + 1) || (child.tag & 0xDF) != 0x04) return false;
        if (!pieces_at(child, piece, depth + 1)) return false;
    }
    return true;
}

}  // namespace

bool ber_read(ByteSpan& in, BerElem& out) { return read_at(in, out, 0); }

bool ber_expect(ByteSpan& in, unsigned char tag, BerElem& out) {
    ByteSpan copy = in;
    if (!ber_read(copy, out) || out.tag != tag) return false;
    in = copy;
    return true;
}

bool ber_octets_size(const BerElem& e, std::size_t& size) {
    size = 0;
    return pieces_at(
        e, [&](ByteSpan p) { size += p.size(); }, 0);
}

void ber_octets_copy(const BerElem& e, unsigned char* out) {
    pieces_at(
        e,
        [&](ByteSpan p) {
            std::copy(p.begin(), p.end(), out);
            out += p.size();
        },
        0);
}

void der_write_header(ByteVec& out, unsigned char tag, std::size_t len) {
    out.push_back(tag);
    if (len < 0x80) {
        out.push_back(static_cast<unsigned char>(len));
        return;
    }
    unsigned char bytes[sizeof(std::size_t)];
    int n = 0;
    for (std::size_t v = len; v != 0; v >>= 8) bytes[n++] = static_cast<unsigned char>(v);
    out.push_back(static_cast<unsigned char>(0x80 | n));
    while (n > 0) out.push_back(bytes[--n]);
}

void der_write(ByteVec& out, unsigned char tag, ByteSpan content) {
    der_write_header(out, tag, content.size());
    out.insert(out.end(), content.begin(), content.end());
}

}  // namespace cadb
