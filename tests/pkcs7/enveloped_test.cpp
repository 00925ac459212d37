#include <gtest/gtest.h>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/pkcs7/p7_attr.h"
#include "crypto/store/buffer_crypt.h"
#include "tests/pkcs7/p7_util.h"
#include "tests/pkcs7/rfc4490.h"

namespace cadb {
namespace {

using test::Bytes;
using test::Party;

class Enveloped : public test::PartyTest {
  protected:
    // An enveloped (or signed-and-enveloped) message for one recipient of
    // the given version and form.
    static test::P7Ptr envelope(int outer, Party& r, int version, int form,
                                const EVP_CIPHER* cipher, const Bytes& content,
                                bool with_ukm = false) {
        test::P7Ptr p7(PKCS7_new());
        if (!PKCS7_set_type(p7.get(), outer)) return nullptr;
        PKCS7_RECIP_INFO* ri = PKCS7_add_recipient(p7.get(), r.cert.get());
        if (ri == nullptr) return nullptr;
        ASN1_INTEGER_set(ri->version, version);
        ri->form = form;
        if (with_ukm) {
            ri->ukm = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(ri->ukm, reinterpret_cast<const unsigned char*>("12345678"), 8);
        }
        if (!PKCS7_set_cipher(p7.get(), cipher)) return nullptr;
        if (outer == NID_pkcs7_signedAndEnveloped) {
            Party& s = party(NID_ECR3410_CP);
            if (PKCS7_add_signature(p7.get(), s.cert.get(), s.key.get(),
                                    EVP_r3411_with_ecr3410_cp()) == nullptr ||
                !PKCS7_add_certificate(p7.get(), s.cert.get()))
                return nullptr;
        }
        if (!test::finish(p7.get(), content)) return nullptr;
        return p7;
    }

