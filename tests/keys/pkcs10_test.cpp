// Requests made, signed, encoded and read back in every form; checked by
// the openssl command (and its GOST engine) in a child process.
#include "crypto/x509/pkcs10.h"

#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/cadb/str_convert.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/rus/evp_gost.h"
#include "tests/keys/keys_fixture.h"

namespace cadb::test {
namespace {

struct P10Free {
    void operator()(PKCS10* p) const { PKCS10_free(p); }
};
using P10Ptr = std::unique_ptr<PKCS10, P10Free>;
struct NameFree {
    void operator()(X509_NAME* n) const { X509_NAME_free(n); }
};
using NamePtr = std::unique_ptr<X509_NAME, NameFree>;

NamePtr subject_name(const char* cn) {
    NamePtr name(X509_NAME_new());
    X509_NAME_add_entry_by_txt(name.get(), "C", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("RU"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    return name;
}

// Exit status and the whole output of a command.
std::pair<int, std::string> run(const std::string& command) {
    std::string out;
    FILE* p = popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) return {-1, out};
    char buf[512];
    while (std::fgets(buf, sizeof buf, p) != nullptr) out += buf;
    const int status = pclose(p);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

class Pkcs10 : public KeysTest {
  protected:
    PkeyPtr key(int type) {
        const int n = type == NID_rsa ? 1024 : 0;
        return PkeyPtr(PKEY_generate(type, n, nullptr, nullptr, store_));
    }
    std::string save(const BUFFER* b, const char* name) {
        const auto path = root_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(b->data), b->length);
        return path.string();
    }
};

TEST_F(Pkcs10, MadeRequestsSplitIntoTheirFields) {
    const struct {
        int type, key_algorithm, signature, bits;
    } cases[] = {
        {NID_rsa, EVP_PKEY_RSA, NID_sha1WithRSAEncryption, 1024},
        {EVP_PKEY_DSA, EVP_PKEY_DSA, NID_dsaWithSHA1, 1024},
        {NID_R3410, NID_R3410, NID_R3410_R3411, 1024},
        {NID_R3410_CP, NID_R3410_CP, NID_R3411_WITH_R3410_CP, 1024},
        {NID_ECR3410, NID_ECR3410, NID_ECR3410_R3411, 256},
        {NID_ECR3410_CP, NID_ECR3410_CP, NID_R3411_WITH_ECR3410_CP, 256},
    };
    NamePtr name = subject_name("Иван Петров");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        PkeyPtr k = key(c.type);
        ASSERT_TRUE(k);
        P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
        ASSERT_TRUE(p10);
        EXPECT_EQ(p10->origin, PKCS10_ORIGIN_ENCODED);
        EXPECT_EQ(p10->version, 0);
        EXPECT_EQ(p10->signature_check, 1);
        EXPECT_EQ(p10->key_algorithm, c.key_algorithm);
        EXPECT_EQ(p10->signature_algorithm, c.signature);
        EXPECT_EQ(p10->key_size, c.bits);
        EXPECT_EQ(bytes_of(p10->key_fingerprint), bytes_of(k->fingerprint));
        ASSERT_NE(p10->subject, nullptr);
        EXPECT_EQ(p10->subject->nid, NID_countryName);
        ASSERT_NE(p10->subject->next, nullptr);
        EXPECT_EQ(p10->subject->next->nid, NID_commonName);
        EXPECT_EQ(p10->attributes, nullptr);
        EXPECT_EQ(p10->extensions, nullptr);
        EXPECT_EQ(p10->subject_fingerprint->length, 32);
    }
    // The DSA key always carries its parameters.
    PkeyPtr dsa = key(EVP_PKEY_DSA);
    P10Ptr p10(PKCS10_make(nullptr, dsa.get(), nullptr, 0, nullptr, nullptr, 0));
    ASSERT_TRUE(p10);
    const ASN1_OBJECT* obj = nullptr;
    int ptype = 0;
    const void* pval = nullptr;
    X509_ALGOR* alg = nullptr;
    X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &alg, X509_REQ_get_X509_PUBKEY(p10->request));
    X509_ALGOR_get0(&obj, &ptype, &pval, alg);
    EXPECT_EQ(ptype, V_ASN1_SEQUENCE);
    EXPECT_EQ(p10->subject, nullptr) << "empty subject";
}

TEST_F(Pkcs10, ASigningKeyOtherThanTheSubjectKey) {
    PkeyPtr subject_key = key(NID_ECR3410_CP);
    PkeyPtr signer = key(NID_ECR3410_CP);
    NamePtr name = subject_name("proxy");
    P10Ptr p10(PKCS10_make(name.get(), subject_key.get(), signer.get(), 0, nullptr, nullptr, 0));
    ASSERT_TRUE(p10);
    // The signature does not verify with the request's own key, but the key
    // is sound: the record says so and is returned.
    EXPECT_NE(p10->signature_check, 1);
    EXPECT_EQ(X509_REQ_verify(p10->request, signer->key), 1);
    ERR_clear_error();
}

TEST_F(Pkcs10, MadeRequestIsCheckedAsAnyReaderChecksIt) {
    // A key whose private half does not belong to its public half signs a
    // request that no one can verify: the record must not claim otherwise.
    EVP_PKEY* a = EVP_RSA_gen(1024);
    EVP_PKEY* b = EVP_RSA_gen(1024);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    BIGNUM *n = nullptr, *e = nullptr, *d = nullptr;
    ASSERT_EQ(EVP_PKEY_get_bn_param(a, OSSL_PKEY_PARAM_RSA_N, &n), 1);
    ASSERT_EQ(EVP_PKEY_get_bn_param(a, OSSL_PKEY_PARAM_RSA_E, &e), 1);
    ASSERT_EQ(EVP_PKEY_get_bn_param(b, OSSL_PKEY_PARAM_RSA_D, &d), 1);
    OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
    OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_D, d);
    OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* mixed = nullptr;
    ASSERT_EQ(EVP_PKEY_fromdata_init(ctx), 1);
    ASSERT_EQ(EVP_PKEY_fromdata(ctx, &mixed, EVP_PKEY_KEYPAIR, params), 1);
    EVP_PKEY_CTX_free(ctx);
    OSSL_PARAM_free(params);
    OSSL_PARAM_BLD_free(bld);
    BN_free(n);
    BN_free(e);
    BN_clear_free(d);
    EVP_PKEY_free(a);
    EVP_PKEY_free(b);
    PkeyPtr k(PKEY_split(mixed));
    EVP_PKEY_free(mixed);
    ASSERT_TRUE(k);

