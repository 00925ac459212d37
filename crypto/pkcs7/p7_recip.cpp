#include "crypto/pkcs7/p7_recip.h"

#include <openssl/x509.h>

#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_err.h"

namespace cadb {
namespace {

constexpr unsigned char kTagAgree = 0xA1;  // [1], constructed

template <typename T>
T* item_new(const ASN1_ITEM* it) {
    return reinterpret_cast<T*>(ASN1_item_new(it));
}

// Moves *from into *to, freeing what *to held.
template <typename T>
void take(T*& to, T*& from, void (*free_fn)(T*)) {
    free_fn(to);
    to = from;
    from = nullptr;
}

bool version_fits(const ASN1_INTEGER* v) {
    return v != nullptr && ASN1_STRING_length(v) <= static_cast<int>(sizeof(long));
}

void free_pair_stack(STACK_OF(ASN1_PAIR) * s) { sk_ASN1_PAIR_pop_free(s, ASN1_PAIR_free); }

PKCS7_RECIP_INFO* from_kari(P7_KARI* k) {
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    if (ri == nullptr) return nullptr;
    take(ri->version, k->version, ASN1_INTEGER_free);
    take(ri->originator, k->originator, PKCS7_ORIGINATOR_KEY_free);
    ri->ukm = k->ukm;
    k->ukm = nullptr;
    take(ri->key_enc_algor, k->key_enc_algor, X509_ALGOR_free);
    ri->rek = k->rek;
    k->rek = nullptr;
    ri->form = RECIP_FORM_AGREE;
    return ri;
}

// A view of the record as the template of its form sees it (members are
// borrowed, never freed through the view). An empty list of recipient
// encrypted keys is left out rather than written as an empty SEQUENCE.
P7_KARI kari_view(const PKCS7_RECIP_INFO* ri) {
    STACK_OF(ASN1_PAIR)* rek = sk_ASN1_PAIR_num(ri->rek) > 0 ? ri->rek : nullptr;
    return P7_KARI{ri->version, ri->originator, ri->ukm, ri->key_enc_algor, rek};
}

bool implicitly_tagged(const ASN1_ITEM* it) {
    return it == ASN1_ITEM_rptr(P7_KARI_TAGGED_IMP) || it == ASN1_ITEM_rptr(P7_KARI_TAGGED_IMP_OEXP);
}

}  // namespace

PKCS7_RECIP_INFO* PKCS7_RECIP_INFO_new() {
    auto* ri = static_cast<PKCS7_RECIP_INFO*>(OPENSSL_zalloc(sizeof(PKCS7_RECIP_INFO)));
    if (ri == nullptr) {
        P7_ERR(P7_F_PKCS7_RECIP_INFO_NEW, P7_R_MALLOC);
        return nullptr;
    }
    ri->version = ASN1_INTEGER_new();
    ri->issuer_and_serial = PKCS7_ISSUER_AND_SERIAL_new();
    ri->key_enc_algor = X509_ALGOR_new();
    ri->enc_key = ASN1_OCTET_STRING_new();
    if (ri->version == nullptr || ri->issuer_and_serial == nullptr ||
        ri->key_enc_algor == nullptr || ri->enc_key == nullptr ||
        !ASN1_INTEGER_set(ri->version, 0)) {
        PKCS7_RECIP_INFO_free(ri);
        P7_ERR(P7_F_PKCS7_RECIP_INFO_NEW, P7_R_MALLOC);
        return nullptr;
    }
    return ri;
}

void PKCS7_RECIP_INFO_free(PKCS7_RECIP_INFO* ri) {
    if (ri == nullptr) return;
    ASN1_INTEGER_free(ri->version);
    PKCS7_ISSUER_AND_SERIAL_free(ri->issuer_and_serial);
    X509_ALGOR_free(ri->key_enc_algor);
    ASN1_OCTET_STRING_free(ri->enc_key);
    X509_free(ri->cert);
    PKCS7_ORIGINATOR_KEY_free(ri->originator);
    ASN1_OCTET_STRING_free(ri->ukm);
    free_pair_stack(ri->rek);
    OPENSSL_free(ri);
}

int i2d_PKCS7_RECIP_INFO(const PKCS7_RECIP_INFO* ri, unsigned char** out) {
    if (ri == nullptr || ri->version == nullptr) return -1;
    if (ASN1_INTEGER_get(ri->version) != 3) {
        P7_KTRI t{ri->version, ri->issuer_and_serial, ri->key_enc_algor, ri->enc_key};
        return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(&t), out, ASN1_ITEM_rptr(P7_KTRI));
    }
    P7_KARI k = kari_view(ri);
    // The library's key-agreement form departs from RFC 5652 (which tags
    // KeyAgreeRecipientInfo [1] IMPLICIT) by an explicit [1].
    const ASN1_ITEM* it = ri->form == RECIP_FORM_AGREE ? ASN1_ITEM_rptr(P7_KARI_TAGGED_EXP)
                                                       : ASN1_ITEM_rptr(P7_KARI_TAGGED_IMP);
    P7_KARI* kp = &k;
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(kp), out, it);
}

