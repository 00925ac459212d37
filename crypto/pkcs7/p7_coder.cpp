// The message coder. Writing: a message that still holds the encoding it
// was read from is written as those bytes; otherwise ContentInfo goes out
// with indefinite lengths (a detached signed message with
// PKCS7_FLAG_DER_DETACHED in definite-length DER). Reading takes BER or DER
// and keeps the bytes of every ContentInfo it reads.
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <memory>
#include <optional>

#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_ber.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

constexpr unsigned char kSeq = 0x30, kSet = 0x31, kOctets = 0x04, kOid = 0x06, kInt = 0x02;
constexpr unsigned char kCtx0 = 0xA0, kCtx1 = 0xA1, kCtx0Prim = 0x80;

// ---- writing -------------------------------------------------------------

template <typename T>
bool put_i2d(ByteVec& out, const T* v, int (*i2d)(const T*, unsigned char**)) {
    if (v == nullptr) return false;
    const int len = i2d(v, nullptr);
    if (len <= 0) return false;
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(len));
    unsigned char* p = out.data() + at;
    return i2d(v, &p) == len;
}

bool put_item(ByteVec& out, const void* v, const ASN1_ITEM* it) {
    if (v == nullptr) return false;
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(static_cast<const ASN1_VALUE*>(v), &der, it);
    if (len <= 0) return false;
    out.insert(out.end(), der, der + len);
    OPENSSL_free(der);
    return true;
}

bool put_obj(ByteVec& out, const ASN1_OBJECT* o) { return put_i2d(out, o, i2d_ASN1_OBJECT); }
bool put_int(ByteVec& out, const ASN1_INTEGER* i) { return put_i2d(out, i, i2d_ASN1_INTEGER); }

// Puts the header of tag in front of everything written since at. Members
// are written in place and moved once, not copied level by level: a message
// holds its whole content, and a megabyte copied at every nesting level
// costs more than hashing it.
void wrap_from(ByteVec& out, std::size_t at, unsigned char tag) {
    ByteVec head;
    der_write_header(head, tag, out.size() - at);
    out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), head.begin(), head.end());
}

// tag { each member's DER }
template <typename F>
bool put_wrapped(ByteVec& out, unsigned char tag, F&& members) {
    const std::size_t at = out.size();
    if (!members(out)) return false;
    wrap_from(out, at, tag);
    return true;
}

bool put_algs(ByteVec& out, STACK_OF(X509_ALGOR) * algs) {
    return put_wrapped(out, kSet, [&](ByteVec& b) {
        for (int i = 0; i < sk_X509_ALGOR_num(algs); ++i)
            if (!put_i2d(b, sk_X509_ALGOR_value(algs, i), i2d_X509_ALGOR)) return false;
        return true;
    });
}

bool put_certs(ByteVec& out, STACK_OF(X509) * certs) {
    if (sk_X509_num(certs) <= 0) return true;
    return put_wrapped(out, kCtx0, [&](ByteVec& b) {
        for (int i = 0; i < sk_X509_num(certs); ++i)
            if (!put_i2d(b, sk_X509_value(certs, i), i2d_X509)) return false;
        return true;
    });
}

bool put_crls(ByteVec& out, STACK_OF(X509_CRL) * crls) {
    if (sk_X509_CRL_num(crls) <= 0) return true;
    return put_wrapped(out, kCtx1, [&](ByteVec& b) {
        for (int i = 0; i < sk_X509_CRL_num(crls); ++i)
            if (!put_i2d(b, sk_X509_CRL_value(crls, i), i2d_X509_CRL)) return false;
        return true;
    });
}

bool put_signers(ByteVec& out, STACK_OF(P7_SIGNER_INFO) * s) {
    return put_wrapped(out, kSet, [&](ByteVec& b) {
        for (int i = 0; i < sk_P7_SIGNER_INFO_num(s); ++i)
            if (!put_i2d(b, sk_P7_SIGNER_INFO_value(s, i), i2d_PKCS7_SIGNER_INFO)) return false;
        return true;
    });
}

bool put_recips(ByteVec& out, STACK_OF(P7_RECIP_INFO) * s) {
    return put_wrapped(out, kSet, [&](ByteVec& b) {
        for (int i = 0; i < sk_P7_RECIP_INFO_num(s); ++i)
            if (!put_i2d(b, sk_P7_RECIP_INFO_value(s, i), i2d_PKCS7_RECIP_INFO)) return false;
        return true;
    });
}

