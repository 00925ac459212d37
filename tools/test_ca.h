// The test authority's parts beyond issuing.
#pragma once

#include <string>

namespace cadb::test_ca {

// Reads the revocation request in the file (signed PEM or DER, or the CMC
// request in base64) and prints what it asks; 0 when it holds one.
int read_revocation(const std::string& path);

}  // namespace cadb::test_ca
