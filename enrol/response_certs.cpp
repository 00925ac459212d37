#include "enrol/response_certs.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

#include "crypto/asn1/asn1_void_coders.h"
#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/name_text.h"
#include "crypto/core/err.h"
#include "crypto/core/objects.h"
#include "crypto/pkcs7/pkcs7.h"
#include "crypto/x509/cert.h"
#include "crypto/x509/lookup_local.h"
#include "enrol/log.h"
#include "wrappers/tbuffer.h"
#include "wrappers/tcertstore.h"
#include "wrappers/tcms.h"

namespace cadb::enrol {

namespace {

struct P7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};

constexpr std::string_view kDashes = "-----";

using P7Owner = std::unique_ptr<PKCS7, P7Free>;

struct OpensslBytesFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

PKCS7* from_der(const std::vector<unsigned char>& der) {
    const unsigned char* p = der.data();
    PKCS7* p7 = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
    if (p7 != nullptr && p != der.data() + der.size()) {
        PKCS7_free(p7);
        return nullptr;
    }
    return p7;
}

// The body of a PEM block whose lines are laid out in any way (a pasted
// answer, or one rewrapped over its own line breaks): every character
// between the header line and the next "-----" that is not white space is
// taken as base64.
PKCS7* from_loose_pem(std::string_view text) {
    const std::size_t begin = text.find("-----BEGIN ");
    if (begin == std::string_view::npos) return nullptr;
    const std::size_t header_end = text.find(kDashes, begin + 11);
    if (header_end == std::string_view::npos) return nullptr;
    const std::size_t body = header_end + kDashes.size();
    std::size_t end = text.find(kDashes, body);
    if (end == std::string_view::npos) end = text.size();
    std::string base64;
    for (std::size_t i = body; i < end; ++i) {
        const char c = text[i];
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n') base64 += c;
    }
    if (base64.empty() || base64.size() % 4 != 0 || base64.size() > 0x7ffffff0) return nullptr;
    std::vector<unsigned char> der(base64.size() / 4 * 3);
    const int n = EVP_DecodeBlock(der.data(), reinterpret_cast<const unsigned char*>(base64.data()),
                                  static_cast<int>(base64.size()));
    if (n <= 0) return nullptr;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::size_t size = static_cast<std::size_t>(n);
    if (base64.back() == '=') --size;
    if (base64[base64.size() - 2] == '=') --size;
    der.resize(size);
    return from_der(der);
}

P7Owner read_message(const unsigned char* data, std::size_t length) {
    if (data == nullptr || length == 0 || length > 0x7fffffff) return nullptr;
    P7Owner p7(static_cast<PKCS7*>(
        form2x(data, static_cast<long>(length), FORM_ANY, d2i_as_void<d2i_PKCS7>, "PKCS7")));
    if (!p7) {
        p7.reset(from_loose_pem(std::string_view(reinterpret_cast<const char*>(data), length)));
        if (p7) ERR_clear_error();
    }
    return p7;
}

// The object's short name, or its dotted form when the library has no name
// for it.
std::string object_name(const ASN1_OBJECT* object) {
    // The name of NID_undef ("UNDEF") names no object.
    if (const int nid = cadb::OBJ_obj2nid(object); nid != NID_undef)
        if (const char* sn = cadb::OBJ_nid2sn(nid); sn != nullptr) return sn;
    char dotted[80];
    return OBJ_obj2txt(dotted, sizeof dotted, object, 1) > 0 ? std::string(dotted) : std::string();
}

std::string algorithm_name(const X509_ALGOR* algorithm) {
    const ASN1_OBJECT* object = nullptr;
    if (algorithm != nullptr) X509_ALGOR_get0(&object, nullptr, nullptr, algorithm);
    return object != nullptr ? object_name(object) : std::string();
}

X509* signer_certificate(STACK_OF(X509) * certs, const PKCS7_SIGNER_INFO* si) {
    if (si->issuer_and_serial == nullptr) return nullptr;
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        X509* x = sk_X509_value(certs, i);
        if (ASN1_INTEGER_cmp(X509_get0_serialNumber(x), si->issuer_and_serial->serial) == 0 &&
            X509_NAME_cmp(X509_get_issuer_name(x), si->issuer_and_serial->issuer) == 0)
            return x;
    }
    return nullptr;
}

}  // namespace