    static Bytes open(PKCS7* p7, Party& r) {
        BIO* b = PKCS7_dataDecode(p7, r.key.get(), r.cert.get(), nullptr, nullptr, nullptr);
        if (b == nullptr) return {};
        Bytes out = test::read_all(b);
        BIO_free_all(b);
        return out;
    }
};

struct Case {
    int type;
    int version;
    int form;
    const EVP_CIPHER* (*cipher)();
};

TEST_F(Enveloped, EveryRecipientTypeAndFormRoundTrips) {
    const Case cases[] = {
        {NID_ECR3410_CP, 0, RECIP_FORM_TRANSPORT, EVP_rus_gammar_cp},
        {NID_ECR3410_CP, 3, RECIP_FORM_AGREE, EVP_rus_gammar_cp},
        {NID_R3410_CP, 0, RECIP_FORM_TRANSPORT, EVP_rus_gammar},
        {EVP_PKEY_RSA, 0, RECIP_FORM_TRANSPORT, EVP_des_ede3_cbc},
        {EVP_PKEY_RSA, 0, RECIP_FORM_TRANSPORT, EVP_rus_gammar_cp},
        {EVP_PKEY_DSA, 3, RECIP_FORM_AGREE, EVP_des_ede3_cbc},
        {EVP_PKEY_DSA, 3, RECIP_FORM_TRANSPORT, EVP_des_ede3_cbc},
        {EVP_PKEY_DSA, 3, RECIP_FORM_COMPACT, EVP_rus_gammar},
        {NID_R3410, 3, RECIP_FORM_AGREE, EVP_rus_gammar},
        {NID_R3410, 3, RECIP_FORM_TRANSPORT, EVP_rus_gammar_cp},
        {NID_R3410, 3, RECIP_FORM_COMPACT, EVP_des_ede3_cbc},
        {NID_ECR3410, 3, RECIP_FORM_AGREE, EVP_rus_gammar_cp},
        {NID_ECR3410, 3, RECIP_FORM_TRANSPORT, EVP_rus_gammar},
        {NID_ECR3410, 3, RECIP_FORM_COMPACT, EVP_des_ede3_cbc},
    };
    const Bytes content(3000, 0x5C);
    for (const Case& c : cases) {
        for (bool ukm : {false, true}) {
            SCOPED_TRACE(std::to_string(c.type) + " form " + std::to_string(c.form) +
                         (ukm ? " ukm" : ""));
            Party& r = party(c.type);
            ASSERT_TRUE(r.cert);
            test::P7Ptr p7 =
                envelope(NID_pkcs7_enveloped, r, c.version, c.form, c.cipher(), content, ukm);
            ASSERT_TRUE(p7);
            const Bytes der = test::encode(p7.get());
            ASSERT_GT(der.size(), 8u);
            // Written without a kept encoding: indefinite lengths.
            EXPECT_EQ(der[0], 0x30);
            EXPECT_EQ(der[1], 0x80);
            EXPECT_EQ(Bytes(der.end() - 4, der.end()), Bytes(4, 0));
            test::P7Ptr back = test::decode(der);
            ASSERT_TRUE(back);
            EXPECT_EQ(open(back.get(), r), content);
            PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(PKCS7_get_recipient_info(back.get()), 0);
            EXPECT_EQ(ASN1_INTEGER_get(back->d.enveloped->version),
                      c.version == 3 && c.form != RECIP_FORM_COMPACT ? 2 : 0);
            if (c.form == RECIP_FORM_COMPACT) {
                EXPECT_EQ(ASN1_INTEGER_get(ri->version), 0);
            }
            if (ukm && c.version == 3 && c.form != RECIP_FORM_COMPACT) {
                ASSERT_NE(ri->ukm, nullptr);
                EXPECT_EQ(ASN1_STRING_length(ri->ukm), 8);
            }
            // Another key of the type does not open it.
            Party other{test::generate_key(c.type), nullptr};
            other.cert = test::make_cert(other.key.get(), 9999, "other");
            BIO* b =
                PKCS7_dataDecode(back.get(), other.key.get(), nullptr, nullptr, nullptr, nullptr);
            if (b != nullptr) {
                EXPECT_NE(test::read_all(b), content);
                BIO_free_all(b);
            }
            ERR_clear_error();
        }
    }
}

// A whole enveloped message whose key-agreement recipient is written as
// RFC 4490 has it (RFC 5652 tagging, the bare encrypted key) decrypts. The
// peer's GOST engine makes key-transport recipients only, so the message is
// the library's own with its recipient rewritten.
TEST_F(Enveloped, Rfc4490AgreementMessagesDecrypt) {
    Party& r = party(NID_ECR3410_CP);
    ASSERT_TRUE(r.cert);
    const Bytes content(5000, 0x3C);
    test::P7Ptr p7 = envelope(NID_pkcs7_enveloped, r, 3, RECIP_FORM_AGREE, EVP_rus_gammar_cp(),
                              content);
    ASSERT_TRUE(p7);
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(PKCS7_get_recipient_info(back.get()), 0);
    ASSERT_EQ(sk_ASN1_PAIR_num(ri->rek), 1);
    ASN1_PAIR* pair = sk_ASN1_PAIR_value(ri->rek, 0);
    const Bytes transport(ASN1_STRING_get0_data(pair->key),
                          ASN1_STRING_get0_data(pair->key) + ASN1_STRING_length(pair->key));
    const Bytes bare = test::to_rfc4490(ri, transport, false);
    ASN1_OCTET_STRING_set(pair->key, bare.data(), static_cast<int>(bare.size()));
    back->asn1.clear();
    const Bytes der = test::encode(back.get());
    test::P7Ptr theirs = test::decode(der);
    ASSERT_TRUE(theirs);
    PKCS7_RECIP_INFO* read = sk_P7_RECIP_INFO_value(PKCS7_get_recipient_info(theirs.get()), 0);
    ASSERT_NE(read->ukm, nullptr);
    ASSERT_NE(read->originator, nullptr);
    EXPECT_EQ(open(theirs.get(), r), content);
    ERR_clear_error();
}

TEST_F(Enveloped, SignedAndEnvelopedRoundTrips) {
    Party& r = party(NID_ECR3410_CP);
    const Bytes content = test::text("signed and enveloped");
    test::P7Ptr p7 = envelope(NID_pkcs7_signedAndEnveloped, r, 0, RECIP_FORM_TRANSPORT,
                              EVP_rus_gammar_cp(), content);
    ASSERT_TRUE(p7);
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    BIO* b = PKCS7_dataDecode(back.get(), r.key.get(), r.cert.get(), nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(PKCS7_get_signer_info(back.get()), 0);
    EXPECT_EQ(PKCS7_signatureVerify(b, back.get(), si, party(NID_ECR3410_CP).cert.get()), 1);
    BIO_free_all(b);
}

TEST_F(Enveloped, RecipientChoiceAndItsReasons) {
    Party& r = party(NID_ECR3410_CP);
    Party& rsa = party(EVP_PKEY_RSA);
    const Bytes content = test::text("for two");
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_enveloped), 1);
    ASSERT_NE(PKCS7_add_recipient(p7.get(), rsa.cert.get()), nullptr);
    ASSERT_NE(PKCS7_add_recipient(p7.get(), r.cert.get()), nullptr);
    ASSERT_EQ(PKCS7_set_cipher(p7.get(), EVP_rus_gammar_cp()), 1);
    ASSERT_TRUE(test::finish(p7.get(), content));
    test::P7Ptr back = test::decode(test::encode(p7.get()));

