// The certificate record: the vector certificates split into their fields,
// every reading form, hostile bytes, and the record's ownership.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/core/err.h"
#include "crypto/x509/cert_ctx.h"
#include "crypto/x509/cert_verify.h"
#include "crypto/x509v3/ext_text.h"
#include "tests/x509/cert_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::CertPtr;
using CertRecord = test::KeyTest;

struct VectorCert {
    const char* set;
    const char* serial_hex;
};
constexpr VectorCert kVectors[] = {
    {"A", "339811F63DFEB11A88C180E7DC63D931EEE822DC"},
    {"B", "0B5E59BBB82C71A12D8AD49F9523931DFD5106E8"},
    {"C", "38CBF12D89F148D99BC1BACCD5C5912DD2FB9298"},
    {"XA", "0B9B486C06BEAC097BEF0718BC330CEFA97AAA75"},
    {"XB", "1CDA267EBB8E4A1BC5350EE9997FC168D1249DA5"},
};

std::string hex(const BUFFER* b) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; i < b->length; ++i) {
        out += digits[b->data[i] >> 4];
        out += digits[b->data[i] & 15];
    }
    return out;
}

Bytes vector_pem(const std::string& set) {
    return test::read_file("gost3410-2001-keys/cert-" + set + ".pem");
}

CertPtr read(int form, const Bytes& b) {
    return CertPtr(CERT_read_buffer(form, b.data(), static_cast<int>(b.size())));
}

// The base64 body of a PEM text, without header, trailer or final newline.
Bytes bare_base64(const Bytes& pem) {
    std::string s(pem.begin(), pem.end());
    const auto begin = s.find('\n') + 1;
    const auto end = s.find("-----END");
    std::string body = s.substr(begin, end - begin);
    while (!body.empty() && body.back() == '\n') body.pop_back();
    return Bytes(body.begin(), body.end());
}

void expect_time(const struct tm& t, int year, int mon, int day, int h, int m, int s) {
    EXPECT_EQ(t.tm_year, year - 1900);
    EXPECT_EQ(t.tm_mon, mon - 1);
    EXPECT_EQ(t.tm_mday, day);
    EXPECT_EQ(t.tm_hour, h);
    EXPECT_EQ(t.tm_min, m);
    EXPECT_EQ(t.tm_sec, s);
    EXPECT_EQ(t.tm_wday, 0);
    EXPECT_EQ(t.tm_yday, 0);
    EXPECT_EQ(t.tm_isdst, 0);
}

TEST_F(CertRecord, VectorCertificatesSplitIntoTheirFields) {
    for (const VectorCert& v : kVectors) {
        SCOPED_TRACE(v.set);
        CertPtr c = read(FORM_PEM, vector_pem(v.set));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->version, 2);
        EXPECT_EQ(c->key_algorithm, NID_ECR3410_CP);
        EXPECT_EQ(c->key_size, 256);
        EXPECT_EQ(c->signature_algorithm, NID_R3411_WITH_ECR3410_CP);
        EXPECT_EQ(c->self_issued, 1);
        EXPECT_EQ(c->parameters_missing, 0);
        EXPECT_EQ(hex(c->serial), v.serial_hex);
        expect_time(c->not_before, 2026, 12, 9, 4, 34, 55);
        expect_time(c->not_after, 2036, 12, 6, 4, 34, 55);

        const std::string cn = std::string("Test ") + v.set;
        EXPECT_EQ(test::text_of(c->subject_text), "CN=" + cn + ", O=Vectors, C=RU");
        EXPECT_EQ(test::text_of(c->issuer_text), test::text_of(c->subject_text));
        const ATTRIBUTE* a = c->subject;
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->nid, NID_commonName);
        EXPECT_EQ(std::string(a->text, a->length), cn);
        EXPECT_EQ(a->string_type, V_ASN1_UTF8STRING);
        ASSERT_NE(a->next, nullptr);
        EXPECT_EQ(a->next->nid, NID_organizationName);
        ASSERT_NE(a->next->next, nullptr);
        EXPECT_EQ(a->next->next->nid, NID_countryName);
        EXPECT_EQ(a->next->next->string_type, V_ASN1_PRINTABLESTRING);
        EXPECT_EQ(a->next->next->next, nullptr);
        ASSERT_NE(c->issuer, nullptr);

        ASSERT_NE(c->key_fingerprint, nullptr);
        EXPECT_EQ(c->key_fingerprint->length, kFingerprintSize);
        BufferPtr fp(FINGER_PRINT_get(X509_get0_pubkey(c->x509)));
        EXPECT_EQ(test::bytes_of(c->key_fingerprint), test::bytes_of(fp.get()));
        ASSERT_NE(c->subject_fingerprint, nullptr);
        EXPECT_EQ(c->subject_fingerprint->length, kFingerprintSize);
        EXPECT_EQ(test::bytes_of(c->subject_fingerprint), test::bytes_of(c->issuer_fingerprint));

        EXPECT_EQ(c->verify_result, -1);
        EXPECT_EQ(c->verify_errors, nullptr);
        EXPECT_EQ(c->issuer_cert, nullptr);
        EXPECT_EQ(c->crl, nullptr);
    }
}