    NamePtr name = subject_name("mismatched");
    P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
    ASSERT_TRUE(p10);
    EXPECT_NE(p10->signature_check, 1);
    ERR_clear_error();
}

TEST_F(Pkcs10, ExtensionsAreRequested) {
    PkeyPtr k = key(NID_ECR3410_CP);
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(exts, X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage,
                                                     "critical,digitalSignature,keyEncipherment"));
    sk_X509_EXTENSION_push(exts, X509V3_EXT_conf_nid(nullptr, nullptr, NID_ext_key_usage,
                                                     "clientAuth,emailProtection"));
    NamePtr name = subject_name("ext");
    P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, exts, 0));
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    ASSERT_TRUE(p10);
    // The record holds them as extension records, parsed.
    ASSERT_NE(p10->extensions, nullptr);
    ASSERT_EQ(sk_CADB_V3EXT_num(p10->extensions), 2);
    const CADB_V3EXT* usage = sk_CADB_V3EXT_value(p10->extensions, 0);
    EXPECT_EQ(usage->nid, NID_key_usage);
    EXPECT_EQ(usage->critical, 1);
    EXPECT_EQ(usage->parsed, 1);
    EXPECT_EQ(usage->value.integer, 0x5) << "bits 0 and 2";
    const CADB_V3EXT* purposes = sk_CADB_V3EXT_value(p10->extensions, 1);
    EXPECT_EQ(purposes->nid, NID_ext_key_usage);
    ASSERT_EQ(purposes->parsed, 1);
    EXPECT_EQ(sk_CADB_OID_num(purposes->value.objects), 2);
}

