// The printed text of certificates, CRLs and requests: libcrypto's layout
// unchanged, the extensions shown by the library's printers.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

#include "crypto/core/objects.h"
#include "crypto/x509v3/ext_text.h"
#include "tests/x509v3/v3ext_test_support.h"

namespace cadb {
namespace {

using testing::conf_ext;
using testing::ExtPtr;

template <typename T, void (*F)(T*)>
struct Free {
    void operator()(T* p) const { F(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, Free<EVP_PKEY, EVP_PKEY_free>>;
using CertPtr = std::unique_ptr<X509, Free<X509, X509_free>>;
using CrlPtr = std::unique_ptr<X509_CRL, Free<X509_CRL, X509_CRL_free>>;
using ReqPtr = std::unique_ptr<X509_REQ, Free<X509_REQ, X509_REQ_free>>;

std::string text_of(int (*print)(BIO*, void*), void* x) {
    std::unique_ptr<BIO, Free<BIO, BIO_free_all>> mem(BIO_new(BIO_s_mem()));
    if (print(mem.get(), x) != 1) return "<failed>";
    char* p = nullptr;
    const long n = BIO_get_mem_data(mem.get(), &p);
    return std::string(p, static_cast<std::size_t>(n));
}

template <typename T, int (*P)(BIO*, T*)>
int erased(BIO* b, void* x) {
    return P(b, static_cast<T*>(x));
}

X509_NAME* name(const char* cn) {
    X509_NAME* n = X509_NAME_new();
    X509_NAME_add_entry_by_txt(n, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn),
                               -1, -1, 0);
    return n;
}

class Text : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(OBJ_init(), 1);
        key_.reset(EVP_EC_gen("P-256"));
        ASSERT_TRUE(key_);
    }

    CertPtr cert(std::initializer_list<X509_EXTENSION*> exts) {
        CertPtr x(X509_new());
        X509_set_version(x.get(), 2);
        ASN1_INTEGER_set(X509_get_serialNumber(x.get()), 0x1234);
        X509_NAME* n = name("Text CA");
        X509_set_subject_name(x.get(), n);
        X509_set_issuer_name(x.get(), n);
        X509_NAME_free(n);
        ASN1_TIME_set_string(X509_getm_notBefore(x.get()), "20240101000000Z");
        ASN1_TIME_set_string(X509_getm_notAfter(x.get()), "20340101000000Z");
        X509_set_pubkey(x.get(), key_.get());
        for (X509_EXTENSION* e : exts) {
            X509_add_ext(x.get(), e, -1);
            X509_EXTENSION_free(e);
        }
        EXPECT_GT(X509_sign(x.get(), key_.get(), EVP_sha256()), 0);
        return x;
    }

    CrlPtr crl(std::initializer_list<X509_EXTENSION*> exts, bool revoked) {
        CrlPtr c(X509_CRL_new());
        X509_CRL_set_version(c.get(), 1);
        X509_NAME* n = name("Text CA");
        X509_CRL_set_issuer_name(c.get(), n);
        X509_NAME_free(n);
        ASN1_TIME* t = ASN1_TIME_new();
        ASN1_TIME_set_string(t, "20240101000000Z");
        X509_CRL_set1_lastUpdate(c.get(), t);
        if (revoked) {
            X509_REVOKED* r = X509_REVOKED_new();
            ASN1_INTEGER* serial = ASN1_INTEGER_new();
            ASN1_INTEGER_set(serial, 0x77);
            X509_REVOKED_set_serialNumber(r, serial);
            ASN1_INTEGER_free(serial);
            X509_REVOKED_set_revocationDate(r, t);
            ASN1_ENUMERATED* reason = ASN1_ENUMERATED_new();
            ASN1_ENUMERATED_set(reason, 1);
            X509_REVOKED_add1_ext_i2d(r, NID_crl_reason, reason, 0, 0);
            ASN1_ENUMERATED_free(reason);
            X509_CRL_add0_revoked(c.get(), r);
        }
        ASN1_TIME_free(t);
        for (X509_EXTENSION* e : exts) {
            X509_CRL_add_ext(c.get(), e, -1);
            X509_EXTENSION_free(e);
        }
        EXPECT_GT(X509_CRL_sign(c.get(), key_.get(), EVP_sha256()), 0);
        return c;
    }

    ReqPtr req(std::initializer_list<X509_EXTENSION*> exts) {
        ReqPtr r(X509_REQ_new());
        X509_NAME* n = name("Text user");
        X509_REQ_set_subject_name(r.get(), n);
        X509_NAME_free(n);
        X509_REQ_set_pubkey(r.get(), key_.get());
        if (exts.size() > 0) {
            STACK_OF(X509_EXTENSION)* s = sk_X509_EXTENSION_new_null();
            for (X509_EXTENSION* e : exts) sk_X509_EXTENSION_push(s, e);
            X509_REQ_add_extensions(r.get(), s);
            sk_X509_EXTENSION_pop_free(s, X509_EXTENSION_free);
        }
        EXPECT_GT(X509_REQ_sign(r.get(), key_.get(), EVP_sha256()), 0);
        return r;
    }

