// Names and request attributes split into attribute lists, value text and
// bytes, key-usage masks, fingerprints and object records.
#include "crypto/cadb/attribute.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/cadb_oid.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/engine/engine.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"

namespace cadb {
namespace {

using NamePtr = std::unique_ptr<X509_NAME, decltype(&X509_NAME_free)>;
using AttrList = std::unique_ptr<ATTRIBUTE, decltype(&ATTRIBUTE_free)>;

std::string text(const ATTRIBUTE* a) {
    return std::string(a->text, static_cast<std::size_t>(a->length));
}

void add_entry(X509_NAME* name, int nid, int type, const std::string& bytes) {
    ASSERT_EQ(X509_NAME_add_entry_by_OBJ(name, const_cast<ASN1_OBJECT*>(OBJ_nid2obj(nid)), type,
                                         reinterpret_cast<const unsigned char*>(bytes.data()),
                                         static_cast<int>(bytes.size()), -1, 0),
              1);
}

// Through DER and back, as names arrive from outside.
NamePtr reparsed(const X509_NAME* name) {
    unsigned char* der = nullptr;
    const int n = i2d_X509_NAME(name, &der);
    const unsigned char* p = der;
    NamePtr back(d2i_X509_NAME(nullptr, &p, n), X509_NAME_free);
    OPENSSL_free(der);
    return back;
}

class Attributes : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        ERR_clear_error();
    }
    void TearDown() override { ERR_clear_error(); }
};

TEST_F(Attributes, AddAppendsInOrder) {
    ATTRIBUTE* head = nullptr;
    ATTRIBUTE* first = ATTRIBUTE_add(&head, 3, "one", -1, 19);
    ASSERT_EQ(head, first);
    ASSERT_TRUE(ATTRIBUTE_add(&head, 17, "two\0x", 5, 12));
    ASSERT_TRUE(ATTRIBUTE_add(&head, 18, "", 0, 19));
    AttrList list(head, ATTRIBUTE_free);
    EXPECT_EQ(text(head), "one");
    EXPECT_EQ(head->next->length, 5);
    EXPECT_EQ(head->next->nid, 17);
    EXPECT_EQ(head->next->next->length, 0);
    EXPECT_EQ(head->next->next->text[0], '\0');
    EXPECT_EQ(head->next->next->next, nullptr);
    EXPECT_EQ(ATTRIBUTE_add(&head, 3, nullptr, 2, 19), nullptr);
    EXPECT_EQ(ATTRIBUTE_add(nullptr, 3, "x", 1, 19), nullptr);
    ATTRIBUTE_free(nullptr);
    // A long list is freed without deep recursion.
    ATTRIBUTE* big = nullptr;
    ATTRIBUTE** end = &big;
    for (int i = 0; i < 100000; ++i) end = &ATTRIBUTE_add(end, 3, "v", 1, 19)->next;
    ATTRIBUTE_free(big);
}

TEST_F(Attributes, NameSplitPrintsEveryStringType) {
    NamePtr name(X509_NAME_new(), X509_NAME_free);
    add_entry(name.get(), 14, V_ASN1_PRINTABLESTRING, "RU");
    add_entry(name.get(), 13, V_ASN1_UTF8STRING, "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD");
    add_entry(name.get(), 18, V_ASN1_BMPSTRING, std::string("\x04\x18\x04\x32\x04\x30\x04\x3D", 8));
    add_entry(name.get(), 7, V_ASN1_UNIVERSALSTRING, std::string("\0\0\0A\0\0\x04\x18", 8));
    add_entry(name.get(), 48, V_ASN1_IA5STRING, "a@b.ru");
    // A UTF-8 character code page 1251 lacks shows as '?'.
    add_entry(name.get(), 17, V_ASN1_UTF8STRING, "x\xE4\xB8\xADy");
    // postalAddress: a SEQUENCE of strings printed one after another.
    const std::string postal(
        "\x30\x0A\x13\x03"
        "abc"
        "\x0C\x03"
        "def",
        12);
    add_entry(name.get(), NID_POSTAL_ADDRESS, V_ASN1_SEQUENCE, postal);
    NamePtr back = reparsed(name.get());
    ASSERT_TRUE(back);

    AttrList list(X509_NAME_split(back.get()), ATTRIBUTE_free);
    ASSERT_TRUE(list);
    struct Want {
        int nid;
        const char* text;
        int type;
    } want[] = {{14, "RU", 19},
                {13, "\xC8\xE2\xE0\xED", 12},
                {18, "\xC8\xE2\xE0\xED", 30},
                {7, "A\xC8", 12},
                {48, "a@b.ru", 22},
                {17, "x?y", 12},
                {NID_POSTAL_ADDRESS, "abcdef", 19}};
    const ATTRIBUTE* a = list.get();
    for (const Want& w : want) {
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->nid, w.nid);
        EXPECT_EQ(text(a), w.text) << w.nid;
        EXPECT_EQ(a->string_type, w.type) << w.nid;
        EXPECT_EQ(a->text[a->length], '\0');
        a = a->next;
    }
    EXPECT_EQ(a, nullptr);

    NamePtr empty(X509_NAME_new(), X509_NAME_free);
    EXPECT_EQ(X509_NAME_split(empty.get()), nullptr);
    EXPECT_EQ(X509_NAME_split(nullptr), nullptr);
}