    // By certificate stack and key stack.
    STACK_OF(X509)* certs = sk_X509_new_null();
    sk_X509_push(certs, r.cert.get());
    STACK_OF(EVP_PKEY)* keys = sk_EVP_PKEY_new_null();
    sk_EVP_PKEY_push(keys, rsa.key.get());
    sk_EVP_PKEY_push(keys, r.key.get());
    BIO* b = PKCS7_dataDecode(back.get(), nullptr, nullptr, keys, certs, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
    b = PKCS7_dataDecode(back.get(), nullptr, rsa.cert.get(), keys, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
    sk_X509_free(certs);
    sk_EVP_PKEY_free(keys);

    Party& stranger = party(NID_R3410_CP);
    ERR_clear_error();
    EXPECT_EQ(PKCS7_dataDecode(back.get(), stranger.key.get(), stranger.cert.get(), nullptr,
                               nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_NO_RECIPIENT_MATCHES_CERTIFICATE));
    EXPECT_EQ(PKCS7_dataDecode(back.get(), nullptr, r.cert.get(), nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_PRIVATE_KEY_NOT_FOUND));

    // A changed MAC of the GOST recipient's key transport.
    PKCS7_RECIP_INFO* ri = sk_P7_RECIP_INFO_value(PKCS7_get_recipient_info(back.get()), 1);
    const unsigned char* p = ri->enc_key->data;
    GOST_KEY_TRANSPORT* kt = d2i_GOST_KEY_TRANSPORT(nullptr, &p, ri->enc_key->length);
    ASSERT_NE(kt, nullptr);
    kt->key->mac->data[0] ^= 1;
    unsigned char* der = nullptr;
    const int len = i2d_GOST_KEY_TRANSPORT(kt, &der);
    ASN1_OCTET_STRING_set(ri->enc_key, der, len);
    OPENSSL_free(der);
    GOST_KEY_TRANSPORT_free(kt);
    EXPECT_EQ(PKCS7_dataDecode(back.get(), r.key.get(), r.cert.get(), nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_INTEGRITY_CHECK_FAILURE));

    test::P7Ptr empty(PKCS7_new());
    PKCS7_set_type(empty.get(), NID_pkcs7_enveloped);
    PKCS7_set_cipher(empty.get(), EVP_rus_gammar_cp());
    EXPECT_EQ(PKCS7_dataDecode(empty.get(), r.key.get(), nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_RECIPIENT_LIST_IS_EMPTY));
}

TEST_F(Enveloped, WrongCiphersAreRefused) {
    Party& ec = party(NID_ECR3410);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_enveloped), 1);
    PKCS7_RECIP_INFO* ri = PKCS7_add_recipient(p7.get(), ec.cert.get());
    ASN1_INTEGER_set(ri->version, 3);
    ASSERT_EQ(PKCS7_set_cipher(p7.get(), EVP_aes_128_cbc()), 1);
    ERR_clear_error();
    EXPECT_EQ(PKCS7_dataInit(p7.get(), nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_UNSUPPORTED_CIPHER_TYPE));