int ParsePKCS7Certificates(const unsigned char* data, std::size_t length,
                           std::vector<TCertificate>& certs) {
    certs.clear();
    P7Owner p7 = read_message(data, length);
    if (!p7) return -1;
    if (PKCS7_type_nid(p7.get()) != NID_pkcs7_signed) return 0;
    STACK_OF(X509)* stack = PKCS7_get_certificates(p7.get());
    for (int i = 0; i < sk_X509_num(stack); ++i) {
        X509* x = sk_X509_value(stack, i);
        std::unique_ptr<CERT, decltype(&CERT_free)> split(CERT_split(x), CERT_free);
        if (split) {
            certs.emplace_back(split.get());
            continue;
        }
        // One the library cannot split (a key algorithm it does not compute)
        // keeps its place as its DER bytes, without a parsed form.
        unsigned char* der = nullptr;
        const int n = i2d_X509(x, &der);
        const std::unique_ptr<unsigned char, OpensslBytesFree> owned(der);
        certs.emplace_back();
        if (n <= 0 || !certs.back().holdUnparsed(der, n)) {
            certs.clear();
            return -1;
        }
    }
    return static_cast<int>(certs.size());
}

static std::string value_text(const ASN1_STRING* value) {
    std::unique_ptr<BIO, decltype(&BIO_free)> out(BIO_new(BIO_s_mem()), BIO_free);
    if (!out || !ASN1_STRING_print_text(out.get(), ASN1_STRING_type(value),
                                        ASN1_STRING_get0_data(value), ASN1_STRING_length(value)))
        return {};
    char* text = nullptr;
    const long n = BIO_get_mem_data(out.get(), &text);
    return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : std::string();
}

std::string NameLine(const X509_NAME* name) {
    std::string line;
    const int count = name ? X509_NAME_entry_count(name) : 0;
    for (int i = 0; i < count; ++i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        if (i != 0) line += ", ";
        line += object_name(X509_NAME_ENTRY_get_object(entry));
        line += '=';
        line += value_text(X509_NAME_ENTRY_get_data(entry));
    }
    if (!line.empty()) line += '\n';
    return line;
}

