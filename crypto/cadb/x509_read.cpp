#include "crypto/cadb/x509_read.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <climits>
#include <memory>
#include <string>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cadb/cadb_reasons.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

using BioPtr = std::unique_ptr<BIO, decltype(&BIO_free)>;

void* from_der(const unsigned char* data, long len, const X509_OBJECT_CODEC& codec) {
    const unsigned char* p = data;
    void* obj = codec.d2i(nullptr, &p, len);
    if (obj != nullptr && p != data + len) {
        codec.free(obj);
        return nullptr;
    }
    return obj;
}

bool only_white_space(BIO* rest) {
    char c = 0;
    while (BIO_read(rest, &c, 1) == 1) {
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n' && c != '\0') return false;
    }
    return true;
}

void* from_pem(const unsigned char* data, long len, const X509_OBJECT_CODEC& codec) {
    if (len > INT_MAX) return nullptr;
    BioPtr src(BIO_new_mem_buf(data, static_cast<int>(len)), BIO_free);
    if (!src) return nullptr;
    unsigned char* der = nullptr;
    long der_len = 0;
    char* name = nullptr;
    if (!PEM_bytes_read_bio(&der, &der_len, &name, codec.label, src.get(), nullptr, nullptr)) {
        return nullptr;
    }
    OPENSSL_free(name);
    void* obj = only_white_space(src.get()) ? from_der(der, der_len, codec) : nullptr;
    OPENSSL_free(der);
    return obj;
}

void* from_bare_base64(const unsigned char* data, long len, const X509_OBJECT_CODEC& codec) {
    std::string text = "-----BEGIN ";
    text.append(codec.label).append("-----\n");
    text.append(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    if (text.back() != '\n' && text.back() != '\r') text.push_back('\n');
    text.append("-----END ").append(codec.label).append("-----\n");
    return from_pem(reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<long>(text.size()), codec);
}

}  // namespace

void* X509_object_decode(const unsigned char* data, long len, int form,
                         const X509_OBJECT_CODEC& codec) {
    if (data == nullptr || len <= 0) return nullptr;
    // Trial decodes fail often: libcrypto's queue stays as the caller had it.
    ::ERR_set_mark();
    void* obj = nullptr;
    switch (form) {
        case FORM_DER:
            obj = from_der(data, len, codec);
            break;
        case FORM_PEM:
            obj = from_pem(data, len, codec);
            break;
        case FORM_BASE64:
            obj = from_bare_base64(data, len, codec);
            break;
        default:
            break;
    }
    ::ERR_pop_to_mark();
    return obj;
}

bool BIO_read_all(BIO* in, std::vector<unsigned char>& out) {
    if (in == nullptr) return false;
    unsigned char chunk[4096];
    int n = 0;
    while ((n = BIO_read(in, chunk, sizeof chunk)) > 0) out.insert(out.end(), chunk, chunk + n);
    return true;
}

void* X509_object_read_bio(int form, BIO* in, const X509_OBJECT_CODEC& codec, int func) {
    if (in == nullptr) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    if (form != FORM_DER && form != FORM_PEM) {
        CADB_ERR(ERR_LIB_CADB, func, CADB_R_INVALID_ENCODE_TYPE);
        return nullptr;
    }
    std::vector<unsigned char> bytes;
    BIO_read_all(in, bytes);
    void* obj = X509_object_decode(bytes.data(), static_cast<long>(bytes.size()), form, codec);
    if (obj == nullptr) CADB_ERR(ERR_LIB_CADB, func, CADB_R_INVALID_DATA);
    return obj;
}

void* X509_object_read_buffer(int form, const unsigned char* bytes, int len,
                              const X509_OBJECT_CODEC& codec, int func) {
    if (bytes == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    void* obj = nullptr;
    switch (form) {
        case FORM_ANY:
            for (int f : {FORM_DER, FORM_PEM, FORM_BASE64}) {
                if (f == FORM_BASE64 && !codec.any_base64) break;
                obj = X509_object_decode(bytes, len, f, codec);
                if (obj != nullptr) break;
            }
            break;
        case FORM_DER:
        case FORM_PEM:
            obj = X509_object_decode(bytes, len, form, codec);
            break;
        default:
            CADB_ERR(ERR_LIB_CADB, func, CADB_R_INVALID_ENCODE_TYPE);
            return nullptr;
    }
    if (obj == nullptr) CADB_ERR(ERR_LIB_CADB, func, CADB_R_INVALID_DATA);
    return obj;
}

BUFFER* X509_object_get(void* obj, int form, const X509_OBJECT_CODEC& codec, int func) {
    BUFFER* b = nullptr;
    switch (form) {
        case FORM_PEM:
            b = x2form(obj, codec.i2d, codec.label, FORM_PEM);
            break;
        case FORM_TEXT:
            b = x2text(obj, codec.print);
            break;
        default:
            b = x2der(obj, codec.i2d);
            break;
    }
    if (b == nullptr) CADB_ERR(ERR_LIB_CADB, func, ERR_LIB_CADB);
    return b;
}

}  // namespace cadb