bool put_enc_content(ByteVec& out, const PKCS7_ENC_CONTENT* e) {
    return e != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
               if (!put_obj(b, e->content_type) || !put_i2d(b, e->algorithm, i2d_X509_ALGOR))
                   return false;
               if (e->enc_data != nullptr)
                   der_write(b, kCtx0Prim,
                             ByteSpan(ASN1_STRING_get0_data(e->enc_data),
                                      static_cast<std::size_t>(ASN1_STRING_length(e->enc_data))));
               return true;
           });
}

ByteSpan octets_of(const ASN1_OCTET_STRING* s) {
    return ByteSpan(ASN1_STRING_get0_data(s), static_cast<std::size_t>(ASN1_STRING_length(s)));
}

bool put_content_info(ByteVec& out, const PKCS7* p7, bool der);

// The length of the content a message carries, so that its encoding is
// made in one buffer instead of being moved at every growth.
std::size_t content_size(const PKCS7* p7) {
    if (p7 == nullptr || !p7->asn1.empty()) return p7 != nullptr ? p7->asn1.size() : 0;
    const auto length = [](const ASN1_STRING* s) {
        return s != nullptr ? static_cast<std::size_t>(ASN1_STRING_length(s)) : 0;
    };
    const auto encrypted = [&](const PKCS7_ENC_CONTENT* e) {
        return e != nullptr ? length(e->enc_data) : 0;
    };
    if (p7->type == nullptr) return length(p7->d.data);
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            return p7->d.sign != nullptr ? content_size(p7->d.sign->contents) : 0;
        case NID_pkcs7_digest:
            return p7->d.digest != nullptr ? content_size(p7->d.digest->contents) : 0;
        case NID_pkcs7_enveloped:
            return p7->d.enveloped != nullptr ? encrypted(p7->d.enveloped->enc_data) : 0;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped != nullptr
                       ? encrypted(p7->d.signed_and_enveloped->enc_data)
                       : 0;
        case NID_pkcs7_encrypted:
            return p7->d.encrypted != nullptr ? encrypted(p7->d.encrypted->enc_data) : 0;
        case NID_COMPRESSED_DATA:
            return 0;
        default:
            return length(p7->d.data);
    }
}


// The element inside [0]; false on failure, present false when there is
// no content.
bool put_body(ByteVec& out, const PKCS7* p7, bool der, bool& present) {
    present = true;
    const int nid = PKCS7_type_nid(p7);
    if (p7->type == nullptr) {
        // The type lives in the second slot: plain octets.
        present = p7->d.data != nullptr;
        if (present) der_write(out, kOctets, octets_of(p7->d.data));
        return true;
    }
    switch (nid) {
        case NID_pkcs7_signed: {
            const PKCS7_SIGNED* s = p7->d.sign;
            return s != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
                       return put_int(b, s->version) && put_algs(b, s->md_algs) &&
                              put_content_info(b, s->contents, der) && put_certs(b, s->cert) &&
                              put_crls(b, s->crl) && put_signers(b, s->signer_info);
                   });
        }
        case NID_pkcs7_enveloped: {
            const PKCS7_ENVELOPE* e = p7->d.enveloped;
            return e != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
                       return put_int(b, e->version) && put_recips(b, e->recipientinfo) &&
                              put_enc_content(b, e->enc_data);
                   });
        }
        case NID_pkcs7_signedAndEnveloped: {
            const PKCS7_SIGN_ENVELOPE* e = p7->d.signed_and_enveloped;
            return e != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
                       return put_int(b, e->version) && put_recips(b, e->recipientinfo) &&
                              put_algs(b, e->md_algs) && put_enc_content(b, e->enc_data) &&
                              put_certs(b, e->cert) && put_crls(b, e->crl) &&
                              put_signers(b, e->signer_info);
                   });
        }
        case NID_pkcs7_digest: {
            const PKCS7_DIGEST* g = p7->d.digest;
            return g != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
                       return put_int(b, g->version) && put_i2d(b, g->md, i2d_X509_ALGOR) &&
                              put_content_info(b, g->contents, der) &&
                              put_i2d(b, g->digest, i2d_ASN1_OCTET_STRING);
                   });
        }
        case NID_pkcs7_encrypted: {
            const PKCS7_ENCRYPT* e = p7->d.encrypted;
            return e != nullptr && put_wrapped(out, kSeq, [&](ByteVec& b) {
                       return put_int(b, e->version) && put_enc_content(b, e->enc_data);
                   });
        }
        case NID_COMPRESSED_DATA:
            return put_item(out, p7->d.compressed, ASN1_ITEM_rptr(PKCS7_COMPRESSED));
        case NID_pkcs7_data:
        case NID_TST_INFO:
            present = p7->d.data != nullptr;
            if (present) der_write(out, kOctets, octets_of(p7->d.data));
            return true;
        default:
            // CMC PKIData and ResponseBody go in directly under [0], as the
            // authority's software reads them; RFC 5652 would wrap them in an
            // OCTET STRING (the PKCS7_FLAG_OCTETS form above).
            present = p7->d.data != nullptr && ASN1_STRING_length(p7->d.data) > 0;
            if (present) {
                const ByteSpan raw = octets_of(p7->d.data);
                out.insert(out.end(), raw.begin(), raw.end());
            }
            return true;
    }
}

