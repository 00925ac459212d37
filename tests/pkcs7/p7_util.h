// Writing and reading whole messages through the engine's chains.
#pragma once

#include <openssl/bio.h>

#include <string>

#include "crypto/pkcs7/p7_err.h"
#include "crypto/pkcs7/pkcs7.h"
#include "tests/pkcs7/p7_fixture.h"

namespace cadb::test {

struct P7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};
using P7Ptr = std::unique_ptr<PKCS7, P7Free>;

inline Bytes encode(const PKCS7* p7) {
    const int len = i2d_PKCS7(p7, nullptr);
    if (len <= 0) return {};
    Bytes out(static_cast<size_t>(len));
    unsigned char* p = out.data();
    if (i2d_PKCS7(p7, &p) != len) return {};
    return out;
}

inline P7Ptr decode(const Bytes& der) {
    const unsigned char* p = der.data();
    return P7Ptr(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
}

// Writes the content through the writing chain and finishes the message.
inline bool finish(PKCS7* p7, const Bytes& content) {
    BIO* b = PKCS7_dataInit(p7, nullptr);
    if (b == nullptr) return false;
    bool ok = content.empty() || BIO_write(b, content.data(), static_cast<int>(content.size())) ==
                                     static_cast<int>(content.size());
    ok = ok && PKCS7_DATASIGN(p7, b) == 1;
    BIO_free_all(b);
    return ok;
}

inline Bytes read_all(BIO* b) {
    Bytes out;
    unsigned char buf[4096];
    int n = 0;
    while ((n = BIO_read(b, buf, sizeof buf)) > 0) out.insert(out.end(), buf, buf + n);
    return out;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Signed data by the given parties over the content.
inline P7Ptr signed_message(const std::vector<Party*>& signers, const Bytes& content, bool detached,
                            const EVP_MD* md = nullptr) {
    P7Ptr p7(PKCS7_new());
    if (!PKCS7_set_type(p7.get(), NID_pkcs7_signed) || !PKCS7_content_new(p7.get(), NID_pkcs7_data))
        return nullptr;
    for (Party* s : signers) {
        const EVP_MD* use = md != nullptr ? md : cert_md(s->key.get());
        if (PKCS7_add_signature(p7.get(), s->cert.get(), s->key.get(), use) == nullptr ||
            !PKCS7_add_certificate(p7.get(), s->cert.get()))
            return nullptr;
    }
    PKCS7_set_detached(p7.get(), detached);
    if (!finish(p7.get(), content)) return nullptr;
    return p7;
}

// Reads a signed message and checks every signer against the message's
// certificates: the content read, and 1 or the failing reason per signer.
struct Verified {
    Bytes content;
    std::vector<int> results;
};

inline Verified verify_message(PKCS7* p7, const Bytes* detached_content) {
    Verified v;
    BIO* in =
        detached_content != nullptr
            ? BIO_new_mem_buf(detached_content->data(), static_cast<int>(detached_content->size()))
            : nullptr;
    BIO* b = PKCS7_dataDecode(p7, nullptr, nullptr, nullptr, nullptr, in);
    if (b == nullptr) {
        BIO_free(in);
        return v;
    }
    v.content = read_all(b);
    STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7);
    STACK_OF(X509)* certs = PKCS7_get_certificates(p7);
    for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers); ++i) {
        PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(signers, i);
        X509* cert = nullptr;
        for (int c = 0; c < sk_X509_num(certs); ++c) {
            X509* x = sk_X509_value(certs, c);
            if (ASN1_INTEGER_cmp(X509_get0_serialNumber(x), si->issuer_and_serial->serial) == 0)
                cert = x;
        }
        cadb::ERR_clear_error();
        const int r = PKCS7_signatureVerify(b, p7, si, cert);
        v.results.push_back(r == 1 ? 1 : ERR_code_reason(cadb::ERR_peek_last_error()));
    }
    BIO_free_all(b);
    return v;
}

}  // namespace cadb::test
