// An RFC 4490 key-agreement recipient as other senders write it, made from
// the library's own GOST key transport to the same recipient: the bare
// Gost28147-89-EncryptedKey as the encrypted key, the ephemeral key as the
// originator, the UKM in the recipient record (or in the key-wrap
// parameters), and id-GostR3410-2001 carrying
// id-Gost28147-89-CryptoPro-KeyWrap as the key-encryption algorithm.
#pragma once

#include <gtest/gtest.h>
#include <openssl/x509.h>

#include "crypto/pkcs7/p7_recip.h"
#include "crypto/pkcs7/p7_records.h"
#include "tests/pkcs7/p7_fixture.h"

namespace cadb::test {

inline constexpr const char* kCryptoProKeyWrapOid = "1.2.643.2.2.13.1";

// Rewrites ri, whose version-3 transport record `transport` the library
// made (setting ri's originator), into the RFC 4490 form, and returns the
// bare encrypted key of the recipient.
inline Bytes to_rfc4490(PKCS7_RECIP_INFO* ri, const Bytes& transport, bool ukm_in_wrap) {
    const unsigned char* p = transport.data();
    ::cadb::AsnItemPtr<GOST_KEY_TRANSPORT> kt(
        d2i_GOST_KEY_TRANSPORT(nullptr, &p, static_cast<long>(transport.size())),
        {ASN1_ITEM_rptr(GOST_KEY_TRANSPORT)});
    EXPECT_TRUE(kt && kt->params);
    EXPECT_NE(ri->originator, nullptr);
    if (!kt || !kt->params) return {};
    unsigned char* der = nullptr;
    const int n = i2d_GOST_ENCRYPTED_KEY(kt->key, &der);
    Bytes bare(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);

    ::cadb::AsnItemPtr<GOST_KEY_WRAP_PARAMS> wrap(GOST_KEY_WRAP_PARAMS_new(),
                                     {ASN1_ITEM_rptr(GOST_KEY_WRAP_PARAMS)});
    ASN1_OBJECT_free(wrap->cipher_params);
    wrap->cipher_params = OBJ_dup(kt->params->cipher_params);
    if (ukm_in_wrap) wrap->ukm = ASN1_OCTET_STRING_dup(kt->params->ukm);
    ASN1_STRING* wrap_params = nullptr;
    ASN1_item_pack(wrap.get(), ASN1_ITEM_rptr(GOST_KEY_WRAP_PARAMS), &wrap_params);
    X509_ALGOR* wrap_alg = X509_ALGOR_new();
    X509_ALGOR_set0(wrap_alg, OBJ_txt2obj(kCryptoProKeyWrapOid, 1), V_ASN1_SEQUENCE, wrap_params);
    ASN1_STRING* kea_params = nullptr;
    ASN1_item_pack(wrap_alg, ASN1_ITEM_rptr(X509_ALGOR), &kea_params);
    X509_ALGOR_free(wrap_alg);
    X509_ALGOR_set0(ri->key_enc_algor, OBJ_dup(OBJ_nid2obj(NID_ECR3410_CP)), V_ASN1_SEQUENCE,
                    kea_params);
    ASN1_OCTET_STRING_free(ri->ukm);
    ri->ukm = ukm_in_wrap ? nullptr : ASN1_OCTET_STRING_dup(kt->params->ukm);
    ri->form = RECIP_FORM_TRANSPORT;  // RFC 5652's implicit tagging
    return bare;
}

}  // namespace cadb::test