bool put_content_info(ByteVec& out, const PKCS7* p7, bool der) {
    if (p7 == nullptr) return false;
    // A kept encoding is written back as read, which may be BER: DER is
    // made afresh.
    if (!der && !p7->asn1.empty()) {
        out.insert(out.end(), p7->asn1.begin(), p7->asn1.end());
        return true;
    }
    const ASN1_OBJECT* type = p7->type != nullptr ? p7->type : p7->type2;
    if (type == nullptr) return false;
    bool present = false;
    if (der) {
        return put_wrapped(out, kSeq, [&](ByteVec& b) {
            if (!put_obj(b, type)) return false;
            const std::size_t body_at = b.size();
            if (!put_body(b, p7, der, present)) return false;
            if (present) wrap_from(b, body_at, kCtx0);
            return true;
        });
    }
    out.push_back(kSeq);
    out.push_back(0x80);
    if (!put_obj(out, type)) return false;
    out.push_back(kCtx0);
    out.push_back(0x80);
    if (!put_body(out, p7, der, present)) return false;
    if (present) {
        out.push_back(0);
        out.push_back(0);
    } else {
        out.resize(out.size() - 2);  // no content: no [0] either
    }
    out.push_back(0);
    out.push_back(0);
    return true;
}

// ---- reading -------------------------------------------------------------

struct OpenSslFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

template <typename T>
T* get_d2i(const BerElem& e, T* (*d2i)(T**, const unsigned char**, long)) {
    const unsigned char* p = e.whole.data();
    T* v = d2i(nullptr, &p, static_cast<long>(e.whole.size()));
    if (v != nullptr && p != e.whole.data() + e.whole.size()) {
        // Trailing bytes inside the element: not this record.
        return nullptr;
    }
    return v;
}

// The string's octets are written straight into the buffer it is handed:
// a message's content is its largest part and is copied once.
ASN1_OCTET_STRING* octets_from(const BerElem& e) {
    std::size_t size = 0;
    if (!ber_octets_size(e, size) || size >= INT_MAX) return nullptr;
    std::unique_ptr<unsigned char, OpenSslFree> bytes(
        static_cast<unsigned char*>(OPENSSL_malloc(size + 1)));
    ASN1_OCTET_STRING* s = bytes ? ASN1_OCTET_STRING_new() : nullptr;
    if (s == nullptr) return nullptr;
    ber_octets_copy(e, bytes.get());
    bytes.get()[size] = 0;  // as ASN1_STRING_set leaves it
    ASN1_STRING_set0(s, bytes.release(), static_cast<int>(size));
    return s;
}

ASN1_INTEGER* read_int(ByteSpan& in) {
    BerElem e;
    return ber_expect(in, kInt, e) ? get_d2i(e, d2i_ASN1_INTEGER) : nullptr;
}

bool read_algs(ByteSpan& in, STACK_OF(X509_ALGOR) * *out) {
    BerElem set;
    if (!ber_expect(in, kSet, set) || (*out = sk_X509_ALGOR_new_null()) == nullptr) return false;
    ByteSpan c = set.content;
    while (!c.empty()) {
        BerElem e;
        X509_ALGOR* a = nullptr;
        if (!ber_read(c, e) || (a = get_d2i(e, d2i_X509_ALGOR)) == nullptr) return false;
        if (!sk_X509_ALGOR_push(*out, a)) {
            X509_ALGOR_free(a);
            return false;
        }
    }
    return true;
}