bool ReadSignedResponse(const unsigned char* data, std::size_t length, SignedResponse& out) {
    out = SignedResponse();
    P7Owner p7 = read_message(data, length);
    if (!p7) return false;
    out.type = PKCS7_type_nid(p7.get());
    if (out.type != NID_pkcs7_signed) return true;
    // A message without its content (the certificates-only answer, or one
    // signed over content sent apart) is read for its signers alone.
    out.detached = p7->detached != 0;
    std::unique_ptr<BIO, decltype(&BIO_free_all)> chain(nullptr, BIO_free_all);
    if (!out.detached) {
        chain.reset(PKCS7_dataDecode(p7.get(), nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!chain) return false;
        // The digests are computed while the content passes through the chain.
        unsigned char block[4096];
        int n = 0;
        while ((n = BIO_read(chain.get(), block, sizeof block)) > 0)
            out.content.insert(out.content.end(), block, block + n);
    }
    STACK_OF(X509)* certs = PKCS7_get_certificates(p7.get());
    STACK_OF(P7_SIGNER_INFO)* signers = PKCS7_get_signer_info(p7.get());
    for (int i = 0; i < sk_P7_SIGNER_INFO_num(signers); ++i) {
        PKCS7_SIGNER_INFO* si = sk_P7_SIGNER_INFO_value(signers, i);
        SignedResponse::Signer signer;
        X509* cert = signer_certificate(certs, si);
        signer.hasCertificate = cert != nullptr;
        const int computable = chain && cert != nullptr ? PKCS7_signer_computable(si, cert) : 0;
        signer.computable = computable == 1;
        signer.notSetUp = computable < 0;
        signer.algorithms =
            algorithm_name(si->digest_alg) + " with " + algorithm_name(si->digest_enc_alg);
        signer.verified =
            signer.computable && PKCS7_signatureVerify(chain.get(), p7.get(), si, cert) == 1;
        if (cert != nullptr) signer.subject = NameLine(X509_get_subject_name(cert));
        const ASN1_INTEGER* serial = nullptr;
        const X509_NAME* issuer = nullptr;
        if (signer.verified) {
            serial = X509_get0_serialNumber(cert);
            issuer = X509_get_issuer_name(cert);
        } else if (si->issuer_and_serial != nullptr) {
            serial = si->issuer_and_serial->serial;
            issuer = si->issuer_and_serial->issuer;
        }
        if (serial != nullptr)
            signer.serial = HexString(ASN1_STRING_get0_data(serial),
                                      static_cast<std::size_t>(ASN1_STRING_length(serial)));
        signer.issuer = NameLine(issuer);
        out.signers.push_back(std::move(signer));
    }
    return true;
}

bool PKCS7SignaturesHold(const unsigned char* data, std::size_t length) {
    SignedResponse response;
    if (!ReadSignedResponse(data, length, response) || response.type != NID_pkcs7_signed)
        return false;
    // Without the content there is nothing the signatures could be checked
    // over; the certificates are outside every signature anyway. Nor can a
    // signature be checked whose algorithms the library does not compute.
    if (response.detached) return true;
    for (const auto& signer : response.signers) {
        // A check that could not even be set up proves nothing either way.
        if (signer.notSetUp) return false;
        if (signer.computable) {
            if (!signer.verified) return false;
        } else if (signer.hasCertificate) {
            log_line(
                "PKCS7SignaturesHold()... Signer [%s] with Algorithm [%s] can't be "
                "Computed ...Skipped!",
                signer.serial.c_str(), signer.algorithms.c_str());
        }
    }
    return true;
}

bool RewrapAsPKCS7Pem(std::string_view text, std::string& out) {
    out.clear();
    if (text.size() <= 5) return false;
    std::size_t pos = text.find(kDashes, 5);
    if (pos == std::string_view::npos) return false;
    pos += kDashes.size();
    if (pos < text.size() && text[pos] == '\r') ++pos;
    if (pos < text.size() && text[pos] == '\n') ++pos;
    std::size_t end = text.find(kDashes, pos);
    if (end == std::string_view::npos) end = text.size();
    out = "-----BEGIN PKCS7-----\r\n";
    std::size_t copied = 0;
    for (std::size_t i = pos; i < end; ++i, ++copied) {
        if (copied != 0 && copied % 64 == 0) out += "\r\n";
        out += text[i];
    }
    out += "\r\n-----END PKCS7-----\r\n";
    return true;
}

std::string HexString(const unsigned char* data, std::size_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(length * 2);
    for (std::size_t i = 0; i < length; ++i) {
        hex += kDigits[data[i] >> 4];
        hex += kDigits[data[i] & 0x0f];
    }
    return hex;
}

std::string CertificateDisplayName(const TCertificate& cert) {
    const CERT* parsed = cert.getCERT();
    if (parsed == nullptr || parsed->x509 == nullptr) return {};
    const X509_NAME* subject = X509_get_subject_name(parsed->x509);
    const int at = subject ? X509_NAME_get_index_by_NID(subject, NID_commonName, -1) : -1;
    if (at >= 0) {
        std::string name = value_text(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, at)));
        if (!name.empty()) return name;
    }
    if (parsed->serial == nullptr || parsed->serial->data == nullptr) return {};
    return HexString(parsed->serial->data, static_cast<std::size_t>(parsed->serial->length));
}

bool VerifyResponseWithItsCertificates(const unsigned char* data, std::size_t length,
                                       const std::vector<TCertificate>& certs) {
    if (data == nullptr || length == 0 || length > static_cast<std::size_t>(INT_MAX)) return false;
    TRef<TCertStore> store = make_ref<TCertStore>();
    store->addLookup(X509_LOOKUP_local(), "trusted", 1);
    TCertStoreEntry* untrusted = store->addLookup(X509_LOOKUP_local(), "untrusted", 0);
    for (const TCertificate& cert : certs) untrusted->addCertificate(cert);
    TBuffer bytes;
    bytes.assign(data, static_cast<int>(length));
    TRef<TCMS> message = make_ref<TCMS>();
    // The message is read, and its type known, before it can be checked.
    return message->setContent(bytes) && message->getType() > 0 &&
           message->verify(store.get(), kResponseVerifyFlags, nullptr, nullptr);
}

}  // namespace cadb::enrol
