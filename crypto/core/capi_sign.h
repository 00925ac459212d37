// Signing through a CryptoAPI provider: a key record may stand for a key a
// provider holds (its provider handle and key kind set), and then
// its signing entry hands the digest to the provider instead of signing it
// itself. The provider's entries are looked up by name in "advapi32.dll"
// the first time they are needed; without that library every such
// signature fails.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cadb {

// The two fields a key record carries for it; provider 0 means none.
struct CAPI_KEY_REF {
    std::uintptr_t provider = 0;
    std::uint32_t key_spec = 0;
};

// The CryptoAPI hash identifier of a digest NID, or 0 for none.
std::uint32_t CAPI_alg_of_nid(int digest_nid);

// Signs the digest value (installed as it stands, not computed) with the
// provider's key and writes the signature big-endian into sig. Returns the
// signature length (> 0); 0 when the digest NID has no hash identifier (no
// provider call is made); -1 when an argument is missing, the digest length
// is not the hash's, the signature does not fit in sig_room, or a provider
// call fails. *sig_len is set to 0 first.
int CAPI_sign_digest(std::uintptr_t provider, std::uint32_t key_spec, int digest_nid,
                     const unsigned char* dgst, std::size_t dlen, unsigned char* sig,
                     std::size_t sig_room, std::size_t* sig_len);

}  // namespace cadb