    // A GOST transport of a key that is not 32 bytes.
    test::P7Ptr q(PKCS7_new());
    PKCS7_set_type(q.get(), NID_pkcs7_enveloped);
    PKCS7_add_recipient(q.get(), party(NID_ECR3410_CP).cert.get());
    PKCS7_set_cipher(q.get(), EVP_des_ede3_cbc());
    EXPECT_EQ(PKCS7_dataInit(q.get(), nullptr), nullptr);

    test::P7Ptr none(PKCS7_new());
    PKCS7_set_type(none.get(), NID_pkcs7_enveloped);
    EXPECT_EQ(PKCS7_dataInit(none.get(), nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_CIPHER_NOT_INITIALIZED));
}

class OtherTypes : public test::PartyTest {};

TEST_F(OtherTypes, DigestedDataRoundTripsAndChecksItsDigest) {
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_digest), 1);
    ASSERT_EQ(PKCS7_set_digest(p7.get(), EVP_rus_hash()), 1);
    ASSERT_EQ(PKCS7_content_new(p7.get(), NID_pkcs7_data), 1);
    const Bytes content = test::text("digest me");
    ASSERT_TRUE(test::finish(p7.get(), content));
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    BIO* b = PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
    Bytes d(32);
    unsigned int n = 0;
    EVP_Digest(content.data(), content.size(), d.data(), &n, EVP_rus_hash(), nullptr);
    EXPECT_EQ(Bytes(back->d.digest->digest->data, back->d.digest->digest->data + 32), d);
}

TEST_F(OtherTypes, EncryptedDataUsesThePasswordKey) {
    const Bytes key(32, 0x17);
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_pkcs7_encrypted), 1);
    ASSERT_EQ(PKCS7_set_cipher(p7.get(), EVP_rus_gammar()), 1);
    ERR_clear_error();
    EXPECT_EQ(PKCS7_dataInit(p7.get(), nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_METH_LIB));
    ASSERT_EQ(PKCS7_encrypted_set_key(p7.get(), key.data(), 32), 1);
    const Bytes content(777, 0x33);
    ASSERT_TRUE(test::finish(p7.get(), content));
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    ASSERT_TRUE(back);
    ASSERT_EQ(PKCS7_encrypted_set_key(back.get(), key.data(), 32), 1);
    BIO* b = PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(test::read_all(b), content);
    BIO_free_all(b);
}