bool read_certs(ByteSpan& in, STACK_OF(X509) * *out) {
    BerElem set;
    if (!ber_expect(in, kCtx0, set)) return true;
    if ((*out = sk_X509_new_null()) == nullptr) return false;
    ByteSpan c = set.content;
    while (!c.empty()) {
        BerElem e;
        if (!ber_read(c, e)) return false;
        if (e.tag != kSeq) continue;  // other certificate choices are skipped
        X509* x = get_d2i(e, d2i_X509);
        if (x == nullptr || !sk_X509_push(*out, x)) {
            X509_free(x);
            return false;
        }
    }
    return true;
}

bool read_crls(ByteSpan& in, STACK_OF(X509_CRL) * *out) {
    BerElem set;
    if (!ber_expect(in, kCtx1, set)) return true;
    if ((*out = sk_X509_CRL_new_null()) == nullptr) return false;
    ByteSpan c = set.content;
    while (!c.empty()) {
        BerElem e;
        if (!ber_read(c, e)) return false;
        if (e.tag != kSeq) continue;
        X509_CRL* x = get_d2i(e, d2i_X509_CRL);
        if (x == nullptr || !sk_X509_CRL_push(*out, x)) {
            X509_CRL_free(x);
            return false;
        }
    }
    return true;
}

bool read_signers(ByteSpan& in, STACK_OF(P7_SIGNER_INFO) * *out) {
    BerElem set;
    if (!ber_expect(in, kSet, set) || (*out = sk_P7_SIGNER_INFO_new_null()) == nullptr)
        return false;
    ByteSpan c = set.content;
    while (!c.empty()) {
        BerElem e;
        PKCS7_SIGNER_INFO* si = nullptr;
        if (!ber_read(c, e) || (si = get_d2i(e, d2i_PKCS7_SIGNER_INFO)) == nullptr) return false;
        if (!sk_P7_SIGNER_INFO_push(*out, si)) {
            PKCS7_SIGNER_INFO_free(si);
            return false;
        }
    }
    return true;
}

bool read_recips(ByteSpan& in, STACK_OF(P7_RECIP_INFO) * *out) {
    BerElem set;
    if (!ber_expect(in, kSet, set) || (*out = sk_P7_RECIP_INFO_new_null()) == nullptr) return false;
    ByteSpan c = set.content;
    while (!c.empty()) {
        BerElem e;
        if (!ber_read(c, e)) return false;
        const unsigned char* p = e.whole.data();
        PKCS7_RECIP_INFO* ri = d2i_PKCS7_RECIP_INFO(nullptr, &p, static_cast<long>(e.whole.size()));
        if (ri == nullptr || !sk_P7_RECIP_INFO_push(*out, ri)) {
            PKCS7_RECIP_INFO_free(ri);
            return false;
        }
    }
    return true;
}

bool read_enc_content(ByteSpan& in, PKCS7_ENC_CONTENT* ec) {
    BerElem seq, oid, alg;
    if (!ber_expect(in, kSeq, seq)) return false;
    ByteSpan c = seq.content;
    if (!ber_expect(c, kOid, oid) || !ber_expect(c, kSeq, alg)) return false;
    ASN1_OBJECT_free(ec->content_type);
    X509_ALGOR_free(ec->algorithm);
    ec->content_type = get_d2i(oid, d2i_ASN1_OBJECT);
    ec->algorithm = get_d2i(alg, d2i_X509_ALGOR);
    if (ec->content_type == nullptr || ec->algorithm == nullptr) return false;
    BerElem data;
    if (ber_read(c, data)) {
        if ((data.tag & 0xDF) != kCtx0Prim || (ec->enc_data = octets_from(data)) == nullptr)
            return false;
    }
    return c.empty();
}

// The buffer a message is read from: each ContentInfo read out of it keeps
// its range of it as its encoding.
using Source = std::shared_ptr<const P7KeptBuffer>;

bool read_content_info(ByteSpan& in, PKCS7* p7, const Source& src);

bool read_inner(ByteSpan& c, PKCS7** slot, const Source& src) {
    PKCS7* inner = PKCS7_new();
    if (inner == nullptr) return false;
    *slot = inner;
    return read_content_info(c, inner, src);
}

