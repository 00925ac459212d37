#include "crypto/asn1/asn1_implicit.h"

#include <openssl/x509.h>

#include <cstring>
#include <vector>

namespace cadb {
namespace {

constexpr unsigned char kConstructed = 0x20;

// The header of one DER element: tag byte, header size and content length.
// Only single-byte tags and definite lengths of up to four bytes, which is
// all these elements ever use.
struct Header {
    unsigned char tag = 0;
    long header = 0;
    long content = 0;
};

bool read_header(const unsigned char* p, long len, Header& h) {
    if (len < 2) return false;
    h.tag = p[0];
    if ((h.tag & 0x1F) == 0x1F) return false;
    const unsigned char first = p[1];
    if (first < 0x80) {
        h.header = 2;
        h.content = first;
    } else {
        const int n = first & 0x7F;
        if (n == 0 || n > 4 || len < 2 + n) return false;
        unsigned long v = 0;
        for (int i = 0; i < n; ++i) v = (v << 8) | p[2 + i];
        if (p[2] == 0 || v < 0x80 || v > 0x7FFFFFFFUL) return false;  // DER: shortest form
        h.header = 2 + n;
        h.content = static_cast<long>(v);
    }
    return h.content <= len - h.header;
}

bool tag_matches(unsigned char byte, int tag, int aclass, bool constructed) {
    if (tag < 0 || tag > 30) return false;
    const unsigned char want = static_cast<unsigned char>((aclass & 0xC0) |
                                                          (constructed ? kConstructed : 0) | tag);
    return byte == want;
}

// The element at *in with its tag byte replaced by `universal`, decoded by
// d2i in full; null when it does not decode or leaves bytes over.
template <typename T, typename D2i, typename Free>
T* decode_as(const unsigned char* in, const Header& h, unsigned char universal, D2i d2i,
             Free free) {
    std::vector<unsigned char> copy(in, in + h.header + h.content);
    copy[0] = universal;
    const unsigned char* p = copy.data();
    T* v = d2i(nullptr, &p, static_cast<long>(copy.size()));
    if (v != nullptr && p != copy.data() + copy.size()) {
        free(v);
        return nullptr;
    }
    return v;
}

// Moves past the element. The template decoder keeps the last header it
// read in ctx and trusts it for the next element; once this element is
// consumed that header is stale and must not be used again.
void consumed(const unsigned char** in, const Header& h, ASN1_TLC* ctx) {
    *in += h.header + h.content;
    if (ctx != nullptr) ctx->valid = 0;
}

// Whether the element at in is the one the template expects: the first
// byte alone decides, so that an absent OPTIONAL element is told apart from
// a broken one.
bool first_byte_is(const unsigned char* in, long len, int tag, int aclass, bool constructed,
                   unsigned char universal, unsigned char universal2) {
    if (len < 1) return false;
    if (tag == -1) return in[0] == universal || in[0] == universal2;
    return tag_matches(in[0], tag, aclass, constructed);
}

// Writes the universal encoding enc under the tag (tag -1: as it is).
int write_tagged(std::vector<unsigned char>& enc, unsigned char** out, int tag, int aclass) {
    if (enc.empty()) return -1;
    if (tag != -1) {
        if (tag < 0 || tag > 30) return -1;
        enc[0] = static_cast<unsigned char>((aclass & 0xC0) | (enc[0] & kConstructed) | tag);
    }
    if (out != nullptr && *out != nullptr) {
        std::memcpy(*out, enc.data(), enc.size());
        *out += enc.size();
    }
    return static_cast<int>(enc.size());
}

template <typename T, typename I2d>
std::vector<unsigned char> encode(const T* v, I2d i2d) {
    std::vector<unsigned char> enc;
    const int len = i2d(v, nullptr);
    if (len <= 0) return enc;
    enc.resize(static_cast<size_t>(len));
    unsigned char* p = enc.data();
    if (i2d(v, &p) != len) enc.clear();
    return enc;
}

// --- Name ---

int name_new(ASN1_VALUE** pval, const ASN1_ITEM*) {
    *pval = reinterpret_cast<ASN1_VALUE*>(X509_NAME_new());
    return *pval != nullptr;
}

void name_free(ASN1_VALUE** pval, const ASN1_ITEM*) {
    X509_NAME_free(reinterpret_cast<X509_NAME*>(*pval));
    *pval = nullptr;
}

void any_clear(ASN1_VALUE** pval, const ASN1_ITEM*) { *pval = nullptr; }

int name_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM*, int tag,
             int aclass, char opt, ASN1_TLC* ctx) {
    constexpr unsigned char kSeq = V_ASN1_SEQUENCE | kConstructed;
    if (!first_byte_is(*in, len, tag, aclass, true, kSeq, kSeq)) return opt ? -1 : 0;
    Header h;
    if (!read_header(*in, len, h)) return 0;
    X509_NAME* name = decode_as<X509_NAME>(
        *in, h, kSeq,
        [](X509_NAME** a, const unsigned char** p, long l) { return d2i_X509_NAME(a, p, l); },
        X509_NAME_free);
    if (name == nullptr) return 0;
    X509_NAME_free(reinterpret_cast<X509_NAME*>(*pval));
    *pval = reinterpret_cast<ASN1_VALUE*>(name);
    consumed(in, h, ctx);
    return 1;
}

int name_i2d(const ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM*, int tag,
             int aclass) {
    std::vector<unsigned char> enc = encode(reinterpret_cast<const X509_NAME*>(*pval),
                                            [](const X509_NAME* n, unsigned char** p) {
                                                return i2d_X509_NAME(n, p);
                                            });
    return write_tagged(enc, out, tag, aclass);
}

// --- Time ---

int time_new(ASN1_VALUE** pval, const ASN1_ITEM*) {
    *pval = reinterpret_cast<ASN1_VALUE*>(ASN1_TIME_new());
    return *pval != nullptr;
}

void time_free(ASN1_VALUE** pval, const ASN1_ITEM*) {
    ASN1_TIME_free(reinterpret_cast<ASN1_TIME*>(*pval));
    *pval = nullptr;
}

ASN1_TIME* time_as(const unsigned char* in, const Header& h, unsigned char universal) {
    ASN1_TIME* t = decode_as<ASN1_TIME>(
        in, h, universal,
        [](ASN1_TIME** a, const unsigned char** p, long l) { return d2i_ASN1_TIME(a, p, l); },
        ASN1_TIME_free);
    if (t != nullptr && ASN1_TIME_check(t) != 1) {
        ASN1_TIME_free(t);
        t = nullptr;
    }
    return t;
}

int time_d2i(ASN1_VALUE** pval, const unsigned char** in, long len, const ASN1_ITEM*, int tag,
             int aclass, char opt, ASN1_TLC* ctx) {
    if (!first_byte_is(*in, len, tag, aclass, false, V_ASN1_UTCTIME, V_ASN1_GENERALIZEDTIME))
        return opt ? -1 : 0;
    Header h;
    if (!read_header(*in, len, h)) return 0;
    ASN1_TIME* t = nullptr;
    if (tag == -1) {
        t = time_as(*in, h, h.tag);
    } else {
        t = time_as(*in, h, V_ASN1_UTCTIME);
        if (t == nullptr) t = time_as(*in, h, V_ASN1_GENERALIZEDTIME);
    }
    if (t == nullptr) return 0;
    ASN1_TIME_free(reinterpret_cast<ASN1_TIME*>(*pval));
    *pval = reinterpret_cast<ASN1_VALUE*>(t);
    consumed(in, h, ctx);
    return 1;
}

int time_i2d(const ASN1_VALUE** pval, unsigned char** out, const ASN1_ITEM*, int tag,
             int aclass) {
    std::vector<unsigned char> enc = encode(reinterpret_cast<const ASN1_TIME*>(*pval),
                                            [](const ASN1_TIME* t, unsigned char** p) {
                                                return i2d_ASN1_TIME(t, p);
                                            });
    return write_tagged(enc, out, tag, aclass);
}

const ASN1_EXTERN_FUNCS kNameFuncs = {nullptr, name_new, name_free, any_clear, name_d2i,
                                      name_i2d, nullptr,  nullptr,   nullptr};
const ASN1_EXTERN_FUNCS kTimeFuncs = {nullptr, time_new, time_free, any_clear, time_d2i,
                                      time_i2d, nullptr,  nullptr,   nullptr};

}  // namespace

// clang-format off
ASN1_ITEM_start(CADB_IMPLICIT_NAME)
    ASN1_ITYPE_EXTERN, V_ASN1_SEQUENCE, nullptr, 0, &kNameFuncs, 0, "CADB_IMPLICIT_NAME"
ASN1_ITEM_end(CADB_IMPLICIT_NAME)

ASN1_ITEM_start(CADB_IMPLICIT_TIME)
    ASN1_ITYPE_EXTERN, V_ASN1_UTCTIME, nullptr, 0, &kTimeFuncs, 0, "CADB_IMPLICIT_TIME"
ASN1_ITEM_end(CADB_IMPLICIT_TIME)
// clang-format on

}  // namespace cadb
