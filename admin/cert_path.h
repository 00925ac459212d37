// The token path a certificate name stands for under the root path.
#pragma once

#include <string>

namespace cadb {

// A name that is a PKCS#11 path stands for itself; any other is root\name
// (a trailing "\" or "/" of root dropped). The certificate's CKA_ID is this
// path's object name, so import and removal both read "x/alice" as every
// token path reads it: "x\alice".
std::string certificate_path(const char* root, const char* name);

}  // namespace cadb
