// The message context: its records, its lifecycle and the choices made
// before the content is written.
#include <openssl/buffer.h>
#include <openssl/crypto.h>
#include <openssl/x509.h>

#include <mutex>

#include "crypto/cms/cms_local.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
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

}  // namespace

CMS_SIGNATURE* CMS_signature_new() {
    auto* s = static_cast<CMS_SIGNATURE*>(OPENSSL_zalloc(sizeof(CMS_SIGNATURE)));
    if (s == nullptr) {
        P7_ERR(P7_F_CMS_SIGNATURE_NEW, P7_R_MALLOC);
        return nullptr;
    }
    s->chain_result = -1;
    s->signature_result = -1;
    return s;
}

void CMS_signature_free(CMS_SIGNATURE* s) {
    if (s == nullptr) return;
    X509_NAME_free(s->issuer_name);
    ATTRIBUTE_free(s->issuer);
    ASN1_INTEGER_free(s->serial);
    BUFFER_free(s->serial_bytes);
    ASN1_OCTET_STRING_free(s->key_id);
    BUFFER_free(s->key_id_bytes);
    OPENSSL_free(s->signing_time);
    BUFFER_free(s->text);
    CERT_free(s->cert);
    X509_VERIFY_ERROR_list_free(s->errors);
    sk_CMS_SIGNATURE_pop_free(s->countersignatures, CMS_signature_free);
    OPENSSL_free(s);
}

CMS_RECIPIENT* CMS_recipient_new() {
    auto* r = static_cast<CMS_RECIPIENT*>(OPENSSL_zalloc(sizeof(CMS_RECIPIENT)));
    if (r == nullptr) P7_ERR(P7_F_CMS_RECIPIENT_NEW, P7_R_MALLOC);
    return r;
}

void CMS_recipient_free(CMS_RECIPIENT* r) {
    if (r == nullptr) return;
    ATTRIBUTE_free(r->issuer);
    BUFFER_free(r->serial_bytes);
    X509_NAME_free(r->issuer_name);
    ASN1_INTEGER_free(r->serial);
    OPENSSL_free(r);
}

CMS* CMS_new() {
    auto* cms = static_cast<CMS*>(OPENSSL_zalloc(sizeof(CMS)));
    if (cms == nullptr || (cms->message = PKCS7_new()) == nullptr) {
        OPENSSL_free(cms);
        P7_ERR(P7_F_CMS_NEW, P7_R_MALLOC);
        return nullptr;
    }
    return cms;
}

void cms_close_chain(CMS* cms) {
    BIO_free_all(cms->data);
    cms->data = nullptr;
}

void cms_drop_records(CMS* cms) {
    sk_CMS_SIGNATURE_pop_free(cms->signatures, CMS_signature_free);
    cms->signatures = nullptr;
    sk_CMS_RECIPIENT_pop_free(cms->recipients, CMS_recipient_free);
    cms->recipients = nullptr;
    sk_CERT_pop_free(cms->certificates, CERT_free);
    cms->certificates = nullptr;
    CRL_list_free(cms->crls);
    cms->crls = nullptr;
    cms->certs_only = 0;
}

bool cms_content_is_secret(const CMS* cms) {
    return cms->type == NID_ENVELOPED || cms->type == NID_SIGNED_ENVELOPED ||
           cms->type == NID_ENCRYPTED;
}

void cms_free_content(CMS* cms) {
    if (cms->content == nullptr) return;
    BUF_MEM* m = nullptr;
    BIO_get_mem_ptr(cms->content, &m);
    const bool owned = m != nullptr && !BIO_test_flags(cms->content, BIO_FLAGS_MEM_RDONLY);
    if (cms_content_is_secret(cms) || !owned) {
        if (owned && m->data != nullptr) OPENSSL_cleanse(m->data, m->length);
        BIO_free(cms->content);
    } else {
        // A memory stream wipes its whole buffer when it frees it; clear
        // content is taken out and freed as it is.
        BIO_set_close(cms->content, BIO_NOCLOSE);
        BIO_free(cms->content);
        OPENSSL_free(m->data);
        m->data = nullptr;
        BUF_MEM_free(m);
    }
    cms->content = nullptr;
}

void CMS_free(CMS* cms) {
    if (cms == nullptr) return;
    cms_close_chain(cms);
    cms_free_content(cms);
    // Detached content is the caller's own clear content, fed to be checked.
    BIO_free(cms->detached_content);
    PKCS7_free(cms->message);
    if (cms->store != nullptr) {
        std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(CRYPTO_LOCK_CERT_STORE));
        X509_STORE_free(cms->store);
    }
    cms_drop_records(cms);
    BUFFER_free(cms->read_buffer);
    EVP_PKEY_free(cms->recipient_key);
    X509_free(cms->recipient_cert);
    OPENSSL_free(cms);
}