bool read_body(const BerElem& body, PKCS7* p7, int nid, const Source& src) {
    ByteSpan c = body.content;
    switch (nid) {
        case NID_pkcs7_signed: {
            BerElem seq;
            PKCS7_SIGNED* s = p7->d.sign;
            if (!ber_expect(c, kSeq, seq)) return false;
            ByteSpan b = seq.content;
            ASN1_INTEGER_free(s->version);
            sk_X509_ALGOR_pop_free(s->md_algs, X509_ALGOR_free);
            s->md_algs = nullptr;
            sk_P7_SIGNER_INFO_free(s->signer_info);
            s->signer_info = nullptr;
            if ((s->version = read_int(b)) == nullptr || !read_algs(b, &s->md_algs) ||
                !read_inner(b, &s->contents, src) || !read_certs(b, &s->cert) ||
                !read_crls(b, &s->crl) || !read_signers(b, &s->signer_info) || !b.empty())
                return false;
            // The inner content is absent exactly when the signature is
            // detached.
            const PKCS7* inner = s->contents;
            p7->detached = p7_is_octets(PKCS7_type_nid(inner)) && inner->d.data == nullptr;
            return c.empty();
        }
        case NID_pkcs7_enveloped: {
            BerElem seq;
            PKCS7_ENVELOPE* e = p7->d.enveloped;
            if (!ber_expect(c, kSeq, seq)) return false;
            ByteSpan b = seq.content;
            ASN1_INTEGER_free(e->version);
            sk_P7_RECIP_INFO_free(e->recipientinfo);
            e->recipientinfo = nullptr;
            return (e->version = read_int(b)) != nullptr && read_recips(b, &e->recipientinfo) &&
                   read_enc_content(b, e->enc_data) && b.empty() && c.empty();
        }
        case NID_pkcs7_signedAndEnveloped: {
            BerElem seq;
            PKCS7_SIGN_ENVELOPE* e = p7->d.signed_and_enveloped;
            if (!ber_expect(c, kSeq, seq)) return false;
            ByteSpan b = seq.content;
            ASN1_INTEGER_free(e->version);
            sk_P7_RECIP_INFO_free(e->recipientinfo);
            e->recipientinfo = nullptr;
            sk_X509_ALGOR_free(e->md_algs);
            e->md_algs = nullptr;
            sk_P7_SIGNER_INFO_free(e->signer_info);
            e->signer_info = nullptr;
            return (e->version = read_int(b)) != nullptr && read_recips(b, &e->recipientinfo) &&
                   read_algs(b, &e->md_algs) && read_enc_content(b, e->enc_data) &&
                   read_certs(b, &e->cert) && read_crls(b, &e->crl) &&
                   read_signers(b, &e->signer_info) && b.empty() && c.empty();
        }
        case NID_pkcs7_digest: {
            BerElem seq, alg, dig;
            PKCS7_DIGEST* g = p7->d.digest;
            if (!ber_expect(c, kSeq, seq)) return false;
            ByteSpan b = seq.content;
            ASN1_INTEGER_free(g->version);
            X509_ALGOR_free(g->md);
            g->md = nullptr;
            ASN1_OCTET_STRING_free(g->digest);
            g->digest = nullptr;
            return (g->version = read_int(b)) != nullptr && ber_expect(b, kSeq, alg) &&
                   (g->md = get_d2i(alg, d2i_X509_ALGOR)) != nullptr &&
                   read_inner(b, &g->contents, src) && ber_read(b, dig) &&
                   (dig.tag & 0xDF) == kOctets && (g->digest = octets_from(dig)) != nullptr &&
                   b.empty() && c.empty();
        }
        case NID_pkcs7_encrypted: {
            BerElem seq;
            PKCS7_ENCRYPT* e = p7->d.encrypted;
            if (!ber_expect(c, kSeq, seq)) return false;
            ByteSpan b = seq.content;
            ASN1_INTEGER_free(e->version);
            return (e->version = read_int(b)) != nullptr && read_enc_content(b, e->enc_data) &&
                   b.empty() && c.empty();
        }
        case NID_COMPRESSED_DATA: {
            BerElem seq;
            if (!ber_read(c, seq) || !c.empty()) return false;
            PKCS7_COMPRESSED_free(p7->d.compressed);
            p7->d.compressed = get_d2i(seq, d2i_PKCS7_COMPRESSED);
            return p7->d.compressed != nullptr;
        }
        default: {
            BerElem e;
            if (!ber_read(c, e) || !c.empty()) return false;
            ASN1_OCTET_STRING_free(p7->d.data);
            p7->d.data = nullptr;
            if ((e.tag & 0xDF) == kOctets) {
                p7->d.data = octets_from(e);
            } else if (nid != NID_pkcs7_data && nid != NID_TST_INFO && e.whole.size() <= INT_MAX) {
                // The content's own DER, carried without an OCTET STRING.
                p7->d.data = ASN1_OCTET_STRING_new();
                if (p7->d.data != nullptr &&
                    !ASN1_OCTET_STRING_set(p7->d.data, e.whole.data(),
                                           static_cast<int>(e.whole.size())))
                    return false;
            }
            return p7->d.data != nullptr;
        }
    }
}

