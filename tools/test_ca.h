// The test authority's parts beyond issuing.
#pragma once

#include <string>

namespace cadb::test_ca {

// Reads the CMC request in the file (signed PEM or DER, or base64) and
// prints what it asks; 0 when it asks for something.
int read_request(const std::string& path);

}  // namespace cadb::test_ca
