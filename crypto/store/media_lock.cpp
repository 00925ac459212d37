#include "crypto/store/media_lock.h"

#include <algorithm>
#include <array>
#include <new>
#include <string>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/pse_ctx.h"

namespace cadb {
namespace {

// What names the lock of the device serving a path.
struct DeviceName {
    bool needed = false;  // the path lies on a medium these locks cover
    std::string name;     // empty when the device could not be named
};

DeviceName device_name(const char* path) {
    if (path == nullptr) return {};
    const int kind = BIO_media_kind(path);
    if (kind == BIO_MEDIUM_DISK || kind == BIO_MEDIUM_PKCS11) return {};
    const BIO_MEDIA_DRIVER* driver = BIO_media_driver(kind);
    if (driver == nullptr || driver->identity == nullptr) return {};
    // Finding the device is a question: the caller's last token code and
    // error class stay as they were.
    const unsigned long rv = ERR_get_last_rv();
    const int rv_kind = ERR_get_last_rv_kind();
    const int error_class = ERR_get_last_error();
    std::array<char, 256> identity{};
    const bool found = driver->identity(path, identity.data(), identity.size()) == 1;
    // No device there to change: the operation fails on its own, with the
    // reason that asks for the medium, as it did before devices had locks.
    ERR_set_mark();
    const bool absent =
        !found && driver->token_present != nullptr && driver->token_present(path) != 1;
    ERR_pop_to_mark();
    ERR_reset_last_rv(rv, rv_kind);
    ERR_set_last_error(error_class);
    if (absent) return {};
    if (!found) return {true, {}};
    DeviceName out{true, "medium"};
    // The eToken R2 library cannot tell which eToken a path reaches, and it
    // reaches every eToken the eToken driver names by its serial number:
    // the two drivers take one lock for the whole family, so that one device
    // is one lock whichever path form reaches it.
    if (kind == BIO_MEDIUM_ETOKEN || kind == BIO_MEDIUM_ETR2) {
        device_lock_name_add(out.name, "eToken family");
        return out;
    }
    identity.back() = '\0';
    device_lock_name_add(out.name, driver->name);
    device_lock_name_add(out.name, identity.data());
    return out;
}

}  // namespace

bool MediaLock::acquire(std::initializer_list<const char*> paths, int func) try {
    release();
    std::vector<std::string> names;
    for (const char* path : paths) {
        DeviceName device = device_name(path);
        if (!device.needed) continue;
        // A device that does not say which it is may answer a moment later,
        // under another process's lock or none: what was to run under its
        // lock does not run.
        if (device.name.empty()) {
            CADB_ERR(ERR_LIB_CADB, func, CADB_R_KEY_STORE_BUSY);
            ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
            return false;
        }
        names.push_back(std::move(device.name));
    }
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
} catch (const std::bad_alloc&) {
    // Out of memory while the names or the locks were made: nothing is held
    // and nothing is thrown out of the C functions that lock.
    release();
    CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
    return false;
}

}  // namespace cadb
