// Writing a message: signers, recipients, certificates, the password key,
// the content through the engine's chain, and the finish.
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <ctime>

#include "crypto/cms/cms_local.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/pkcs7/p7_local.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

constexpr int NID_SIGNED = 22;
constexpr int NID_ENVELOPED = 23;
constexpr int NID_ENCRYPTED = 26;
constexpr int NID_DES_EDE3_CBC = 44;
constexpr int kDefaultIterations = 2048;
constexpr unsigned char kZeroSalt[8] = {};

int fail(int func, int reason) {
    P7_ERR(func, reason);
    return 0;
}

bool is_gost_signer(int key_type) {
    return key_type == NID_ECR3410_CP || key_type == NID_R3410_CP || key_type == NID_ECR3410 ||
           key_type == NID_R3410;
}

// The digest record a key signs with: the GOST types sign through their own
// records (which name the GOST hash), the others with the digest of the NID.
const EVP_MD* signer_md(EVP_PKEY* key, int md_nid) {
    const int type = EVP_PKEY_nid(key);
    if (is_gost_signer(type)) return p7_sign_md(type, nullptr);
    return p7_md_by_nid(md_nid);
}

bool has_cert(STACK_OF(X509) * certs, X509* x) {
    for (int i = 0; i < sk_X509_num(certs); ++i)
        if (X509_cmp(sk_X509_value(certs, i), x) == 0) return true;
    return false;
}

int text_len(const void* bytes, int len) {
    if (len >= 0) return len;
    const std::size_t n = std::strlen(static_cast<const char*>(bytes));
    return n < INT_MAX ? static_cast<int>(n) : -1;
}

}  // namespace

int CMS_passwd2key(int cipher_nid, const char* passwd, int passwd_len, unsigned char* key,
                   int* key_len, int iterations) {
    constexpr int F = P7_F_CMS_PASSWD2KEY;
    if (passwd == nullptr || key == nullptr || key_len == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    const EVP_CIPHER* cipher = nullptr;
    const EVP_MD* prf = nullptr;
    if (cipher_nid == NID_RUS_GAMMAR) {
        cipher = EVP_rus_gammar();
        prf = EVP_rus_hash();
    } else if (cipher_nid == NID_DES_EDE3_CBC) {
        cipher = EVP_des_ede3_cbc();
        prf = EVP_sha1();
    } else {
        return fail(F, P7_R_UNSUPPORTED_CIPHER_TYPE);
    }
    const int len = EVP_CIPHER_get_key_length(cipher);
    const std::size_t plen = passwd_len > 0 ? static_cast<std::size_t>(passwd_len)
                                            : std::strlen(passwd);
    // The derived key lives in a 32-byte work area wiped on every exit.
    unsigned char area[32];
    const bool ok =
        len > 0 && len <= static_cast<int>(sizeof area) &&
        pbkdf2_hmac(prf, passwd, plen, kZeroSalt, sizeof kZeroSalt,
                    static_cast<unsigned long>(iterations > 0 ? iterations : kDefaultIterations),
                    area, static_cast<std::size_t>(len));
    if (ok) {
        std::memcpy(key, area, static_cast<std::size_t>(len));
        *key_len = len;
    }
    OPENSSL_cleanse(area, sizeof area);
    return ok ? 1 : fail(F, P7_R_INTERNAL_ERROR);
}

int CMS_encrypted_set_password(CMS* cms, const unsigned char* key, int len) {
    constexpr int F = P7_F_CMS_ENCRYPTED_SET_PASSWORD;
    if (cms == nullptr || key == nullptr || len <= 0) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->type != NID_ENCRYPTED) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    return PKCS7_encrypted_set_key(cms->message, key, len) ? 1 : fail(F, P7_R_INTERNAL_ERROR);
}

int CMS_add_signer(CMS* cms, X509* cert, EVP_PKEY* key, int md_nid) {
    constexpr int F = P7_F_CMS_ADD_SIGNATURE;
    if (cms == nullptr || cert == nullptr || key == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (!cms->writing || cms->type != NID_SIGNED || (cms->flags & CMS_OPT_NO_CONTENT))
        return fail(F, P7_R_WRONG_PKCS7_TYPE);
    const EVP_MD* md = signer_md(key, md_nid);
    if (md == nullptr) return fail(F, P7_R_UNKNOWN_DIGEST_TYPE);
    PKCS7* p7 = cms->message;
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7, cert, key, md);
    if (si == nullptr) return fail(F, P7_R_INTERNAL_ERROR);
    if (cms->flags & CMS_OPT_SIGNING_TIME) {
        ASN1_UTCTIME* now = ASN1_UTCTIME_set(nullptr, std::time(nullptr));
        if (now == nullptr ||
            !PKCS7_add_signed_attr(si, NID_pkcs9_signingTime, V_ASN1_UTCTIME, now)) {
            ASN1_UTCTIME_free(now);
            return fail(F, P7_R_MALLOC);
        }
    }
    if ((cms->flags & CMS_OPT_SIGNING_CERT) && !PKCS7_add_signing_cert(si, cert))
        return fail(F, P7_R_MALLOC);
    if (!has_cert(PKCS7_get_certificates(p7), cert) && !PKCS7_add_certificate(p7, cert))
        return fail(F, P7_R_MALLOC);
    return 1;
}

