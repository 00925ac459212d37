// Key files in every form: traditional and PKCS#8, DER and PEM, clear and
// password-protected, with and without the key wrapped under a key store.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/passwd.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/engine/pkcs8_pbes2.h"
#include "crypto/rus/evp_gost.h"
#include "tests/keys/keys_fixture.h"

namespace cadb::test {
namespace {

class PkeyFile : public KeysTest {
  protected:
    static PkeyPtr make(int type, PSE* store) {
        if (type == NID_rsa) return PkeyPtr(PKEY_generate(type, 512, nullptr, nullptr, nullptr));
        if (type == EVP_PKEY_DSA) return PkeyPtr(PKEY_generate(type, 0, nullptr, nullptr, nullptr));
        return PkeyPtr(PKEY_generate(type, 0, nullptr, nullptr, store));
    }
};

struct PasswordSource {
    std::string text;
    int asked = 0;
};

int give(char* buf, int size, int, void* arg) {
    auto* src = static_cast<PasswordSource*>(arg);
    ++src->asked;
    const int n = static_cast<int>(src->text.size());
    if (n > size) return -1;
    std::memcpy(buf, src->text.data(), src->text.size());
    return n;
}

int refuse(char*, int, int, void*) { return -1; }

std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST_F(PkeyFile, EveryFormRoundTrips) {
    const int types[] = {NID_rsa,      EVP_PKEY_DSA, NID_R3410,
                         NID_R3410_CP, NID_ECR3410,  NID_ECR3410_CP};
    for (int type : types) {
        PkeyPtr key = make(type, store_);
        ASSERT_TRUE(key) << type;
        const bool gost = type != NID_rsa && type != EVP_PKEY_DSA;
        for (int format : {FORM_DER, FORM_PEM}) {
            for (int form : {PKEY_FORM_TRADITIONAL, PKEY_FORM_PKCS8}) {
                for (bool with_password : {false, true}) {
                    for (bool wrapped : {false, true}) {
                        if (wrapped && !gost) continue;
                        SCOPED_TRACE(::testing::Message()
                                     << type << " format " << format << " form " << form
                                     << " password " << with_password << " wrapped " << wrapped);
                        PSE* under = wrapped ? store_ : nullptr;
                        PasswordSource pw{"secret"};
                        BufferPtr file(PKEY_get(key.get(), format, form, under,
                                                with_password ? give : nullptr, &pw));
                        ASSERT_TRUE(file);
                        const bool encrypted =
                            with_password && (form != PKEY_FORM_TRADITIONAL || format == FORM_PEM);
                        const std::string text = text_of(bytes_of(file.get()));
                        if (format == FORM_PEM) {
                            const char* label = form == PKEY_FORM_TRADITIONAL ? PKEY_pem_name(type)
                                                : encrypted ? "ENCRYPTED PRIVATE KEY"
                                                            : "PRIVATE KEY";
                            EXPECT_EQ(text.rfind(std::string("-----BEGIN ") + label + "-----", 0),
                                      0u)
                                << text.substr(0, 40);
                        }
                        // The key is held unwrapped again after a wrapped write.
                        BUFFER* unwrapped = PKEY_get(key.get(), FORM_DER, PKEY_FORM_PKCS8, nullptr,
                                                     nullptr, nullptr);
                        EXPECT_TRUE(unwrapped != nullptr);
                        BUFFER_free(unwrapped);
                        PasswordSource again{"secret"};
                        PkeyPtr back(PKEY_read_buffer(file->data, file->length, under,
                                                      with_password ? give : nullptr, &again));
                        ASSERT_TRUE(back);
                        EXPECT_EQ(again.asked, encrypted ? 1 : 0);
                        EXPECT_EQ(EVP_PKEY_eq(back->key, key->key), 1);
                        EXPECT_EQ(EVP_PKEY_nid(back->key), EVP_PKEY_nid(key->key));
                        ASSERT_NE(back->fingerprint, nullptr);
                        EXPECT_EQ(bytes_of(back->fingerprint), bytes_of(key->fingerprint));
                        if (encrypted) {
                            PasswordSource wrong{"Secret"};
                            ERR_clear_error();
                            EXPECT_FALSE(PkeyPtr(
                                PKEY_read_buffer(file->data, file->length, under, give, &wrong)));
                            EXPECT_NE(ERR_peek_error(), 0u);
                            EXPECT_FALSE(PkeyPtr(PKEY_read_buffer(file->data, file->length, under,
                                                                  nullptr, nullptr)));
                            EXPECT_FALSE(PkeyPtr(PKEY_read_buffer(file->data, file->length, under,
                                                                  refuse, nullptr)));
                            ERR_clear_error();
                        }
                    }
                }
            }
        }
    }
}

TEST_F(PkeyFile, WrappedKeysNeedTheirStore) {
    PkeyPtr key = make(NID_ECR3410_CP, store_);
    BufferPtr file(PKEY_get(key.get(), FORM_DER, PKEY_FORM_PKCS8, store_, nullptr, nullptr));
    ASSERT_TRUE(file);
    // The plain key's private number is not in the wrapped file.
    BufferPtr plain(PKEY_get(key.get(), FORM_DER, PKEY_FORM_PKCS8, nullptr, nullptr, nullptr));
    EXPECT_NE(bytes_of(file.get()), bytes_of(plain.get()));
    // Without a store the wrapped key cannot be unwrapped; under another
    // store it does not unwrap to the same key.
    EXPECT_FALSE(PkeyPtr(PKEY_read_buffer(file->data, file->length, nullptr, nullptr, nullptr)));
    PSE* other = open_store("a:\\other");
    ASSERT_NE(other, nullptr);
    PkeyPtr wrong(PKEY_read_buffer(file->data, file->length, other, nullptr, nullptr));
    EXPECT_FALSE(wrong && EVP_PKEY_eq(wrong->key, key->key) == 1);
    PSE_free(other);
    ERR_clear_error();
}

TEST_F(PkeyFile, ConvertedAndTypedPasswordsBothOpen) {
    PkeyPtr key = make(NID_ECR3410_CP, store_);
    // A password in the local code page, which the stored encoding changes.
    PasswordSource local{"\xEF\xE0\xF0\xEE\xEB\xFC"};
    int converted_len = 0;
    char* converted =
        PASSWD_encode(local.text.data(), static_cast<int>(local.text.size()), &converted_len);
    ASSERT_NE(converted, nullptr);
    ASSERT_NE(std::string(converted, converted_len), local.text);

    // Written here: the converted password; read with the typed one.
    BufferPtr file(PKEY_get(key.get(), FORM_PEM, PKEY_FORM_PKCS8, nullptr, give, &local));
    ASSERT_TRUE(file);
    PasswordSource again{local.text};
    PkeyPtr back(PKEY_read_buffer(file->data, file->length, nullptr, give, &again));
    ASSERT_TRUE(back);
    EXPECT_EQ(again.asked, 1);
    EXPECT_EQ(EVP_PKEY_eq(back->key, key->key), 1);

    // Written elsewhere with the password bytes as typed: the second attempt.
    PKCS8_PRIV_KEY_INFO* p8 = EVP_PKEY2PKCS8(key->key);
    X509_SIG* sig = PKCS8_encrypt_pbes2(EVP_rus_gammar(), EVP_rus_hash(), local.text.data(),
                                        static_cast<int>(local.text.size()), 0, p8);
    ASSERT_NE(sig, nullptr);
    unsigned char* der = nullptr;
    const int len = i2d_X509_SIG(sig, &der);
    PasswordSource typed{local.text};
    PkeyPtr from_typed(PKEY_read_buffer(der, len, nullptr, give, &typed));
    ASSERT_TRUE(from_typed);
    EXPECT_EQ(typed.asked, 1) << "asked once for both attempts";
    EXPECT_EQ(EVP_PKEY_eq(from_typed->key, key->key), 1);
    OPENSSL_free(der);
    X509_SIG_free(sig);
    PKCS8_PRIV_KEY_INFO_free(p8);
    OPENSSL_clear_free(converted, static_cast<size_t>(converted_len) + 1);
}

TEST_F(PkeyFile, PasswordBytesWithAZeroByte) {
    PkeyPtr key = make(NID_ECR3410, store_);
    const char binary[] = {'a', '\0', 'b'};
    BufferPtr file(PKEY_get_passwd(key.get(), FORM_PEM, PKEY_FORM_PKCS8, nullptr, binary, 3));
    ASSERT_TRUE(file);
    PkeyPtr back(PKEY_read_buffer_passwd(file->data, file->length, nullptr, binary, 3));
    ASSERT_TRUE(back);
    EXPECT_EQ(EVP_PKEY_eq(back->key, key->key), 1);
    // Entered as a string, the password stops at its zero byte.
    BufferPtr as_text(PKEY_get_passwd(key.get(), FORM_DER, PKEY_FORM_PKCS8, nullptr, "a", 1));
    PkeyPtr from_text(PKEY_read_buffer_passwd(as_text->data, as_text->length, nullptr, binary, 3));
    ASSERT_TRUE(from_text);
    EXPECT_FALSE(PkeyPtr(PKEY_read_buffer_passwd(file->data, file->length, nullptr, "ab", 2)));
    ERR_clear_error();
}

TEST_F(PkeyFile, PeersReadOurClearFiles) {
    // An RSA key file in the forms everyone writes, read by libcrypto itself.
    PkeyPtr key = make(NID_rsa, store_);
    for (int form : {PKEY_FORM_TRADITIONAL, PKEY_FORM_PKCS8}) {
        BufferPtr pem(PKEY_get(key.get(), FORM_PEM, form, nullptr, nullptr, nullptr));
        BIO* bio = BIO_new_mem_buf(pem->data, pem->length);
        EVP_PKEY* read = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        ASSERT_NE(read, nullptr) << form;
        EXPECT_EQ(EVP_PKEY_eq(read, key->key), 1);
        EVP_PKEY_free(read);
    }
    // Encrypted RSA PKCS#8 under DES-EDE3-CBC and HMAC-SHA1.
    BufferPtr enc(PKEY_get_passwd(key.get(), FORM_PEM, PKEY_FORM_PKCS8, nullptr, "pw", 2));
    BIO* bio = BIO_new_mem_buf(enc->data, enc->length);
    EVP_PKEY* read = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>("pw"));
    BIO_free(bio);
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(EVP_PKEY_eq(read, key->key), 1);
    EVP_PKEY_free(read);
}

// A traditional DSA key file is taken only when it is a whole key: written
// again (as password-protected PKCS#8, which keeps only x and the group) it
// must be the same key and read back.
TEST_F(PkeyFile, TraditionalDsaKeyReadsOnlyWhenItWritesBack) {
    PkeyPtr key = make(EVP_PKEY_DSA, store_);
    ASSERT_TRUE(key);
    const DSA* dsa = EVP_PKEY_get0_DSA(key->key);
    const BIGNUM *p = nullptr, *q = nullptr, *g = nullptr, *y = nullptr, *x = nullptr;
    DSA_get0_pqg(dsa, &p, &q, &g);
    DSA_get0_key(dsa, &y, &x);
    using Bn = std::unique_ptr<BIGNUM, decltype(&BN_free)>;
    std::unique_ptr<BN_CTX, decltype(&BN_CTX_free)> ctx(BN_CTX_new(), BN_CTX_free);

    // DSAPrivateKey: SEQUENCE { version, p, q, g, y, x }, each an INTEGER.
    auto encode = [](long version, std::initializer_list<const BIGNUM*> numbers) {
        Bytes body;
        auto add = [&body](ASN1_INTEGER* i) {
            unsigned char* der = nullptr;
            const int n = i2d_ASN1_INTEGER(i, &der);
            body.insert(body.end(), der, der + n);
            OPENSSL_free(der);
            ASN1_INTEGER_free(i);
        };
        ASN1_INTEGER* v = ASN1_INTEGER_new();
        ASN1_INTEGER_set(v, version);
        add(v);
        for (const BIGNUM* b : numbers) add(BN_to_ASN1_INTEGER(b, nullptr));
        Bytes der(ASN1_object_size(1, static_cast<int>(body.size()), V_ASN1_SEQUENCE));
        unsigned char* out = der.data();
        ASN1_put_object(&out, 1, static_cast<int>(body.size()), V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
        std::copy(body.begin(), body.end(), out);
        return der;
    };
    auto read = [](const Bytes& der) {
        return PkeyPtr(
            PKEY_read_buffer(der.data(), static_cast<int>(der.size()), nullptr, nullptr, nullptr));
    };

    const Bytes whole = encode(0, {p, q, g, y, x});
    PkeyPtr back = read(whole);
    ASSERT_TRUE(back);
    BufferPtr p8(PKEY_get_passwd(back.get(), FORM_DER, PKEY_FORM_PKCS8, nullptr, "pw", 2));
    ASSERT_TRUE(p8);
    PkeyPtr again(PKEY_read_buffer_passwd(p8->data, p8->length, nullptr, "pw", 2));
    ASSERT_TRUE(again);
    EXPECT_EQ(EVP_PKEY_eq(again->key, key->key), 1);

    // Another public value of the group, not the one of x.
    Bn other_y(BN_new(), BN_free);
    ASSERT_TRUE(BN_mod_mul(other_y.get(), y, g, p, ctx.get()));
    // A generator of order 2, with the public value it gives.
    Bn minus_one(BN_dup(p), BN_free);
    ASSERT_TRUE(BN_sub_word(minus_one.get(), 1));
    Bn y_of_minus_one(BN_new(), BN_free);
    ASSERT_TRUE(BN_mod_exp(y_of_minus_one.get(), minus_one.get(), x, p, ctx.get()));
    // A q that does not divide p - 1, with g and y that suit nothing.
    Bn other_q(BN_dup(q), BN_free);
    ASSERT_TRUE(BN_add_word(other_q.get(), 2));

    const Bytes refused[] = {
        encode(0x0202, {p, q, g, y, x}),
        encode(1, {p, q, g, y, x}),
        encode(0, {p, q, g, other_y.get(), x}),
        encode(0, {p, q, minus_one.get(), y_of_minus_one.get(), x}),
        encode(0, {p, other_q.get(), g, y, x}),
        encode(0, {p, q, g, BN_value_one(), BN_value_one()}),
    };
    for (std::size_t i = 0; i < std::size(refused); ++i) {
        ERR_clear_error();
        EXPECT_FALSE(read(refused[i])) << i;
        EXPECT_NE(ERR_peek_error(), 0u) << i;
    }
    ERR_clear_error();
}

TEST_F(PkeyFile, HostileBytesFailCleanly) {
    PkeyPtr key = make(NID_ECR3410_CP, store_);
    BufferPtr file(PKEY_get_passwd(key.get(), FORM_DER, PKEY_FORM_PKCS8, nullptr, "pw", 2));
    Bytes der = bytes_of(file.get());
    EXPECT_FALSE(PkeyPtr(PKEY_read_buffer(nullptr, 10, nullptr, nullptr, nullptr)));
    EXPECT_FALSE(PkeyPtr(PKEY_read_buffer(der.data(), 0, nullptr, nullptr, nullptr)));
    // Trailing bytes are refused.
    Bytes longer = der;
    longer.push_back(0);
    EXPECT_FALSE(PkeyPtr(
        PKEY_read_buffer_passwd(longer.data(), static_cast<int>(longer.size()), nullptr, "pw", 2)));
    // The encryption has no integrity check of its own: a changed byte
    // either fails or gives some key that still encodes; never a crash.
    for (size_t i = 0; i < der.size(); i += 3) {
        Bytes m = der;
        m[i] ^= 0x5A;
        PkeyPtr k(PKEY_read_buffer_passwd(m.data(), static_cast<int>(m.size()), nullptr, "pw", 2));
        if (k) {
            EXPECT_NE(k->fingerprint, nullptr);
        }
    }
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb::test