    KeyPtr key_;
};

constexpr auto kCert = erased<X509, X509_print_text>;
constexpr auto kCrl = erased<X509_CRL, X509_CRL_print_text>;
constexpr auto kReq = erased<X509_REQ, X509_REQ_print_text>;
constexpr auto kCertStock = erased<X509, ::X509_print>;
constexpr auto kCrlStock = erased<X509_CRL, ::X509_CRL_print>;
constexpr auto kReqStock = erased<X509_REQ, ::X509_REQ_print>;

TEST_F(Text, SameLayoutAsLibcryptoWhereThePrintersAgree) {
    CertPtr plain = cert({conf_ext(NID_basic_constraints, "critical,CA:TRUE").release(),
                          conf_ext(NID_key_usage, "keyCertSign,cRLSign").release()});
    EXPECT_EQ(text_of(kCert, plain.get()), text_of(kCertStock, plain.get()));
    CertPtr bare = cert({});
    EXPECT_EQ(text_of(kCert, bare.get()), text_of(kCertStock, bare.get()));
    CrlPtr empty = crl({}, false);
    EXPECT_EQ(text_of(kCrl, empty.get()), text_of(kCrlStock, empty.get()));
    CrlPtr one = crl({}, true);
    EXPECT_EQ(text_of(kCrl, one.get()), text_of(kCrlStock, one.get()));
    ReqPtr r = req({});
    EXPECT_EQ(text_of(kReq, r.get()), text_of(kReqStock, r.get()));
    ReqPtr with = req({conf_ext(NID_basic_constraints, "CA:FALSE").release()});
    EXPECT_EQ(text_of(kReq, with.get()), text_of(kReqStock, with.get()));
}

TEST_F(Text, ExtensionsShownByTheLibrarysPrinters) {
    CertPtr x = cert({conf_ext(NID_crl_distribution_points, "URI:http://a.example/1.crl").release(),
                      conf_ext(NID_info_access, "OCSP;URI:http://ocsp.example/").release()});
    const std::string cert_text = text_of(kCert, x.get());
    EXPECT_NE(cert_text.find("        X509v3 extensions:\n"
                             "            X509v3 CRL Distribution Points: \n"
                             "                Distribution Point:\n"
                             "                  Full Name:\n"
                             "                    URI: http://a.example/1.crl\n"
                             "\n"
                             "            Authority Information Access: \n"
                             "                Access Method: OCSP\n"
                             "                Access Location:\n"
                             "                  URI: http://ocsp.example/\n"
                             "\n"
                             "    Signature Algorithm: "),
              std::string::npos)
        << cert_text;
    ASN1_INTEGER* n = ASN1_INTEGER_new();
    ASN1_INTEGER_set(n, 0x0102);
    CrlPtr c = crl({X509V3_EXT_i2d(NID_crl_number, 0, n)}, true);
    ASN1_INTEGER_free(n);
    const std::string crl_text = text_of(kCrl, c.get());
    EXPECT_NE(crl_text.find("        CRL extensions:\n"
                            "            X509v3 CRL Number: \n"
                            "                CRL Number: 01:02\n"
                            "Revoked Certificates:\n"
                            "    Serial Number: 77\n"),
              std::string::npos)
        << crl_text;
    ReqPtr r = req({conf_ext(NID_name_constraints, "permitted;DNS:x.ru").release()});
    const std::string req_text = text_of(kReq, r.get());
    EXPECT_NE(req_text.find("            Requested Extensions:\n"
                            "                X509v3 Name Constraints: \n"
                            "                    Permitted Subtrees:\n"
                            "                      DNS: x.ru\n"
                            "\n"),
              std::string::npos)
        << req_text;
}

TEST_F(Text, AValueThatDoesNotParseShowsItsOctets) {
    ExtPtr bad = testing::raw_ext("2.5.29.31", {0x30, 0x03, 0x02, 0x01});
    STACK_OF(X509_EXTENSION)* exts = sk_X509_EXTENSION_new_null();
    sk_X509_EXTENSION_push(exts, bad.get());
    std::unique_ptr<BIO, Free<BIO, BIO_free_all>> mem(BIO_new(BIO_s_mem()));
    ASSERT_EQ(cadb::X509V3_extensions_print(mem.get(), "T", exts, 0, 0), 1);
    sk_X509_EXTENSION_free(exts);
    char* p = nullptr;
    const long len = BIO_get_mem_data(mem.get(), &p);
    EXPECT_EQ(std::string(p, static_cast<std::size_t>(len)),
              "T:\n    X509v3 CRL Distribution Points: \n        0...\n");
    EXPECT_EQ(X509_print_text(nullptr, nullptr), 0);
}

}  // namespace
}  // namespace cadb
