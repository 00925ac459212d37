// The password-encrypted buffer: round trips of every option, the byte
// layout read back by libcrypto's own PKCS#7 decoder, password encodings,
// wrong passwords and damaged messages.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/buffer_zlib.h"
#include "crypto/cadb/err_str.h"
#include "crypto/core/err.h"
#include "crypto/core/err_str.h"
#include "crypto/core/hmac.h"
#include "crypto/core/objects.h"
#include "crypto/core/pbkdf2.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/store/buffer_crypt.h"
#include "tests/rus/vectors.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

using Bytes = std::vector<unsigned char>;
using P7Ptr = std::unique_ptr<PKCS7, decltype(&PKCS7_free)>;

const char kMasks[] = "0123456789abcdef0123456789ABCDEF";
// "Пароль" in code page 1251.
const char kCyrillic[] = "\xCF\xE0\xF0\xEE\xEB\xFC";
// The same word in UTF-8.
const char kCyrillicUtf8[] = "\xD0\x9F\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C";

class Crypt : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        ERR_clear_error();
    }
    void TearDown() override { ERR_clear_error(); }
    testing::KernelRandom random_;
};

std::string text(const BUFFER* b) {
    return std::string(reinterpret_cast<const char*>(b->data), static_cast<std::size_t>(b->length));
}

BufferPtr encrypt(const char* data, int cipher, const char* pw, int iter = -1, int compress = 0,
                  int form = 1, int raw = 0) {
    return BufferPtr(BUFFER_encrypt(data, -1, cipher, pw, -1, iter, compress, form, raw));
}

BufferPtr decrypt(const BUFFER* msg, const char* pw, int iter = -1, int raw = 0) {
    return BufferPtr(BUFFER_decrypt(msg->data, msg->length, pw, -1, iter, raw));
}

TEST_F(Crypt, RoundTripsEveryOption) {
    for (int cipher : {0, 44, 174, 289}) {
        for (int compress : {0, 1}) {
            for (int form : {1, 2}) {
                BufferPtr m = encrypt(kMasks, cipher, "pw", -1, compress, form);
                ASSERT_TRUE(m) << cipher << compress << form;
                BufferPtr back = decrypt(m.get(), "pw");
                ASSERT_TRUE(back) << cipher << compress << form;
                EXPECT_EQ(text(back.get()), kMasks);
            }
        }
    }
}

TEST_F(Crypt, EmptyAndBinaryData) {
    BufferPtr e(BUFFER_encrypt("", 0, 174, "pw", -1, 0, 0, 1, 0));
    ASSERT_TRUE(e);
    BufferPtr back = decrypt(e.get(), "pw");
    ASSERT_TRUE(back);
    EXPECT_EQ(back->length, 0);

    Bytes binary(70000);
    for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<unsigned char>(i % 251);
    for (int compress : {0, 1}) {
        BufferPtr m(BUFFER_encrypt(binary.data(), static_cast<int>(binary.size()), 44, "pw", 2, 1,
                                   compress, 1, 0));
        ASSERT_TRUE(m);
        BufferPtr b(BUFFER_decrypt(m->data, m->length, "pw", 2, 1, 0));
        ASSERT_TRUE(b);
        ASSERT_EQ(b->length, static_cast<int>(binary.size()));
        EXPECT_EQ(std::memcmp(b->data, binary.data(), binary.size()), 0);
    }
}

TEST_F(Crypt, DefaultIterationCountIs2048) {
    BufferPtr m = encrypt(kMasks, 174, "pw", 2048);
    ASSERT_TRUE(m);
    for (int iter : {0, -1, 2048}) EXPECT_TRUE(decrypt(m.get(), "pw", iter)) << iter;
    EXPECT_FALSE(decrypt(m.get(), "pw", 2047));
}

