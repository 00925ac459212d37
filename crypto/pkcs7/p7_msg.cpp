// The message record: construction, release and the setters the message
// context builds messages with.
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/pkcs7/pkcs7.h"

namespace cadb {
namespace {

void free_recips(STACK_OF(P7_RECIP_INFO) * s) {
    sk_P7_RECIP_INFO_pop_free(s, PKCS7_RECIP_INFO_free);
}
void free_signers(STACK_OF(P7_SIGNER_INFO) * s) {
    sk_P7_SIGNER_INFO_pop_free(s, PKCS7_SIGNER_INFO_free);
}

PKCS7_ENC_CONTENT* enc_content_new() {
    auto* e = static_cast<PKCS7_ENC_CONTENT*>(OPENSSL_zalloc(sizeof(PKCS7_ENC_CONTENT)));
    if (e == nullptr) return nullptr;
    e->content_type = OBJ_dup(OBJ_nid2obj(NID_pkcs7_data));
    e->algorithm = X509_ALGOR_new();
    if (e->content_type == nullptr || e->algorithm == nullptr) {
        p7_enc_content_free(e);
        return nullptr;
    }
    return e;
}

ASN1_INTEGER* version_new(long v) {
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    if (i != nullptr && !ASN1_INTEGER_set(i, v)) {
        ASN1_INTEGER_free(i);
        return nullptr;
    }
    return i;
}

template <typename T>
T* zalloc() {
    return static_cast<T*>(OPENSSL_zalloc(sizeof(T)));
}

bool make_content(PKCS7* p7, int nid) {
    switch (nid) {
        case NID_pkcs7_data:
        case NID_CMC_PKI_DATA:
        case NID_CMC_RESPONSE_BODY:
        case NID_TST_INFO:
            return (p7->d.data = ASN1_OCTET_STRING_new()) != nullptr;
        case NID_pkcs7_signed: {
            auto* s = p7->d.sign = zalloc<PKCS7_SIGNED>();
            return s != nullptr && (s->version = version_new(1)) != nullptr &&
                   (s->md_algs = sk_X509_ALGOR_new_null()) != nullptr &&
                   (s->signer_info = sk_P7_SIGNER_INFO_new_null()) != nullptr;
        }
        case NID_pkcs7_enveloped: {
            auto* e = p7->d.enveloped = zalloc<PKCS7_ENVELOPE>();
            return e != nullptr && (e->version = version_new(0)) != nullptr &&
                   (e->recipientinfo = sk_P7_RECIP_INFO_new_null()) != nullptr &&
                   (e->enc_data = enc_content_new()) != nullptr;
        }
        case NID_pkcs7_signedAndEnveloped: {
            auto* e = p7->d.signed_and_enveloped = zalloc<PKCS7_SIGN_ENVELOPE>();
            return e != nullptr && (e->version = version_new(1)) != nullptr &&
                   (e->recipientinfo = sk_P7_RECIP_INFO_new_null()) != nullptr &&
                   (e->md_algs = sk_X509_ALGOR_new_null()) != nullptr &&
                   (e->signer_info = sk_P7_SIGNER_INFO_new_null()) != nullptr &&
                   (e->enc_data = enc_content_new()) != nullptr;
        }
        case NID_pkcs7_digest: {
            auto* g = p7->d.digest = zalloc<PKCS7_DIGEST>();
            return g != nullptr && (g->version = version_new(0)) != nullptr &&
                   (g->md = X509_ALGOR_new()) != nullptr &&
                   (g->digest = ASN1_OCTET_STRING_new()) != nullptr;
        }
        case NID_pkcs7_encrypted: {
            p7->d.encrypted = new (std::nothrow) PKCS7_ENCRYPT{};
            auto* e = p7->d.encrypted;
            return e != nullptr && (e->version = version_new(0)) != nullptr &&
                   (e->enc_data = enc_content_new()) != nullptr;
        }
        case NID_COMPRESSED_DATA: {
            auto* c = p7->d.compressed = PKCS7_COMPRESSED_new();
            return c != nullptr && ASN1_INTEGER_set(c->version, 0) &&
                   X509_ALGOR_set0(c->algorithm, OBJ_dup(OBJ_nid2obj(NID_ZLIB_COMPRESS)),
                                   V_ASN1_UNDEF, nullptr) &&
                   (c->content->type = OBJ_dup(OBJ_nid2obj(NID_pkcs7_data))) != nullptr;
        }
        default:
            return false;
    }
}

STACK_OF(X509) * *cert_slot(PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            return &p7->d.sign->cert;
        case NID_pkcs7_signedAndEnveloped:
            return &p7->d.signed_and_enveloped->cert;
        default:
            return nullptr;
    }
}

STACK_OF(X509_ALGOR) * md_algs_of(PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            return p7->d.sign->md_algs;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped->md_algs;
        default:
            return nullptr;
    }
}

}  // namespace

