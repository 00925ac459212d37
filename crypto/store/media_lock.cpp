#include "crypto/store/media_lock.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

#include "crypto/bio/media_driver.h"
#include "crypto/bio/media_prefix.h"
#include "crypto/core/err.h"
#include "crypto/store/pse_ctx.h"

namespace cadb {
namespace {

// What the lock of the device serving a path is.
struct DeviceName {
    enum Verdict {
        unlocked,    // the path lies on no medium these locks cover
        named,       // the device's lock is name
        absent,      // no device answers: none is there, or one busy elsewhere
        unheld,      // the device answers, but not for a name of this form
        unnamed,     // the device is there but does not say which it is
    } verdict = unlocked;
    std::string name;
    const BIO_MEDIA_DRIVER* driver = nullptr;
    std::string identity;  // as the driver gives it
};

// The device part of a medium path: up to its colon, then the root.
std::string device_root(const char* path) {
    const char* colon = std::strchr(path, ':');
    return colon == nullptr ? std::string() : std::string(path, colon + 1) + "\\";
}

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
    ERR_set_mark();
    const bool found = driver->identity(path, identity.data(), identity.size()) == 1;
    // The device answers for its root but not for this path: the path's
    // form is one the medium cannot hold, which no other process explains.
    const std::string root = found ? std::string() : device_root(path);
    const bool unheld = !root.empty() && root != path &&
                        driver->identity(root.c_str(), identity.data(), identity.size()) == 1;
    // A device that does not answer may be busy in another process, which
    // would answer a moment later: what was to run under its lock does not
    // run, rather than run unlocked.
    const bool absent = !found && !unheld && driver->token_present != nullptr &&
                        driver->token_present(path) != 1;
    ERR_pop_to_mark();
    ERR_reset_last_rv(rv, rv_kind);
    ERR_set_last_error(error_class);
    if (absent) return {DeviceName::absent, {}};
    if (unheld) return {DeviceName::unheld, {}};
    if (!found) return {DeviceName::unnamed, {}};
    identity.back() = '\0';
    DeviceName out{DeviceName::named, "medium", driver, identity.data()};
    // The eToken R2 library cannot tell which eToken a path reaches, and it
    // reaches every eToken the eToken driver names by its serial number:
    // the two drivers take one lock for the whole family, so that one device
    // is one lock whichever path form reaches it.
    if (kind == BIO_MEDIUM_ETOKEN || kind == BIO_MEDIUM_ETR2) {
        device_lock_name_add(out.name, "eToken family");
        return out;
    }
    device_lock_name_add(out.name, driver->name);
    device_lock_name_add(out.name, identity.data());
    return out;
}

// The reason a device's lock cannot be taken.
int reason_of(DeviceName::Verdict verdict) {
    switch (verdict) {
        case DeviceName::absent: return CADB_R_NO_MEDIUM;
        case DeviceName::unheld: return CADB_R_NAME_NOT_HELD;
        default: return CADB_R_KEY_STORE_BUSY;
    }
}

}  // namespace

bool MediaLock::acquire(std::initializer_list<const char*> paths, int func) try {
    release();
    std::vector<std::string> names;
    std::vector<std::pair<DeviceName, const char*>> devices;
    for (const char* path : paths) {
        DeviceName device = device_name(path);
        if (device.verdict == DeviceName::unlocked) continue;
        // A device that does not say which it is may answer a moment later,
        // under another process's lock or none: what was to run under its
        // lock does not run.
        if (device.verdict != DeviceName::named) {
            CADB_ERR(ERR_LIB_CADB, func, reason_of(device.verdict));
            ERR_set_last_error(ERR_CLASS_KEY_STORE_IO);
            return false;
        }
        names.push_back(device.name);
        devices.emplace_back(std::move(device), path);
    }
    // Each device's PIN is asked now, before anyone waits for the device
    // (not again for a device whose PIN this thread holds already).
    for (const auto& [device, path] : devices)
        if (device.driver->passwd_cb != nullptr)
            pins_.ask(device.driver->name, device.identity, device.driver->passwd_cb(), path);
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
