// Keys, certificates and CRLs made in the test's process: GOST R 34.10-2001
// keys from the library's engine, signed by libcrypto's own X509_sign and
// X509_CRL_sign so that any peer reads them.
#pragma once

#include <gtest/gtest.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "crypto/core/objects.h"
#include "crypto/rus/evp_gost.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/crl.h"
#include "tests/engine/pkey_util.h"

namespace cadb::test {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct X509CrlFree {
    void operator()(X509_CRL* x) const { X509_CRL_free(x); }
};
using X509CrlPtr = std::unique_ptr<X509_CRL, X509CrlFree>;
struct CertFree {
    void operator()(CERT* c) const { CERT_free(c); }
};
using CertPtr = std::unique_ptr<CERT, CertFree>;
struct CrlFree {
    void operator()(CRL* c) const { CRL_free(c); }
};
using CrlPtr = std::unique_ptr<CRL, CrlFree>;

inline std::string text_of(const BUFFER* b) {
    return b == nullptr ? std::string() : std::string(reinterpret_cast<char*>(b->data), b->length);
}

inline Bytes bytes_of(const BUFFER* b) {
    return b == nullptr ? Bytes() : Bytes(b->data, b->data + b->length);
}

inline void set_time(ASN1_TIME* t, std::time_t at) { ASN1_TIME_set(t, at); }

// A certificate for key, issued by issuer (null: self-signed) under
// issuer_key, valid from not_before to not_after, with basic constraints.
inline X509Ptr make_cert(const std::string& cn, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuer_key,
                         long serial, std::time_t not_before, std::time_t not_after, bool ca) {
    X509Ptr x(X509_new());
    X509_set_version(x.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x.get()), serial);
    set_time(X509_getm_notBefore(x.get()), not_before);
    set_time(X509_getm_notAfter(x.get()), not_after);
    X509_NAME* name = X509_get_subject_name(x.get());
    X509_NAME_add_entry_by_txt(name, "C", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("RU"),
                               -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(x.get(), issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(x.get(), key);
    X509V3_CTX v3;
    X509V3_set_ctx(&v3, issuer ? issuer : x.get(), x.get(), nullptr, nullptr, 0);
    X509_EXTENSION* bc =
        X509V3_EXT_conf_nid(nullptr, &v3, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    X509_add_ext(x.get(), bc, -1);
    X509_EXTENSION_free(bc);
    EXPECT_GT(X509_sign(x.get(), issuer_key ? issuer_key : key, EVP_r3411_with_ecr3410_cp()), 0);
    return x;
}

// A CRL of issuer, signed with key, listing the serials; next_update 0: none.
inline X509CrlPtr make_crl(X509* issuer, EVP_PKEY* key, std::time_t this_update,
                           std::time_t next_update, const std::vector<long>& serials) {
    X509CrlPtr crl(X509_CRL_new());
    X509_CRL_set_version(crl.get(), 1);
    X509_CRL_set_issuer_name(crl.get(), X509_get_subject_name(issuer));
    ASN1_TIME* t = ASN1_TIME_new();
    set_time(t, this_update);
    X509_CRL_set1_lastUpdate(crl.get(), t);
    if (next_update != 0) {
        set_time(t, next_update);
        X509_CRL_set1_nextUpdate(crl.get(), t);
    }
    for (long serial : serials) {
        X509_REVOKED* r = X509_REVOKED_new();
        ASN1_INTEGER* s = ASN1_INTEGER_new();
        ASN1_INTEGER_set(s, serial);
        X509_REVOKED_set_serialNumber(r, s);
        ASN1_INTEGER_free(s);
        set_time(t, this_update);
        X509_REVOKED_set_revocationDate(r, t);
        X509_CRL_add0_revoked(crl.get(), r);
    }
    ASN1_TIME_free(t);
    X509_CRL_sort(crl.get());
    EXPECT_GT(X509_CRL_sign(crl.get(), key, EVP_r3411_with_ecr3410_cp()), 0);
    return crl;
}

inline Bytes der_of(X509* x) {
    unsigned char* der = nullptr;
    const int n = i2d_X509(x, &der);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline Bytes der_of(X509_CRL* x) {
    unsigned char* der = nullptr;
    const int n = i2d_X509_CRL(x, &der);
    Bytes out(der, der + (n > 0 ? n : 0));
    OPENSSL_free(der);
    return out;
}

inline CertPtr split(X509* x) { return CertPtr(CERT_split(x)); }

inline PkeyPtr new_key() { return generate(NID_ECR3410_CP, NID_R3410_2001_A_PARAMSET); }

}  // namespace cadb::test