void p7_enc_content_free(PKCS7_ENC_CONTENT* e) {
    if (e == nullptr) return;
    ASN1_OBJECT_free(e->content_type);
    X509_ALGOR_free(e->algorithm);
    ASN1_OCTET_STRING_free(e->enc_data);
    OPENSSL_free(e);
}

void p7_free_content(PKCS7* p7) {
    // A type kept in the second slot carries its content as octets,
    // whatever the type names.
    const int nid = p7->type != nullptr ? PKCS7_type_nid(p7) : NID_pkcs7_data;
    switch (nid) {
        case NID_pkcs7_data:
        case NID_CMC_PKI_DATA:
        case NID_CMC_RESPONSE_BODY:
        case NID_TST_INFO:
            // Content may have been read out of decrypted data: it goes as
            // the kept encoding it was read from goes, wiped.
            ASN1_STRING_clear_free(p7->d.data);
            break;
        case NID_pkcs7_signed:
            if (auto* s = p7->d.sign) {
                ASN1_INTEGER_free(s->version);
                sk_X509_ALGOR_pop_free(s->md_algs, X509_ALGOR_free);
                sk_X509_pop_free(s->cert, X509_free);
                sk_X509_CRL_pop_free(s->crl, X509_CRL_free);
                free_signers(s->signer_info);
                PKCS7_free(s->contents);
                OPENSSL_free(s);
            }
            break;
        case NID_pkcs7_enveloped:
            if (auto* e = p7->d.enveloped) {
                ASN1_INTEGER_free(e->version);
                free_recips(e->recipientinfo);
                p7_enc_content_free(e->enc_data);
                OPENSSL_free(e);
            }
            break;
        case NID_pkcs7_signedAndEnveloped:
            if (auto* e = p7->d.signed_and_enveloped) {
                ASN1_INTEGER_free(e->version);
                free_recips(e->recipientinfo);
                sk_X509_ALGOR_pop_free(e->md_algs, X509_ALGOR_free);
                p7_enc_content_free(e->enc_data);
                sk_X509_pop_free(e->cert, X509_free);
                sk_X509_CRL_pop_free(e->crl, X509_CRL_free);
                free_signers(e->signer_info);
                OPENSSL_free(e);
            }
            break;
        case NID_pkcs7_digest:
            if (auto* g = p7->d.digest) {
                ASN1_INTEGER_free(g->version);
                X509_ALGOR_free(g->md);
                PKCS7_free(g->contents);
                ASN1_OCTET_STRING_free(g->digest);
                OPENSSL_free(g);
            }
            break;
        case NID_pkcs7_encrypted:
            if (auto* e = p7->d.encrypted) {
                ASN1_INTEGER_free(e->version);
                p7_enc_content_free(e->enc_data);
                OPENSSL_cleanse(e->key.data(), e->key.size());
                delete e;
            }
            break;
        case NID_COMPRESSED_DATA:
            PKCS7_COMPRESSED_free(p7->d.compressed);
            break;
        default:
            // A content type the engine does not know is kept as octets.
            ASN1_STRING_clear_free(p7->d.data);
            break;
    }
    p7->d.data = nullptr;
}

PKCS7* PKCS7_new() {
    PKCS7* p7 = new (std::nothrow) PKCS7;
    if (p7 == nullptr) P7_ERR(P7_F_PKCS7_SET_TYPE, P7_R_MALLOC);
    return p7;
}

