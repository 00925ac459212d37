#include "enrol/container_listing.h"

#include <algorithm>
#include <set>

#include "crypto/bio/etoken.h"
#include "crypto/bio/media_driver.h"
#include "crypto/bio/rutoken.h"
#include "crypto/pkcs11/pkcs11_files.h"
#include "crypto/pkcs11/pkcs11_obj.h"
#include "crypto/store/media_io.h"
#include "platform/paths.h"
#include "wrappers/ui_binding.h"

namespace cadb::enrol {
namespace {

// A token's objects as the chooser lists them: its private keys (which asks
// for the PIN), its own certificates and the authorities'.
constexpr int kTokenWalks[] = {
    PKCS11_WALK_ALL | PKCS11_WALK_PRIVATE_KEYS | PKCS11_WALK_USER_IS_PIN_ARG,  // 133
    PKCS11_WALK_ALL | PKCS11_WALK_USER_CERTS | PKCS11_WALK_USER_IS_PIN_ARG,    // 137
    PKCS11_WALK_ALL | PKCS11_WALK_CA_CERTS | PKCS11_WALK_USER_IS_PIN_ARG,      // 145
};

int collect(const char* name, void* user) {
    static_cast<std::vector<std::string>*>(user)->emplace_back(name);
    return 1;
}

// The part of a reported path below the listed folder; a name that does not
// lie below it keeps its last component.
std::string below(const std::string& folder, const std::string& reported) {
    std::string base = folder;
    if (!base.empty() && base.back() != '\\') base += '\\';
    if (reported.size() > base.size() && reported.compare(0, base.size(), base) == 0)
        return reported.substr(base.size());
    const std::size_t slash = reported.rfind('\\');
    return slash == std::string::npos ? reported : reported.substr(slash + 1);
}

std::optional<std::vector<ListedEntry>> list_token_objects(const std::string& path) {
    PKCS11_set_passwd_cb(pkcs11_passwd_cb);
    std::vector<std::string> reported;
    for (const int flags : kTokenWalks)
        if (CADB_walk_dir(path.c_str(), flags, collect, &reported) != 1) return std::nullopt;
    // A key and its certificate share their name: each object once.
    std::vector<ListedEntry> entries;
    std::set<std::string> seen;
    for (const std::string& name : reported) {
        std::string rest = below(path, name);
        if (!rest.empty() && seen.insert(rest).second) entries.push_back({std::move(rest), false});
    }
    return entries;
}

}  // namespace

bool DevicePresent(const DeviceRow& row) {
    if (CADB_token_inserted(row.prefix.c_str()) != 1) return false;
    // The file layer takes any touch-memory path as present (each operation
    // looks for the button itself); the list offers the device only when its
    // driver answers for a button.
    if (row.kind == kDeviceTouchMemory) {
        const BIO_MEDIA_DRIVER* driver = BIO_media_driver_of(row.prefix.c_str());
        return driver != nullptr && driver->token_present != nullptr &&
               driver->token_present(row.prefix.c_str()) == 1;
    }
    return true;
}

std::vector<std::string> DriveRoots() {
    std::vector<std::string> roots;
    for (const char letter : drive_letters()) roots.push_back(std::string(1, letter) + ":\\");
    return roots;
}

std::optional<std::vector<ListedEntry>> ListFolder(const std::string& path, DeviceKind kind) {
    if (IsPkcs11Device(kind)) return list_token_objects(path);
    if (kind == kDeviceEToken) ETOKEN_set_passwd_cb(etoken_passwd_cb);
    if (kind == kDeviceRuToken) RUTOKEN_set_passwd_cb(rutoken_passwd_cb);
    std::vector<std::string> reported;
    if (CADB_walk_dir(path.c_str(), CADB_WALK_DIRECTORIES, collect, &reported) != 1)
        return std::nullopt;
    std::vector<ListedEntry> entries;
    for (const std::string& name : reported) {
        std::string rest = below(path, name);
        if (rest.empty()) continue;
        entries.push_back({std::move(rest), IsMediaDirectory(name.c_str()) == 1});
    }
    return entries;
}

}  // namespace cadb::enrol
