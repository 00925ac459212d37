// PKCS7_dataDecode: the chain a received message's content is read
// through (digest filters, the decrypting cipher filter, the source).
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <mutex>
#include <vector>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/lock.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

constexpr int F = P7_F_PKCS7_DATADECODE;

struct Chain {
    BIO* head = nullptr;
    ~Chain() { BIO_free_all(head); }
    void add(BIO* b) { head = head == nullptr ? b : BIO_push(head, b); }
    BIO* release() {
        BIO* h = head;
        head = nullptr;
        return h;
    }
};

struct Cek {
    std::vector<unsigned char> v;
    ~Cek() { OPENSSL_cleanse(v.data(), v.size()); }
};

bool add_digest(Chain& chain, int nid) {
    const EVP_MD* md = p7_md_by_nid(nid);
    if (md == nullptr) {
        P7_ERR(F, P7_R_UNKNOWN_DIGEST_TYPE);
        return false;
    }
    if (p7_has_digest_filter(chain.head, md)) return true;
    BIO* b = BIO_new(BIO_f_md());
    if (b == nullptr || BIO_set_md(b, md) <= 0) {
        BIO_free(b);
        P7_ERR(F, P7_R_BIO_LIB);
        return false;
    }
    chain.add(b);
    return true;
}

// The identifier and encrypted key a recipient offers.
bool offered(const PKCS7_RECIP_INFO* ri, const PKCS7_ISSUER_AND_SERIAL** ias,
             const ASN1_OCTET_STRING** key) {
    const long v = ASN1_INTEGER_get(ri->version);
    if (v == 0) {
        *ias = ri->issuer_and_serial;
        *key = ri->enc_key;
        return *ias != nullptr && *key != nullptr;
    }
    if (v == 3 && sk_ASN1_PAIR_num(ri->rek) > 0) {
        const ASN1_PAIR* pair = sk_ASN1_PAIR_value(ri->rek, 0);
        *ias = pair->rid;
        *key = pair->key;
        return *ias != nullptr && *key != nullptr;
    }
    return false;
}

bool names_cert(const PKCS7_ISSUER_AND_SERIAL* ias, X509* cert) {
    return X509_NAME_cmp(ias->issuer, X509_get_issuer_name(cert)) == 0 &&
           ASN1_INTEGER_cmp(ias->serial, X509_get0_serialNumber(cert)) == 0;
}

X509* cert_by_ias(STACK_OF(X509) * certs, const PKCS7_ISSUER_AND_SERIAL* ias) {
    for (int i = 0; i < sk_X509_num(certs); ++i)
        if (names_cert(ias, sk_X509_value(certs, i))) return sk_X509_value(certs, i);
    return nullptr;
}

bool pairs(X509* cert, EVP_PKEY* key) {
    const bool ok = X509_check_private_key(cert, key) == 1;
    ::ERR_clear_error();
    return ok;
}

struct Choice {
    PKCS7_RECIP_INFO* ri = nullptr;
    EVP_PKEY* key = nullptr;
    const ASN1_OCTET_STRING* enc_key = nullptr;
};

bool choose(STACK_OF(P7_RECIP_INFO) * ris, EVP_PKEY* pkey, X509* cert, STACK_OF(EVP_PKEY) * keys,
            STACK_OF(X509) * certs, Choice& out) {
    if (sk_P7_RECIP_INFO_num(ris) <= 0) {
        P7_ERR(F, P7_R_RECIPIENT_LIST_IS_EMPTY);
        return false;
    }
    for (int i = 0; i < sk_P7_RECIP_INFO_num(ris); ++i) {
        PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(ris, i);
        const PKCS7_ISSUER_AND_SERIAL* ias = nullptr;
        const ASN1_OCTET_STRING* key = nullptr;
        if (!offered(ri, &ias, &key)) {
            P7_ERR(F, P7_R_BAD_RECIPIENT_KEY_DATA);
            return false;
        }
        if (cert != nullptr) {
            if (!names_cert(ias, cert)) continue;
            EVP_PKEY* k = pkey;
            if (k == nullptr) {
                std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(10));
                k = PKCS7_find_key_for_cert(keys, cert);
            }
            if (k == nullptr) {
                P7_ERR(F, P7_R_PRIVATE_KEY_NOT_FOUND);
                return false;
            }
            out = {ri, k, key};
            return true;
        }
        if (certs != nullptr) {
            X509* c = nullptr;
            {
                std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(3));
                c = cert_by_ias(certs, ias);
            }
            if (c == nullptr) continue;
            EVP_PKEY* k = nullptr;
            if (pkey != nullptr) {
                k = pairs(c, pkey) ? pkey : nullptr;
            } else {
                std::lock_guard<std::recursive_mutex> guard(CRYPTO_get_lock(10));
                k = PKCS7_find_key_for_cert(keys, c);
            }
            if (k == nullptr) continue;
            out = {ri, k, key};
            return true;
        }
        if (pkey == nullptr) {
            P7_ERR(F, P7_R_PRIVATE_KEY_NOT_FOUND);
            return false;
        }
        out = {ri, pkey, key};
        return true;
    }
    P7_ERR(F, certs != nullptr && cert == nullptr && pkey == nullptr && keys == nullptr
                  ? P7_R_PRIVATE_KEY_NOT_FOUND
                  : P7_R_NO_RECIPIENT_MATCHES_CERTIFICATE);
    return false;
}