// Request attributes from local text: each takes a type its attribute
// allows, reads back as printable attributes, and the peer verifies the
// request that carries them.
TEST_F(Pkcs10, RequestAttributeListsRoundTrip) {
    PkeyPtr k = key(NID_ECR3410_CP);
    NamePtr name = subject_name("attrs");
    ATTRIBUTE* list = nullptr;
    ASSERT_NE(ATTRIBUTE_add(&list, NID_pkcs9_challengePassword, "s3cret pass", -1,
                            V_ASN1_PRINTABLESTRING),
              nullptr);
    // Cyrillic text in code page 1251 as a BMPString.
    const char cyrillic[] = "\xC8\xE2\xE0\xED";
    ASSERT_NE(ATTRIBUTE_add(&list, NID_pkcs9_unstructuredName, cyrillic, -1, V_ASN1_BMPSTRING),
              nullptr);
    ASSERT_NE(ATTRIBUTE_add(&list, NID_pkcs9_emailAddress, "host@example.ru", -1,
                            V_ASN1_IA5STRING),
              nullptr);
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(exts, X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage,
                                                     "critical,digitalSignature"));
    P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, list, exts, 0));
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    ATTRIBUTE_free(list);
    ASSERT_TRUE(p10) << "the attribute list makes a request";
    EXPECT_EQ(p10->signature_check, 1);
    ASSERT_NE(p10->extensions, nullptr);
    EXPECT_EQ(sk_CADB_V3EXT_num(p10->extensions), 1);
    // DER puts the SET OF attributes in its own order.
    using Node = std::tuple<int, std::string, int>;
    std::vector<Node> got;
    for (const ATTRIBUTE* a = p10->attributes; a != nullptr; a = a->next)
        got.emplace_back(a->nid, std::string(a->text, a->length), a->string_type);
    std::vector<Node> want = {{NID_pkcs9_challengePassword, "s3cret pass", V_ASN1_PRINTABLESTRING},
                              {NID_pkcs9_unstructuredName, cyrillic, V_ASN1_BMPSTRING},
                              {NID_pkcs9_emailAddress, "host@example.ru", V_ASN1_IA5STRING}};
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(got, want);

    BufferPtr pem(PKCS10_get(p10.get(), FORM_PEM));
    const std::string file = save(pem.get(), "attrs.pem");
    const auto [status, out] = run("openssl req -engine gost -noout -verify -text -in " + file);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
    EXPECT_NE(out.find("challengePassword"), std::string::npos) << out;
    EXPECT_NE(out.find("s3cret pass"), std::string::npos) << out;
    EXPECT_NE(out.find("host@example.ru"), std::string::npos) << out;
}