bool read_content_info(ByteSpan& in, PKCS7* p7, const Source& src) {
    BerElem ci, oid;
    if (!ber_expect(in, kSeq, ci)) return false;
    ByteSpan c = ci.content;
    if (!ber_expect(c, kOid, oid)) return false;
    ASN1_OBJECT* type = get_d2i(oid, d2i_ASN1_OBJECT);
    if (type == nullptr) return false;
    const int nid = cadb::OBJ_obj2nid(type);
    const bool known =
        nid != 0 && (p7_is_octets(nid) || (nid >= NID_pkcs7_signed && nid <= NID_pkcs7_encrypted) ||
                     nid == NID_COMPRESSED_DATA);
    if (known) {
        if (!PKCS7_set_type(p7, nid)) {
            ASN1_OBJECT_free(type);
            return false;
        }
        ASN1_OBJECT_free(p7->type);
    }
    p7->type = type;
    BerElem body;
    if (ber_expect(c, kCtx0, body)) {
        if (!read_body(body, p7, nid, src)) return false;
    } else if (p7_is_octets(nid) || !known) {
        ASN1_OCTET_STRING_free(p7->d.data);
        p7->d.data = nullptr;
    } else {
        return false;
    }
    if (!c.empty()) return false;
    p7->asn1.keep(src, ci.whole);
    return true;
}

}  // namespace

bool p7_content_der(const PKCS7* p7, ByteVec& out) {
    bool present = false;
    return p7 != nullptr && (p7->type != nullptr || p7->type2 != nullptr) &&
           put_body(out, p7, true, present);
}

int i2d_PKCS7(const PKCS7* p7, unsigned char** out) {
    ByteVec bytes;
    // Room for the content and what a message puts around it (certificates,
    // signer records), so that a large content is written once.
    bytes.reserve(content_size(p7) + 16384);
    const bool der = p7 != nullptr && (p7->flags & PKCS7_FLAG_DER_DETACHED) != 0 && p7->detached &&
                     PKCS7_type_nid(p7) == NID_pkcs7_signed;
    const bool kept = p7 != nullptr && !p7->asn1.empty();
    if (kept) bytes.assign(p7->asn1.begin(), p7->asn1.end());
    if (p7 == nullptr || (!kept && !put_content_info(bytes, p7, der)) || bytes.size() > INT_MAX) {
        P7_ERR(P7_F_I2D_PKCS7, P7_R_ASN1_LIB);
        return -1;
    }
    const int len = static_cast<int>(bytes.size());
    if (out == nullptr) return len;
    if (*out == nullptr) {
        *out = static_cast<unsigned char*>(OPENSSL_malloc(bytes.size()));
        if (*out == nullptr) {
            P7_ERR(P7_F_I2D_PKCS7, P7_R_MALLOC);
            return -1;
        }
        std::memcpy(*out, bytes.data(), bytes.size());
    } else {
        std::memcpy(*out, bytes.data(), bytes.size());
        *out += len;
    }
    return len;
}

PKCS7* d2i_PKCS7(PKCS7** p7, const unsigned char** in, long len) {
    if (in == nullptr || *in == nullptr || len <= 0) {
        P7_ERR(P7_F_D2I_PKCS7, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    // The message is read out of one copy of its bytes, which it and its
    // nested content then keep as their encodings.
    ByteSpan input(*in, static_cast<std::size_t>(len));
    BerElem whole;
    auto src = std::make_shared<P7KeptBuffer>();
    if (ber_expect(input, kSeq, whole)) src->bytes.assign(whole.whole.begin(), whole.whole.end());
    ByteSpan bytes = src->bytes;
    PKCS7* got = bytes.empty() ? nullptr : PKCS7_new();
    if (got == nullptr || !read_content_info(bytes, got, src)) {
        PKCS7_free(got);
        ::ERR_clear_error();
        CADB_ERR(ERR_LIB_ASN1_, P7_F_D2I_PKCS7, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    *in += static_cast<long>(whole.whole.size());
    if (p7 != nullptr) {
        PKCS7_free(*p7);
        *p7 = got;
    }
    return got;
}

}  // namespace cadb