TEST_F(Crypt, WrongPasswordFailsCleanly) {
    for (int cipher : {44, 174}) {
        for (int compress : {0, 1}) {
            BufferPtr m = encrypt(kMasks, cipher, "right", -1, compress);
            ASSERT_TRUE(m);
            for (const char* wrong : {"wrong", "Right", "", "right "}) {
                ERR_clear_error();
                EXPECT_FALSE(decrypt(m.get(), wrong)) << cipher << wrong;
                // The failing layer, then the closing entry.
                const unsigned long last = ERR_peek_last_error();
                EXPECT_EQ(ERR_code_lib(last), ERR_LIB_CADB);
                EXPECT_EQ(ERR_code_func(last), CADB_F_BUFFER_DECRYPT);
                EXPECT_EQ(ERR_code_reason(last), ERR_LIB_CADB);
            }
        }
    }
}

TEST_F(Crypt, PasswordEncodings) {
    // Written with the converted password: the typed password converts again.
    BufferPtr converted = encrypt(kMasks, 174, kCyrillic);
    ASSERT_TRUE(converted);
    EXPECT_TRUE(decrypt(converted.get(), kCyrillic));
    EXPECT_TRUE(decrypt(converted.get(), kCyrillicUtf8, -1, 1));
    EXPECT_FALSE(decrypt(converted.get(), kCyrillic, -1, 1));
    // Written with the password as typed: the second attempt finds it, and
    // the first attempt's errors are gone.
    BufferPtr typed = encrypt(kMasks, 174, kCyrillic, -1, 0, 1, 1);
    ASSERT_TRUE(typed);
    ERR_clear_error();
    EXPECT_TRUE(decrypt(typed.get(), kCyrillic));
    EXPECT_EQ(ERR_peek_error(), 0u);
    // A byte that code page 1251 does not define cannot be converted.
    EXPECT_FALSE(encrypt(kMasks, 174, "a\x98z"));
    EXPECT_TRUE(encrypt(kMasks, 174, "a\x98z", -1, 0, 1, 1));
    // An empty password is a password; a missing one is an error.
    BufferPtr empty = encrypt(kMasks, 174, "");
    ASSERT_TRUE(empty);
    EXPECT_TRUE(decrypt(empty.get(), ""));
    EXPECT_FALSE(encrypt(kMasks, 174, nullptr));
    EXPECT_FALSE(BufferPtr(BUFFER_decrypt(empty->data, empty->length, nullptr, 0, -1, 0)));
    EXPECT_FALSE(BufferPtr(BUFFER_encrypt(nullptr, 5, 174, "pw", -1, -1, 0, 1, 0)));
}

// libcrypto's own decoder reads the outer message; its parts are checked
// against the format field by field.
TEST_F(Crypt, OuterLayoutAsLibcryptoReadsIt) {
    for (int cipher : {44, 174}) {
        for (int compress : {0, 1}) {
            BufferPtr m = encrypt(kMasks, cipher, "pw", -1, compress);
            ASSERT_TRUE(m);
            const unsigned char* p = m->data;
            P7Ptr p7(d2i_PKCS7(nullptr, &p, m->length), PKCS7_free);
            ASSERT_TRUE(p7);
            EXPECT_EQ(p, m->data + m->length);
            ASSERT_EQ(cadb::OBJ_obj2nid(p7->type), 26);
            EXPECT_EQ(ASN1_INTEGER_get(p7->d.encrypted->version), 1);
            PKCS7_ENC_CONTENT* ec = p7->d.encrypted->enc_data;
            EXPECT_EQ(cadb::OBJ_obj2nid(ec->content_type), compress ? NID_COMPRESSED_DATA : 25);
            const ASN1_OBJECT* alg = nullptr;
            int ptype = 0;
            const void* pval = nullptr;
            X509_ALGOR_get0(&alg, &ptype, &pval, ec->algorithm);
            EXPECT_EQ(cadb::OBJ_obj2nid(alg), cipher);
            ASSERT_EQ(ptype, V_ASN1_OCTET_STRING);
            EXPECT_EQ(ASN1_STRING_length(static_cast<const ASN1_STRING*>(pval)), 8);
            ASSERT_NE(ec->enc_data, nullptr);
            // The ciphertext sits under a primitive [0] tag.
            const auto* ct = ASN1_STRING_get0_data(ec->enc_data);
            const int ct_len = ASN1_STRING_length(ec->enc_data);
            EXPECT_EQ(std::memcmp(m->data + m->length - ct_len, ct, ct_len), 0);
        }
    }
}