TEST_F(Attributes, RequestAttributesSplitAndExtensions) {
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> req(X509_REQ_new(), X509_REQ_free);
    ASSERT_EQ(
        X509_REQ_add1_attr_by_NID(req.get(), NID_pkcs9_challengePassword, V_ASN1_PRINTABLESTRING,
                                  reinterpret_cast<const unsigned char*>("secret"), 6),
        1);
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    X509_EXTENSION* ku = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "digitalSignature");
    ASSERT_NE(ku, nullptr);
    sk_X509_EXTENSION_push(exts, ku);
    ASSERT_EQ(X509_REQ_add_extensions(req.get(), exts), 1);
    ASSERT_EQ(X509_REQ_add_extensions_nid(req.get(), exts, OBJ_nid2openssl(NID_MS_EXT_REQ)), 1);
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    ASSERT_EQ(X509_REQ_add1_attr_by_NID(req.get(), NID_pkcs9_unstructuredName, V_ASN1_IA5STRING,
                                        reinterpret_cast<const unsigned char*>(""), 0),
              1);

    STACK_OF(X509_ATTRIBUTE)* attrs = sk_X509_ATTRIBUTE_new_null();
    for (int i = 0; i < X509_REQ_get_attr_count(req.get()); ++i)
        sk_X509_ATTRIBUTE_push(attrs, X509_REQ_get_attr(req.get(), i));

    STACK_OF(X509_EXTENSION)* out = nullptr;
    AttrList list(X509_ATTRIBUTES_split(attrs, &out), ATTRIBUTE_free);
    ASSERT_TRUE(list);
    EXPECT_EQ(list->nid, 54);
    EXPECT_EQ(text(list.get()), "secret");
    EXPECT_EQ(list->string_type, 19);
    // The empty unstructuredName has no bytes and is skipped.
    EXPECT_EQ(list->next, nullptr);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(sk_X509_EXTENSION_num(out), 1);
    sk_X509_EXTENSION_pop_free(out, X509_EXTENSION_free);
    EXPECT_EQ(X509_ATTRIBUTES_split(nullptr, &out), nullptr);
    sk_X509_ATTRIBUTE_free(attrs);
}

TEST_F(Attributes, StringTextBytesAndKeyUsage) {
    std::unique_ptr<ASN1_STRING, decltype(&ASN1_STRING_free)> serial(
        ASN1_STRING_type_new(V_ASN1_OCTET_STRING), ASN1_STRING_free);
    ASN1_STRING_set(serial.get(), "\x01\x00\xFF", 3);
    BufferPtr bytes(ASN1_STRING_get_bytes(serial.get()));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes->data), 3), std::string("\x01\x00\xFF", 3));
    BufferPtr hex(ASN1_STRING_get_text(serial.get()));
    ASSERT_TRUE(hex);
    EXPECT_STREQ(reinterpret_cast<char*>(hex->data), "01 00 FF ");
    // Broken UTF-8 is shown as hex rather than lost.
    std::unique_ptr<ASN1_STRING, decltype(&ASN1_STRING_free)> bad(
        ASN1_STRING_type_new(V_ASN1_UTF8STRING), ASN1_STRING_free);
    ASN1_STRING_set(bad.get(), "\xC3", 1);
    BufferPtr shown(ASN1_STRING_get_text(bad.get()));
    ASSERT_TRUE(shown);
    EXPECT_STREQ(reinterpret_cast<char*>(shown->data), "C3 ");
    EXPECT_EQ(ASN1_STRING_get_text(nullptr), nullptr);
    EXPECT_EQ(ASN1_STRING_get_bytes(nullptr), nullptr);

    std::unique_ptr<ASN1_BIT_STRING, decltype(&ASN1_BIT_STRING_free)> ku(ASN1_BIT_STRING_new(),
                                                                         ASN1_BIT_STRING_free);
    ASN1_BIT_STRING_set_bit(ku.get(), 0, 1);  // digitalSignature
    ASN1_BIT_STRING_set_bit(ku.get(), 2, 1);  // keyEncipherment
    ASN1_BIT_STRING_set_bit(ku.get(), 8, 1);  // decipherOnly
    EXPECT_EQ(KEY_USAGE_bits(ku.get()), 0x105);
    ASN1_BIT_STRING_set_bit(ku.get(), 40, 1);  // beyond four bytes: not counted
    EXPECT_EQ(KEY_USAGE_bits(ku.get()), 0x105);
    EXPECT_EQ(KEY_USAGE_bits(nullptr), 0);
}