PKCS7_RECIP_INFO* d2i_PKCS7_RECIP_INFO(PKCS7_RECIP_INFO** ri, const unsigned char** in, long len) {
    constexpr int F = P7_F_D2I_PKCS7_RECIP_INFO;
    if (in == nullptr || *in == nullptr || len <= 0) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    PKCS7_RECIP_INFO* got = nullptr;
    const unsigned char* p = *in;
    if ((*in)[0] == kTagAgree) {
        // Explicit tagging puts a SEQUENCE right after the [1] header; the
        // originatorKey inside may be tagged either way.
        const ASN1_ITEM* forms[] = {
            ASN1_ITEM_rptr(P7_KARI_TAGGED_EXP), ASN1_ITEM_rptr(P7_KARI_TAGGED_EXP_OIMP),
            ASN1_ITEM_rptr(P7_KARI_TAGGED_IMP), ASN1_ITEM_rptr(P7_KARI_TAGGED_IMP_OEXP)};
        for (const ASN1_ITEM* it : forms) {
            p = *in;
            P7_KARI* k = reinterpret_cast<P7_KARI*>(ASN1_item_d2i(nullptr, &p, len, it));
            if (k == nullptr) continue;
            got = from_kari(k);
            // Implicit tagging is how forms 0 and 2 write the record: it is
            // read back as form 0, so the content key is taken with the
            // derivation it was made with (as form 1 it could not be).
            if (got != nullptr && implicitly_tagged(it))
                got->form = RECIP_FORM_TRANSPORT;
            ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(k), ASN1_ITEM_rptr(P7_KARI_EXP));
            break;
        }
        ::ERR_clear_error();
    } else {
        P7_KTRI* t =
            reinterpret_cast<P7_KTRI*>(ASN1_item_d2i(nullptr, &p, len, ASN1_ITEM_rptr(P7_KTRI)));
        if (t != nullptr && (got = PKCS7_RECIP_INFO_new()) != nullptr) {
            take(got->version, t->version, ASN1_INTEGER_free);
            take(got->issuer_and_serial, t->issuer_and_serial, PKCS7_ISSUER_AND_SERIAL_free);
            take(got->key_enc_algor, t->key_enc_algor, X509_ALGOR_free);
            take(got->enc_key, t->enc_key, ASN1_OCTET_STRING_free);
        }
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(t), ASN1_ITEM_rptr(P7_KTRI));
    }
    // The version picks the layout a record is written in (3 key agreement,
    // any other key transport, as RFC 5652 numbers them): a record whose
    // version names the other layout could not be written back, nor read
    // as a number one that is longer than any.
    if (got != nullptr && (!version_fits(got->version) ||
                           (ASN1_INTEGER_get(got->version) == 3) != ((*in)[0] == kTagAgree))) {
        PKCS7_RECIP_INFO_free(got);
        got = nullptr;
    }
    if (got == nullptr) {
        CADB_ERR(ERR_LIB_ASN1_, F, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    *in = p;
    if (ri != nullptr) {
        PKCS7_RECIP_INFO_free(*ri);
        *ri = got;
    }
    return got;
}

int i2d_PKCS7_RECIP_INFO_compact(const PKCS7_RECIP_INFO* ri, unsigned char** out) {
    if (ri == nullptr) return -1;
    P7_COMPACT c{ri->version, ri->originator, ri->ukm, ri->key_enc_algor, ri->enc_key};
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(&c), out,
                         ri->originator != nullptr ? ASN1_ITEM_rptr(P7_COMPACT_IMP)
                                                   : ASN1_ITEM_rptr(P7_COMPACT_NO_ORIGINATOR));
}

