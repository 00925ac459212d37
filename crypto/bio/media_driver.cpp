#include "crypto/bio/media_driver.h"

#include <array>
#include <atomic>

#include "crypto/bio/media_prefix.h"

namespace cadb {
namespace {

std::array<std::atomic<const BIO_MEDIA_DRIVER*>, BIO_MEDIUM_COUNT> drivers{};

bool has_driver(int medium) {
    return medium > BIO_MEDIUM_DISK && medium < BIO_MEDIUM_COUNT && medium != BIO_MEDIUM_PKCS11;
}

}  // namespace

const BIO_MEDIA_DRIVER* BIO_media_register_driver(int medium, const BIO_MEDIA_DRIVER* driver) {
    if (!has_driver(medium)) return nullptr;
    return drivers[static_cast<std::size_t>(medium)].exchange(driver);
}

const BIO_MEDIA_DRIVER* BIO_media_driver(int medium) {
    if (!has_driver(medium)) return nullptr;
    return drivers[static_cast<std::size_t>(medium)].load();
}

const BIO_MEDIA_DRIVER* BIO_media_driver_of(const char* path) {
    return BIO_media_driver(BIO_media_kind(path));
}

const BIO_MEDIA_WORDS* BIO_get_media_words(BIO* bio) {
    if (bio == nullptr) return nullptr;
    return static_cast<const BIO_MEDIA_WORDS*>(BIO_get_ex_data(bio, 0));
}

}  // namespace cadb
