#include "crypto/cadb/buffer_encode.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "crypto/core/err.h"
#include "crypto/core/objects.h"

namespace cadb {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Copies what a memory stream collected into a new BUFFER.
BUFFER* collect(BIO* mem, int func) {
    char* bytes = nullptr;
    const long n = BIO_get_mem_data(mem, &bytes);
    if (n < 0 || n >= INT_MAX) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL);
        return nullptr;
    }
    BUFFER* b = BUFFER_fill(bytes, static_cast<int>(n));
    if (b == nullptr) CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    // The stream may have held a private key in the clear; it grows with
    // cleansing reallocations, so wiping its last block leaves no copy.
    if (n > 0) OPENSSL_cleanse(bytes, static_cast<std::size_t>(n));
    return b;
}

BioPtr mem_sink(int func) {
    BioPtr mem(BIO_new(BIO_s_mem()));
    if (!mem) CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    return mem;
}

// Where the element at data ends when its length is indefinite: the generic
// reader follows its end-of-contents marks. Null when it does not end.
const unsigned char* indefinite_end(const unsigned char* data, long len) {
    const unsigned char* p = data;
    ASN1_TYPE* any = d2i_ASN1_TYPE(nullptr, &p, len);
    if (any == nullptr) return nullptr;
    ASN1_TYPE_free(any);
    return p;
}

// One object filling the input exactly: its outer element, of definite or
// indefinite length, must end at the end, as nothing may follow a message.
void* from_der(const unsigned char* data, long len, d2i_of_void* d2i) {
    const unsigned char* p = data;
    long content_len = 0;
    int tag = 0;
    int cls = 0;
    const int r = ASN1_get_object(&p, &content_len, &tag, &cls, len);
    if (r & 0x80) return nullptr;
    const bool indefinite = (r & 0x21) == 0x21;
    const unsigned char* end = indefinite ? indefinite_end(data, len) : p + content_len;
    if (end != data + len) return nullptr;
    p = data;
    return d2i(nullptr, &p, len);
}

void* from_pem(const unsigned char* data, long len, d2i_of_void* d2i, const char* label) {
    if (label == nullptr || len > INT_MAX) return nullptr;
    BioPtr src(BIO_new_mem_buf(data, static_cast<int>(len)));
    if (!src) return nullptr;
    // An empty password: an encrypted PEM is refused instead of prompting.
    static char empty[] = "";
    unsigned char* der = nullptr;
    long der_len = 0;
    char* name = nullptr;
    if (!PEM_bytes_read_bio(&der, &der_len, &name, label, src.get(), nullptr, empty))
        return nullptr;
    OPENSSL_free(name);
    // The block's bytes are read as a DER input is: one whole object.
    void* obj = from_der(der, der_len, d2i);
    OPENSSL_clear_free(der, static_cast<std::size_t>(der_len));
    return obj;
}

void* from_bare_base64(const unsigned char* data, long len, d2i_of_void* d2i, const char* label) {
    if (label == nullptr) return nullptr;
    // Pasted text usually ends in a line break; a blank line before the
    // footer would end the PEM body early.
    std::string_view body(reinterpret_cast<const char*>(data), static_cast<std::size_t>(len));
    const std::size_t first = body.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return nullptr;
    body = body.substr(first, body.find_last_not_of(" \t\r\n") + 1 - first);
    std::string text = "-----BEGIN ";
    text.append(label).append("-----\n");
    text.append(body);
    text.append("\n-----END ").append(label).append("-----\n");
    return from_pem(reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<long>(text.size()), d2i, label);
}

}  // namespace

BUFFER* x2der(void* obj, i2d_of_void* i2d) {
    if (obj == nullptr || i2d == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    const int n = i2d(obj, nullptr);
    if (n <= 0) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_X2DER);
        return nullptr;
    }
    BufferPtr b(BUFFER_fill(nullptr, n));
    if (!b) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_MALLOC);
        return nullptr;
    }
    unsigned char* p = b->data;
    if (i2d(obj, &p) != n) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    return b.release();
}

BUFFER* x2pem(void* obj, i2d_of_void* i2d, const char* label, int cipher_nid, const char* passwd,
              int passwd_len) {
    if (obj == nullptr || i2d == nullptr || label == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2PEM, ERR_R_INTERNAL);
        return nullptr;
    }
    const EVP_CIPHER* cipher = nullptr;
    if (cipher_nid != 0) {
        cipher = EVP_get_cipherbynid(cipher_nid);
        if (cipher == nullptr || passwd == nullptr) {
            CADB_ERR(ERR_LIB_CADB, CADB_F_X2PEM, ERR_R_INTERNAL);
            return nullptr;
        }
        if (passwd_len <= 0) {
            const std::size_t n = std::strlen(passwd);
            if (n > INT_MAX) {
                CADB_ERR(ERR_LIB_CADB, CADB_F_X2PEM, ERR_R_INTERNAL);
                return nullptr;
            }
            passwd_len = static_cast<int>(n);
        }
    }
    BioPtr mem = mem_sink(CADB_F_X2PEM);
    if (!mem) return nullptr;
    auto* key = reinterpret_cast<unsigned char*>(const_cast<char*>(passwd));
    if (!PEM_ASN1_write_bio(i2d, label, mem.get(), obj, cipher, cipher ? key : nullptr,
                            cipher ? passwd_len : 0, nullptr, nullptr)) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_X2PEM);
        return nullptr;
    }
    return collect(mem.get(), CADB_F_X2PEM);
}

BUFFER* x2text(void* obj, PrintFn print) {
    if (obj == nullptr || print == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2TEXT, ERR_R_INTERNAL);
        return nullptr;
    }
    BioPtr mem = mem_sink(CADB_F_X2TEXT);
    if (!mem) return nullptr;
    if (print(mem.get(), obj) <= 0) {
        ERR_move_openssl_errors(ERR_LIB_CADB, CADB_F_X2TEXT);
        return nullptr;
    }
    return collect(mem.get(), CADB_F_X2TEXT);
}

BUFFER* x2form(void* obj, i2d_of_void* i2d, const char* label, int form) {
    switch (form) {
        case FORM_DER:
            return x2der(obj, i2d);
        case FORM_PEM:
            return x2pem(obj, i2d, label, 0, nullptr, 0);
        case FORM_BASE64: {
            BufferPtr b(x2der(obj, i2d));
            if (!b || BUFFER_to_base64(b.get()) == nullptr) return nullptr;
            return b.release();
        }
        default:
            CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
            return nullptr;
    }
}

void* form2x(const unsigned char* data, long len, int form, d2i_of_void* d2i, const char* label) {
    if (data == nullptr || d2i == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    void* obj = nullptr;
    {
        OpensslErrorMark mark;
        if (form == FORM_DER || form == FORM_ANY) obj = from_der(data, len, d2i);
        if (obj == nullptr && (form == FORM_PEM || form == FORM_ANY))
            obj = from_pem(data, len, d2i, label);
        if (obj == nullptr && (form == FORM_BASE64 || form == FORM_ANY))
            obj = from_bare_base64(data, len, d2i, label);
    }
    if (obj == nullptr) CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_NESTED_ASN1_ERROR_);
    return obj;
}

}  // namespace cadb