Bytes decrypt_by_hand(const BUFFER* m, int cipher_nid, const char* pw) {
    const unsigned char* p = m->data;
    P7Ptr p7(d2i_PKCS7(nullptr, &p, m->length), PKCS7_free);
    PKCS7_ENC_CONTENT* ec = p7->d.encrypted->enc_data;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR_get0(nullptr, &ptype, &pval, ec->algorithm);
    const unsigned char* iv = ASN1_STRING_get0_data(static_cast<const ASN1_STRING*>(pval));
    const unsigned char salt[8] = {};
    unsigned char key[32];
    const EVP_CIPHER* c = nullptr;
    if (cipher_nid == 44) {
        // libcrypto's own PBKDF2 with SHA-1 as the independent reference.
        EXPECT_EQ(PKCS5_PBKDF2_HMAC_SHA1(pw, -1, salt, 8, 2048, 24, key), 1);
        c = EVP_des_ede3_cbc();
    } else {
        EXPECT_EQ(pbkdf2_hmac(EVP_rus_hash(), pw, std::strlen(pw), salt, 8, 2048, key, 32), 1);
        c = EVP_rus_gammar();
    }
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes out(static_cast<std::size_t>(ASN1_STRING_length(ec->enc_data)) + 16);
    int n = 0, tail = 0;
    EXPECT_EQ(EVP_DecryptInit_ex(ctx.get(), c, nullptr, key, iv), 1);
    EXPECT_EQ(EVP_DecryptUpdate(ctx.get(), out.data(), &n, ASN1_STRING_get0_data(ec->enc_data),
                                ASN1_STRING_length(ec->enc_data)),
              1);
    EXPECT_EQ(EVP_DecryptFinal_ex(ctx.get(), out.data() + n, &tail), 1);
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

TEST_F(Crypt, InnerDigestedLayout) {
    for (int cipher : {44, 174}) {
        BufferPtr m = encrypt(kMasks, cipher, "pw");
        ASSERT_TRUE(m);
        const Bytes inner = decrypt_by_hand(m.get(), cipher, "pw");
        const unsigned char* p = inner.data();
        P7Ptr d(d2i_PKCS7(nullptr, &p, static_cast<long>(inner.size())), PKCS7_free);
        ASSERT_TRUE(d) << cipher;
        EXPECT_EQ(p, inner.data() + inner.size());
        ASSERT_EQ(cadb::OBJ_obj2nid(d->type), 25);
        PKCS7_DIGEST* dg = d->d.digest;
        EXPECT_EQ(ASN1_INTEGER_get(dg->version), 0);
        const ASN1_OBJECT* md = nullptr;
        int ptype = 0;
        X509_ALGOR_get0(&md, &ptype, nullptr, dg->md);
        EXPECT_EQ(cadb::OBJ_obj2nid(md), NID_RUS_HASH);
        EXPECT_EQ(ptype, V_ASN1_NULL);
        ASSERT_EQ(cadb::OBJ_obj2nid(dg->contents->type), 21);
        ASN1_OCTET_STRING* data = dg->contents->d.data;
        ASSERT_EQ(ASN1_STRING_length(data), 32);
        EXPECT_EQ(std::memcmp(ASN1_STRING_get0_data(data), kMasks, 32), 0);
        unsigned char h[32];
        unsigned int hn = 0;
        ASSERT_EQ(EVP_Digest(kMasks, 32, h, &hn, EVP_rus_hash(), nullptr), 1);
        ASSERT_EQ(ASN1_STRING_length(dg->digest), 32);
        EXPECT_EQ(std::memcmp(ASN1_STRING_get0_data(dg->digest), h, 32), 0);
    }
}

// The compressed layer: version 0, zlibCompress without parameters, and the
// stream under a primitive [0] tag in place of an OCTET STRING.
TEST_F(Crypt, InnerCompressedLayout) {
    BufferPtr m = encrypt(kMasks, 44, "pw", -1, 1);
    ASSERT_TRUE(m);
    const Bytes inner = decrypt_by_hand(m.get(), 44, "pw");
    const unsigned char oid_compressed[] = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                            0x0D, 0x01, 0x09, 0x10, 0x01, 0x09};
    const unsigned char oid_zlib[] = {0x06, 0x0B, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                      0x0D, 0x01, 0x09, 0x10, 0x03, 0x08};
    const unsigned char oid_digested[] = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86,
                                          0xF7, 0x0D, 0x01, 0x07, 0x05};
    // Walk: SEQUENCE { OID, [0] { SEQUENCE { INTEGER 0, SEQUENCE { OID }, SEQUENCE { OID, [0] } } }
    // }
    const unsigned char* p = inner.data();
    long len = 0;
    int tag = 0, cls = 0;
    auto next = [&](long max) { return ASN1_get_object(&p, &len, &tag, &cls, max); };
    ASSERT_EQ(next(static_cast<long>(inner.size())), V_ASN1_CONSTRUCTED);
    ASSERT_EQ(std::memcmp(p, oid_compressed, sizeof oid_compressed), 0);
    p += sizeof oid_compressed;
    ASSERT_EQ(next(len), V_ASN1_CONSTRUCTED);
    EXPECT_EQ(cls, V_ASN1_CONTEXT_SPECIFIC);
    ASSERT_EQ(next(len), V_ASN1_CONSTRUCTED);
    const unsigned char version0[] = {0x02, 0x01, 0x00};
    ASSERT_EQ(std::memcmp(p, version0, 3), 0);
    p += 3;
    ASSERT_EQ(p[0], 0x30);
    ASSERT_EQ(p[1], sizeof oid_zlib);
    ASSERT_EQ(std::memcmp(p + 2, oid_zlib, sizeof oid_zlib), 0);
    p += 2 + sizeof oid_zlib;
    ASSERT_EQ(next(len), V_ASN1_CONSTRUCTED);
    ASSERT_EQ(std::memcmp(p, oid_digested, sizeof oid_digested), 0);
    p += sizeof oid_digested;
    ASSERT_EQ(p[0], 0x80);
    ASSERT_EQ(next(len), 0);
    EXPECT_EQ(p + len, inner.data() + inner.size());
    BufferPtr digested(BUFFER_uncompress(p, static_cast<int>(len), 0));
    ASSERT_TRUE(digested);
    const unsigned char* q = digested->data;
    P7Ptr d(d2i_PKCS7(nullptr, &q, digested->length), PKCS7_free);
    ASSERT_TRUE(d);
    EXPECT_EQ(cadb::OBJ_obj2nid(d->type), 25);
}