TEST_F(CertRecord, EveryFormReadsAndWritesBack) {
    const Bytes pem = vector_pem("A");
    CertPtr from_pem = read(FORM_ANY, pem);
    ASSERT_TRUE(from_pem);
    BufferPtr der(CERT_get(from_pem.get(), FORM_DER));
    ASSERT_TRUE(der);
    const Bytes der_bytes = test::bytes_of(der.get());
    EXPECT_EQ(der_bytes, test::der_of(from_pem->x509));

    for (int form : {FORM_ANY, FORM_DER}) EXPECT_TRUE(read(form, der_bytes)) << form;
    EXPECT_FALSE(read(FORM_PEM, der_bytes));
    EXPECT_FALSE(read(FORM_DER, pem));

    // Bare base64 without a final line break reads only through form 0.
    const Bytes bare = bare_base64(pem);
    EXPECT_TRUE(read(FORM_ANY, bare));
    EXPECT_FALSE(read(FORM_PEM, bare));

    // Form 3 and any other unlisted form write DER.
    BufferPtr other(CERT_get(from_pem.get(), 3));
    EXPECT_EQ(test::bytes_of(other.get()), der_bytes);

    BufferPtr again(CERT_get(from_pem.get(), FORM_PEM));
    const std::string text = test::text_of(again.get());
    EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE-----\n", 0), 0u);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    std::size_t line_start = text.find('\n') + 1;
    const std::size_t first_line_end = text.find('\n', line_start);
    EXPECT_EQ(first_line_end - line_start, 64u);
    EXPECT_TRUE(read(FORM_PEM, Bytes(text.begin(), text.end())));

    BufferPtr printed(CERT_get(from_pem.get(), FORM_TEXT));
    EXPECT_NE(test::text_of(printed.get()).find("Certificate:"), std::string::npos);
}

TEST_F(CertRecord, ReadersRefuseTrailingBytesAndUnknownForms) {
    const Bytes pem = vector_pem("B");
    CertPtr c = read(FORM_PEM, pem);
    ASSERT_TRUE(c);
    Bytes der = test::der_of(c->x509);
    der.push_back(0);
    ERR_clear_error();
    for (int form : {FORM_ANY, FORM_DER}) EXPECT_FALSE(read(form, der)) << form;
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_DATA);

    Bytes pem_junk = pem;
    const std::string junk = "trailing text";
    pem_junk.insert(pem_junk.end(), junk.begin(), junk.end());
    EXPECT_FALSE(read(FORM_PEM, pem_junk));

    ERR_clear_error();
    EXPECT_FALSE(read(7, pem));
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_ENCODE_TYPE);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CERT_READ_BUFFER);

    BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
    EXPECT_EQ(CERT_read_bio(FORM_ANY, bio), nullptr);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), CADB_R_INVALID_ENCODE_TYPE);
    X509* x = CERT_read_bio(FORM_PEM, bio);
    EXPECT_NE(x, nullptr);
    X509_free(x);
    BIO_free(bio);
    ERR_clear_error();
}

TEST_F(CertRecord, HostileBytesFailWithAnErrorNeverAPartialRecord) {
    CertPtr c = read(FORM_PEM, vector_pem("C"));
    ASSERT_TRUE(c);
    const Bytes der = test::der_of(c->x509);
    for (std::size_t len = 1; len < der.size(); ++len) {
        ERR_clear_error();
        EXPECT_FALSE(read(FORM_ANY, Bytes(der.begin(), der.begin() + len))) << len;
        EXPECT_NE(ERR_peek_error(), 0u);
    }
    for (std::size_t i = 0; i < der.size(); ++i) {
        Bytes m = der;
        m[i] ^= 0x5A;
        CertPtr r = read(FORM_DER, m);
        if (r) {
            EXPECT_NE(r->x509, nullptr);
            EXPECT_NE(r->serial, nullptr);
            EXPECT_NE(r->key_fingerprint, nullptr);
        }
    }
    EXPECT_FALSE(CERT_read_buffer(FORM_ANY, nullptr, 10));
    EXPECT_FALSE(CERT_split(nullptr));
    ERR_clear_error();
}

