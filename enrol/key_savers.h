// Saving a newly made key: as a key file (beside a reserve copy under the
// folder's next free key-file name, and a copy under the name the page asked
// for), or as objects on a PKCS#11 token (an older key at the same name kept
// under the next free name first).
#pragma once

#include <span>
#include <string>

#include "crypto/store/pkey_ctx.h"

namespace cadb::enrol {

// The folder of a key path: up to its last "\" (else "/"), with a "\".
std::string KeyFolderOf(const std::string& path);

// The key bytes under path and a reserve copy; then under userPath (when not
// null), where a failure is shown to the user but does not fail the save.
bool SaveKeyFileGenerated(const std::string& path, std::span<const unsigned char> keyBytes,
                          const std::string* userPath);

// The key written as token objects at path (and userPath, when not null),
// an object already there first kept under the folder's next free name; the
// backup and the write are one step under the token's lock, so that no
// other save's key lands at the name in between and is destroyed.
bool SaveKeyPKCS11Generated(PKEY_CTX* key, const std::string& path, const std::string* userPath);

// The key at path rewritten under the folder's next free name; true when
// there is none at path, false when the token cannot tell.
bool SaveBackUpKeyPKCS11(const std::string& path);

}  // namespace cadb::enrol