TEST_F(Attributes, Fingerprints) {
    ASSERT_EQ(ENGINE_load_cadb(), 1);
    const std::string path = std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/cert-A.pem";
    FILE* f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_X509(f, nullptr, nullptr, nullptr),
                                                     X509_free);
    std::fclose(f);
    ASSERT_TRUE(cert);
    EVP_PKEY* key = X509_get0_pubkey(cert.get());
    ASSERT_NE(key, nullptr);
    BufferPtr fp(FINGER_PRINT_get(key));
    ASSERT_TRUE(fp);
    ASSERT_EQ(fp->length, 32);
    // The key bytes as the certificate carries them.
    const ASN1_BIT_STRING* bits = X509_get0_pubkey_bitstr(cert.get());
    unsigned char md[32];
    unsigned int n = 0;
    ASSERT_EQ(
        EVP_Digest(ASN1_STRING_get0_data(bits), static_cast<std::size_t>(ASN1_STRING_length(bits)),
                   md, &n, EVP_rus_hash(), nullptr),
        1);
    EXPECT_EQ(std::memcmp(fp->data, md, 32), 0);
    // The same key bytes under any digest.
    unsigned char key_md[EVP_MAX_MD_SIZE];
    unsigned int key_md_len = 0;
    ASSERT_EQ(X509_PUBKEY_digest(X509_get_X509_PUBKEY(cert.get()), EVP_rus_hash(), key_md,
                                 &key_md_len),
              1);
    EXPECT_EQ(key_md_len, 32u);
    EXPECT_EQ(std::memcmp(key_md, md, 32), 0);
    ASSERT_EQ(X509_PUBKEY_digest(X509_get_X509_PUBKEY(cert.get()), EVP_sha1(), key_md,
                                 &key_md_len),
              1);
    EXPECT_EQ(key_md_len, 20u);
    ASSERT_EQ(EVP_Digest(ASN1_STRING_get0_data(bits),
                         static_cast<std::size_t>(ASN1_STRING_length(bits)), md, &n, EVP_sha1(),
                         nullptr),
              1);
    EXPECT_EQ(std::memcmp(key_md, md, 20), 0);
    ERR_clear_error();
    EXPECT_EQ(X509_PUBKEY_digest(nullptr, EVP_sha1(), key_md, &key_md_len), 0);
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_pack_code(ERR_LIB_X509_, X509_F_X509_PUBKEY_DIGEST, ERR_R_INTERNAL));
    ERR_clear_error();

    const X509_NAME* subject = X509_get_subject_name(cert.get());
    BufferPtr nfp(NAME_FINGER_PRINT_get(subject));
    ASSERT_TRUE(nfp);
    unsigned char* der = nullptr;
    const int der_len = i2d_X509_NAME(subject, &der);
    ASSERT_EQ(EVP_Digest(der, static_cast<std::size_t>(der_len), md, &n, EVP_rus_hash(), nullptr),
              1);
    OPENSSL_free(der);
    EXPECT_EQ(std::memcmp(nfp->data, md, 32), 0);
    EXPECT_EQ(FINGER_PRINT_get(nullptr), nullptr);
    EXPECT_EQ(NAME_FINGER_PRINT_get(nullptr), nullptr);
}

TEST_F(Attributes, ObjectRecordClearsItsText) {
    CADB_OID* o = CADB_OID_new();
    ASSERT_NE(o, nullptr);
    EXPECT_EQ(o->nid, 0);
    EXPECT_EQ(o->oid.data, nullptr);
    o->nid = NID_RUS_HASH;
    o->sn = OBJ_nid2sn(NID_RUS_HASH);
    ASSERT_EQ(BUFFER_append(&o->oid, "1.2.3", -1), 5);
    CADB_OID_clear(o);
    EXPECT_EQ(o->nid, 0);
    EXPECT_EQ(o->sn, nullptr);
    EXPECT_EQ(o->oid.data, nullptr);
    ASSERT_EQ(BUFFER_append(&o->oid, "1.2.3", -1), 5);
    CADB_OID_free(o);
    CADB_OID_free(nullptr);
}

}  // namespace
}  // namespace cadb