bool add_cipher(Chain& chain, PKCS7* p7, PKCS7_ENC_CONTENT* ec, STACK_OF(P7_RECIP_INFO) * ris,
                EVP_PKEY* pkey, X509* cert, STACK_OF(EVP_PKEY) * keys, STACK_OF(X509) * certs) {
    const bool by_password = PKCS7_type_nid(p7) == NID_pkcs7_encrypted;
    Choice c;
    if (!by_password && !choose(ris, pkey, cert, keys, certs, c)) return false;
    const EVP_CIPHER* cipher = p7_cipher_by_nid(p7_algor_nid(ec->algorithm));
    if (cipher == nullptr) {
        P7_ERR(F, P7_R_UNSUPPORTED_CIPHER_TYPE);
        return false;
    }
    Cek cek;
    if (by_password) {
        const auto& pw = p7->d.encrypted->key;
        const int kl = EVP_CIPHER_get_key_length(cipher);
        if (pw.empty() || kl <= 0) {
            P7_ERR(F, P7_R_METH_LIB);
            return false;
        }
        cek.v.assign(static_cast<std::size_t>(kl), 0);
        std::copy_n(pw.begin(), std::min<std::size_t>(pw.size(), cek.v.size()), cek.v.begin());
    } else {
        const int size = std::clamp(EVP_PKEY_get_size(c.key) + 10, 64, PKCS7_MAX_ENCRYPTED_KEY);
        cek.v.assign(static_cast<std::size_t>(size), 0);
        const int n = c.ri->form == RECIP_FORM_AGREE
                          ? PKCS7_CEK_DECRYPT(cek.v.data(), size, ASN1_STRING_get0_data(c.enc_key),
                                              ASN1_STRING_length(c.enc_key), c.ri, c.key)
                          : PKCS7_CEK_DECRYPT2(cek.v.data(), size, ASN1_STRING_get0_data(c.enc_key),
                                               ASN1_STRING_length(c.enc_key), c.ri, c.key);
        if (n <= 0) {
            P7_ERR(F, P7_R_EVP_LIB);
            return false;
        }
        OPENSSL_cleanse(cek.v.data() + n, cek.v.size() - static_cast<std::size_t>(n));
        cek.v.resize(static_cast<std::size_t>(n));
    }
    BIO* b = BIO_new(BIO_f_cipher());
    if (b == nullptr) {
        P7_ERR(F, P7_R_BIO_LIB);
        return false;
    }
    chain.add(b);
    EVP_CIPHER_CTX* ctx = nullptr;
    BIO_get_cipher_ctx(b, &ctx);
    if (ctx == nullptr || EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, 0) != 1 ||
        (ec->algorithm->parameter != nullptr &&
         EVP_CIPHER_asn1_to_param(ctx, ec->algorithm->parameter) <= 0)) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_UNSUPPORTED_CIPHER_TYPE);
        return false;
    }
    if (static_cast<int>(cek.v.size()) != EVP_CIPHER_CTX_get_key_length(ctx)) {
        P7_ERR(F, P7_R_DECRYPTED_KEY_IS_WRONG_LENGTH);
        return false;
    }
    if (EVP_CipherInit_ex(ctx, nullptr, nullptr, cek.v.data(), nullptr, 0) != 1) {
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    return true;
}

BIO* source_of(const ASN1_OCTET_STRING* s) {
    if (s == nullptr) return BIO_new_mem_buf("", 0);
    return BIO_new_mem_buf(ASN1_STRING_get0_data(s), ASN1_STRING_length(s));
}

// A structured inner content is read as its DER: what the signature or the
// digest covers.
BIO* structure_source(const PKCS7* inner) {
    ByteVec der;
    if (!p7_content_der(inner, der) || der.size() > INT_MAX) return nullptr;
    BIO* src = BIO_new(BIO_s_mem());
    const int n = static_cast<int>(der.size());
    if (src != nullptr && n > 0 && BIO_write(src, der.data(), n) != n) {
        BIO_free(src);
        return nullptr;
    }
    return src;
}

// The compressed bytes: the message's own, or those of the caller's stream
// (read whole, at most as many as the cap can inflate from).
bool compressed_input(const ASN1_OCTET_STRING* own, BIO* in, long cap, ByteVec& fed,
                      ByteSpan& out) {
    if (in == nullptr) {
        if (own == nullptr) return false;
        out =
            ByteSpan(ASN1_STRING_get0_data(own), static_cast<std::size_t>(ASN1_STRING_length(own)));
        return true;
    }
    const std::size_t most = compressBound(static_cast<uLong>(std::min<long>(cap, INT_MAX)));
    unsigned char chunk[4096];
    int n = 0;
    while ((n = BIO_read(in, chunk, sizeof chunk)) > 0) {
        if (fed.size() + static_cast<std::size_t>(n) > most) return false;
        fed.insert(fed.end(), chunk, chunk + n);
    }
    out = fed;
    return true;
}

}  // namespace