// A message assembled by libcrypto's own PKCS#7 encoder, key derivation and
// cipher, as an older writer of these files would have made it.
TEST_F(Crypt, ReadsAMessageLibcryptoAssembled) {
    const std::string data = "masks written elsewhere";
    P7Ptr inner_data(PKCS7_new(), PKCS7_free);
    ASSERT_EQ(PKCS7_set_type(inner_data.get(), NID_pkcs7_data), 1);
    ASN1_OCTET_STRING_set(inner_data->d.data, reinterpret_cast<const unsigned char*>(data.data()),
                          static_cast<int>(data.size()));
    P7Ptr digested(PKCS7_new(), PKCS7_free);
    ASSERT_EQ(PKCS7_set_type(digested.get(), NID_pkcs7_digest), 1);
    ASSERT_EQ(PKCS7_set_digest(digested.get(), EVP_rus_hash()), 1);
    ASSERT_EQ(PKCS7_set_content(digested.get(), inner_data.release()), 1);
    unsigned char md[32];
    unsigned int md_len = 0;
    ASSERT_EQ(EVP_Digest(data.data(), data.size(), md, &md_len, EVP_rus_hash(), nullptr), 1);
    ASN1_OCTET_STRING_set(digested->d.digest->digest, md, static_cast<int>(md_len));
    unsigned char* inner = nullptr;
    const int inner_len = i2d_PKCS7(digested.get(), &inner);
    ASSERT_GT(inner_len, 0);

    const unsigned char salt[8] = {};
    unsigned char key[24];
    unsigned char iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1("pw", 2, salt, 8, 2048, 24, key), 1);
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                        EVP_CIPHER_CTX_free);
    Bytes ct(static_cast<std::size_t>(inner_len) + 8);
    int n = 0, tail = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(ctx.get(), EVP_des_ede3_cbc(), nullptr, key, iv), 1);
    ASSERT_EQ(EVP_EncryptUpdate(ctx.get(), ct.data(), &n, inner, inner_len), 1);
    ASSERT_EQ(EVP_EncryptFinal_ex(ctx.get(), ct.data() + n, &tail), 1);
    OPENSSL_free(inner);

    P7Ptr outer(PKCS7_new(), PKCS7_free);
    ASSERT_EQ(PKCS7_set_type(outer.get(), NID_pkcs7_encrypted), 1);
    ASN1_INTEGER_set(outer->d.encrypted->version, 1);
    PKCS7_ENC_CONTENT* ec = outer->d.encrypted->enc_data;
    ec->content_type = ::OBJ_nid2obj(NID_pkcs7_digest);
    ASN1_OCTET_STRING* iv_str = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(iv_str, iv, 8);
    X509_ALGOR_set0(ec->algorithm, ::OBJ_nid2obj(NID_des_ede3_cbc), V_ASN1_OCTET_STRING, iv_str);
    ec->enc_data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(ec->enc_data, ct.data(), n + tail);
    unsigned char* der = nullptr;
    const int der_len = i2d_PKCS7(outer.get(), &der);
    ASSERT_GT(der_len, 0);
    BufferPtr back(BUFFER_decrypt(der, der_len, "pw", -1, -1, 1));
    OPENSSL_free(der);
    ASSERT_TRUE(back);
    EXPECT_EQ(text(back.get()), data);
}