int CMS_set_type(CMS* cms, int type, int flags) {
    constexpr int F = P7_F_CMS_SET_TYPE;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    PKCS7* p7 = cms->message;
    int cipher = 0;
    switch (type) {
        case NID_SIGNED:
            if (!PKCS7_set_type(p7, type) || !PKCS7_content_new(p7, NID_DATA))
                return fail(F, P7_R_MALLOC);
            if (flags & CMS_OPT_NO_CONTENT) {
                // The content info names data and carries nothing; the
                // engine drops the content of a detached message.
                PKCS7* inner = p7->d.sign->contents;
                ASN1_OCTET_STRING_free(inner->d.data);
                inner->d.data = nullptr;
                PKCS7_set_detached(p7, 1);
            } else if (flags & CMS_OPT_DETACHED) {
                PKCS7_set_detached(p7, 1);
                cms->detached = 1;
            }
            break;
        case NID_ENVELOPED:
        case NID_ENCRYPTED:
            cipher = NID_RUS_GAMMAR;
            if (!PKCS7_set_type(p7, type) || !PKCS7_set_cipher(p7, p7_cipher_by_nid(cipher)))
                return fail(F, P7_R_MALLOC);
            break;
        case NID_DIGESTED:
            if (!PKCS7_set_type(p7, type) || !PKCS7_content_new(p7, NID_DATA) ||
                !PKCS7_set_digest(p7, p7_md_by_nid(NID_RUS_HASH)))
                return fail(F, P7_R_MALLOC);
            break;
        case NID_COMPRESSED_DATA:
            // The engine's record names zlibCompress (262) from the start.
            if (!PKCS7_set_type(p7, type)) return fail(F, P7_R_MALLOC);
            break;
        default:
            return fail(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
    }
    p7->flags |= static_cast<std::uint32_t>(flags);
    cms->type = type;
    cms->inner_type = NID_DATA;
    cms->cipher = cipher;
    cms->writing = 1;
    cms->flags = flags;
    return 1;
}

int CMS_set_content_type(CMS* cms, int nid) {
    constexpr int F = P7_F_CMS_SET_TYPE;
    if (cms == nullptr || !cms->writing) return fail(F, ERR_R_NULL_PARAMETER);
    PKCS7* p7 = cms->message;
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(nid);
    if (obj == nullptr) return fail(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
    switch (cms->type) {
        case NID_SIGNED: {
            const bool empty = p7->d.sign->contents != nullptr &&
                               p7->d.sign->contents->d.data == nullptr;
            if (!PKCS7_content_new(p7, nid)) return fail(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
            PKCS7* inner = p7->d.sign->contents;
            if (empty && p7_is_octets(nid)) {
                ASN1_OCTET_STRING_free(inner->d.data);
                inner->d.data = nullptr;
            }
            // RFC 3852: any encapsulated type other than data makes version 3.
            if (nid != NID_DATA) ASN1_INTEGER_set(p7->d.sign->version, 3);
            break;
        }
        case NID_DIGESTED:
            if (!PKCS7_content_new(p7, nid)) return fail(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
            break;
        case NID_ENVELOPED:
        case NID_ENCRYPTED: {
            PKCS7_ENC_CONTENT* ec = p7_enc_content(p7);
            ASN1_OBJECT* copy = OBJ_dup(obj);
            if (ec == nullptr || copy == nullptr) {
                ASN1_OBJECT_free(copy);
                return fail(F, P7_R_MALLOC);
            }
            ASN1_OBJECT_free(ec->content_type);
            ec->content_type = copy;
            break;
        }
        case NID_COMPRESSED_DATA: {
            ASN1_OBJECT* copy = OBJ_dup(obj);
            if (copy == nullptr) return fail(F, P7_R_MALLOC);
            ASN1_OBJECT_free(p7->d.compressed->content->type);
            p7->d.compressed->content->type = copy;
            break;
        }
        default:
            return fail(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
    }
    PKCS7_modified(p7);
    cms->inner_type = nid;
    return 1;
}

int CMS_set_cipher(CMS* cms, int cipher_nid) {
    constexpr int F = P7_F_CMS_SET_CIPHER;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    const EVP_CIPHER* cipher = p7_cipher_by_nid(cipher_nid);
    if (cipher == nullptr) return fail(F, P7_R_UNSUPPORTED_CIPHER_TYPE);
    if (!PKCS7_set_cipher(cms->message, cipher)) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    cms->cipher = cipher_nid;
    return 1;
}

int CMS_digested_set_md(CMS* cms, int md_nid) {
    constexpr int F = P7_F_CMS_DIGESTED_SET_MD;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    const EVP_MD* md = p7_md_by_nid(md_nid);
    if (md == nullptr) return fail(F, P7_R_UNKNOWN_DIGEST_TYPE);
    if (cms->type != NID_DIGESTED || !PKCS7_set_digest(cms->message, md))
        return fail(F, P7_R_WRONG_PKCS7_TYPE);
    return 1;
}

int CMS_set_recipient_key(CMS* cms, const PKEY* key, const CERT* cert) {
    constexpr int F = P7_F_CMS_DECRYPT;
    if (cms == nullptr || key == nullptr || key->key == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    X509* x = cert != nullptr ? cert->x509 : nullptr;
    if (!EVP_PKEY_up_ref(key->key)) return fail(F, P7_R_MALLOC);
    if (x != nullptr && !X509_up_ref(x)) {
        EVP_PKEY_free(key->key);
        return fail(F, P7_R_MALLOC);
    }
    EVP_PKEY_free(cms->recipient_key);
    X509_free(cms->recipient_cert);
    cms->recipient_key = key->key;
    cms->recipient_cert = x;
    return 1;
}

int CMS_get_flags(const CMS* cms) { return cms != nullptr ? cms->flags : 0; }

int cms_next_chunk(int size) {
    if (size < CMS_CHUNK_FIRST) return CMS_CHUNK_FIRST;
    if (size > CMS_CHUNK_MAX / 2) return CMS_CHUNK_MAX;
    return size * 2;
}

}  // namespace cadb