int CMS_add_signature(CMS* cms, const CERT* cert, const PKEY* key, int md_nid) {
    constexpr int F = P7_F_CMS_ADD_SIGNATURE;
    if (cms == nullptr || cert == nullptr || key == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (!CERT_check_PKEY(cert, key)) return fail(F, P7_R_PRIVATE_KEY_NOT_FOUND);
    return CMS_add_signer(cms, cert->x509, key->key, PKEY_sign_md(key, md_nid));
}

int CMS_add_cert(CMS* cms, const CERT* cert) {
    constexpr int F = P7_F_CMS_ADD_SIGNATURE;
    if (cms == nullptr || cert == nullptr || cert->x509 == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    if (!cms->writing || cms->type != NID_SIGNED) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    if (has_cert(PKCS7_get_certificates(cms->message), cert->x509)) return 1;
    return PKCS7_add_certificate(cms->message, cert->x509) ? 1 : fail(F, P7_R_MALLOC);
}

int CMS_add_crl(CMS* cms, const CRL* crl) {
    constexpr int F = P7_F_CMS_ADD_SIGNATURE;
    if (cms == nullptr || crl == nullptr || crl->crl == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    if (!cms->writing || cms->type != NID_SIGNED) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    return PKCS7_add_crl(cms->message, crl->crl) ? 1 : fail(F, P7_R_MALLOC);
}

int CMS_add_recipient(CMS* cms, const CERT* cert, int form) {
    constexpr int F = P7_F_CMS_SET_TYPE;
    if (cms == nullptr || cert == nullptr || cert->x509 == nullptr)
        return fail(F, ERR_R_NULL_PARAMETER);
    if (!cms->writing || cms->type != NID_ENVELOPED) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    const int key_type = EVP_PKEY_nid(X509_get0_pubkey(cert->x509));
    ::ERR_clear_error();
    const bool transport = key_type == NID_ECR3410_CP || key_type == NID_R3410_CP ||
                           key_type == NID_rsaEncryption || key_type == NID_rsa;
    if (form < -1 || form > RECIP_FORM_COMPACT || (transport && form > 0))
        return fail(F, P7_R_UNSUPPORTED_KEY_TYPE);
    PKCS7_RECIP_INFO* ri = PKCS7_add_recipient(cms->message, cert->x509);
    if (ri == nullptr) return fail(F, P7_R_MALLOC);
    if (!transport) {
        // Agreement keys: version 3 in the chosen form, the library's
        // explicit form unless asked otherwise.
        ASN1_INTEGER_set(ri->version, 3);
        ri->form = form < 0 ? RECIP_FORM_AGREE : form;
    }
    return 1;
}

int CMS_update_data(CMS* cms, const void* bytes, int len) {
    return CMS_update(cms, bytes, len, cms != nullptr ? cms->detached : 0);
}

int CMS_update_detached(CMS* cms, const void* bytes, int len) {
    return CMS_update(cms, bytes, len, 1);
}

int CMS_update(CMS* cms, const void* bytes, int len, int detached) {
    constexpr int F = P7_F_CMS_UPDATE;
    if (cms == nullptr || (bytes == nullptr && len != 0)) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->flags & CMS_OPT_NO_CONTENT) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    if (bytes != nullptr) len = text_len(bytes, len);
    if (len < 0) return fail(F, ERR_R_NULL_PARAMETER);
    if (cms->writing) {
        if (cms->data == nullptr && (cms->data = PKCS7_dataInit(cms->message, nullptr)) == nullptr)
            return fail(F, P7_R_INTERNAL_ERROR);
        if (len > 0 && BIO_write(cms->data, bytes, len) != len) return fail(F, P7_R_BIO_LIB);
        (void)BIO_flush(cms->data);
        return 1;
    }
    if (!detached) {
        if (cms->read_buffer == nullptr && (cms->read_buffer = BUFFER_new()) == nullptr)
            return fail(F, P7_R_MALLOC);
        if (len > 0 && BUFFER_append(cms->read_buffer, bytes, len) != len)
            return fail(F, P7_R_MALLOC);
        return 1;
    }
    // Detached content belongs only to a read message that is detached.
    if (!cms->detached) return fail(F, P7_R_WRONG_PKCS7_TYPE);
    if (cms->detached_content == nullptr &&
        (cms->detached_content = BIO_new(BIO_s_mem())) == nullptr)
        return fail(F, P7_R_MALLOC);
    if (len > 0 && BIO_write(cms->detached_content, bytes, len) != len)
        return fail(F, P7_R_BIO_LIB);
    cms->detached_fed = 1;
    return 1;
}

int CMS_final(CMS* cms) {
    constexpr int F = P7_F_CMS_FINAL;
    if (cms == nullptr) return fail(F, ERR_R_NULL_PARAMETER);
    if (!cms->writing) return 1;
    if (cms->data == nullptr && (cms->data = PKCS7_dataInit(cms->message, nullptr)) == nullptr)
        return fail(F, P7_R_INTERNAL_ERROR);
    const int ok = PKCS7_DATASIGN(cms->message, cms->data);
    cms_close_chain(cms);
    return ok == 1 ? 1 : fail(F, P7_R_INTERNAL_ERROR);
}

}  // namespace cadb