TEST_F(Crypt, OtherMessagesAndDamage) {
    // A signedData message: type 22 with an empty body.
    const unsigned char signed_data[] = {0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                         0x0D, 0x01, 0x07, 0x02, 0xA0, 0x02, 0x30, 0x00};
    ERR_clear_error();
    EXPECT_FALSE(BufferPtr(BUFFER_decrypt(signed_data, sizeof signed_data, "pw", -1, -1, 0)));
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), CADB_R_ENCRYPTED_DATA_EXPECTED);
    EXPECT_EQ(ERR_code_reason(ERR_get_error()), ERR_LIB_CADB);

    BufferPtr m = encrypt(kMasks, 174, "pw", -1, 1);
    ASSERT_TRUE(m);
    // Every truncation and every flipped byte fails without a crash; none
    // yields data.
    for (int n = 1; n < m->length; ++n)
        EXPECT_FALSE(BufferPtr(BUFFER_decrypt(m->data, n, "pw", -1, -1, 0))) << n;
    Bytes copy(m->data, m->data + m->length);
    for (std::size_t i = 0; i < copy.size(); ++i) {
        copy[i] ^= 0x01;
        BufferPtr b(BUFFER_decrypt(copy.data(), static_cast<int>(copy.size()), "pw", -1, -1, 0));
        // The version number is not checked; every other byte matters.
        if (b) {
            EXPECT_EQ(text(b.get()), kMasks) << i;
        }
        copy[i] ^= 0x01;
    }
    const unsigned char junk[] = {0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(BufferPtr(BUFFER_decrypt(junk, sizeof junk, "pw", -1, -1, 0)));
    EXPECT_FALSE(BufferPtr(BUFFER_decrypt("plain text", -1, "pw", -1, -1, 0)));
}

