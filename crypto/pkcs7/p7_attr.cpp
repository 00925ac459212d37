#include "crypto/pkcs7/p7_attr.h"

#include <openssl/crypto.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstring>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

int attr_nid(const X509_ATTRIBUTE* a) {
    return cadb::OBJ_obj2nid(X509_ATTRIBUTE_get0_object(const_cast<X509_ATTRIBUTE*>(a)));
}

// The single value of the first attribute of the NID, borrowed.
const ASN1_TYPE* single_value(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid) {
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attrs); ++i) {
        X509_ATTRIBUTE* a = sk_X509_ATTRIBUTE_value(attrs, i);
        if (attr_nid(a) != nid) continue;
        return X509_ATTRIBUTE_count(a) == 1 ? X509_ATTRIBUTE_get0_type(a, 0) : nullptr;
    }
    return nullptr;
}

ASN1_TYPE* type_dup(const ASN1_TYPE* t) {
    return static_cast<ASN1_TYPE*>(ASN1_item_dup(ASN1_ITEM_rptr(ASN1_ANY), t));
}

ASN1_TYPE* sequence_value(const unsigned char* der, int len) {
    ASN1_STRING* s = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    ASN1_TYPE* t = ASN1_TYPE_new();
    if (s == nullptr || t == nullptr || !ASN1_STRING_set(s, der, len)) {
        ASN1_STRING_free(s);
        ASN1_TYPE_free(t);
        return nullptr;
    }
    ASN1_TYPE_set(t, V_ASN1_SEQUENCE, s);
    return t;
}

}  // namespace

ASN1_TYPE* X509_ATTRIBUTES_find_from(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid, int* index) {
    int i = index != nullptr ? *index : 0;
    for (; i < sk_X509_ATTRIBUTE_num(attrs); ++i) {
        X509_ATTRIBUTE* a = sk_X509_ATTRIBUTE_value(attrs, i);
        if (attr_nid(a) != nid) continue;
        if (index != nullptr) *index = i + 1;
        const int count = X509_ATTRIBUTE_count(a);
        if (count <= 0) return nullptr;
        if (count == 1) return type_dup(X509_ATTRIBUTE_get0_type(a, 0));
        // Several values: their encodings joined into one SEQUENCE value
        // handed to the caller; the attribute keeps its set.
        std::vector<unsigned char> joined;
        for (int v = 0; v < count; ++v) {
            unsigned char* der = nullptr;
            const int len = i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(a, v), &der);
            if (len <= 0) return nullptr;
            joined.insert(joined.end(), der, der + len);
            OPENSSL_free(der);
        }
        if (joined.size() > INT_MAX) return nullptr;
        return sequence_value(joined.data(), static_cast<int>(joined.size()));
    }
    if (index != nullptr) *index = i;
    return nullptr;
}

ASN1_TYPE* X509_ATTRIBUTES_get_value(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid) {
    int index = 0;
    return X509_ATTRIBUTES_find_from(attrs, nid, &index);
}

STACK_OF(ASN1_TYPE) * X509_ATTRIBUTES_get_all(const STACK_OF(X509_ATTRIBUTE) * attrs, int nid) {
    STACK_OF(ASN1_TYPE)* all = sk_ASN1_TYPE_new_null();
    if (all == nullptr) return nullptr;
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attrs); ++i) {
        X509_ATTRIBUTE* a = sk_X509_ATTRIBUTE_value(attrs, i);
        if (attr_nid(a) != nid) continue;
        for (int v = 0; v < X509_ATTRIBUTE_count(a); ++v) {
            ASN1_TYPE* t = type_dup(X509_ATTRIBUTE_get0_type(a, v));
            if (t == nullptr || !sk_ASN1_TYPE_push(all, t)) {
                ASN1_TYPE_free(t);
                sk_ASN1_TYPE_pop_free(all, ASN1_TYPE_free);
                return nullptr;
            }
        }
    }
    return all;
}

