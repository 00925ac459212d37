// PKCS7_signatureVerify, whether a signer can be checked at all, and the
// inner content type.
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/engine.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "crypto/core/err.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/p7_local.h"

namespace cadb {
namespace {

constexpr int F = P7_F_PKCS7_SIGNATUREVERIFY;

// True when libcrypto or an engine offers a key method for the algorithm of
// the certificate's public key.
bool key_type_known(X509* x509) {
    const X509_PUBKEY* key = X509_get_X509_PUBKEY(x509);
    ASN1_OBJECT* algorithm = nullptr;
    if (X509_PUBKEY_get0_param(&algorithm, nullptr, nullptr, nullptr, key) != 1 ||
        algorithm == nullptr)
        return false;
    const int type = ::OBJ_obj2nid(algorithm);
    if (type == NID_undef) return false;
    ENGINE* engine = nullptr;
    const bool known = EVP_PKEY_asn1_find(&engine, type) != nullptr;
    if (engine != nullptr) ENGINE_finish(engine);
    return known;
}

}  // namespace

const ASN1_OBJECT* PKCS7_get_inner_type(const PKCS7* p7) {
    if (p7 == nullptr) {
        P7_ERR(P7_F_PKCS7_GET_INNER_TYPE, P7_R_METH_LIB);
        return nullptr;
    }
    switch (PKCS7_type_nid(p7)) {
        case NID_pkcs7_signed: {
            const PKCS7* c = p7->d.sign->contents;
            if (c == nullptr) return nullptr;
            return c->type2 != nullptr ? c->type2 : c->type;
        }
        case NID_pkcs7_enveloped:
            return p7->d.enveloped->enc_data->content_type;
        case NID_pkcs7_signedAndEnveloped:
            return p7->d.signed_and_enveloped->enc_data->content_type;
        case NID_pkcs7_digest: {
            const PKCS7* c = p7->d.digest->contents;
            return c != nullptr ? (c->type != nullptr ? c->type : c->type2) : nullptr;
        }
        case NID_pkcs7_encrypted:
            return p7->d.encrypted->enc_data->content_type;
        case NID_COMPRESSED_DATA:
            return p7->d.compressed->content->type;
        default:
            return nullptr;
    }
}

int PKCS7_signatureVerify(BIO* bio, PKCS7* p7, PKCS7_SIGNER_INFO* si, X509* x509) {
    const int nid = PKCS7_type_nid(p7);
    if (nid != NID_pkcs7_signed && nid != NID_pkcs7_signedAndEnveloped) {
        P7_ERR(F, P7_R_WRONG_PKCS7_TYPE);
        return 0;
    }
    if (si == nullptr || x509 == nullptr) {
        P7_ERR(F, P7_R_INTERNAL_ERROR);
        return 0;
    }
    EVP_MD_CTX* found = p7_find_digest(bio, p7_algor_nid(si->digest_alg), F);
    if (found == nullptr) return 0;
    EVP_PKEY* pkey = X509_get0_pubkey(x509);
    if (pkey == nullptr) {
        ::ERR_clear_error();
        P7_ERR(F, P7_R_INTERNAL_ERROR);
        return 0;
    }
    const int key_type = EVP_PKEY_nid(pkey);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    const EVP_MD* md = EVP_MD_CTX_get0_md(found);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!ctx || EVP_MD_CTX_copy_ex(ctx.get(), found) != 1 ||
        EVP_DigestFinal_ex(ctx.get(), digest, &len) != 1) {
        P7_ERR(F, P7_R_EVP_LIB);
        return 0;
    }
    if (sk_X509_ATTRIBUTE_num(si->auth_attr) > 0) {
        if (p7_reversed_digest(key_type)) std::reverse(digest, digest + len);
        const ASN1_OCTET_STRING* md_attr = PKCS7_get_message_digest(si->auth_attr);
        if (md_attr == nullptr) {
            P7_ERR(F, P7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
            return 0;
        }
        if (ASN1_STRING_length(md_attr) != static_cast<int>(len) ||
            std::memcmp(ASN1_STRING_get0_data(md_attr), digest, len) != 0) {
            P7_ERR(F, P7_R_DIGEST_FAILURE);
            return 0;
        }
        const ASN1_OBJECT* ct = PKCS7_get_content_type_attr(si->auth_attr);
        const ASN1_OBJECT* inner = PKCS7_get_inner_type(p7);
        if (ct != nullptr && (inner == nullptr || OBJ_cmp(ct, inner) != 0)) {
            P7_ERR(F, P7_R_CONTENT_TYPE_MISMATCH);
            return 0;
        }
        if (!p7_digest_attributes(si->auth_attr, md, digest, &len)) {
            P7_ERR(F, P7_R_EVP_LIB);
            return 0;
        }
    }
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> pctx(
        EVP_PKEY_CTX_new(pkey, nullptr), EVP_PKEY_CTX_free);
    const bool ok = pctx && EVP_PKEY_verify_init(pctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_signature_md(pctx.get(), p7_sign_md(key_type, md)) == 1 &&
                    EVP_PKEY_verify(pctx.get(), ASN1_STRING_get0_data(si->enc_digest),
                                    static_cast<std::size_t>(ASN1_STRING_length(si->enc_digest)),
                                    digest, len) == 1;
    ::ERR_clear_error();
    if (!ok) {
        P7_ERR(F, P7_R_SIGNATURE_FAILURE);
        return 0;
    }
    return 1;
}

int PKCS7_signer_computable(const PKCS7_SIGNER_INFO* si, X509* x509) {
    if (si == nullptr || x509 == nullptr) return -1;
    if (p7_md_by_nid(p7_algor_nid(si->digest_alg)) == nullptr) return 0;
    // A key libcrypto cannot read queues its decoding errors: they are the
    // answer here, not the caller's.
    const OpensslErrorMark openssl_mark;
    EVP_PKEY* pkey = X509_get0_pubkey(x509);
    // Without a key, only a key type that nothing offers a method for is
    // one the library does not compute; a key of a known type that does not
    // decode (bad bytes, no memory) leaves a check that cannot be made.
    if (pkey == nullptr) return key_type_known(x509) ? -1 : 0;
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> pctx(
        EVP_PKEY_CTX_new(pkey, nullptr), EVP_PKEY_CTX_free);
    if (!pctx) return -1;
    // -2: the key type has no verification.
    const int init = EVP_PKEY_verify_init(pctx.get());
    return init == 1 ? 1 : init == -2 ? 0 : -1;
}

}  // namespace cadb
