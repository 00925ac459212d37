// PKCS7_DATASIGN: finishes a message after its content has gone through the
// chain of PKCS7_dataInit (signatures, digest, encrypted or compressed
// content, the collected content itself).
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/ecgost/ecgost_evp.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

constexpr int F = P7_F_PKCS7_DATASIGN;

using MdCtxPtr = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)>;

// The first digest filter from b on, or null. libcrypto's search reports a
// null chain as an error, and a search is only a look.
BIO* md_filter_from(BIO* b) { return b != nullptr ? BIO_find_type(b, BIO_TYPE_MD) : nullptr; }

}  // namespace

// The digest context of the chain's digest filter for the hash number, or
// null with reason 108 (no filter) or 102 (no context) reported under func.
EVP_MD_CTX* p7_find_digest(BIO* bio, int md_nid, int func) {
    const EVP_MD* want = p7_md_by_nid(md_nid);
    for (BIO* b = bio; want != nullptr && (b = md_filter_from(b)) != nullptr; b = BIO_next(b)) {
        EVP_MD_CTX* ctx = nullptr;
        BIO_get_md_ctx(b, &ctx);
        if (ctx == nullptr) {
            P7_ERR(func, P7_R_INTERNAL_ERROR);
            return nullptr;
        }
        const EVP_MD* md = EVP_MD_CTX_get0_md(ctx);
        if (md != nullptr && EVP_MD_get_type(md) == EVP_MD_get_type(want)) return ctx;
    }
    P7_ERR(func, P7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
    return nullptr;
}

bool p7_has_digest_filter(BIO* bio, const EVP_MD* md) {
    for (BIO* b = bio; (b = md_filter_from(b)) != nullptr; b = BIO_next(b)) {
        const EVP_MD* have = nullptr;
        BIO_get_md(b, &have);
        if (have != nullptr && EVP_MD_get_type(have) == EVP_MD_get_type(md)) return true;
    }
    return false;
}

// Digest of the signed-attribute SET's DER with md; a signer's key that
// lives on a token hashes them there (the whole SET is at hand, unlike the
// content, which streamed through the chain's digest filter).
bool p7_digest_attributes(const STACK_OF(X509_ATTRIBUTE) * attrs, const EVP_MD* md,
                          unsigned char* out, unsigned int* out_len, EVP_PKEY* signer) {
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(attrs), &der,
                                  ASN1_ITEM_rptr(PKCS7_ATTR_SET));
    const bool ok =
        len > 0 &&
        EVP_PKEY_digest_to_sign(signer, md, der, static_cast<std::size_t>(len), out, out_len) == 1;
    OPENSSL_free(der);
    return ok;
}

namespace {

bool sign_one(PKCS7* p7, BIO* bio, PKCS7_SIGNER_INFO* si, EVP_PKEY* key) {
    const int md_nid = p7_algor_nid(si->digest_alg);
    EVP_MD_CTX* found = p7_find_digest(bio, md_nid, F);
    if (found == nullptr) return false;
    MdCtxPtr ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const EVP_MD* md = EVP_MD_CTX_get0_md(found);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!ctx || EVP_MD_CTX_copy_ex(ctx.get(), found) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1) {
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    const int key_type = EVP_PKEY_nid(key);
    if (si->auth_attr != nullptr) {
        if (!(p7->flags & PKCS7_FLAG_NO_CONTENT_TYPE)) {
            const ASN1_OBJECT* inner = PKCS7_get_inner_type(p7);
            ASN1_OBJECT* copy = inner != nullptr ? OBJ_dup(inner) : nullptr;
            if (copy == nullptr ||
                !PKCS7_add_signed_attr(si, NID_pkcs9_contentType, V_ASN1_OBJECT, copy)) {
                ASN1_OBJECT_free(copy);
                P7_ERR(F, P7_R_METH_LIB);
                return false;
            }
        }
        // CryptoPro keys carry the digest in GOST byte order.
        if (p7_reversed_digest(key_type)) std::reverse(digest, digest + len);
        ASN1_OCTET_STRING* md_value = ASN1_OCTET_STRING_new();
        if (md_value == nullptr ||
            !ASN1_OCTET_STRING_set(md_value, digest, static_cast<int>(len)) ||
            !PKCS7_add_signed_attr(si, NID_pkcs9_messageDigest, V_ASN1_OCTET_STRING, md_value)) {
            ASN1_OCTET_STRING_free(md_value);
            P7_ERR(F, P7_R_METH_LIB);
            return false;
        }
        if (!p7_digest_attributes(si->auth_attr, md, digest, &len, key)) {
            P7_ERR(F, P7_R_EVP_LIB);
            return false;
        }
    }
    PkeyCtxPtr pctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    std::size_t sig_len = 0;
    if (!pctx || EVP_PKEY_sign_init(pctx.get()) != 1 ||
        EVP_PKEY_CTX_set_signature_md(pctx.get(), p7_sign_md(key_type, md)) != 1 ||
        EVP_PKEY_sign(pctx.get(), nullptr, &sig_len, digest, len) != 1) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    std::vector<unsigned char> sig(sig_len);
    if (EVP_PKEY_sign(pctx.get(), sig.data(), &sig_len, digest, len) != 1) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_EVP_LIB);
        return false;
    }
    if (!ASN1_OCTET_STRING_set(si->enc_digest, sig.data(), static_cast<int>(sig_len))) {
        P7_ERR(F, P7_R_ASN1_LIB);
        return false;
    }
    return true;
}

