#include "crypto/cadb/buffer.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <climits>
#include <cstring>

#include "crypto/core/err.h"
#include "crypto/rand/rand.h"

namespace cadb {
namespace {

// Room for len payload bytes and the trailing zero, all zero.
unsigned char* alloc_data(std::int32_t len) {
    return static_cast<unsigned char*>(OPENSSL_zalloc(static_cast<std::size_t>(len) + 1));
}

void release_data(unsigned char* data, std::int32_t len) {
    if (data != nullptr) OPENSSL_clear_free(data, static_cast<std::size_t>(len) + 1);
}

}  // namespace

BUFFER* BUFFER_new() {
    auto* b = static_cast<BUFFER*>(OPENSSL_zalloc(sizeof(BUFFER)));
    if (b == nullptr) CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_NEW, ERR_R_MALLOC);
    return b;
}

void BUFFER_clear(BUFFER* b) {
    if (b == nullptr) return;
    release_data(b->data, b->length);
    b->data = nullptr;
    b->length = 0;
}

void BUFFER_free(BUFFER* b) {
    BUFFER_clear(b);
    OPENSSL_free(b);
}

BUFFER* BUFFER_fill(const void* bytes, int len) {
    if (len < 0) {
        if (bytes == nullptr) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_FILL, ERR_R_NULL_PARAMETER);
            return nullptr;
        }
        const std::size_t n = std::strlen(static_cast<const char*>(bytes));
        if (n >= INT_MAX) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_FILL, ERR_R_INTERNAL);
            return nullptr;
        }
        len = static_cast<int>(n);
    }
    BufferPtr b(BUFFER_new());
    if (!b) return nullptr;
    b->data = alloc_data(len);
    if (b->data == nullptr) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_FILL, ERR_R_MALLOC);
        return nullptr;
    }
    b->length = len;
    if (bytes != nullptr && len > 0) std::memcpy(b->data, bytes, static_cast<std::size_t>(len));
    return b.release();
}

BUFFER* BUFFER_cat(BUFFER* a, BUFFER* b) {
    if (a == nullptr) return b;
    if (b == nullptr) return a;
    if (a->length > INT_MAX - 1 - b->length) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_CAT, ERR_R_INTERNAL);
        return nullptr;
    }
    BUFFER* r = BUFFER_fill(nullptr, a->length + b->length);
    if (r == nullptr) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_CAT, ERR_R_MALLOC);
        return nullptr;
    }
    if (a->length > 0) std::memcpy(r->data, a->data, static_cast<std::size_t>(a->length));
    if (b->length > 0)
        std::memcpy(r->data + a->length, b->data, static_cast<std::size_t>(b->length));
    BUFFER_free(a);
    BUFFER_free(b);
    return r;
}

int BUFFER_append(BUFFER* b, const void* bytes, int len) {
    if (b == nullptr || bytes == nullptr) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_APPEND, ERR_R_NULL_PARAMETER);
        return 0;
    }
    if (len < 0) {
        const std::size_t n = std::strlen(static_cast<const char*>(bytes));
        if (n >= INT_MAX) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_APPEND, ERR_R_INTERNAL);
            return 0;
        }
        len = static_cast<int>(n);
    }
    if (len == 0) return 0;
    if (b->length > INT_MAX - 1 - len) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_APPEND, ERR_R_INTERNAL);
        return 0;
    }
    // A fresh block rather than a reallocation: the old one is wiped, and the
    // source may lie inside it.
    unsigned char* grown = alloc_data(b->length + len);
    if (grown == nullptr) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_APPEND, ERR_R_MALLOC);
        return 0;
    }
    if (b->length > 0) std::memcpy(grown, b->data, static_cast<std::size_t>(b->length));
    std::memcpy(grown + b->length, bytes, static_cast<std::size_t>(len));
    release_data(b->data, b->length);
    b->data = grown;
    b->length += len;
    return len;
}

BUFFER* BUFFER_to_base64(BUFFER* b) {
    if (b == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    // Four characters for every started group of three bytes.
    const std::int64_t out_len = (static_cast<std::int64_t>(b->length) + 2) / 3 * 4;
    if (out_len >= INT_MAX) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_INTERNAL);
        return nullptr;
    }
    unsigned char* text = alloc_data(static_cast<std::int32_t>(out_len));
    if (text == nullptr) {
        CADB_ERR(ERR_LIB_CADB, CADB_F_X2DER, ERR_R_MALLOC);
        return nullptr;
    }
    if (b->length > 0) EVP_EncodeBlock(text, b->data, b->length);
    release_data(b->data, b->length);
    b->data = text;
    b->length = static_cast<std::int32_t>(out_len);
    return b;
}

BUFFER* BUFFER_rand(int n) {
    if (n < 0) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_RAND, ERR_R_INTERNAL);
        return nullptr;
    }
    BufferPtr b(BUFFER_fill(nullptr, n));
    if (!b) return nullptr;
    // RAND_bytes wipes what it wrote when it falls short.
    if (n > 0 && RAND_bytes(b->data, n) != n) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_RAND, ERR_R_INTERNAL);
        return nullptr;
    }
    return b.release();
}

int PASSWD_is_absent(const void* passwd, int) { return passwd == nullptr; }

namespace {

int serve_password(char* out, int size, void* arg, bool stop_at_zero) {
    const auto* b = static_cast<const BUFFER*>(arg);
    if (out == nullptr || b == nullptr || size <= 0 || b->data == nullptr) return 0;
    int n = b->length;
    if (stop_at_zero) {
        const void* zero = std::memchr(b->data, 0, static_cast<std::size_t>(n));
        if (zero != nullptr)
            n = static_cast<int>(static_cast<const unsigned char*>(zero) - b->data);
    }
    if (n > size) return -1;
    std::memcpy(out, b->data, static_cast<std::size_t>(n));
    return n;
}

}  // namespace

int BUFFER_passwd_cb(char* out, int size, int, void* buffer) {
    return serve_password(out, size, buffer, false);
}

int BUFFER_passwd_cb_str(char* out, int size, int, void* buffer) {
    return serve_password(out, size, buffer, true);
}

}  // namespace cadb