// The password-encrypted buffer format is an encryptedData message the
// engine reads with the PBKDF2 key.
TEST_F(OtherTypes, PasswordEncryptedBuffersOpenThroughTheEngine) {
    const char* data = "key-store masks";
    BufferPtr enc(BUFFER_encrypt(data, -1, 174, "secret", -1, -1, 0, 1, 1));
    ASSERT_TRUE(enc);
    test::P7Ptr p7 = test::decode(Bytes(enc->data, enc->data + enc->length));
    ASSERT_TRUE(p7);
    ASSERT_EQ(PKCS7_type_nid(p7.get()), NID_pkcs7_encrypted);
    unsigned char key[32];
    const unsigned char salt[8] = {};
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_md(EVP_rus_hash(), "secret", -1, salt, 8, 2048, 32, key), 1);
    ASSERT_EQ(PKCS7_encrypted_set_key(p7.get(), key, 32), 1);
    BIO* b = PKCS7_dataDecode(p7.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(b, nullptr);
    const Bytes inner = test::read_all(b);
    BIO_free_all(b);
    test::P7Ptr digested = test::decode(inner);
    ASSERT_TRUE(digested);
    ASSERT_EQ(PKCS7_type_nid(digested.get()), NID_pkcs7_digest);
    b = PKCS7_dataDecode(digested.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(test::read_all(b), test::text(data));
    BIO_free_all(b);
}

TEST_F(OtherTypes, CompressedDataRoundTripsEmptyAndFull) {
    for (const Bytes& content : {Bytes{}, Bytes(100000, 0x7A)}) {
        test::P7Ptr p7(PKCS7_new());
        ASSERT_EQ(PKCS7_set_type(p7.get(), NID_COMPRESSED_DATA), 1);
        ASSERT_TRUE(test::finish(p7.get(), content));
        const Bytes der = test::encode(p7.get());
        // eContent is [0] IMPLICIT: the tag byte 0x80 right after the type.
        const Bytes data_oid{0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x01};
        auto at = std::search(der.begin(), der.end(), data_oid.begin(), data_oid.end());
        ASSERT_NE(at, der.end());
        EXPECT_EQ(*(at + static_cast<long>(data_oid.size())), 0x80);
        test::P7Ptr back = test::decode(der);
        ASSERT_TRUE(back);
        BIO* b = PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(test::read_all(b), content);
        BIO_free_all(b);
    }
}

TEST_F(OtherTypes, CompressedDataRefusesBombsTruncationAndOtherAlgorithms) {
    test::P7Ptr p7(PKCS7_new());
    ASSERT_EQ(PKCS7_set_type(p7.get(), NID_COMPRESSED_DATA), 1);
    ASSERT_TRUE(test::finish(p7.get(), Bytes(1 << 20, 0)));
    test::P7Ptr back = test::decode(test::encode(p7.get()));
    back->max_uncompressed = 1000;
    ERR_clear_error();
    EXPECT_EQ(PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_METH_LIB));
    back->max_uncompressed = 0;

    ASN1_OCTET_STRING* z = back->d.compressed->content->content;
    z->length -= 4;
    EXPECT_EQ(PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    z->length += 4;

    X509_ALGOR_set0(back->d.compressed->algorithm, OBJ_dup(OBJ_nid2obj(NID_pkcs7_data)),
                    V_ASN1_UNDEF, nullptr);
    EXPECT_EQ(PKCS7_dataDecode(back.get(), nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_TRUE(test::has_error(ERR_LIB_PKCS7_, P7_R_UNKNOWN_DIGEST_TYPE));
}

TEST_F(OtherTypes, HostileEncodingsAreRefused) {
    const Bytes cases[] = {
        {},
        {0x30},
        {0x30, 0x80},
        {0x30, 0x80, 0x06, 0x09, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x07, 0x02},
        {0x30, 0x84, 0xff, 0xff, 0xff, 0xff},
        {0x30, 0x03, 0x1f, 0x81, 0x01},
    };
    for (const Bytes& c : cases) {
        const unsigned char* p = c.data();
        EXPECT_EQ(d2i_PKCS7(nullptr, &p, static_cast<long>(c.size())), nullptr);
    }
    // Deep nesting stops at the reader's limit.
    Bytes deep;
    for (int i = 0; i < 200; ++i) deep.insert(deep.end(), {0x30, 0x80});
    for (int i = 0; i < 200; ++i) deep.insert(deep.end(), {0x00, 0x00});
    const unsigned char* p = deep.data();
    EXPECT_EQ(d2i_PKCS7(nullptr, &p, static_cast<long>(deep.size())), nullptr);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
