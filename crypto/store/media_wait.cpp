// Whether a path's medium is there, and waiting for the user to insert it.
#include <atomic>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/pkcs11/pkcs11_module.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"

namespace cadb {
namespace {

std::atomic<CADB_INSERT_MEDIA_CB> default_insert_cb{nullptr};

// The media whose presence a driver must answer for: the USB tokens. A
// touch-memory button is looked for by each operation itself; PKCS#11 tokens
// by the module registry.
bool driver_answers(int kind) {
    return kind == BIO_MEDIUM_ETR2 || kind == BIO_MEDIUM_ETOKEN || kind == BIO_MEDIUM_RUTOKEN ||
           kind == BIO_MEDIUM_IKEY;
}

}  // namespace

CADB_INSERT_MEDIA_CB CADB_set_insert_media_cb(CADB_INSERT_MEDIA_CB cb) {
    default_insert_cb.store(cb);
    return cb;
}

int CADB_token_inserted(const char* path) {
    if (path == nullptr) return 0;
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_PKCS11) return PKCS11_token_present(path) == 1 ? 1 : 0;
    if (!driver_answers(kind)) return 1;
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    return driver != nullptr && driver->token_present != nullptr && driver->token_present(path) == 1
               ? 1
               : 0;
}

int CADB_media_driver_ready(const char* path) {
    if (path == nullptr) return 0;
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_PKCS11) return PKCS11_module_probe(path) == 1 ? 1 : 0;
    if (!driver_answers(kind)) return 1;
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    return driver != nullptr && driver->ready != nullptr && driver->ready(path) == 1 ? 1 : 0;
}

int CADB_wait_media(const char* path, CADB_INSERT_MEDIA_CB cb, void* arg) {
    if (path == nullptr) return 0;
    if (cb == nullptr) cb = default_insert_cb.load();
    if (cb == nullptr) return 1;
    if (CADB_is_media_path(path)) {
        if (!CADB_media_driver_ready(path)) return 0;
        while (!CADB_token_inserted(path)) {
            if (cb(path, arg) == 0) return 0;
        }
        return 1;
    }
    const char letter = path_drive(path);
    if (letter == 0) return 1;
    while (!drive_present(letter)) {
        if (cb(path, arg) == 0) return 0;
    }
    return 1;
}

}  // namespace cadb