BIO* PKCS7_dataDecode(PKCS7* p7, EVP_PKEY* pkey, X509* cert, STACK_OF(EVP_PKEY) * keys,
                      STACK_OF(X509) * certs, BIO* in) {
    const int nid = PKCS7_type_nid(p7);
    STACK_OF(X509_ALGOR)* md_algs = nullptr;
    STACK_OF(P7_RECIP_INFO)* ris = nullptr;
    PKCS7_ENC_CONTENT* ec = nullptr;
    const ASN1_OCTET_STRING* body = nullptr;
    const PKCS7* inner = nullptr;
    Chain chain;
    switch (nid) {
        case NID_pkcs7_signed:
            md_algs = p7->d.sign->md_algs;
            inner = p7->d.sign->contents;
            break;
        case NID_pkcs7_enveloped:
            ris = p7->d.enveloped->recipientinfo;
            ec = p7->d.enveloped->enc_data;
            break;
        case NID_pkcs7_signedAndEnveloped:
            md_algs = p7->d.signed_and_enveloped->md_algs;
            ris = p7->d.signed_and_enveloped->recipientinfo;
            ec = p7->d.signed_and_enveloped->enc_data;
            break;
        case NID_pkcs7_digest:
            if (!add_digest(chain, p7_algor_nid(p7->d.digest->md))) return nullptr;
            inner = p7->d.digest->contents;
            break;
        case NID_pkcs7_encrypted:
            ec = p7->d.encrypted->enc_data;
            break;
        case NID_COMPRESSED_DATA: {
            const PKCS7_COMPRESSED* c = p7->d.compressed;
            if (p7_algor_nid(c->algorithm) != NID_ZLIB_COMPRESS) {
                P7_ERR(F, P7_R_UNKNOWN_DIGEST_TYPE);
                return nullptr;
            }
            const long cap =
                p7->max_uncompressed > 0 ? p7->max_uncompressed : PKCS7_DEFAULT_MAX_UNCOMPRESSED;
            ByteVec fed;
            ByteSpan z;
            BufferPtr plain(compressed_input(c->content->content, in, cap, fed, z) &&
                                    z.size() <= INT_MAX
                                ? BUFFER_uncompress(z.data(), static_cast<int>(z.size()), 0,
                                                    static_cast<int>(std::min<long>(cap, INT_MAX)))
                                : nullptr);
            if (!plain) {
                P7_ERR(F, P7_R_METH_LIB);
                return nullptr;
            }
            BIO* src = BIO_new(BIO_s_mem());
            if (src == nullptr || (plain->length > 0 &&
                                   BIO_write(src, plain->data, plain->length) != plain->length)) {
                BIO_free(src);
                P7_ERR(F, P7_R_BIO_LIB);
                return nullptr;
            }
            // The caller's stream has been read whole: the chain owns it.
            BIO_free_all(in);
            return src;
        }
        default:
            P7_ERR(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
            return nullptr;
    }
    // The content of a signed message is read whatever its digests: one the
    // library does not compute gets no filter, and a signer that names it
    // fails its check ("unable to find message digest") while the others are
    // checked as ever.
    for (int i = 0; i < sk_X509_ALGOR_num(md_algs); ++i) {
        const int md_nid = p7_algor_nid(sk_X509_ALGOR_value(md_algs, i));
        if (p7_md_by_nid(md_nid) == nullptr) continue;
        if (!add_digest(chain, md_nid)) return nullptr;
    }
    if (ec != nullptr) {
        if (!add_cipher(chain, p7, ec, ris, pkey, cert, keys, certs)) return nullptr;
        body = ec->enc_data;
    }
    if (in != nullptr) {
        chain.add(in);
        return chain.release();
    }
    if (nid == NID_pkcs7_signed && p7->detached) {
        P7_ERR(F, P7_R_BIO_LIB);
        return nullptr;
    }
    if (inner != nullptr) body = PKCS7_get_octets(inner);
    BIO* src = p7_is_structured(inner) ? structure_source(inner) : source_of(body);
    if (src == nullptr) {
        P7_ERR(F, P7_R_BIO_LIB);
        return nullptr;
    }
    chain.add(src);
    return chain.release();
}

EVP_PKEY* PKCS7_find_key_for_cert(STACK_OF(EVP_PKEY) * keys, X509* cert) {
    if (cert == nullptr) return nullptr;
    for (int i = 0; i < sk_EVP_PKEY_num(keys); ++i)
        if (pairs(cert, sk_EVP_PKEY_value(keys, i))) return sk_EVP_PKEY_value(keys, i);
    return nullptr;
}

}  // namespace cadb
