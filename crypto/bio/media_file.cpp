#include "crypto/bio/media_file.h"

#include <cstring>
#include <memory>

#include "crypto/bio/disk_file.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/bio/rutoken_fs.h"
#include "crypto/core/err.h"
#include "platform/paths.h"

namespace cadb {
namespace {

struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};

const BIO_METHOD* stream_method(const char* path) {
    switch (BIO_media_kind(path)) {
        case BIO_MEDIUM_IBUTTON:
        case BIO_MEDIUM_ETR2:
        case BIO_MEDIUM_ETOKEN:
        case BIO_MEDIUM_RUTOKEN:
        case BIO_MEDIUM_IKEY: {
            const BIO_MEDIA_DRIVER* driver = BIO_media_driver_of(path);
            return driver != nullptr && driver->method != nullptr ? driver->method() : nullptr;
        }
        default:
            return BIO_s_disk_file();
    }
}

}  // namespace

int BIO_media_mode_flags(const char* mode) {
    if (mode == nullptr) return 0;
    for (const char* m : {"r", "rb"})
        if (std::strcmp(mode, m) == 0) return BIO_CLOSE | BIO_FP_READ;
    for (const char* m : {"w", "wb"})
        if (std::strcmp(mode, m) == 0) return BIO_CLOSE | BIO_FP_WRITE;
    for (const char* m : {"r+", "rb+", "r+b", "wb+", "w+b"})
        if (std::strcmp(mode, m) == 0) return BIO_CLOSE | BIO_FP_READ | BIO_FP_WRITE;
    return 0;
}

BIO* BIO_new_media_file_ex(const char* path, const char* mode, std::uint32_t flags,
                           const void* credential) {
    return BIO_new_media_file_cb(path, mode, flags, credential, nullptr, nullptr);
}

BIO* BIO_new_media_file_cb(const char* path, const char* mode, std::uint32_t flags,
                           const void* credential, pem_password_cb* cb, void* arg) {
    if (path == nullptr || mode == nullptr) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    // Refused before any medium is touched: the drivers copy paths into
    // buffers of this size.
    if (std::strlen(path) >= kMaxPath) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    const int mode_flags = BIO_media_mode_flags(mode);
    if (mode_flags == 0) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    const BIO_METHOD* method = stream_method(path);
    if (method == nullptr) {
        // A medium whose driver is not registered: nothing can open it.
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    std::unique_ptr<BIO, BioFree> bio(BIO_new(method));
    if (!bio) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_MALLOC);
        return nullptr;
    }
    // The words live on this stack frame: drivers may read them during the
    // open only, and they are taken off the stream before it is returned.
    if (cb != nullptr && BIO_method_type(bio.get()) == BIO_TYPE_TOKEN_FILE) {
        BIO_ctrl(bio.get(), BIO_C_SET_TOKEN_PASSWD_CB, 0, reinterpret_cast<void*>(cb));
        BIO_ctrl(bio.get(), BIO_C_SET_TOKEN_PASSWD_ARG, 0, arg);
    }
    BIO_MEDIA_WORDS words{flags, credential};
    BIO_set_ex_data(bio.get(), 0, &words);
    const long opened =
        BIO_ctrl(bio.get(), BIO_C_SET_FILENAME, mode_flags, const_cast<char*>(path));
    BIO_set_ex_data(bio.get(), 0, nullptr);
    if (opened <= 0) {
        CADB_ERR(ERR_LIB_BIO_, BIO_F_BIO_NEW_MEDIA_FILE, ERR_R_INTERNAL);
        return nullptr;
    }
    return bio.release();
}

BIO* BIO_new_media_file(const char* path, const char* mode) {
    return BIO_new_media_file_ex(path, mode, 0, nullptr);
}

}  // namespace cadb