PKCS7_RECIP_INFO* d2i_PKCS7_RECIP_INFO_compact(const unsigned char* in, long len) {
    for (const ASN1_ITEM* it : {ASN1_ITEM_rptr(P7_COMPACT_IMP), ASN1_ITEM_rptr(P7_COMPACT_EXP)}) {
        const unsigned char* p = in;
        P7_COMPACT* c = reinterpret_cast<P7_COMPACT*>(ASN1_item_d2i(nullptr, &p, len, it));
        if (c == nullptr) continue;
        PKCS7_RECIP_INFO* ri =
            p == in + len && version_fits(c->version) ? PKCS7_RECIP_INFO_new() : nullptr;
        if (ri != nullptr) {
            take(ri->version, c->version, ASN1_INTEGER_free);
            ri->originator = c->originator;
            c->originator = nullptr;
            ri->ukm = c->ukm;
            c->ukm = nullptr;
            take(ri->key_enc_algor, c->key_enc_algor, X509_ALGOR_free);
            take(ri->enc_key, c->enc_key, ASN1_OCTET_STRING_free);
            ri->form = RECIP_FORM_COMPACT;
        }
        ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(c), it);
        ::ERR_clear_error();
        return ri;
    }
    ::ERR_clear_error();
    return nullptr;
}

int PKCS7_RECIP_INFO_set(PKCS7_RECIP_INFO* ri, X509* cert) {
    if (ri == nullptr || cert == nullptr) {
        P7_ERR(P7_F_PKCS7_ADD_RECIPIENT, ERR_R_NULL_PARAMETER);
        return 0;
    }
    X509_NAME* issuer = X509_NAME_dup(X509_get_issuer_name(cert));
    ASN1_INTEGER* serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert));
    if (issuer == nullptr || serial == nullptr || !X509_up_ref(cert)) {
        X509_NAME_free(issuer);
        ASN1_INTEGER_free(serial);
        P7_ERR(P7_F_PKCS7_ADD_RECIPIENT, P7_R_MALLOC);
        return 0;
    }
    X509_NAME_free(ri->issuer_and_serial->issuer);
    ri->issuer_and_serial->issuer = issuer;
    ASN1_INTEGER_free(ri->issuer_and_serial->serial);
    ri->issuer_and_serial->serial = serial;
    X509_free(ri->cert);
    ri->cert = cert;
    // Key transport names the recipient key's algorithm; agreement
    // recipients get theirs when the content key is encrypted.
    X509_ALGOR* key_alg = nullptr;
    X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &key_alg, X509_get_X509_PUBKEY(cert));
    if (key_alg != nullptr) {
        X509_ALGOR* copy = X509_ALGOR_dup(key_alg);
        if (copy == nullptr) {
            P7_ERR(P7_F_PKCS7_ADD_RECIPIENT, P7_R_MALLOC);
            return 0;
        }
        X509_ALGOR_free(ri->key_enc_algor);
        ri->key_enc_algor = copy;
    }
    return 1;
}

int X509_ALGOR_set_nested(X509_ALGOR* alg, int wrap_nid) {
    const ASN1_OBJECT* obj = OBJ_nid2obj(wrap_nid);
    X509_ALGOR* wrap = X509_ALGOR_new();
    if (alg == nullptr || obj == nullptr || wrap == nullptr ||
        !X509_ALGOR_set0(wrap, OBJ_dup(obj), V_ASN1_NULL, nullptr)) {
        X509_ALGOR_free(wrap);
        return 0;
    }
    ASN1_STRING* seq = nullptr;
    const bool ok = ASN1_item_pack(wrap, ASN1_ITEM_rptr(X509_ALGOR), &seq) != nullptr;
    X509_ALGOR_free(wrap);
    if (!ok) return 0;
    const ASN1_OBJECT* own = nullptr;
    X509_ALGOR_get0(&own, nullptr, nullptr, alg);
    ASN1_OBJECT* own_copy = own != nullptr ? OBJ_dup(own) : nullptr;
    if (own != nullptr && own_copy == nullptr) {
        ASN1_STRING_free(seq);
        return 0;
    }
    if (!X509_ALGOR_set0(alg, own_copy, V_ASN1_SEQUENCE, seq)) {
        ASN1_OBJECT_free(own_copy);
        ASN1_STRING_free(seq);
        return 0;
    }
    return 1;
}

int X509_ALGOR_get_nested_nid(const X509_ALGOR* alg) {
    if (alg == nullptr) return 0;
    int type = 0;
    const void* value = nullptr;
    X509_ALGOR_get0(nullptr, &type, &value, alg);
    if (type != V_ASN1_SEQUENCE || value == nullptr) return 0;
    X509_ALGOR* wrap = reinterpret_cast<X509_ALGOR*>(
        ASN1_item_unpack(static_cast<const ASN1_STRING*>(value), ASN1_ITEM_rptr(X509_ALGOR)));
    if (wrap == nullptr) {
        ::ERR_clear_error();
        return 0;
    }
    const ASN1_OBJECT* obj = nullptr;
    X509_ALGOR_get0(&obj, nullptr, nullptr, wrap);
    const int nid = obj != nullptr ? cadb::OBJ_obj2nid(obj) : 0;
    X509_ALGOR_free(wrap);
    return nid;
}

}  // namespace cadb
