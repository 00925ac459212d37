// Reading requests from memory and streams in every form users bring them.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/core/err.h"
#include "crypto/x509/pkcs10.h"
#include "crypto/x509/pkcs10_local.h"

namespace cadb {
namespace {

// A request larger than this is no request.
constexpr long kMaxRequestBytes = 1L << 24;

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

bool only_space(const unsigned char* p, long len) {
    for (long i = 0; i < len; ++i)
        if (!std::isspace(p[i])) return false;
    return true;
}

// One PEM block with a request's label, nothing after it but white space.
X509_REQ* from_pem(const unsigned char* text, long len) {
    BioPtr bio(BIO_new_mem_buf(text, static_cast<int>(len)), BIO_free);
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* data = nullptr;
    long n = 0;
    if (!bio || !PEM_read_bio(bio.get(), &name, &header, &data, &n)) return nullptr;
    X509_REQ* req = nullptr;
    char* rest = nullptr;
    const long rest_len = BIO_get_mem_data(bio.get(), &rest);
    if ((std::strcmp(name, kPkcs10PemLabel) == 0 ||
         std::strcmp(name, "NEW CERTIFICATE REQUEST") == 0) &&
        header[0] == '\0' && only_space(reinterpret_cast<unsigned char*>(rest), rest_len))
        req = pkcs10_from_der(data, n);
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(data);
    return req;
}

// Text without its PEM armour lines, which filtering would turn into base64
// letters.
std::string strip_armour(std::string text) {
    for (const char* mark : {"-----BEGIN", "-----END"}) {
        std::size_t pos;
        while ((pos = text.find(mark)) != std::string::npos) {
            const std::size_t end = text.find("-----", pos + 5);
            text.erase(pos, end == std::string::npos ? std::string::npos : end + 5 - pos);
        }
    }
    return text;
}

bool is_base64_char(unsigned char c) { return std::isalnum(c) || c == '+' || c == '/' || c == '='; }

// The record of a decoded request; origin set on success.
PKCS10* record_of(X509_REQ* req, int origin) {
    PKCS10* p10 = req != nullptr ? PKCS10_split0(req) : nullptr;
    if (p10 != nullptr) p10->origin = origin;
    return p10;
}

PKCS10* base64_record(const char* text, long len) {
    std::string pem = std::string("-----BEGIN ") + kPkcs10PemLabel + "-----\r\n";
    pem.append(text, static_cast<std::size_t>(len));
    if (len == 0 || (text[len - 1] != '\r' && text[len - 1] != '\n')) pem += '\n';
    pem += std::string("-----END ") + kPkcs10PemLabel + "-----\r\n";
    return record_of(
        from_pem(reinterpret_cast<const unsigned char*>(pem.data()), static_cast<long>(pem.size())),
        PKCS10_ORIGIN_BASE64);
}

}  // namespace

X509_REQ* pkcs10_from_der(const unsigned char* der, long len) {
    const unsigned char* p = der;
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, len);
    if (req != nullptr && p != der + len) {
        X509_REQ_free(req);
        req = nullptr;
    }
    return req;
}

X509_REQ* PKCS10_read_bio(int form, BIO* in) {
    if (form != FORM_DER && form != FORM_PEM) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BIO, CADB_R_INVALID_ENCODE_TYPE);
        return nullptr;
    }
    if (in == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BIO, ERR_R_INTERNAL);
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    unsigned char chunk[4096];
    int n;
    while ((n = BIO_read(in, chunk, sizeof chunk)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + n);
        if (static_cast<long>(bytes.size()) > kMaxRequestBytes) break;
    }
    const long len = static_cast<long>(bytes.size());
    X509_REQ* req = len == 0 || len > kMaxRequestBytes ? nullptr
                    : form == FORM_DER                 ? pkcs10_from_der(bytes.data(), len)
                                                       : from_pem(bytes.data(), len);
    ::ERR_clear_error();
    if (req == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BIO, CADB_R_INVALID_DATA);
    return req;
}

PKCS10* PKCS10_read_buffer(int form, const unsigned char* bytes, int len) {
    if (form != FORM_ANY && form != FORM_DER && form != FORM_PEM) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, CADB_R_INVALID_ENCODE_TYPE);
        return nullptr;
    }
    if (bytes == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, ERR_R_INTERNAL);
        return nullptr;
    }
    X509_REQ* req = form != FORM_PEM ? pkcs10_from_der(bytes, len) : nullptr;
    if (req == nullptr && form != FORM_DER) req = from_pem(bytes, len);
    ::ERR_clear_error();
    if (req == nullptr && form != FORM_ANY) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, CADB_R_INVALID_DATA);
        return nullptr;
    }
    PKCS10* p10 = record_of(req, PKCS10_ORIGIN_ENCODED);
    if (p10 == nullptr && form == FORM_ANY) {
        ERR_clear_error();
        p10 = base64_record(reinterpret_cast<const char*>(bytes), len);
        if (p10 != nullptr) p10->origin = PKCS10_ORIGIN_ENCODED;
    }
    if (p10 == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, ERR_LIB_CADB);
    return p10;
}

PKCS10* PKCS10_read_base64(const char* text, int len) {
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, ERR_R_INTERNAL);
        return nullptr;
    }
    const long n = len > 0 ? len : static_cast<long>(std::strlen(text));
    PKCS10* p10 = n > 0 && n <= kMaxRequestBytes ? base64_record(text, n) : nullptr;
    ::ERR_clear_error();
    if (p10 == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, CADB_R_INVALID_DATA);
    return p10;
}

PKCS10* PKCS10_load(const char* text, int len) {
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, ERR_R_INTERNAL);
        return nullptr;
    }
    const int n = len > 0 ? len : static_cast<int>(std::strlen(text));
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    if (PKCS10* p10 = PKCS10_read_buffer(FORM_ANY, bytes, n)) return p10;
    ERR_clear_error();
    if (PKCS10* p10 = PKCS10_read_base64(text, n)) return p10;
    ERR_clear_error();
    // Pasted text: everything but base64 and line ends goes. The armour
    // lines go first: filtered, they would read as base64 letters.
    // Empty lines go too: the PEM reader takes one for the end of headers.
    std::string filtered;
    for (unsigned char c : strip_armour(std::string(text, static_cast<std::size_t>(n)))) {
        if (is_base64_char(c))
            filtered += static_cast<char>(c);
        else if ((c == '\r' || c == '\n') && !filtered.empty() && filtered.back() != '\n')
            filtered += '\n';
    }
    if (filtered.empty()) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_PKCS10_READ_BUFFER, CADB_R_INVALID_DATA);
        return nullptr;
    }
    return PKCS10_read_base64(filtered.data(), static_cast<int>(filtered.size()));
}

}  // namespace cadb