// The bytes the chain's memory sink collected.
bool collected(BIO* bio, const unsigned char** data, long* len) {
    BIO* mem = BIO_find_type(bio, BIO_TYPE_MEM);
    if (mem == nullptr) {
        P7_ERR(F, P7_R_UNABLE_TO_FIND_MEM_BIO);
        return false;
    }
    char* p = nullptr;
    *len = BIO_get_mem_data(mem, &p);
    *data = reinterpret_cast<const unsigned char*>(p);
    if (*len < 0 || *len > INT_MAX) {
        P7_ERR(F, P7_R_MALLOC);
        return false;
    }
    return true;
}

// A structured inner content went through the chain as its DER; anything
// written after it would be signed without being carried. A chain that ends
// in the caller's own stream is the caller's to keep right.
bool carries_what_was_written(BIO* bio, const PKCS7* inner) {
    BIO* mem = BIO_find_type(bio, BIO_TYPE_MEM);
    if (mem == nullptr) return true;
    char* p = nullptr;
    const long len = BIO_get_mem_data(mem, &p);
    ByteVec der;
    if (!p7_content_der(inner, der)) {
        P7_ERR(F, P7_R_MALLOC);
        return false;
    }
    if (len < 0 || static_cast<std::size_t>(len) != der.size() ||
        (len > 0 && std::memcmp(p, der.data(), der.size()) != 0)) {
        P7_ERR(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
        return false;
    }
    return true;
}

bool set_octets(ASN1_OCTET_STRING** slot, const unsigned char* data, long len) {
    if (*slot == nullptr && (*slot = ASN1_OCTET_STRING_new()) == nullptr) return false;
    return ASN1_OCTET_STRING_set(*slot, data, static_cast<int>(len)) == 1;
}

}  // namespace

int PKCS7_DATASIGN(PKCS7* p7, BIO* bio) {
    if (p7 == nullptr || bio == nullptr) {
        P7_ERR(F, ERR_R_NULL_PARAMETER);
        return 0;
    }
    (void)BIO_flush(bio);
    const int nid = PKCS7_type_nid(p7);
    STACK_OF(P7_SIGNER_INFO)* signers = nullptr;
    PKCS7* inner = nullptr;
    PKCS7_ENC_CONTENT* ec = nullptr;
    switch (nid) {
        case NID_pkcs7_signed:
            signers = p7->d.sign->signer_info;
            inner = p7->d.sign->contents;
            if (p7->detached && inner != nullptr && p7_is_octets(PKCS7_type_nid(inner))) {
                ASN1_OCTET_STRING_free(inner->d.data);
                inner->d.data = nullptr;
            }
            break;
        case NID_pkcs7_signedAndEnveloped:
            signers = p7->d.signed_and_enveloped->signer_info;
            ec = p7->d.signed_and_enveloped->enc_data;
            break;
        case NID_pkcs7_enveloped:
            ec = p7->d.enveloped->enc_data;
            break;
        case NID_pkcs7_encrypted:
            ec = p7->d.encrypted->enc_data;
            break;
        case NID_pkcs7_digest:
            inner = p7->d.digest->contents;
            break;
        case NID_COMPRESSED_DATA:
            break;
        default:
            P7_ERR(F, P7_R_UNSUPPORTED_CONTENT_TYPE);
            return 0;
    }
    if (!p7->detached && p7_is_structured(inner) && !carries_what_was_written(bio, inner)) return 0;
    PKCS7_modified(p7);
    for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers); ++i) {
        PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(signers, i);
        EVP_PKEY* key = si->pkey;
        if (key == nullptr) {
            P7_ERR(F, P7_R_PRIVATE_KEY_NOT_FOUND);
            return 0;
        }
        if (!sign_one(p7, bio, si, key)) return 0;
    }
    const unsigned char* data = nullptr;
    long len = 0;
    if (nid == NID_pkcs7_digest) {
        EVP_MD_CTX* found = p7_find_digest(bio, p7_algor_nid(p7->d.digest->md), F);
        MdCtxPtr ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        unsigned char d[EVP_MAX_MD_SIZE];
        unsigned int n = 0;
        if (found == nullptr || !ctx || EVP_MD_CTX_copy_ex(ctx.get(), found) != 1 ||
            EVP_DigestFinal_ex(ctx.get(), d, &n) != 1) {
            P7_ERR(F, P7_R_METH_LIB);
            return 0;
        }
        if (!set_octets(&p7->d.digest->digest, d, n)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
    }
    if (ec != nullptr) {
        if (!collected(bio, &data, &len) || !set_octets(&ec->enc_data, data, len)) return 0;
        return 1;
    }
    if (nid == NID_COMPRESSED_DATA) {
        if (!collected(bio, &data, &len)) return 0;
        static const unsigned char kNothing = 0;
        BufferPtr z(BUFFER_compress(data != nullptr ? data : &kNothing, static_cast<int>(len), -1));
        if (!z) {
            P7_ERR(F, P7_R_METH_LIB);
            return 0;
        }
        if (!set_octets(&p7->d.compressed->content->content, z->data, z->length)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        return 1;
    }
    const bool octets = inner != nullptr &&
                        (p7_is_octets(PKCS7_type_nid(inner)) || (inner->flags & PKCS7_FLAG_OCTETS));
    if (!p7->detached && octets) {
        // The collected bytes become the content, replacing what it held:
        // content written before PKCS7_dataInit went through the chain too.
        // A structure carried as octets gives up its record for them.
        if (!collected(bio, &data, &len)) return 0;
        if (inner->type != nullptr && !p7_is_octets(PKCS7_type_nid(inner))) p7_free_content(inner);
        if (!set_octets(&inner->d.data, data, len)) {
            P7_ERR(F, P7_R_MALLOC);
            return 0;
        }
        if ((inner->flags & PKCS7_FLAG_OCTETS) && inner->type != nullptr) {
            ASN1_OBJECT_free(inner->type2);
            inner->type2 = inner->type;
            inner->type = nullptr;
        }
    }
    return 1;
}

}  // namespace cadb
