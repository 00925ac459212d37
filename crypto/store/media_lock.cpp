#include "crypto/store/media_lock.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"

namespace cadb {
namespace {

// The lock name of the device serving path, or nothing for a path no lock
// of this kind covers or whose device is not there.
std::optional<std::string> device_name(const char* path) {
    if (path == nullptr) return std::nullopt;
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_DISK || kind == BIO_MEDIUM_PKCS11) return std::nullopt;
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (driver == nullptr || driver->identity == nullptr) return std::nullopt;
    // Finding the device is a question: the caller's last token code and
    // error class stay as they were.
    const unsigned long rv = ERR_get_last_rv();
    const int rv_kind = ERR_get_last_rv_kind();
    const int error_class = ERR_get_last_error();
    std::array<char, 256> identity{};
    const bool found = driver->identity(path, identity.data(), identity.size()) == 1;
    ERR_reset_last_rv(rv, rv_kind);
    ERR_set_last_error(error_class);
    if (!found) return std::nullopt;
    identity.back() = '\0';
    std::string name = "medium";
    device_lock_name_add(name, driver->name);
    device_lock_name_add(name, identity.data());
    return name;
}

}  // namespace

bool MediaLock::acquire(std::initializer_list<const char*> paths, int func) {
    release();
    std::vector<std::string> names;
    for (const char* path : paths)
        if (std::optional<std::string> name = device_name(path)) names.push_back(std::move(*name));
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    for (const std::string& name : names) {
        auto lock = std::make_unique<DeviceLock>();
        if (!lock->acquire(name, func)) {
            release();
            return false;
        }
        locks_.push_back(std::move(lock));
    }
    return true;
}

}  // namespace cadb
