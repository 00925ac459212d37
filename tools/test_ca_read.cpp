// The test authority's reading of a CMC request, as an authority would take
// it in: a signed message (PEM or DER) has its signature checked and its CMC
// content read; anything else is taken as the CMC request in base64. What
// the request asks (certificates for PKCS#10 requests, revocations) is
// printed, so that the demo can compare it with what it meant.
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/cms/cmc.h"
#include "crypto/cms/cms.h"
#include "crypto/core/objects.h"
#include "platform/codepage.h"
#include "tools/test_ca.h"

namespace cadb::test_ca {
namespace {

struct CmcFree {
    void operator()(CMC* c) const { CMC_free(c); }
};
using CmcPtr = std::unique_ptr<CMC, CmcFree>;

std::string hex_of(const BUFFER* b) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (int i = 0; b != nullptr && i < b->length; ++i) {
        out += kDigits[b->data[i] >> 4];
        out += kDigits[b->data[i] & 15];
    }
    return out;
}

// Local text (code page 1251) for the terminal.
std::string utf8_of(const BUFFER* b) {
    if (b == nullptr) return {};
    std::size_t len = 0;
    std::unique_ptr<unsigned char, void (*)(void*)> text(
        codepage_convert_new(kLocalCodePage, kUtf8,
                             {b->data, static_cast<std::size_t>(b->length)}, 1, &len),
        [](void* p) { OPENSSL_free(p); });
    return text ? std::string(reinterpret_cast<const char*>(text.get()), len) : "<not text>";
}

std::string name_of(const X509_NAME* name) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    X509_NAME_print_ex(out.get(), name, 0, XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    const long n = BIO_get_mem_data(out.get(), &data);
    return std::string(data, static_cast<std::size_t>(n));
}

std::string decode_base64(const std::string& text) {
    std::string clean;
    for (char c : text)
        if (c != '\r' && c != '\n' && c != ' ') clean += c;
    std::string out(clean.size() / 4 * 3 + 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                  reinterpret_cast<const unsigned char*>(clean.data()),
                                  static_cast<int>(clean.size()));
    if (n < 0) return {};
    std::size_t pad = 0;
    while (pad < 2 && pad < clean.size() && clean[clean.size() - 1 - pad] == '=') ++pad;
    out.resize(static_cast<std::size_t>(n) - pad);
    return out;
}

// The CMC bytes of a signed message, with a line on its signer.
std::string signed_content(const std::string& message) {
    CmsPtr cms(CMS_new());
    if (!cms || CMS_update_data(cms.get(), message.data(), static_cast<int>(message.size())) != 1 ||
        CMS_get_type(cms.get()) != NID_pkcs7_signed)
        return {};
    std::unique_ptr<X509_STORE, decltype(&X509_STORE_free)> store(X509_STORE_new(),
                                                                  X509_STORE_free);
    if (CMS_verify(cms.get(), store.get(), nullptr, 0) != 1) return {};
    for (int i = 0; i < sk_CMS_SIGNATURE_num(cms->signatures); ++i) {
        const CMS_SIGNATURE* s = sk_CMS_SIGNATURE_value(cms->signatures, i);
        const X509* cert = s->cert != nullptr ? s->cert->x509 : nullptr;
        std::printf("Signed by %s: signature %s\n",
                    cert != nullptr ? name_of(X509_get_subject_name(cert)).c_str() : "an unknown signer",
                    s->signature_result == 1 ? "valid" : "INVALID");
        if (s->signature_result != 1) return {};
    }
    BufferPtr content(CMS_get_content(cms.get()));
    return content ? std::string(reinterpret_cast<const char*>(content->data), content->length)
                   : std::string();
}

}  // namespace

int read_request(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const bool is_signed = text.find("-----BEGIN") != std::string::npos ||
                           (!text.empty() && static_cast<unsigned char>(text[0]) == 0x30);
    const std::string der = is_signed ? signed_content(text) : decode_base64(text);
    CmcPtr cmc(der.empty() ? nullptr
                           : CMS_read(reinterpret_cast<const unsigned char*>(der.data()),
                                      static_cast<long>(der.size()), NID_CMC_PKI_DATA));
    if (!cmc) {
        std::fprintf(stderr, "cadb-test-ca: %s holds no readable CMC request\n", path.c_str());
        return 1;
    }
    int found = 0;
    for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i) {
        const CMS_TATTR* c = sk_CMS_TATTR_value(cmc->controls, i);
        if (c->type != NID_CMC_REVOKE_REQUEST) continue;
        const CMS_REVREQ* r = c->value.revreq;
        std::printf("Revoke serial %s of %s: reason %d, comment \"%s\", %s\n",
                    hex_of(r->serial).c_str(), name_of(r->issuer).c_str(), r->reason,
                    utf8_of(r->comment).c_str(),
                    r->shared_secret != nullptr ? "emergency password given" : "no emergency password");
        ++found;
    }
    for (int i = 0; i < sk_CMP_TREQ_num(cmc->requests); ++i) {
        const CMP_TREQ* t = sk_CMP_TREQ_value(cmc->requests, i);
        if (t->choice != CMP_TREQ_PKCS10 || t->value.tcr->request == nullptr) continue;
        const PKCS10* p10 = t->value.tcr->request;
        std::printf("Certify (body part %d) %s: request signature %s\n", t->value.tcr->body_part_id,
                    name_of(X509_REQ_get_subject_name(p10->request)).c_str(),
                    p10->signature_check == 1 ? "valid" : "INVALID");
        if (p10->signature_check == 1) ++found;
    }
    for (int i = 0; i < sk_CMS_TATTR_num(cmc->controls); ++i) {
        const CMS_TATTR* c = sk_CMS_TATTR_value(cmc->controls, i);
        if (c->type == NID_CMC_TRANSACTION_ID)
            std::printf("Transaction identifier of %d bytes\n", c->value.bytes->length);
    }
    return found > 0 ? 0 : 1;
}

}  // namespace cadb::test_ca
