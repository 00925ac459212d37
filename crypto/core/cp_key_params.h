// The algorithm parameters of CryptoPro GOST public keys (RFC 4491):
// SEQUENCE { publicKeyParamSet OID, digestParamSet OID,
//            encryptionParamSet OID OPTIONAL }.
#pragma once

#include <openssl/asn1.h>

#include <cstdint>
#include <vector>

namespace cadb {

// The library's numbers of the three sets; cipher 0 when absent.
struct CpKeyParams {
    int key_set = 0;
    int digest_set = 0;
    int cipher_set = 0;
};

// Decodes the DER of the SEQUENCE; 1, or 0 for anything malformed, for a
// trailing byte, and for object identifiers the library does not know.
int CP_KEY_PARAMS_decode(CpKeyParams* out, const unsigned char* der, long len);
// Decodes from an algorithm identifier's parameter value (it must be a
// SEQUENCE).
int CP_KEY_PARAMS_from_type(CpKeyParams* out, int ptype, const void* pval);
// The SEQUENCE as a new ASN1_STRING ready for X509_ALGOR_set0 with
// V_ASN1_SEQUENCE, or nullptr.
ASN1_STRING* CP_KEY_PARAMS_encode(const CpKeyParams& params);

}  // namespace cadb