TEST_F(CertRecord, IssuedCertificatesAndMissingParameters) {
    const std::time_t now = std::time(nullptr);
    test::PkeyPtr root_key = test::new_key();
    test::PkeyPtr leaf_key = test::new_key();
    test::X509Ptr root = test::make_cert("Root", root_key.get(), nullptr, nullptr, 1, now - 60,
                                         now + 3600, true);
    test::X509Ptr leaf = test::make_cert("Leaf", leaf_key.get(), root.get(), root_key.get(), 2,
                                         now - 60, now + 3600, false);
    CertPtr r = test::split(root.get());
    CertPtr l = test::split(leaf.get());
    ASSERT_TRUE(r && l);
    EXPECT_EQ(r->self_issued, 1);
    EXPECT_EQ(l->self_issued, -1);
    EXPECT_EQ(test::bytes_of(l->issuer_fingerprint), test::bytes_of(r->subject_fingerprint));
    EXPECT_NE(test::bytes_of(l->key_fingerprint), test::bytes_of(r->key_fingerprint));

    // A key of type 181 with NULL parameters takes its curve from its issuer.
    test::PkeyPtr own = test::generate(NID_ECR3410);
    ASSERT_TRUE(own);
    test::X509Ptr inherits = test::make_cert("Inherits", own.get(), root.get(), root_key.get(), 3,
                                             now - 60, now + 3600, false);
    X509_PUBKEY* pub = X509_get_X509_PUBKEY(inherits.get());
    const unsigned char* bits = nullptr;
    int bits_len = 0;
    ASSERT_EQ(X509_PUBKEY_get0_param(nullptr, &bits, &bits_len, nullptr, pub), 1);
    auto* copy = static_cast<unsigned char*>(OPENSSL_memdup(bits, bits_len));
    ASSERT_EQ(X509_PUBKEY_set0_param(pub, OBJ_dup(OBJ_nid2obj(NID_ECR3410)), V_ASN1_NULL, nullptr,
                                     copy, bits_len),
              1);
    ASSERT_GT(X509_sign(inherits.get(), root_key.get(), EVP_r3411_with_ecr3410_cp()), 0);
    const Bytes der = test::der_of(inherits.get());
    CertPtr i(CERT_read_buffer(FORM_DER, der.data(), static_cast<int>(der.size())));
    ASSERT_TRUE(i);
    EXPECT_EQ(i->parameters_missing, 1);
    EXPECT_EQ(i->key_algorithm, NID_ECR3410);
}

// The record holds the certificate's extensions as extension records; a
// certificate whose extension does not decode is no certificate read.
TEST_F(CertRecord, ExtensionsAreParsedIntoRecords) {
    const std::time_t now = std::time(nullptr);
    test::PkeyPtr key = test::new_key();
    test::X509Ptr x = test::make_cert("Ext", key.get(), nullptr, nullptr, 7, now - 60, now + 3600,
                                      true);
    X509_EXTENSION* san = X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name,
                                              "DNS:host.example,IP:10.1.2.3");
    X509_add_ext(x.get(), san, -1);
    X509_EXTENSION_free(san);
    ASSERT_GT(X509_sign(x.get(), key.get(), EVP_r3411_with_ecr3410_cp()), 0);
    CertPtr c = test::split(x.get());
    ASSERT_TRUE(c);
    ASSERT_NE(c->extensions, nullptr);
    ASSERT_EQ(sk_CADB_V3EXT_num(c->extensions), 2);
    const CADB_V3EXT* bc = sk_CADB_V3EXT_value(c->extensions, 0);
    EXPECT_EQ(bc->nid, NID_basic_constraints);
    EXPECT_EQ(bc->critical, 1);
    ASSERT_EQ(bc->parsed, 1);
    EXPECT_EQ(bc->value.basic_constraints->ca, 1);
    const CADB_V3EXT* alt = sk_CADB_V3EXT_value(c->extensions, 1);
    EXPECT_EQ(alt->nid, NID_subject_alt_name);
    ASSERT_EQ(alt->parsed, 1);
    ASSERT_EQ(sk_CADB_GENERAL_NAME_num(alt->value.names), 2);
    EXPECT_EQ(test::text_of(sk_CADB_GENERAL_NAME_value(alt->value.names, 1)->value.text),
              "10.1.2.3");

    // No extensions: no list.
    CertPtr bare = read(FORM_PEM, vector_pem("A"));
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->extensions == nullptr, X509_get_ext_count(bare->x509) == 0);

    // A basic-constraints value that is no BasicConstraints.
    X509_EXTENSION* broken = X509_EXTENSION_new();
    ASN1_OCTET_STRING* junk = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(junk, reinterpret_cast<const unsigned char*>("\x04\x01\x00"), 3);
    X509_EXTENSION_set_object(broken, OBJ_nid2obj(NID_basic_constraints));
    X509_EXTENSION_set_data(broken, junk);
    ASN1_OCTET_STRING_free(junk);
    X509_EXTENSION_free(X509_delete_ext(x.get(), 0));
    X509_add_ext(x.get(), broken, -1);
    X509_EXTENSION_free(broken);
    ASSERT_GT(X509_sign(x.get(), key.get(), EVP_r3411_with_ecr3410_cp()), 0);
    const Bytes der = test::der_of(x.get());
    ERR_clear_error();
    EXPECT_FALSE(read(FORM_DER, der));
    EXPECT_NE(ERR_peek_error(), 0u);
    ERR_clear_error();
}

