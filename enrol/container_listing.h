// What lies under a place the key-container chooser shows: the drives of
// the machine, and the entries of a folder on any medium, as the medium
// file layer reports them. Names are the system's narrow text (code page
// 1251).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "enrol/device_table.h"

namespace cadb::enrol {

// Whether the device of a row answers now: its token inserted, for the touch
// -memory row a button on the reader.
bool DevicePresent(const DeviceRow& row);

// The drives as the tree shows them at the top ("a:\").
std::vector<std::string> DriveRoots();

struct ListedEntry {
    std::string name;  // the part of the entry's path below the listed folder
    bool folder;       // can be listed in turn
};

// The entries under path (a folder of a drive or token, or a PKCS#11 token:
// its keys and certificates, each object once); nullopt when the medium
// refused the listing (a token that refused its PIN).
std::optional<std::vector<ListedEntry>> ListFolder(const std::string& path, DeviceKind kind);

}  // namespace cadb::enrol
