// Reading a message: its type and records, the decoding chain, and the
// content taken out of it.
#include <openssl/buffer.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/time_tm.h"
#include "crypto/cadb/x509_read.h"
#include "crypto/cms/cms_local.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

constexpr int NID_DATA = 21;
constexpr int NID_SIGNED = 22;
constexpr int NID_ENVELOPED = 23;
constexpr int NID_SIGNED_ENVELOPED = 24;
constexpr int NID_DIGESTED = 25;
constexpr int NID_ENCRYPTED = 26;

int fail(int func, int reason) {
    P7_ERR(func, reason);
    return 0;
}

void drop_content(CMS* cms) {
    cms_free_content(cms);
    cms->content = nullptr;
    cms->content_saved = 0;
}

void p7_free_void(void* p) { PKCS7_free(static_cast<PKCS7*>(p)); }

// The message in DER filling the bytes exactly, else (unless only DER is
// wanted) one PEM block under "PKCS7" or "CMS".
PKCS7* decode_message(const BUFFER* in, bool der_only) {
    const unsigned char* p = in->data;
    cadb::ERR_set_mark();
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, in->length);
    if (p7 != nullptr && p != in->data + in->length) {
        // Bytes after the message: a joined or damaged input.
        PKCS7_free(p7);
        p7 = nullptr;
    }
    for (const char* label : {"PKCS7", "CMS"}) {
        if (p7 != nullptr || der_only) break;
        // Only decoded here: no writer, no printer.
        const X509_OBJECT_CODEC codec{
            d2i_as_void<d2i_PKCS7>, p7_free_void, label, nullptr, nullptr, false};
        p7 = static_cast<PKCS7*>(X509_object_decode(in->data, in->length, 2, codec));
    }
    if (p7 != nullptr)
        cadb::ERR_pop_to_mark();
    else
        cadb::ERR_clear_last_mark();
    return p7;
}

X509* find_cert(STACK_OF(X509) * certs, const PKCS7_ISSUER_AND_SERIAL* ias) {
    if (ias == nullptr) return nullptr;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* x = sk_X509_value(certs, i);
        if (X509_NAME_cmp(ias->issuer, X509_get_issuer_name(x)) == 0 &&
            ASN1_INTEGER_cmp(ias->serial, X509_get0_serialNumber(x)) == 0)
            return x;
    }
    return nullptr;
}

struct TypeFree {
    void operator()(ASN1_TYPE* t) const { ASN1_TYPE_free(t); }
};
using TypePtr = std::unique_ptr<ASN1_TYPE, TypeFree>;

bool set_identity(CMS_SIGNATURE* s, const PKCS7_ISSUER_AND_SERIAL* ias) {
    s->issuer_name = X509_NAME_dup(ias->issuer);
    s->serial = ASN1_INTEGER_dup(ias->serial);
    s->serial_bytes = ASN1_STRING_get_bytes(ias->serial);
    s->issuer = X509_NAME_split(ias->issuer);
    return s->issuer_name != nullptr && s->serial != nullptr && s->serial_bytes != nullptr;
}

bool collect_recipients(CMS* cms) {
    STACK_OF(P7_RECIP_INFO)* ris = PKCS7_get_recipient_info(cms->message);
    if ((cms->recipients = sk_CMS_RECIPIENT_new_null()) == nullptr) return false;
    for (int i = 0; i < sk_P7_RECIP_INFO_num(ris); ++i) {
        const PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(ris, i);
        const long version = ASN1_INTEGER_get(ri->version);
        const PKCS7_ISSUER_AND_SERIAL* ias = nullptr;
        int kind = 0;
        if (version == 0) {
            ias = ri->issuer_and_serial;
            kind = p7_algor_nid(ri->key_enc_algor) == NID_R3410 ? 2 : 0;
        } else if (version == 3 && sk_ASN1_PAIR_num(ri->rek) > 0) {
            ias = sk_ASN1_PAIR_value(ri->rek, 0)->rid;
            kind = ri->form;
        }
        if (ias == nullptr || ias->issuer == nullptr || ias->serial == nullptr) {
            P7_ERR(P7_F_CMS_RECIPIENT_NEW, P7_R_BAD_RECIPIENT_KEY_DATA);
            return false;
        }
        CMS_RECIPIENT* r = CMS_recipient_new();
        if (r == nullptr) return false;
        r->issuer_name = X509_NAME_dup(ias->issuer);
        r->serial = ASN1_INTEGER_dup(ias->serial);
        r->serial_bytes = ASN1_STRING_get_bytes(ias->serial);
        r->issuer = X509_NAME_split(ias->issuer);
        r->kind = kind;
        if (r->issuer_name == nullptr || r->serial == nullptr || r->serial_bytes == nullptr ||
            sk_CMS_RECIPIENT_push(cms->recipients, r) <= 0) {
            CMS_recipient_free(r);
            P7_ERR(P7_F_CMS_RECIPIENT_NEW, P7_R_MALLOC);
            return false;
        }
    }
    return true;
}