// A certificate whose extension does not decode is not read into a
// record, but its text is still there: the certificate reader gives the
// certificate itself, and the printer shows what it cannot decode as bytes.
TEST_F(CertRecord, UnreadableExtensionsStillPrint) {
    const std::time_t now = std::time(nullptr);
    test::PkeyPtr key = test::new_key();
    test::X509Ptr x =
        test::make_cert("Printed", key.get(), nullptr, nullptr, 8, now - 60, now + 3600, false);
    X509_EXTENSION* broken = X509_EXTENSION_new();
    ASN1_OCTET_STRING* junk = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(junk, reinterpret_cast<const unsigned char*>("\x04\x01\x00"), 3);
    X509_EXTENSION_set_object(broken, OBJ_nid2obj(NID_basic_constraints));
    X509_EXTENSION_set_data(broken, junk);
    ASN1_OCTET_STRING_free(junk);
    X509_add_ext(x.get(), broken, -1);
    X509_EXTENSION_free(broken);
    ASSERT_GT(X509_sign(x.get(), key.get(), EVP_r3411_with_ecr3410_cp()), 0);
    const Bytes der = test::der_of(x.get());
    ERR_clear_error();
    EXPECT_FALSE(read(FORM_DER, der));
    EXPECT_NE(ERR_peek_error(), 0u);
    ERR_clear_error();

    std::unique_ptr<BIO, decltype(&BIO_free)> in(
        BIO_new_mem_buf(der.data(), static_cast<int>(der.size())), BIO_free);
    test::X509Ptr back(CERT_read_bio(FORM_DER, in.get()));
    ASSERT_TRUE(back);
    BufferPtr text(x2text(back.get(), [](BIO* out, void* c) {
        return X509_print_text(out, static_cast<X509*>(c));
    }));
    ASSERT_TRUE(text);
    const std::string printed(reinterpret_cast<const char*>(text->data),
                              static_cast<std::size_t>(text->length));
    EXPECT_NE(printed.find("Printed"), std::string::npos);
    EXPECT_NE(printed.find("Basic Constraints"), std::string::npos) << printed;
    ERR_clear_error();
}

// A missing argument is an internal error of the function that got it.
TEST_F(CertRecord, MissingArgumentsAreInternalErrors) {
    X509_STORE* store = X509_STORE_new();
    const std::function<bool()> calls[] = {
        [] { return CERT_split(nullptr) == nullptr; },
        [] { return CERT_CTX_set_buffer(nullptr, nullptr, 0) == 0; },
        [] { return CERT_CTX_set_path(nullptr, "x") == 0; },
        [] { return CERT_CTX_read(nullptr) == 0; },
        [store] { return CERT_verify(nullptr, store, nullptr, nullptr, nullptr, 0) == 0; },
        [] { return x2der(nullptr, nullptr) == nullptr; },
        [] { return x2text(nullptr, nullptr) == nullptr; },
        [] { return X509_NAME_split(nullptr) == nullptr; },
        [] { return CRL_split(nullptr) == nullptr; },
    };
    int i = 0;
    for (const auto& call : calls) {
        ERR_clear_error();
        EXPECT_TRUE(call()) << i;
        EXPECT_EQ(ERR_code_reason(ERR_peek_error()), ERR_R_INTERNAL) << i;
        ++i;
    }
    X509_STORE_free(store);
    ERR_clear_error();
}

TEST_F(CertRecord, FreeingARecordFreesItsIssuerChain) {
    CertPtr c = read(FORM_PEM, vector_pem("A"));
    ASSERT_TRUE(c);
    c->issuer_cert = read(FORM_PEM, vector_pem("B")).release();
    c->issuer_cert->issuer_cert = read(FORM_PEM, vector_pem("C")).release();
    c->crl = CRL_new();
    CERT_clear(c.get());
    EXPECT_EQ(c->issuer_cert, nullptr);
    EXPECT_EQ(c->x509, nullptr);
    EXPECT_EQ(c->self_issued, -1);
    EXPECT_EQ(c->verify_result, -1);
    CERT_free(nullptr);
}

}  // namespace
}  // namespace cadb