TEST_F(Pkcs10, AttributesOutsideTheirRulesAreRefused) {
    PkeyPtr k = key(NID_ECR3410_CP);
    const struct {
        int nid;
        const char* text;
        int type;
    } bad[] = {
        {NID_pkcs9_challengePassword, "pass", V_ASN1_IA5STRING},  // type not allowed
        {NID_pkcs9_unstructuredName, "\xC8\xE2", V_ASN1_IA5STRING},  // text does not fit
        {NID_pkcs9_emailAddress, "", V_ASN1_IA5STRING},            // below the length bound
        {NID_pkcs9_contentType, "x", V_ASN1_PRINTABLESTRING},      // no text rules
    };
    for (const auto& b : bad) {
        ATTRIBUTE node{b.nid, const_cast<char*>(b.text), static_cast<int>(std::strlen(b.text)),
                       b.type, nullptr};
        ERR_clear_error();
        P10Ptr p10(PKCS10_make(nullptr, k.get(), nullptr, 0, &node, nullptr, 0));
        EXPECT_FALSE(p10) << b.nid << " " << b.text;
        EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_LIB_CADB);
    }
    // One attribute per type: a second of the same type is refused (as
    // libcrypto refuses it), not merged.
    ATTRIBUTE second{NID_pkcs9_unstructuredName, const_cast<char*>("b"), 1, V_ASN1_IA5STRING,
                     nullptr};
    ATTRIBUTE first{NID_pkcs9_unstructuredName, const_cast<char*>("a"), 1, V_ASN1_IA5STRING,
                    &second};
    EXPECT_FALSE(P10Ptr(PKCS10_make(nullptr, k.get(), nullptr, 0, &first, nullptr, 0)));
    // The attribute operation itself: a failed type choice ends with the
    // X.509 library's own closing entry; the stack stays as it was.
    STACK_OF(X509_ATTRIBUTE)* attrs = nullptr;
    int type = V_ASN1_IA5STRING;
    ERR_clear_error();
    EXPECT_EQ(X509_ATTRIBUTES_add_text(&attrs, NID_pkcs9_challengePassword, "x", 0, &type, 1), 0);
    EXPECT_EQ(attrs, nullptr);
    EXPECT_EQ(ERR_peek_last_error(),
              ERR_pack_code(ERR_LIB_X509_, X509_F_X509_ATTRIBUTES_ADD_TEXT, ERR_LIB_X509_));
    // Without the keep flag another type of the list is chosen and told.
    EXPECT_EQ(X509_ATTRIBUTES_add_text(&attrs, NID_pkcs9_challengePassword, "x", 0, &type, 0), 1);
    EXPECT_EQ(type, V_ASN1_PRINTABLESTRING);
    ASSERT_EQ(sk_X509_ATTRIBUTE_num(attrs), 1);
    sk_X509_ATTRIBUTE_pop_free(attrs, X509_ATTRIBUTE_free);
}

TEST_F(Pkcs10, UndecodableExtensionRequestFailsTheSplit) {
    // A request whose extension request is not a list of extensions, beside
    // a printable attribute: it is not taken as whole without them.
    PkeyPtr k = key(NID_ECR3410_CP);
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> req(X509_REQ_new(), X509_REQ_free);
    NamePtr name = subject_name("broken extensions");
    ASSERT_EQ(X509_REQ_set_subject_name(req.get(), name.get()), 1);
    ASSERT_EQ(X509_REQ_set_pubkey(req.get(), k->key), 1);
    ASSERT_EQ(X509_REQ_add1_attr_by_NID(req.get(), NID_pkcs9_challengePassword, MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>("secret"), -1),
              1);
    const unsigned char not_extensions[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    ASSERT_EQ(X509_REQ_add1_attr_by_NID(req.get(), NID_ext_req, V_ASN1_SEQUENCE, not_extensions,
                                        sizeof not_extensions),
              1);
    ASSERT_GT(X509_REQ_sign(req.get(), k->key, EVP_r3411_with_ecr3410_cp()), 0);
    ERR_clear_error();
    EXPECT_EQ(PKCS10_split(req.get()), nullptr);
    EXPECT_NE(ERR_peek_last_error(), 0u);

    unsigned char* der = nullptr;
    const int len = i2d_X509_REQ(req.get(), &der);
    ASSERT_GT(len, 0);
    ERR_clear_error();
    EXPECT_EQ(PKCS10_read_buffer(FORM_DER, der, len), nullptr);
    EXPECT_EQ(PKCS10_read_buffer(FORM_ANY, der, len), nullptr);
    OPENSSL_free(der);
    ERR_clear_error();

    // The same request with a sound extension request splits whole.
    std::unique_ptr<X509_REQ, decltype(&X509_REQ_free)> good(X509_REQ_new(), X509_REQ_free);
    ASSERT_EQ(X509_REQ_set_subject_name(good.get(), name.get()), 1);
    ASSERT_EQ(X509_REQ_set_pubkey(good.get(), k->key), 1);
    ASSERT_EQ(X509_REQ_add1_attr_by_NID(good.get(), NID_pkcs9_challengePassword, MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>("secret"), -1),
              1);
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(exts, X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage,
                                                     "critical,digitalSignature"));
    ASSERT_EQ(X509_REQ_add_extensions(good.get(), exts), 1);
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    ASSERT_GT(X509_REQ_sign(good.get(), k->key, EVP_r3411_with_ecr3410_cp()), 0);
    P10Ptr p10(PKCS10_split(good.get()));
    ASSERT_TRUE(p10);
    ASSERT_NE(p10->attributes, nullptr);
    EXPECT_STREQ(p10->attributes->text, "secret");
    EXPECT_NE(p10->extensions, nullptr);
}