void PKCS7_free(PKCS7* p7) {
    if (p7 == nullptr) return;
    p7_free_content(p7);
    ASN1_OBJECT_free(p7->type);
    ASN1_OBJECT_free(p7->type2);
    delete p7;
}

int PKCS7_type_nid(const PKCS7* p7) {
    if (p7 == nullptr) return 0;
    const ASN1_OBJECT* t = p7->type != nullptr ? p7->type : p7->type2;
    return t != nullptr ? cadb::OBJ_obj2nid(t) : 0;
}

void PKCS7_modified(PKCS7* p7) {
    if (p7 == nullptr) return;
    p7->asn1.clear();
    PKCS7* inner = nullptr;
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            inner = p7->d.sign ? p7->d.sign->contents : nullptr;
            break;
        case NID_pkcs7_digest:
            inner = p7->d.digest ? p7->d.digest->contents : nullptr;
            break;
        default:
            break;
    }
    PKCS7_modified(inner);
}

int PKCS7_set_type(PKCS7* p7, int nid) {
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(nid);
    if (p7 == nullptr || obj == nullptr) {
        P7_ERR(P7_F_PKCS7_SET_TYPE, P7_R_UNSUPPORTED_CONTENT_TYPE);
        return 0;
    }
    p7_free_content(p7);
    ASN1_OBJECT_free(p7->type);
    ASN1_OBJECT_free(p7->type2);
    p7->type2 = nullptr;
    p7->type = OBJ_dup(obj);
    PKCS7_modified(p7);
    if (p7->type == nullptr || !make_content(p7, nid)) {
        p7_free_content(p7);
        P7_ERR(P7_F_PKCS7_SET_TYPE, nid >= NID_pkcs7_data && nid <= NID_pkcs7_encrypted
                                        ? P7_R_MALLOC
                                        : P7_R_UNSUPPORTED_CONTENT_TYPE);
        return 0;
    }
    return 1;
}

int PKCS7_set_content(PKCS7* p7, PKCS7* inner) {
    PKCS7** slot = nullptr;
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            slot = &p7->d.sign->contents;
            break;
        case NID_pkcs7_digest:
            slot = &p7->d.digest->contents;
            break;
        default:
            P7_ERR(P7_F_PKCS7_SET_CONTENT, P7_R_WRONG_PKCS7_TYPE);
            return 0;
    }
    if (*slot != inner) PKCS7_free(*slot);
    *slot = inner;
    PKCS7_modified(p7);
    return 1;
}

int PKCS7_content_new(PKCS7* p7, int nid) {
    PKCS7* inner = PKCS7_new();
    if (inner == nullptr || !PKCS7_set_type(inner, nid) || !PKCS7_set_content(p7, inner)) {
        PKCS7_free(inner);
        return 0;
    }
    return 1;
}

int PKCS7_set_octets(PKCS7* p7, const unsigned char* bytes, int len) {
    if (!p7_is_octets(PKCS7_type_nid(p7)) || p7->d.data == nullptr || len < 0 ||
        !ASN1_OCTET_STRING_set(p7->d.data, bytes, len)) {
        P7_ERR(P7_F_PKCS7_SET_CONTENT, P7_R_WRONG_PKCS7_TYPE);
        return 0;
    }
    PKCS7_modified(p7);
    return 1;
}

const ASN1_OCTET_STRING* PKCS7_get_octets(const PKCS7* p7) {
    if (p7 != nullptr && p7->type == nullptr) return p7->d.data;
    return p7_is_octets(PKCS7_type_nid(p7)) ? p7->d.data : nullptr;
}

void PKCS7_set_detached(PKCS7* p7, int detached) {
    if (p7 == nullptr) return;
    p7->detached = detached != 0;
    PKCS7_modified(p7);
}

STACK_OF(P7_SIGNER_INFO) * PKCS7_get_signer_info(const PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            return p7->d.sign->signer_info;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped->signer_info;
        default:
            return nullptr;
    }
}

STACK_OF(X509) * PKCS7_get_certificates(const PKCS7* p7) {
    auto** slot = cert_slot(const_cast<PKCS7*>(p7));
    return slot != nullptr ? *slot : nullptr;
}

STACK_OF(P7_RECIP_INFO) * PKCS7_get_recipient_info(const PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_enveloped:
            return p7->d.enveloped->recipientinfo;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped->recipientinfo;
        default:
            return nullptr;
    }
}