STACK_OF(X509_CRL) * crls_of(const PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_SIGNED:
            return p7->d.sign->crl;
        case NID_SIGNED_ENVELOPED:
            return p7->d.signed_and_enveloped->crl;
        default:
            return nullptr;
    }
}

// Certificates and CRLs of the message as records; one that does not split
// fails.
bool collect_certs_and_crls(CMS* cms) {
    STACK_OF(X509)* certs = PKCS7_get_certificates(cms->message);
    STACK_OF(X509_CRL)* crls = crls_of(cms->message);
    cms->certificates = sk_CERT_new_null();
    cms->crls = sk_CRL_new_null();
    if (cms->certificates == nullptr || cms->crls == nullptr) return false;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        CERT* c = CERT_split(sk_X509_value(certs, i));
        if (c == nullptr || sk_CERT_push(cms->certificates, c) <= 0) {
            CERT_free(c);
            return false;
        }
    }
    for (int i = 0; i < sk_X509_CRL_num(crls); ++i) {
        CRL* c = CRL_split(sk_X509_CRL_value(crls, i));
        if (c == nullptr || sk_CRL_push(cms->crls, c) <= 0) {
            CRL_free(c);
            return false;
        }
    }
    return true;
}

int inner_nid(const PKCS7* p7) {
    const ASN1_OBJECT* o = PKCS7_get_inner_type(p7);
    return o != nullptr ? cadb::OBJ_obj2nid(o) : 0;
}

bool read_records(CMS* cms) {
    PKCS7* p7 = cms->message;
    const int type = PKCS7_type_nid(p7);
    switch (type) {
        case NID_DATA:
            cms->inner_type = 0;
            return true;
        case NID_SIGNED: {
            const long v = ASN1_INTEGER_get(p7->d.sign->version);
            if (v != 1 && v != 3) return false;
            cms->inner_type = inner_nid(p7);
            return CMS_collect_signatures(cms) && collect_certs_and_crls(cms);
        }
        case NID_ENVELOPED:
        case NID_SIGNED_ENVELOPED:
            cms->inner_type = inner_nid(p7);
            cms->cipher = p7_algor_nid(p7_enc_content(p7)->algorithm);
            if (!collect_recipients(cms)) return false;
            return type == NID_ENVELOPED ||
                   (CMS_collect_signatures(cms) && collect_certs_and_crls(cms));
        case NID_ENCRYPTED:
            cms->cipher = p7_algor_nid(p7->d.encrypted->enc_data->algorithm);
            cms->inner_type = inner_nid(p7);
            return true;
        case NID_DIGESTED:
        case NID_COMPRESSED_DATA:
            cms->inner_type = inner_nid(p7);
            return true;
        default:
            P7_ERR(P7_F_CMS_GET_TYPE, P7_R_UNSUPPORTED_CONTENT_TYPE);
            return false;
    }
}

}  // namespace

// The chain a read message's content comes out of.
bool cms_open_chain(CMS* cms, int func, EVP_PKEY* key, X509* cert) {
    cms_close_chain(cms);
    BIO* in = nullptr;
    if (cms->type == NID_SIGNED && cms->detached) {
        char* data = nullptr;
        const long n =
            cms->detached_content != nullptr ? BIO_get_mem_data(cms->detached_content, &data) : 0;
        in = BIO_new_mem_buf(n > 0 ? data : "", n > 0 ? static_cast<int>(n) : 0);
        if (in == nullptr) return fail(func, P7_R_MALLOC);
    }
    cms->data = PKCS7_dataDecode(cms->message, key, cert, nullptr, nullptr, in);
    if (cms->data == nullptr) {
        BIO_free(in);
        return fail(func, P7_R_INTERNAL_ERROR);
    }
    return true;
}