int X509_ATTRIBUTES_add_value(STACK_OF(X509_ATTRIBUTE) * *attrs, int nid, int type, void* value,
                              int append) {
    constexpr int F = P7_F_X509_ATTRIBUTES_ADD_VALUE;
    const int openssl_nid = OBJ_nid2openssl(nid);
    if (attrs == nullptr || openssl_nid == NID_undef) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (*attrs == nullptr && (*attrs = sk_X509_ATTRIBUTE_new_null()) == nullptr) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    X509_ATTRIBUTE* made = X509_ATTRIBUTE_create(openssl_nid, type, value);
    if (made == nullptr) {
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    if (!append) {
        for (int i = 0; i < sk_X509_ATTRIBUTE_num(*attrs); ++i) {
            if (attr_nid(sk_X509_ATTRIBUTE_value(*attrs, i)) != nid) continue;
            X509_ATTRIBUTE_free(sk_X509_ATTRIBUTE_value(*attrs, i));
            sk_X509_ATTRIBUTE_set(*attrs, i, made);
            return 1;
        }
    }
    if (!sk_X509_ATTRIBUTE_push(*attrs, made)) {
        // The value stays the caller's.
        X509_ATTRIBUTE_free(made);
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    return 1;
}

int PKCS7_add_signed_attr(PKCS7_SIGNER_INFO* si, int nid, int type, void* value) {
    if (si == nullptr) {
        P7_ERR(P7_F_X509_ATTRIBUTES_ADD_VALUE, P7_R_METH_LIB);
        return 0;
    }
    return X509_ATTRIBUTES_add_value(&si->auth_attr, nid, type, value, 0);
}

const ASN1_OCTET_STRING* PKCS7_get_message_digest(const STACK_OF(X509_ATTRIBUTE) * attrs) {
    const ASN1_TYPE* t = single_value(attrs, NID_pkcs9_messageDigest);
    return t != nullptr && t->type == V_ASN1_OCTET_STRING ? t->value.octet_string : nullptr;
}

const ASN1_OBJECT* PKCS7_get_content_type_attr(const STACK_OF(X509_ATTRIBUTE) * attrs) {
    const ASN1_TYPE* t = single_value(attrs, NID_pkcs9_contentType);
    return t != nullptr && t->type == V_ASN1_OBJECT ? t->value.object : nullptr;
}

BUFFER* X509_get_digest(X509* cert, const EVP_MD* md) {
    constexpr int F = P7_F_X509_GET_DIGEST;
    unsigned char* der = nullptr;
    const int len = cert != nullptr && md != nullptr ? i2d_X509(cert, &der) : -1;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    const bool ok =
        len > 0 && EVP_Digest(der, static_cast<std::size_t>(len), d, &n, md, nullptr) == 1;
    OPENSSL_free(der);
    if (!ok) {
        P7_ERR(F, P7_R_METH_LIB);
        return nullptr;
    }
    BUFFER* b = BUFFER_fill(d, static_cast<int>(n));
    if (b == nullptr) P7_ERR(F, P7_R_MALLOC);
    return b;
}

int PKCS7_add_signing_cert(PKCS7_SIGNER_INFO* si, X509* cert) {
    constexpr int F = P7_F_PKCS7_ADD_SIGNING_CERT;
    if (si == nullptr || cert == nullptr) {
        P7_ERR(F, P7_R_METH_LIB);
        return 0;
    }
    BufferPtr hash(X509_get_digest(cert, EVP_sha1()));
    P7Ptr<ESS_SIGNING_CERT> sc(ESS_SIGNING_CERT_new(), {ASN1_ITEM_rptr(ESS_SIGNING_CERT)});
    ESS_CERT_ID* id = ESS_CERT_ID_new();
    GENERAL_NAME* name = GENERAL_NAME_new();
    X509_NAME* issuer = X509_NAME_dup(X509_get_issuer_name(cert));
    bool ok = hash && sc && id != nullptr && name != nullptr && issuer != nullptr &&
              ASN1_OCTET_STRING_set(id->hash, hash->data, hash->length) &&
              (id->issuer_serial = ESS_ISSUER_SERIAL_new()) != nullptr;
    if (ok) {
        GENERAL_NAME_set0_value(name, GEN_DIRNAME, issuer);
        issuer = nullptr;
        ok = sk_GENERAL_NAME_push(id->issuer_serial->issuer, name) > 0;
        if (ok) name = nullptr;
        ASN1_INTEGER_free(id->issuer_serial->serial);
        ok = ok && (id->issuer_serial->serial = ASN1_INTEGER_dup(X509_get0_serialNumber(cert))) !=
                       nullptr;
        ok = ok && sk_ESS_CERT_ID_push(sc->certs, id) > 0;
        if (ok) id = nullptr;
    }
    X509_NAME_free(issuer);
    GENERAL_NAME_free(name);
    ESS_CERT_ID_free(id);
    unsigned char* der = nullptr;
    const int len = ok ? i2d_ESS_SIGNING_CERT(sc.get(), &der) : -1;
    ASN1_STRING* value = len > 0 ? ASN1_STRING_type_new(V_ASN1_SEQUENCE) : nullptr;
    ok = value != nullptr && ASN1_STRING_set(value, der, len);
    OPENSSL_free(der);
    if (!ok || !PKCS7_add_signed_attr(si, NID_SIGNING_CERTIFICATE, V_ASN1_SEQUENCE, value)) {
        ASN1_STRING_free(value);
        P7_ERR(F, P7_R_MALLOC);
        return 0;
    }
    return 1;
}

ESS_SIGNING_CERT* PKCS7_get_signing_cert(const PKCS7_SIGNER_INFO* si, int* is_v2) {
    if (si == nullptr) return nullptr;
    for (int nid : {NID_SIGNING_CERTIFICATE_V2, NID_SIGNING_CERTIFICATE}) {
        const ASN1_TYPE* t = single_value(si->auth_attr, nid);
        if (t == nullptr) continue;
        if (t->type != V_ASN1_SEQUENCE) return nullptr;
        const unsigned char* p = t->value.sequence->data;
        ESS_SIGNING_CERT* sc = d2i_ESS_SIGNING_CERT(nullptr, &p, t->value.sequence->length);
        if (sc == nullptr) ::ERR_clear_error();
        if (is_v2 != nullptr) *is_v2 = nid == NID_SIGNING_CERTIFICATE_V2;
        return sc;
    }
    return nullptr;
}

const EVP_MD* ESS_CERT_ID_md(const ESS_CERT_ID* id, int is_v2) {
    if (id == nullptr) return nullptr;
    if (id->hash_alg != nullptr) return p7_md_by_nid(p7_algor_nid(id->hash_alg));
    return is_v2 ? EVP_sha256() : EVP_sha1();
}

int ESS_CERT_ID_matches(const ESS_CERT_ID* id, int is_v2, X509* cert) {
    const EVP_MD* md = ESS_CERT_ID_md(id, is_v2);
    if (md == nullptr || cert == nullptr) return 0;
    BufferPtr hash(X509_get_digest(cert, md));
    if (!hash || hash->length != ASN1_STRING_length(id->hash) ||
        CRYPTO_memcmp(hash->data, ASN1_STRING_get0_data(id->hash),
                      static_cast<std::size_t>(hash->length)) != 0)
        return 0;
    if (id->issuer_serial == nullptr) return 1;
    if (ASN1_INTEGER_cmp(id->issuer_serial->serial, X509_get0_serialNumber(cert)) != 0) return 0;
    for (int i = 0; i < sk_GENERAL_NAME_num(id->issuer_serial->issuer); ++i) {
        const GENERAL_NAME* g = sk_GENERAL_NAME_value(id->issuer_serial->issuer, i);
        if (g->type == GEN_DIRNAME && X509_NAME_cmp(g->d.dirn, X509_get_issuer_name(cert)) == 0)
            return 1;
    }
    return 0;
}

STACK_OF(P7_SIGNER_INFO) * PKCS7_get_counter_signatures(const PKCS7_SIGNER_INFO* si) {
    if (si == nullptr) {
        P7_ERR(P7_F_PKCS7_GET_COUNTER_SIGNATURES, P7_R_METH_LIB);
        return nullptr;
    }
    STACK_OF(P7_SIGNER_INFO)* out = sk_P7_SIGNER_INFO_new_null();
    STACK_OF(ASN1_TYPE)* values =
        X509_ATTRIBUTES_get_all(si->unauth_attr, NID_pkcs9_countersignature);
    for (int i = 0; out != nullptr && i < sk_ASN1_TYPE_num(values); ++i) {
        const ASN1_TYPE* t = sk_ASN1_TYPE_value(values, i);
        if (t->type != V_ASN1_SEQUENCE) break;
        const unsigned char* p = t->value.sequence->data;
        PKCS7_SIGNER_INFO* cs = d2i_PKCS7_SIGNER_INFO(nullptr, &p, t->value.sequence->length);
        if (cs == nullptr) {
            ::ERR_clear_error();
            break;
        }
        if (!sk_P7_SIGNER_INFO_push(out, cs)) PKCS7_SIGNER_INFO_free(cs);
    }
    sk_ASN1_TYPE_pop_free(values, ASN1_TYPE_free);
    return out;
}

BUFFER* PKCS7_get_signature_value(const PKCS7_SIGNER_INFO* si) {
    if (si == nullptr || si->enc_digest == nullptr) {
        P7_ERR(P7_F_PKCS7_GET_SIGNATURE_VALUE, P7_R_METH_LIB);
        return nullptr;
    }
    return BUFFER_fill(ASN1_STRING_get0_data(si->enc_digest), ASN1_STRING_length(si->enc_digest));
}

ASN1_TYPE* PKCS7_get_signature_comment(const PKCS7_SIGNER_INFO* si) {
    if (si == nullptr) {
        P7_ERR(P7_F_PKCS7_GET_SIGNATURE_COMMENT, P7_R_METH_LIB);
        return nullptr;
    }
    return X509_ATTRIBUTES_get_value(si->auth_attr, NID_SIGNATURE_COMMENT);
}

int PKCS5_PBKDF2_HMAC_md(const EVP_MD* md, const char* passwd, int passwd_len,
                         const unsigned char* salt, int salt_len, int iterations, int key_len,
                         unsigned char* out) {
    if (md == nullptr || passwd == nullptr || salt_len < 0 || (salt == nullptr && salt_len > 0) ||
        iterations <= 0 || key_len <= 0 || out == nullptr) {
        P7_ERR(P7_F_PKCS5_PBKDF2_HMAC_MD, ERR_R_NULL_PARAMETER);
        return 0;
    }
    const std::size_t plen =
        passwd_len < 0 ? std::strlen(passwd) : static_cast<std::size_t>(passwd_len);
    return pbkdf2_hmac(md, passwd, plen, salt, static_cast<std::size_t>(salt_len),
                       static_cast<unsigned long>(iterations), out,
                       static_cast<std::size_t>(key_len));
}

}  // namespace cadb
