// PKCS7_dataInit: the filter chain a message's content is written through.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <climits>
#include <memory>

#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

constexpr int F = P7_F_PKCS7_DATAINIT;

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

struct KeyBytes {
    std::array<unsigned char, EVP_MAX_KEY_LENGTH> key{};
    std::array<unsigned char, EVP_MAX_IV_LENGTH> iv{};
    ~KeyBytes() {
        OPENSSL_cleanse(key.data(), key.size());
        OPENSSL_cleanse(iv.data(), iv.size());
    }
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

// Encrypts the content key for every recipient.
bool encrypt_for_recipients(PKCS7* p7, STACK_OF(P7_RECIP_INFO) * ris, const KeyBytes& k,
                            int key_len, const EVP_CIPHER* cipher, bool& version2) {
    std::array<unsigned char, PKCS7_MAX_ENCRYPTED_KEY> buf{};
    bool ok = true;
    for (int i = 0; ok && i < sk_P7_RECIP_INFO_num(ris); ++i) {
        PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(ris, i);
        const int n = ri->form == RECIP_FORM_AGREE
                          ? PKCS7_CEK_ENCRYPT(buf.data(), static_cast<int>(buf.size()),
                                              k.key.data(), key_len, ri, cipher)
                          : PKCS7_CEK_ENCRYPT2(buf.data(), static_cast<int>(buf.size()),
                                               k.key.data(), key_len, ri, cipher);
        if (n <= 0 || !ASN1_OCTET_STRING_set(ri->enc_key, buf.data(), n)) {
            P7_ERR(F, P7_R_EVP_LIB);
            ok = false;
            break;
        }
        if (ASN1_INTEGER_get(ri->version) != 3) continue;
        if (ri->form == RECIP_FORM_COMPACT) {
            // The agreement record travels inside a key-transport record
            // that names the certificate's key algorithm.
            unsigned char* der = nullptr;
            const int len = i2d_PKCS7_RECIP_INFO_compact(ri, &der);
            X509_ALGOR* key_alg = nullptr;
            X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &key_alg,
                                   X509_get_X509_PUBKEY(ri->cert));
            X509_ALGOR* copy = key_alg != nullptr ? X509_ALGOR_dup(key_alg) : nullptr;
            ok = len > 0 && copy != nullptr && ASN1_OCTET_STRING_set(ri->enc_key, der, len) &&
                 ASN1_INTEGER_set(ri->version, 0);
            OPENSSL_free(der);
            if (ok) {
                X509_ALGOR_free(ri->key_enc_algor);
                ri->key_enc_algor = copy;
            } else {
                X509_ALGOR_free(copy);
                P7_ERR(F, P7_R_MALLOC);
            }
            continue;
        }
        version2 = true;
        ASN1_PAIR* pair = ASN1_PAIR_new();
        ok = pair != nullptr &&
             (ri->rek != nullptr || (ri->rek = sk_ASN1_PAIR_new_null()) != nullptr);
        if (ok) {
            PKCS7_ISSUER_AND_SERIAL_free(pair->rid);
            ASN1_OCTET_STRING_free(pair->key);
            pair->rid = PKCS7_ISSUER_AND_SERIAL_dup(ri->issuer_and_serial);
            pair->key = ASN1_OCTET_STRING_dup(ri->enc_key);
            ok = pair->rid != nullptr && pair->key != nullptr && sk_ASN1_PAIR_push(ri->rek, pair);
        }
        if (!ok) {
            ASN1_PAIR_free(pair);
            P7_ERR(F, P7_R_MALLOC);
        }
    }
    OPENSSL_cleanse(buf.data(), buf.size());
    (void)p7;
    return ok;
}