namespace {

bool save_octets(CMS* cms) {
    drop_content(cms);
    const ASN1_OCTET_STRING* s = PKCS7_get_octets(cms->message);
    if ((cms->content = BIO_new(BIO_s_mem())) == nullptr) return false;
    const int n = s != nullptr ? ASN1_STRING_length(s) : 0;
    if (n > 0 && BIO_write(cms->content, ASN1_STRING_get0_data(s), n) != n) return false;
    cms->content_saved = 1;
    return true;
}

// A wrong key shows in a block cipher's padding: the chain's cipher filter
// reports it once the content is read.
bool cipher_ok(BIO* chain) {
    BIO* c = BIO_find_type(chain, BIO_TYPE_CIPHER);
    return c == nullptr || BIO_get_cipher_status(c) == 1;
}

// What the content of a read message can take: the message's own length
// (or the fed detached content's), which bounds every content but a
// compressed one.
std::size_t content_size_hint(const CMS* cms) {
    std::size_t hint = cms->read_buffer != nullptr && cms->read_buffer->length > 0
                           ? static_cast<std::size_t>(cms->read_buffer->length)
                           : 0;
    char* data = nullptr;
    const long detached =
        cms->detached_content != nullptr ? BIO_get_mem_data(cms->detached_content, &data) : 0;
    if (detached > 0 && static_cast<std::size_t>(detached) > hint)
        hint = static_cast<std::size_t>(detached);
    return hint;
}

// The content being read: one allocation that grows only when the content
// outruns it, handed over whole to a memory stream at the end.
class ContentBuffer {
  public:
    explicit ContentBuffer(bool secret) : secret_(secret) {}
    ~ContentBuffer() { release(data_, cap_); }
    ContentBuffer(const ContentBuffer&) = delete;
    ContentBuffer& operator=(const ContentBuffer&) = delete;

    bool reserve(std::size_t n) { return n <= cap_ || move_to(n); }
    // How much of a chunk to read next: what room is left, up to the
    // chunk; only a full buffer grows, by the chunk at least (half of it
    // tried once when that cannot be had). 0 when it cannot grow.
    int room_for(int chunk) {
        if (cap_ > len_)
            return static_cast<int>(std::min(cap_ - len_, static_cast<std::size_t>(chunk)));
        const auto want = [&](int c) { return len_ + static_cast<std::size_t>(c); };
        if (move_to(std::max(want(chunk), cap_ * 2))) return chunk;
        if (chunk > 1) chunk /= 2;
        return move_to(want(chunk)) ? chunk : 0;
    }
    unsigned char* end() { return data_ + len_; }
    void advance(int n) { len_ += static_cast<std::size_t>(n); }
    // A memory stream that owns the bytes; null (and the bytes kept, to be
    // released here) when none can be made.
    BIO* into_bio() {
        BUF_MEM* m = BUF_MEM_new();
        BIO* b = m != nullptr ? BIO_new(BIO_s_mem()) : nullptr;
        if (b == nullptr) {
            BUF_MEM_free(m);
            return nullptr;
        }
        m->data = reinterpret_cast<char*>(data_);
        m->length = len_;
        m->max = cap_;
        BIO_set_mem_buf(b, m, BIO_CLOSE);
        data_ = nullptr;
        len_ = cap_ = 0;
        return b;
    }

  private:
    bool move_to(std::size_t cap) {
        auto* fresh = static_cast<unsigned char*>(OPENSSL_malloc(cap > 0 ? cap : 1));
        if (fresh == nullptr) return false;
        if (len_ > 0) std::memcpy(fresh, data_, len_);
        release(data_, cap_);
        data_ = fresh;
        cap_ = cap > 0 ? cap : 1;
        return true;
    }
    void release(unsigned char* p, std::size_t cap) const {
        if (p != nullptr && secret_) OPENSSL_cleanse(p, len_ < cap ? len_ : cap);
        OPENSSL_free(p);
    }

    bool secret_;
    unsigned char* data_ = nullptr;
    std::size_t len_ = 0, cap_ = 0;
};

}  // namespace