PKCS7_SIGNER_INFO* PKCS7_add_signature(PKCS7* p7, X509* cert, EVP_PKEY* key, const EVP_MD* md) {
    constexpr int F = P7_F_PKCS7_ADD_SIGNATURE;
    STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
    STACK_OF(X509_ALGOR)* algs = md_algs_of(p7);
    if (signers == nullptr || algs == nullptr || cert == nullptr || key == nullptr ||
        md == nullptr) {
        P7_ERR(F, P7_R_WRONG_PKCS7_TYPE);
        return nullptr;
    }
    const int md_nid = p7_digest_nid_of(md);
    const int sig_nid = p7_signature_alg_nid(key, md_nid);
    P7Ptr<PKCS7_SIGNER_INFO> si(PKCS7_SIGNER_INFO_new(), {ASN1_ITEM_rptr(PKCS7_SIGNER_INFO)});
    if (!si || md_nid == 0 || sig_nid == 0) {
        P7_ERR(F, md_nid == 0 ? P7_R_UNKNOWN_DIGEST_TYPE : P7_R_UNSUPPORTED_KEY_TYPE);
        return nullptr;
    }
    si->issuer_and_serial = PKCS7_ISSUER_AND_SERIAL_new();
    const int params = sig_nid == NID_rsaEncryption ? V_ASN1_NULL : V_ASN1_UNDEF;
    if (si->issuer_and_serial == nullptr || !ASN1_INTEGER_set(si->version, 1) ||
        !X509_NAME_set(&si->issuer_and_serial->issuer, X509_get_issuer_name(cert)) ||
        (ASN1_INTEGER_free(si->issuer_and_serial->serial),
         (si->issuer_and_serial->serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert))) ==
             nullptr) ||
        !X509_ALGOR_set0(si->digest_alg, OBJ_dup(cadb::OBJ_nid2obj(md_nid)), V_ASN1_NULL,
                         nullptr) ||
        !X509_ALGOR_set0(si->digest_enc_alg, OBJ_dup(cadb::OBJ_nid2obj(sig_nid)), params,
                         nullptr) ||
        (si->auth_attr = sk_X509_ATTRIBUTE_new_null()) == nullptr) {
        P7_ERR(F, P7_R_MALLOC);
        return nullptr;
    }
    // The digest algorithm joins the message's list once.
    bool listed = false;
    for (int i = 0; i < sk_X509_ALGOR_num(algs); ++i) {
        const ASN1_OBJECT* o = nullptr;
        X509_ALGOR_get0(&o, nullptr, nullptr, sk_X509_ALGOR_value(algs, i));
        if (cadb::OBJ_obj2nid(o) == md_nid) listed = true;
    }
    if (!listed) {
        X509_ALGOR* a = X509_ALGOR_dup(si->digest_alg);
        if (a == nullptr || !sk_X509_ALGOR_push(algs, a)) {
            X509_ALGOR_free(a);
            P7_ERR(F, P7_R_MALLOC);
            return nullptr;
        }
    }
    if (!EVP_PKEY_up_ref(key)) {
        P7_ERR(F, P7_R_MALLOC);
        return nullptr;
    }
    si->pkey = key;
    if (!sk_P7_SIGNER_INFO_push(signers, si.get())) {
        P7_ERR(F, P7_R_MALLOC);
        return nullptr;
    }
    PKCS7_modified(p7);
    return si.release();
}

int PKCS7_add_certificate(PKCS7* p7, X509* cert) {
    auto** slot = cert_slot(p7);
    if (slot == nullptr || cert == nullptr) {
        P7_ERR(P7_F_PKCS7_ADD_SIGNATURE, P7_R_WRONG_PKCS7_TYPE);
        return 0;
    }
    if (*slot == nullptr) *slot = sk_X509_new_null();
    if (*slot == nullptr || !X509_up_ref(cert)) return 0;
    if (!sk_X509_push(*slot, cert)) {
        X509_free(cert);
        return 0;
    }
    PKCS7_modified(p7);
    return 1;
}