bool add_cipher(Chain& chain, PKCS7* p7, PKCS7_ENC_CONTENT* ec, STACK_OF(P7_RECIP_INFO) * ris,
                bool& version2) {
    const EVP_CIPHER* cipher = ec->cipher;
    // libcrypto's cipher filter: it works in 4 KiB blocks and wipes its
    // context, plain bytes included, when it is freed. A 4 KiB block costs
    // the GOST cipher tens of microseconds, beside which one more call per
    // block is noise; 2 MiB blocks would only keep that much plain text of
    // every message in memory.
    BIO* b = BIO_new(BIO_f_cipher());
    EVP_CIPHER_CTX* ctx = nullptr;
    if (b == nullptr) {
        P7_ERR(F, P7_R_BIO_LIB);
        return false;
    }
    chain.add(b);
    BIO_get_cipher_ctx(b, &ctx);
    const int key_len = EVP_CIPHER_get_key_length(cipher);
    const int iv_len = EVP_CIPHER_get_iv_length(cipher);
    KeyBytes k;
    if (ctx == nullptr || EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, 1) != 1 ||
        key_len <= 0 || key_len > EVP_MAX_KEY_LENGTH || iv_len < 0 || iv_len > EVP_MAX_IV_LENGTH) {
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    if (PKCS7_type_nid(p7) == NID_pkcs7_encrypted) {
        const auto& pw = p7->d.encrypted->key;
        if (pw.empty()) {
            P7_ERR(F, P7_R_METH_LIB);
            return false;
        }
        std::copy_n(pw.begin(), std::min<std::size_t>(pw.size(), key_len), k.key.begin());
    } else if (RAND_bytes(k.key.data(), key_len) != key_len) {
        P7_ERR(F, P7_R_RAND_LIB);
        return false;
    }
    if (iv_len > 0 && RAND_bytes(k.iv.data(), iv_len) != iv_len) {
        P7_ERR(F, P7_R_RAND_LIB);
        return false;
    }
    const int cipher_nid = OBJ_openssl2nid(EVP_CIPHER_get_nid(cipher));
    const ASN1_OBJECT* obj = cadb::OBJ_nid2obj(cipher_nid);
    if (obj == nullptr || EVP_CipherInit_ex(ctx, nullptr, nullptr, k.key.data(),
                                            iv_len > 0 ? k.iv.data() : nullptr, 1) != 1) {
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    X509_ALGOR* alg = ec->algorithm;
    ASN1_OBJECT_free(alg->algorithm);
    alg->algorithm = OBJ_dup(obj);
    ASN1_TYPE_free(alg->parameter);
    alg->parameter = nullptr;
    if (iv_len > 0) {
        alg->parameter = ASN1_TYPE_new();
        if (alg->parameter == nullptr || EVP_CIPHER_param_to_asn1(ctx, alg->parameter) <= 0) {
            ::ERR_clear_error();
            return false;
        }
    }
    return encrypt_for_recipients(p7, ris, k, key_len, cipher, version2);
}

// Content already set on the inner message goes through the whole chain, so
// that it is digested as well as collected; PKCS7_DATASIGN then sets the
// collected bytes as the content (once, not appended). A structured inner
// content goes through as its DER, which is what the message carries.
bool write_inner(BIO* chain, const PKCS7* inner) {
    ByteVec der;
    ByteSpan bytes;
    if (p7_is_structured(inner)) {
        if (!p7_content_der(inner, der)) return false;
        bytes = der;
    } else if (const ASN1_OCTET_STRING* pre = PKCS7_get_octets(inner)) {
        bytes =
            ByteSpan(ASN1_STRING_get0_data(pre), static_cast<std::size_t>(ASN1_STRING_length(pre)));
    }
    if (bytes.empty()) return true;
    if (bytes.size() > INT_MAX) return false;
    const int n = static_cast<int>(bytes.size());
    return BIO_write(chain, bytes.data(), n) == n;
}

}  // namespace

BIO* PKCS7_dataInit(PKCS7* p7, BIO* bio) {
    STACK_OF(X509_ALGOR)* md_algs = nullptr;
    STACK_OF(P7_RECIP_INFO)* ris = nullptr;
    PKCS7_ENC_CONTENT* ec = nullptr;
    ASN1_INTEGER* version = nullptr;
    PKCS7* inner = nullptr;
    int single_md = 0;
    const int nid = PKCS7_type_nid(p7);
    switch (nid) {
        case NID_pkcs7_signed:
            md_algs = p7->d.sign->md_algs;
            inner = p7->d.sign->contents;
            break;
        case NID_pkcs7_enveloped:
            ris = p7->d.enveloped->recipientinfo;
            ec = p7->d.enveloped->enc_data;
            version = p7->d.enveloped->version;
            break;
        case NID_pkcs7_signedAndEnveloped:
            md_algs = p7->d.signed_and_enveloped->md_algs;
            ris = p7->d.signed_and_enveloped->recipientinfo;
            ec = p7->d.signed_and_enveloped->enc_data;
            version = p7->d.signed_and_enveloped->version;
            break;
        case NID_pkcs7_digest:
            single_md = p7_algor_nid(p7->d.digest->md);
            inner = p7->d.digest->contents;
            break;
        case NID_pkcs7_encrypted:
            ec = p7->d.encrypted->enc_data;
            version = p7->d.encrypted->version;
            break;
        case NID_COMPRESSED_DATA:
            break;
        default:
            P7_ERR(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
            return nullptr;
    }
    if (ec != nullptr && ec->cipher == nullptr) {
        P7_ERR(F, P7_R_CIPHER_NOT_INITIALIZED);
        return nullptr;
    }
    PKCS7_modified(p7);
    Chain chain;
    for (int i = 0; i < sk_X509_ALGOR_num(md_algs); ++i)
        if (!add_digest(chain, p7_algor_nid(sk_X509_ALGOR_value(md_algs, i)))) return nullptr;
    if (nid == NID_pkcs7_digest && !add_digest(chain, single_md)) return nullptr;
    bool version2 = false;
    if (ec != nullptr && !add_cipher(chain, p7, ec, ris, version2)) return nullptr;
    if (version2 && version != nullptr) ASN1_INTEGER_set(version, 2);

    if (bio != nullptr) {
        // Compressed data collects its plain content for PKCS7_DATASIGN in
        // any case; the caller's stream gets it too.
        if (nid == NID_COMPRESSED_DATA) {
            BIO* sink = p7_new_sink();
            if (sink == nullptr) {
                P7_ERR(F, P7_R_BIO_LIB);
                return nullptr;
            }
            chain.add(sink);
        }
        chain.add(bio);
    } else {
        BIO* sink = p7->detached && nid == NID_pkcs7_signed ? BIO_new(BIO_s_null()) : p7_new_sink();
        if (sink == nullptr) {
            P7_ERR(F, P7_R_BIO_LIB);
            return nullptr;
        }
        chain.add(sink);
    }
    if (inner != nullptr && !write_inner(chain.head, inner)) {
        P7_ERR(F, P7_R_MALLOC);
        if (bio != nullptr) BIO_pop(bio);
        return nullptr;
    }
    return chain.release();
}

}  // namespace cadb