CMS_SIGNATURE* cms_signature_of(const PKCS7_SIGNER_INFO* si, STACK_OF(X509) * certs) {
    CMS_SIGNATURE* s = CMS_signature_new();
    if (s == nullptr) return nullptr;
    bool ok = true;
    if (TypePtr t{X509_ATTRIBUTES_get_value(si->auth_attr, NID_pkcs9_signingTime)}) {
        if (t->type == V_ASN1_UTCTIME || t->type == V_ASN1_GENERALIZEDTIME) {
            // A time that does not parse is left out, not an error.
            cadb::ERR_set_mark();
            s->signing_time = ASN1_TIME_parse(t->value.utctime);
            cadb::ERR_pop_to_mark();
        }
    }
    if (TypePtr t{X509_ATTRIBUTES_get_value(si->auth_attr, NID_SIGNATURE_COMMENT)}) {
        if (t->type != V_ASN1_SEQUENCE && t->type != V_ASN1_SET && t->type != V_ASN1_OBJECT &&
            t->type != V_ASN1_BOOLEAN && t->type != V_ASN1_NULL && t->value.asn1_string != nullptr)
            s->text = ASN1_STRING_get_text(t->value.asn1_string);
    }
    if (si->issuer_and_serial != nullptr) {
        ok = set_identity(s, si->issuer_and_serial);
        X509* x = ok ? find_cert(certs, si->issuer_and_serial) : nullptr;
        if (x != nullptr) ok = (s->cert = CERT_split(x)) != nullptr;
    } else if (si->subject_key_id != nullptr) {
        s->key_id = ASN1_OCTET_STRING_dup(si->subject_key_id);
        s->key_id_bytes = ASN1_STRING_get_bytes(si->subject_key_id);
        ok = s->key_id != nullptr && s->key_id_bytes != nullptr;
    }
    if (!ok) {
        CMS_signature_free(s);
        P7_ERR(P7_F_CMS_SIGNATURE_NEW, P7_R_MALLOC);
        return nullptr;
    }
    return s;
}

int CMS_collect_signatures(CMS* cms) {
    sk_CMS_SIGNATURE_pop_free(cms->signatures, CMS_signature_free);
    cms->signatures = sk_CMS_SIGNATURE_new_null();
    if (cms->signatures == nullptr) return 0;
    STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(cms->message);
    STACK_OF(X509)* certs = PKCS7_get_certificates(cms->message);
    for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers); ++i) {
        CMS_SIGNATURE* s = cms_signature_of(sk_P7_SIGNER_INFO_value(signers, i), certs);
        if (s == nullptr || sk_CMS_SIGNATURE_push(cms->signatures, s) <= 0) {
            CMS_signature_free(s);
            return 0;
        }
    }
    cms->certs_only = sk_P7_SIGNER_INFO_num(signers) <= 0;
    return 1;
}

int CMS_get_type(CMS* cms) {
    constexpr int F = P7_F_CMS_GET_TYPE;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->writing) return cms->type;
    // The content goes while the type still tells whether it is secret.
    drop_content(cms);
    cms->type = 0;
    cms_drop_records(cms);
    cms_close_chain(cms);
    if (cms->read_buffer == nullptr || cms->read_buffer->length <= 0)
        return fail(F, ERR_R_NULL_PARAMETER);
    PKCS7* p7 = decode_message(cms->read_buffer, (cms->flags & CMS_OPT_NO_PEM) != 0);
    if (p7 == nullptr) return fail(F, ERR_R_NESTED_ASN1_ERROR_);
    PKCS7_free(cms->message);
    cms->message = p7;
    p7->flags |= static_cast<std::uint32_t>(cms->flags);
    cms->detached = p7->detached;
    if (!read_records(cms)) {
        cms_drop_records(cms);
        return fail(F, ERR_R_NESTED_ASN1_ERROR_);
    }
    cms->type = PKCS7_type_nid(p7);
    return cms->type;
}

int CMS_save_content(CMS* cms) {
    constexpr int F = P7_F_CMS_SAVE_CONTENT;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->type == NID_DATA && !cms->writing) return save_octets(cms) ? 1 : fail(F, P7_R_MALLOC);
    if (cms->data == nullptr) return fail(F, P7_R_BIO_LIB);
    drop_content(cms);
    // The chain is read in chunks straight into one buffer, sized once for
    // what the message can hold (its content is no longer than its
    // encoding, compressed data excepted), so the content is neither copied
    // per chunk nor moved as it grows; only decrypted content is wiped
    // where a growth leaves it behind.
    ContentBuffer buf(cms_content_is_secret(cms));
    if (!buf.reserve(content_size_hint(cms))) return fail(F, P7_R_MALLOC);
    int chunk = CMS_CHUNK_FIRST;
    for (;;) {
        const int room = buf.room_for(chunk);
        if (room <= 0) return fail(F, P7_R_MALLOC);
        const int n = BIO_read(cms->data, buf.end(), room);
        if (n <= 0) break;
        buf.advance(n);
        chunk = cms_next_chunk(chunk);
    }
    if ((cms->content = buf.into_bio()) == nullptr) return fail(F, P7_R_MALLOC);
    if (!cipher_ok(cms->data)) {
        drop_content(cms);
        return fail(F, P7_R_EVP_LIB);
    }
    cms->content_saved = 1;
    if (cms->type == NID_ENVELOPED || cms->type == NID_SIGNED_ENVELOPED) {
        bool agreement = false;
        for (int i = 0; i < sk_CMS_RECIPIENT_num(cms->recipients); ++i)
            if (sk_CMS_RECIPIENT_value(cms->recipients, i)->kind == 1) agreement = true;
        if (agreement) {
            char* data = nullptr;
            const long n = BIO_get_mem_data(cms->content, &data);
            const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
            cadb::ERR_set_mark();
            PKCS7* inner = n > 0 ? d2i_PKCS7(nullptr, &p, n) : nullptr;
            cadb::ERR_pop_to_mark();
            cms->inner_type = inner != nullptr ? cms->type : NID_DATA;
            PKCS7_free(inner);
        }
    }
    return 1;
}