TEST_F(Crypt, FailuresPrintWithTheirNames) {
    ERR_load_cadb_strings();
    const unsigned char signed_data[] = {0x30, 0x0F, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7,
                                         0x0D, 0x01, 0x07, 0x02, 0xA0, 0x02, 0x30, 0x00};
    ERR_clear_error();
    EXPECT_FALSE(BufferPtr(BUFFER_decrypt(signed_data, sizeof signed_data, "pw", -1, -1, 0)));
    const unsigned long e = ERR_get_error();
    EXPECT_STREQ(ERR_func_error_string(e), "BUFFER_decrypt");
    EXPECT_STREQ(ERR_reason_error_string(e), "encrypted data expected");
    EXPECT_STREQ(ERR_reason_error_string(ERR_get_error()), "CADB lib");
    EXPECT_FALSE(BufferPtr(BUFFER_fill(nullptr, -1)));
    EXPECT_STREQ(ERR_func_error_string(ERR_get_error()), "BUFFER_fill");
}

TEST_F(Crypt, PemAndBareBase64Input) {
    BufferPtr pem = encrypt(kMasks, 174, "pw", -1, 0, 2);
    ASSERT_TRUE(pem);
    EXPECT_EQ(text(pem.get()).rfind("-----BEGIN PKCS7-----\n", 0), 0u);
    EXPECT_TRUE(decrypt(pem.get(), "pw"));
    BufferPtr der = encrypt(kMasks, 174, "pw");
    ASSERT_TRUE(der);
    BUFFER_to_base64(der.get());
    EXPECT_TRUE(decrypt(der.get(), "pw"));
}

TEST(Pbkdf2, PublishedSha1Answers) {
    const auto records = cadb::testing::read_records("pbkdf2-hmac-sha1-rfc6070.txt");
    ASSERT_EQ(records.size(), 4u);
    for (const auto& r : records) {
        const Bytes want = cadb::testing::unhex(r.at("dk"));
        Bytes got(want.size());
        const std::string& pw = r.at("password");
        const std::string& salt = r.at("salt");
        ASSERT_EQ(pbkdf2_hmac(EVP_sha1(), pw.data(), pw.size(),
                              reinterpret_cast<const unsigned char*>(salt.data()), salt.size(),
                              std::stoul(r.at("c")), got.data(), got.size()),
                  1);
        EXPECT_EQ(got, want) << r.at("c");
    }
}

// The GOST PRF against the one-shot HMAC: U1 = HMAC(P, S || 1), U2 = HMAC(P, U1).
TEST(Pbkdf2, GostPrfFollowsTheDefinition) {
    const unsigned char salt[8] = {};
    const unsigned char s1[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    unsigned char u1[64], u2[64];
    unsigned int n = 0;
    ASSERT_EQ(hmac_digest(EVP_rus_hash(), "pw", 2, s1, sizeof s1, u1, &n), 1);
    ASSERT_EQ(n, 32u);
    ASSERT_EQ(hmac_digest(EVP_rus_hash(), "pw", 2, u1, 32, u2, &n), 1);
    unsigned char one[32], two[32];
    ASSERT_EQ(pbkdf2_hmac(EVP_rus_hash(), "pw", 2, salt, 8, 1, one, 32), 1);
    ASSERT_EQ(pbkdf2_hmac(EVP_rus_hash(), "pw", 2, salt, 8, 2, two, 32), 1);
    EXPECT_EQ(std::memcmp(one, u1, 32), 0);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(two[i], u1[i] ^ u2[i]);
    EXPECT_EQ(pbkdf2_hmac(EVP_rus_hash(), "pw", 2, salt, 8, 0, one, 32), 0);
}

}  // namespace
}  // namespace cadb
