// The search for the key file that pairs with a certificate: every key in a
// folder is read under the key store of a container and matched against the
// certificate's public key.
#pragma once

#include <string>

namespace cadb::enrol {

// True with keyPath set to the first key of keyFolder (in name order) that
// pairs with the certificate in certFile, read under the key store at
// containerPath; false when the store does not open, the certificate does
// not read, or no key pairs.
bool FindPairPKeyByCert(const std::string& certFile, const std::string& containerPath,
                        const std::string& keyFolder, std::string& keyPath);

}  // namespace cadb::enrol