int CMS_decrypt(CMS* cms) {
    constexpr int F = P7_F_CMS_DECRYPT;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->writing) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    switch (cms->type) {
        case NID_ENCRYPTED:
            if (!cms_open_chain(cms, F, nullptr, nullptr)) return 0;
            break;
        case NID_ENVELOPED:
        case NID_SIGNED_ENVELOPED:
            if (cms->recipient_key == nullptr) return fail(F, P7_R_PRIVATE_KEY_NOT_FOUND);
            if (!cms_open_chain(cms, F, cms->recipient_key, cms->recipient_cert)) return 0;
            break;
        default:
            return fail(F, P7_R_WRONG_PKCS7_TYPE);
    }
    return CMS_save_content(cms) ? 1 : fail(F, P7_R_INTERNAL_ERROR);
}

int CMS_digested_verify(CMS* cms) {
    constexpr int F = P7_F_CMS_SAVE_CONTENT;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->writing || cms->type != NID_DIGESTED) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    if (!cms_open_chain(cms, F, nullptr, nullptr) || !CMS_save_content(cms)) return 0;
    // The digest the chain computed over the content against the message's.
    const PKCS7_DIGEST* d = cms->message->d.digest;
    EVP_MD_CTX* found = p7_find_digest(cms->data, p7_algor_nid(d->md), F);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    const bool ok = found != nullptr && ctx && EVP_MD_CTX_copy_ex(ctx.get(), found) == 1 &&
                    EVP_DigestFinal_ex(ctx.get(), md, &len) == 1 && d->digest != nullptr &&
                    ASN1_STRING_length(d->digest) == static_cast<int>(len) &&
                    CRYPTO_memcmp(ASN1_STRING_get0_data(d->digest), md, len) == 0;
    if (!ok) {
        drop_content(cms);
        return fail(F, P7_R_DIGEST_FAILURE);
    }
    return 1;
}

int CMS_uncompress(CMS* cms) {
    constexpr int F = P7_F_CMS_UNCOMPRESS;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->writing || cms->type != NID_COMPRESSED_DATA) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    if (!cms_open_chain(cms, F, nullptr, nullptr)) return 0;
    return CMS_save_content(cms) ? 1 : fail(F, P7_R_INTERNAL_ERROR);
}

int cms_open_signed(CMS* cms, int func) {
    if (!cms_open_chain(cms, func, nullptr, nullptr)) return 0;
    return CMS_save_content(cms) ? 1 : fail(func, P7_R_INTERNAL_ERROR);
}

BUFFER* CMS_get_content(CMS* cms) {
    constexpr int F = P7_F_CMS_GET_CONTENT;
    if (cms == nullptr || cms->writing) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (!cms->content_saved) {
        // Data, and signed data that carries its content, need no key.
        const bool open = cms->type == NID_DATA
                              ? save_octets(cms)
                              : cms->type == NID_SIGNED && !cms->detached &&
                                    cms_open_signed(cms, F);
        if (!open) {
            P7_ERR(F, P7_R_WRONG_PKCS7_TYPE);
            return nullptr;
        }
    }
    char* data = nullptr;
    const long n = BIO_get_mem_data(cms->content, &data);
    if (n >= INT_MAX) {
        P7_ERR(F, P7_R_CONTENT_TOO_LARGE);
        return nullptr;
    }
    BUFFER* b = n > 0 ? BUFFER_fill(data, static_cast<int>(n)) : BUFFER_new();
    if (b == nullptr) P7_ERR(F, P7_R_MALLOC);
    return b;
}

}  // namespace cadb
