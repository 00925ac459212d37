#include <openssl/bio.h>

#include <climits>
#include <cstring>
#include <memory>

#include "crypto/bio/media_file.h"
#include "crypto/cadb/buffer.h"
#include "crypto/cadb/buffer_der.h"
#include "crypto/core/err.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"

namespace cadb {

BUFFER* BUFFER_read_file(const char* path, BUFFER_PASSWD_CB cb, void* arg) {
    if (path == nullptr || strnlen(path, kMaxPath) >= kMaxPath) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_READ_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_media_file_cb(path, "rb", 0, nullptr, cb, arg),
                                                  BIO_free);
    if (!bio) {
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_READ_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    // Read to the end rather than trust a size the medium reports: a file
    // that grows or shrinks meanwhile is read as it is, never past the room.
    // Key-store files may be clear secrets, so the room is wiped.
    constexpr int kChunk = 16384;
    SecureBytes content;
    for (;;) {
        if (content.size() > static_cast<std::size_t>(INT_MAX - 1 - kChunk)) {
            CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_READ_FILE, ERR_R_INTERNAL);
            return nullptr;
        }
        const std::size_t before = content.size();
        std::span<unsigned char> room = content.extend(kChunk);
        const int got = BIO_read(bio.get(), room.data(), kChunk);
        content.resize_down(before + static_cast<std::size_t>(got > 0 ? got : 0));
        if (got > 0) continue;
        if (got == 0) break;
        CADB_ERR(ERR_LIB_BUF_, BUF_F_BUFFER_READ_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    return BUFFER_fill(content.data(), static_cast<int>(content.size()));
}

BUFFER* BUFFER_load_file(const char* path) { return BUFFER_read_file(path, nullptr, nullptr); }

int BUFFER_write_file(const char* path, const BUFFER* b, BUFFER_PASSWD_CB cb, void* arg) {
    if (path == nullptr || b == nullptr) return -1;
    static const unsigned char kEmpty = 0;
    return CADB_write_file_cb(path, b->data != nullptr ? b->data : &kEmpty, b->length, 0, nullptr,
                              cb, arg);
}

int BUFFER_save_file(const char* path, const BUFFER* b) {
    return BUFFER_write_file(path, b, nullptr, nullptr);
}

}  // namespace cadb