TEST_F(Pkcs10, EveryOutputFormReadsBack) {
    PkeyPtr k = key(NID_ECR3410_CP);
    NamePtr name = subject_name("forms");
    P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
    ASSERT_TRUE(p10);
    BufferPtr der(PKCS10_get(p10.get(), FORM_DER));
    BufferPtr pem(PKCS10_get(p10.get(), FORM_PEM));
    BufferPtr b64(PKCS10_get(p10.get(), FORM_BASE64));
    BufferPtr text(PKCS10_get(p10.get(), FORM_TEXT));
    ASSERT_TRUE(der && pem && b64 && text);
    const std::string pem_text(reinterpret_cast<char*>(pem->data), pem->length);
    EXPECT_EQ(pem_text.rfind("-----BEGIN CERTIFICATE REQUEST-----\n", 0), 0u);
    EXPECT_EQ(pem_text.find('\r'), std::string::npos);
    const std::string line = pem_text.substr(pem_text.find('\n') + 1, 65);
    EXPECT_EQ(line.find('\n'), 64u) << "64-character lines";
    const std::string b64_text(reinterpret_cast<char*>(b64->data), b64->length);
    EXPECT_EQ(b64_text.find('\n'), std::string::npos);
    const std::string printed(reinterpret_cast<char*>(text->data), text->length);
    EXPECT_NE(printed.find("Certificate Request"), std::string::npos);
    EXPECT_NE(printed.find("forms"), std::string::npos);

    const Bytes expected = bytes_of(der.get());
    int step = 0;
    auto same = [&](PKCS10* back, int origin) {
        ++step;
        ASSERT_NE(back, nullptr) << "step " << step;
        EXPECT_EQ(back->origin, origin);
        EXPECT_EQ(back->signature_check, 1);
        BufferPtr again(PKCS10_get(back, FORM_DER));
        EXPECT_EQ(bytes_of(again.get()), expected);
        PKCS10_free(back);
    };
    same(PKCS10_read_buffer(FORM_ANY, der->data, der->length), PKCS10_ORIGIN_ENCODED);
    same(PKCS10_read_buffer(FORM_DER, der->data, der->length), PKCS10_ORIGIN_ENCODED);
    same(PKCS10_read_buffer(FORM_ANY, pem->data, pem->length), PKCS10_ORIGIN_ENCODED);
    same(PKCS10_read_buffer(FORM_PEM, pem->data, pem->length), PKCS10_ORIGIN_ENCODED);
    // Bare base64: through the generic reader, and directly.
    same(PKCS10_read_buffer(FORM_ANY, b64->data, b64->length), PKCS10_ORIGIN_ENCODED);
    same(PKCS10_read_base64(b64_text.c_str(), 0), PKCS10_ORIGIN_BASE64);
    same(PKCS10_read_base64((b64_text + "\r\n").c_str(), 0), PKCS10_ORIGIN_BASE64);
    // The body of the PEM, with its line breaks, without the armour.
    const std::string body = pem_text.substr(pem_text.find('\n') + 1,
                                             pem_text.find("-----END") - pem_text.find('\n') - 1);
    same(PKCS10_read_base64(body.c_str(), 0), PKCS10_ORIGIN_BASE64);
    // What users paste: broken by spaces, tabs and quotes, with or without
    // the armour.
    std::string pasted = "\"";
    for (size_t i = 0; i < b64_text.size(); ++i) {
        pasted += b64_text[i];
        if (i % 40 == 39) pasted += "\"\r\n\t \"";
    }
    pasted += "\"";
    same(PKCS10_load(pasted.c_str(), 0), PKCS10_ORIGIN_BASE64);
    std::string quoted_pem = "\t'";
    for (char ch : pem_text) quoted_pem += ch == '\n' ? std::string("'\n\t'") : std::string(1, ch);
    same(PKCS10_load(quoted_pem.c_str(), 0), PKCS10_ORIGIN_BASE64);

    // Stream reader: the one form asked for, all of the stream.
    BIO* bio = BIO_new_mem_buf(pem->data, pem->length);
    X509_REQ* req = PKCS10_read_bio(FORM_PEM, bio);
    BIO_free(bio);
    EXPECT_NE(req, nullptr);
    X509_REQ_free(req);
    bio = BIO_new_mem_buf(der->data, der->length);
    EXPECT_EQ(PKCS10_read_bio(FORM_ANY, bio), nullptr);
    EXPECT_TRUE(queue_has_reason(CADB_R_INVALID_ENCODE_TYPE));
    BIO_free(bio);
}

