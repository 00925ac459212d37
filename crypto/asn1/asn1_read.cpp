#include "crypto/asn1/asn1_read.h"

namespace cadb {
namespace {

// Deeper than any record the readers know; a bound on the walk's stack.
constexpr int kMaxDepth = 64;

// Walks the element at *p, at most len bytes; *p moves past it. Universal
// tag 0 is the end-of-contents mark: as an element of its own it cannot be
// written back as it came, since the writer turns any such value into the
// mark itself.
bool walk(const unsigned char** p, long len, int depth) {
    if (depth > kMaxDepth) return false;
    const unsigned char* start = *p;
    long content = 0;
    int tag = 0;
    int cls = 0;
    const int r = ASN1_get_object(p, &content, &tag, &cls, len);
    if ((r & 0x80) != 0 || (cls == V_ASN1_UNIVERSAL && tag == 0)) return false;
    if ((r & V_ASN1_CONSTRUCTED) == 0) {
        *p += content;
        return true;
    }
    if ((r & 0x01) != 0) {  // indefinite: children up to the end-of-contents mark
        for (;;) {
            const long left = len - (*p - start);
            if (left >= 2 && (*p)[0] == 0 && (*p)[1] == 0) {
                *p += 2;
                return true;
            }
            if (left <= 0 || !walk(p, left, depth + 1)) return false;
        }
    }
    const unsigned char* end = *p + content;
    while (*p < end) {
        if (!walk(p, end - *p, depth + 1)) return false;
    }
    return *p == end;
}

}  // namespace

bool asn1_without_eoc_values(const unsigned char* der, long len) {
    const unsigned char* p = der;
    return walk(&p, len, 0);
}

}  // namespace cadb
