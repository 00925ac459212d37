// Extensions made the way a certification authority's tools make them, for
// the record and printer tests.
#pragma once

#include <openssl/asn1t.h>
#include <openssl/conf.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>
#include <vector>

namespace cadb::testing {

struct ExtDeleter {
    void operator()(X509_EXTENSION* e) const { X509_EXTENSION_free(e); }
};
using ExtPtr = std::unique_ptr<X509_EXTENSION, ExtDeleter>;

// Sections the configuration-text values below refer to.
inline constexpr const char* kConf = R"(
[pol]
policyIdentifier = 1.2.643.100.113.1
CPS.1 = "http://ca.example/cps"
userNotice.1 = @notice
[notice]
explicitText = "Notice text"
organization = "Org"
noticeNumbers = 1, 2, 3
[dir]
C = RU
O = Org
CN = Name
[idp]
fullname = URI:http://crl.example/a.crl
onlysomereasons = keyCompromise, CACompromise
indirectCRL = TRUE
[dp]
fullname = URI:http://x.example/y.crl
reasons = keyCompromise
CRLissuer = dirName:dir
)";

// An extension from libcrypto's configuration text (libcrypto's NID).
inline ExtPtr conf_ext(int openssl_nid, const char* value) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(kConf, -1), BIO_free);
    std::unique_ptr<CONF, decltype(&NCONF_free)> conf(NCONF_new(nullptr), NCONF_free);
    long line = 0;
    if (!NCONF_load_bio(conf.get(), bio.get(), &line)) return nullptr;
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, nullptr, nullptr, nullptr, nullptr, 0);
    X509V3_set_nconf(&ctx, conf.get());
    return ExtPtr(X509V3_EXT_nconf_nid(conf.get(), &ctx, openssl_nid, value));
}

// An extension of any object holding the DER of `value` of item `it`.
inline ExtPtr item_ext(const char* oid, const void* value, const ASN1_ITEM* it,
                       bool critical = false) {
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(static_cast<const ASN1_VALUE*>(value), &der, it);
    ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(data, der, len);
    OPENSSL_free(der);
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    ExtPtr ext(X509_EXTENSION_create_by_OBJ(nullptr, obj, critical, data));
    ASN1_OBJECT_free(obj);
    ASN1_OCTET_STRING_free(data);
    return ext;
}

inline ExtPtr raw_ext(const char* oid, const std::vector<unsigned char>& der) {
    ASN1_OCTET_STRING* data = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(data, der.data(), static_cast<int>(der.size()));
    ASN1_OBJECT* obj = OBJ_txt2obj(oid, 1);
    ExtPtr ext(X509_EXTENSION_create_by_OBJ(nullptr, obj, 0, data));
    ASN1_OBJECT_free(obj);
    ASN1_OCTET_STRING_free(data);
    return ext;
}

inline std::vector<unsigned char> value_der(const X509_EXTENSION* e) {
    const ASN1_OCTET_STRING* d = X509_EXTENSION_get_data(const_cast<X509_EXTENSION*>(e));
    return {ASN1_STRING_get0_data(d), ASN1_STRING_get0_data(d) + ASN1_STRING_length(d)};
}

}  // namespace cadb::testing