TEST_F(Pkcs10, BadRequestsAreRefused) {
    PkeyPtr k = key(NID_ECR3410_CP);
    NamePtr name = subject_name("bad");
    P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
    BufferPtr der(PKCS10_get(p10.get(), FORM_DER));
    Bytes longer = bytes_of(der.get());
    longer.push_back(0);
    EXPECT_FALSE(
        P10Ptr(PKCS10_read_buffer(FORM_DER, longer.data(), static_cast<int>(longer.size()))));
    EXPECT_FALSE(P10Ptr(PKCS10_read_buffer(3, der->data, der->length)));
    EXPECT_TRUE(queue_has_reason(CADB_R_INVALID_ENCODE_TYPE));
    EXPECT_FALSE(P10Ptr(PKCS10_read_buffer(FORM_PEM, der->data, der->length)));
    EXPECT_FALSE(P10Ptr(PKCS10_load("not a request at all", 0)));
    EXPECT_FALSE(P10Ptr(PKCS10_load("", 0)));

    // Version 1 is refused by every reader (before the signature is looked
    // at).
    Bytes v1 = bytes_of(der.get());
    const Bytes version0 = {0x02, 0x01, 0x00};
    const auto at = std::search(v1.begin(), v1.end(), version0.begin(), version0.end());
    ASSERT_NE(at, v1.end());
    at[2] = 0x01;
    ERR_clear_error();
    EXPECT_FALSE(P10Ptr(PKCS10_read_buffer(FORM_DER, v1.data(), static_cast<int>(v1.size()))));
    EXPECT_TRUE(queue_has_reason(CADB_R_INVALID_PKCS10_VERSION));
    EXPECT_FALSE(P10Ptr(PKCS10_read_buffer(FORM_ANY, v1.data(), static_cast<int>(v1.size()))));
    BufferPtr v1_b64(BUFFER_fill(v1.data(), static_cast<int>(v1.size())));
    BUFFER_to_base64(v1_b64.get());
    EXPECT_FALSE(P10Ptr(PKCS10_load(reinterpret_cast<char*>(v1_b64->data), v1_b64->length)));

    // Every single-byte change either fails or reads as a request whose
    // check tells.
    const Bytes good = bytes_of(der.get());
    for (size_t i = 0; i < good.size(); ++i) {
        Bytes m = good;
        m[i] ^= 0x01;
        P10Ptr r(PKCS10_read_buffer(FORM_ANY, m.data(), static_cast<int>(m.size())));
        if (r) {
            EXPECT_TRUE(r->signature_check == 1 || m != good);
        }
    }
    ERR_clear_error();
}

