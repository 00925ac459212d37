// Signed data whose CMC content sits under [0] as it stands (the message
// engine's form for CMC content types, as PKCS #7 allowed any content there)
// rewritten with that content inside an OCTET STRING, the form RFC 5652
// gives eContent, so that a peer that reads only that form can check the
// signature. The signed bytes do not change: the digest covers the content's
// DER in both forms.
#pragma once

#include <optional>
#include <string>

namespace cadb::enrol::test {

// The DER of the rewritten message; nullopt when der is no signed data or
// its content is not a structure.
std::optional<std::string> rewrap_econtent(const std::string& der);

}  // namespace cadb::enrol::test
