// Strict reading of one DER record from a byte range: the record must fill
// the range exactly, and every failure is reported once on the library's
// queue under library 13.
#pragma once

#include <openssl/asn1.h>
#include <openssl/err.h>

#include "crypto/core/err.h"

namespace cadb {

// Library 13 (ASN.1) function codes of the message records' readers, apart
// from the codes of the administration program's sign-tool records (180
// and 181).
enum Asn1ReadFunc : int {
    ASN1_F_D2I_CRMF_CERT_REQ_MSG = 190,
    ASN1_F_D2I_CMC_PKI_DATA = 191,
    ASN1_F_D2I_CMC_RESPONSE_BODY = 192,
};

// True when the first element of der (at most len bytes), and every element
// inside it, is well formed and none is of universal tag 0 other than the
// end-of-contents marks of indefinite lengths.
bool asn1_without_eoc_values(const unsigned char* der, long len);

// The record of item it in exactly len bytes, or null: "nested asn1 error"
// when it does not decode or holds a value of universal tag 0 (which would
// be written back as an end-of-contents mark), "asn1 length mismatch" when
// bytes are left over.
template <typename T>
T* asn1_read_exact(const unsigned char* der, long len, const ASN1_ITEM* it, int func) {
    if (der == nullptr || len <= 0) {
        CADB_ERR(ERR_LIB_ASN1_, func, ERR_R_NULL_PARAMETER);
        return nullptr;
    }
    const unsigned char* p = der;
    ASN1_VALUE* v =
        asn1_without_eoc_values(der, len) ? ASN1_item_d2i(nullptr, &p, len, it) : nullptr;
    // libcrypto's own account of the fault is replaced by the one entry.
    ::ERR_clear_error();
    if (v == nullptr) {
        CADB_ERR(ERR_LIB_ASN1_, func, ERR_R_NESTED_ASN1_ERROR_);
        return nullptr;
    }
    if (p != der + len) {
        ASN1_item_free(v, it);
        CADB_ERR(ERR_LIB_ASN1_, func, ERR_R_ASN1_LENGTH_MISMATCH_);
        return nullptr;
    }
    return reinterpret_cast<T*>(v);
}

}  // namespace cadb
