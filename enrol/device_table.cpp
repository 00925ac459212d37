#include "enrol/device_table.h"

namespace cadb::enrol {
namespace {

std::array<DeviceRow, kDeviceRows> build_table() {
    std::array<DeviceRow, kDeviceRows> rows;
    rows[0] = {kDeviceFileSystem, 0, "Мой компьютер", "file system:"};
    rows[1] = {kDeviceTouchMemory, 1, "Touch memory", "ibutton:"};
    struct Slots {
        DeviceKind kind;
        int group;
        const char* name;
        const char* prefix;  // before the slot number
        const char* module;  // after it: the PKCS#11 module
    };
    static constexpr Slots kSlots[] = {
        {kDeviceEToken, 2, "eToken", "etoken", ":"},
        {kDeviceRuToken, 3, "ruToken", "rutoken", ":"},
        {kDeviceETokenGost, 4, "eToken ГОСТ", "pkcs11", ":\\eTPKCS11g"},
        {kDeviceRuTokenEcp, 5, "ruToken ECP", "pkcs11", ":\\rtPKCS11ECP"},
        {kDeviceMsKey, 6, "MS Key", "pkcs11", ":\\mskey-pkcs11"},
    };
    std::size_t at = 2;
    for (const Slots& s : kSlots) {
        for (int slot = 0; slot < 10; ++slot, ++at) {
            const std::string n = std::to_string(slot);
            rows[at] = {s.kind, s.group, std::string(s.name) + " (slot " + n + ")",
                        std::string(s.prefix) + n + s.module};
        }
    }
    return rows;
}

}  // namespace

const std::array<DeviceRow, kDeviceRows>& DeviceTable() {
    static const std::array<DeviceRow, kDeviceRows> table = build_table();
    return table;
}

bool IsPkcs11Device(DeviceKind kind) {
    return kind == kDeviceRuTokenEcp || kind == kDeviceETokenGost || kind == kDeviceMsKey;
}

}  // namespace cadb::enrol
