// A file-like view of a token for the media layer: the path
// pkcs11[N]:\module\name names the objects whose CKA_ID is name (in the
// token's name encoding, UTF-8), and such names can be listed, tested and
// erased.
#pragma once

#include <string>

namespace cadb {

// Called with each listed object's full name; 0 stops the walk.
using PKCS11_WALK_CB = int (*)(const char* name, void* user);

// What PKCS11_walk_dir lists.
enum : int {
    PKCS11_WALK_ALL = 0x01,           // every object, not only direct children
    PKCS11_WALK_PRIVATE_KEYS = 0x04,  // logs in first, without forcing
    PKCS11_WALK_USER_CERTS = 0x08,    // certificate category 1 (token user)
    PKCS11_WALK_CA_CERTS = 0x10,      // certificate category 2 (authority)
    PKCS11_WALK_PUBLIC_KEYS = 0x20,
    PKCS11_WALK_CERTIFICATES = 0x40,  // all certificates
    PKCS11_WALK_USER_IS_PIN_ARG = 0x80,
};

// The object name of a path in the token's name encoding, as new text with a
// terminating zero (release with OPENSSL_free); null for an empty name. With
// module_part_out the path must be pkcs11[N]:\module\name and
// *module_part_out receives pkcs11[N]:\module; without it a text that is not
// a PKCS#11 path is the name as a whole.
char* PKCS11_path_get_label(const char* path, std::string* module_part_out);
// The pkcs11[N]:\module part of a path; 0 when it is not a PKCS#11 path.
int PKCS11_path_get_prefix(const char* path, std::string* out);
// 1 when name, less its last component, is dir (trailing "\" ignored; exact
// comparison).
int PKCS11_path_is_child(const char* dir, const char* name);
// Lists objects of the token of path by flags; a null callback succeeds at
// once.
int PKCS11_walk_dir(const char* path, int flags, PKCS11_WALK_CB cb, void* user);
// 1 when a key of either half (private keys as far as the token shows them
// to this process's login) or a certificate exists whose CKA_ID begins with the
// path's name, so a path may name a group of objects; 0 when none does (or
// the path names nothing on a token); -1 when the token cannot be asked (no
// module, no token, a search refused), which is no "nothing there". The
// error queue is empty afterwards.
int PKCS11_file_exists(const char* path);
// Removes the keys, or else the certificates, with the path's name as
// CKA_ID; nothing to remove is success.
int PKCS11_file_erase(const char* path);

}  // namespace cadb