int PKCS7_add_crl(PKCS7* p7, X509_CRL* crl) {
    STACK_OF(X509_CRL)** slot = nullptr;
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed:
            slot = &p7->d.sign->crl;
            break;
        case NID_pkcs7_signedAndEnveloped:
            slot = &p7->d.signed_and_enveloped->crl;
            break;
        default:
            P7_ERR(P7_F_PKCS7_ADD_SIGNATURE, P7_R_WRONG_PKCS7_TYPE);
            return 0;
    }
    if (crl == nullptr) return 0;
    if (*slot == nullptr) *slot = sk_X509_CRL_new_null();
    if (*slot == nullptr || !X509_CRL_up_ref(crl)) return 0;
    if (!sk_X509_CRL_push(*slot, crl)) {
        X509_CRL_free(crl);
        return 0;
    }
    PKCS7_modified(p7);
    return 1;
}

int PKCS7_add_recipient_info(PKCS7* p7, PKCS7_RECIP_INFO* ri) {
    STACK_OF(P7_RECIP_INFO)* s = PKCS7_get_recipient_info(p7);
    if (s == nullptr || ri == nullptr || !sk_P7_RECIP_INFO_push(s, ri)) {
        P7_ERR(P7_F_PKCS7_ADD_RECIPIENT, P7_R_WRONG_PKCS7_TYPE);
        return 0;
    }
    PKCS7_modified(p7);
    return 1;
}

PKCS7_RECIP_INFO* PKCS7_add_recipient(PKCS7* p7, X509* cert) {
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    if (ri == nullptr || !PKCS7_RECIP_INFO_set(ri, cert) || !PKCS7_add_recipient_info(p7, ri)) {
        PKCS7_RECIP_INFO_free(ri);
        return nullptr;
    }
    return ri;
}

int PKCS7_set_cipher(PKCS7* p7, const EVP_CIPHER* cipher) {
    PKCS7_ENC_CONTENT* ec = p7_enc_content(p7);
    if (ec == nullptr || cipher == nullptr) {
        P7_ERR(P7_F_PKCS7_SET_CIPHER, P7_R_WRONG_PKCS7_TYPE);
        return 0;
    }
    ec->cipher = cipher;
    PKCS7_modified(p7);
    return 1;
}

int PKCS7_set_digest(PKCS7* p7, const EVP_MD* md) {
    const int nid = p7_digest_nid_of(md);
    if (PKCS7_type_nid(p7) != NID_pkcs7_digest || nid == 0 ||
        !X509_ALGOR_set0(p7->d.digest->md, OBJ_dup(cadb::OBJ_nid2obj(nid)), V_ASN1_NULL, nullptr)) {
        P7_ERR(P7_F_PKCS7_SET_TYPE, P7_R_UNKNOWN_DIGEST_TYPE);
        return 0;
    }
    PKCS7_modified(p7);
    return 1;
}

int PKCS7_encrypted_set_key(PKCS7* p7, const unsigned char* key, int len) {
    if (PKCS7_type_nid(p7) != NID_pkcs7_encrypted || key == nullptr || len <= 0 ||
        len > EVP_MAX_KEY_LENGTH) {
        P7_ERR(P7_F_PKCS7_SET_CIPHER, ERR_R_NULL_PARAMETER);
        return 0;
    }
    auto& k = p7->d.encrypted->key;
    OPENSSL_cleanse(k.data(), k.size());
    k.assign(key, key + len);
    return 1;
}

PKCS7_ENC_CONTENT* p7_enc_content(PKCS7* p7) {
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_enveloped:
            return p7->d.enveloped->enc_data;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped->enc_data;
        case NID_pkcs7_encrypted:
            return p7->d.encrypted->enc_data;
        default:
            return nullptr;
    }
}

bool p7_is_octets(int nid) {
    return nid == NID_pkcs7_data || nid == NID_CMC_PKI_DATA || nid == NID_CMC_RESPONSE_BODY ||
           nid == NID_TST_INFO;
}

bool p7_is_structured(const PKCS7* p7) {
    // With the type in the second slot the content is octets already.
    return p7 != nullptr && p7->type != nullptr && !(p7->flags & PKCS7_FLAG_OCTETS) &&
           !p7_is_octets(PKCS7_type_nid(p7));
}

}  // namespace cadb
