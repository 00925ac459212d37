// The key media the key-container chooser can list, in the order it lists
// them: the file system, the touch-memory device, and ten slots each of
// eToken, ruToken, eToken GOST, ruToken ECP and MS Key.
#pragma once

#include <array>
#include <string>

namespace cadb::enrol {

// What a row's tree is filled with.
enum DeviceKind : int {
    kDeviceFileSystem = 0,
    kDeviceTouchMemory = 1,
    kDeviceRuToken = 2,
    kDeviceEToken = 3,
    kDeviceRuTokenEcp = 4,
    kDeviceETokenGost = 5,
    kDeviceMsKey = 6,
};

struct DeviceRow {
    DeviceKind kind;
    int group;                 // 0 file system, 1 touch memory, 2 eToken, 3 ruToken,
                               // 4 eToken GOST, 5 ruToken ECP, 6 MS Key
    std::string display_name;  // UTF-8
    std::string prefix;        // the paths of the medium begin so
};

inline constexpr std::size_t kDeviceRows = 52;

const std::array<DeviceRow, kDeviceRows>& DeviceTable();

// Whether a row's tree lists the objects of a PKCS#11 token.
bool IsPkcs11Device(DeviceKind kind);

}  // namespace cadb::enrol