TEST_F(Pkcs10, PeersVerifyOurRequests) {
    NamePtr name = subject_name("peer");
    for (int type : {NID_rsa, EVP_PKEY_DSA}) {
        PkeyPtr k = key(type);
        P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
        ASSERT_TRUE(p10);
        BufferPtr pem(PKCS10_get(p10.get(), FORM_PEM));
        const std::string file = save(pem.get(), "req.pem");
        const auto [status, out] = run("openssl req -noout -verify -in " + file);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
    }
    // GOST R 34.10-2001 with the CryptoPro identifiers, through the peer's
    // own GOST engine, in DER and PEM.
    for (int set :
         {NID_R3410_2001_A_PARAMSET, NID_R3410_2001_B_PARAMSET, NID_R3410_2001_C_PARAMSET}) {
        PkeyPtr k(PKEY_generate(NID_ECR3410_CP, set, nullptr, nullptr, store_));
        ASSERT_TRUE(k);
        P10Ptr p10(PKCS10_make(name.get(), k.get(), nullptr, 0, nullptr, nullptr, 0));
        ASSERT_TRUE(p10);
        BufferPtr der(PKCS10_get(p10.get(), FORM_DER));
        const std::string file = save(der.get(), "req.der");
        const auto [status, out] =
            run("openssl req -engine gost -inform DER -noout -verify -in " + file);
        EXPECT_EQ(status, 0) << out;
        EXPECT_NE(out.find("verify OK"), std::string::npos) << out;
        // A changed signature is refused by the peer too.
        Bytes bad = bytes_of(der.get());
        bad[bad.size() - 5] ^= 0x01;
        BufferPtr bad_buf(BUFFER_fill(bad.data(), static_cast<int>(bad.size())));
        const std::string bad_file = save(bad_buf.get(), "bad.der");
        EXPECT_NE(run("openssl req -engine gost -inform DER -noout -verify -in " + bad_file)
                      .second.find("verify failure"),
                  std::string::npos);
    }
}

TEST_F(Pkcs10, PeerRequestsReadHere) {
    // A request made by the peer's GOST engine from its own key.
    const std::string key_file = (root_ / "peer.key").string();
    const std::string req_file = (root_ / "peer.req").string();
    auto [status, out] =
        run("openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A "
            "-out " +
            key_file);
    ASSERT_EQ(status, 0) << out;
    std::tie(status, out) = run("openssl req -engine gost -new -key " + key_file +
                                " -subj /CN=peer -md_gost94 -out " + req_file);
    ASSERT_EQ(status, 0) << out;
    std::ifstream in(req_file);
    const std::string pem((std::istreambuf_iterator<char>(in)), {});
    P10Ptr p10(PKCS10_load(pem.c_str(), 0));
    ASSERT_TRUE(p10);
    EXPECT_EQ(p10->signature_check, 1);
    EXPECT_EQ(p10->key_algorithm, NID_ECR3410_CP);
    EXPECT_EQ(p10->signature_algorithm, NID_R3411_WITH_ECR3410_CP);
    // The peer's key file reads here as the same key.
    std::ifstream key_in(key_file);
    const std::string key_pem((std::istreambuf_iterator<char>(key_in)), {});
    PkeyPtr key(PKEY_read_buffer(reinterpret_cast<const unsigned char*>(key_pem.data()),
                                 static_cast<int>(key_pem.size()), nullptr, nullptr, nullptr));
    ASSERT_TRUE(key);
    EXPECT_EQ(EVP_PKEY_eq(key->key, X509_REQ_get0_pubkey(p10->request)), 1);
}

}  // namespace
}  // namespace cadb::test
