// What the files of the token key method share.
#pragma once

#include <openssl/evp.h>

#include <vector>

#include "crypto/pkcs11/cryptoki.h"

namespace cadb {
struct ECGOST;
struct PKCS11_OBJ;
}  // namespace cadb

namespace cadb::pkcs11 {

// An attribute of the current object, size first, then the value; false
// (queued by the object layer) when it cannot be read.
bool read_attribute(PKCS11_OBJ* ctx, CK_ATTRIBUTE_TYPE type, std::vector<unsigned char>* out);
// The library's number of a DER object identifier (0 when unknown), and back.
int nid_of_der(const std::vector<unsigned char>& der);
bool der_of_nid(int nid, std::vector<unsigned char>* out);
// A key record of type 271 around key (taken over on success), or null.
EVP_PKEY* evp_of(ECGOST* key);

}  // namespace cadb::pkcs11
