// Owners and coders of records described by ASN.1 item templates.
#pragma once

#include <openssl/asn1.h>

#include <memory>

namespace cadb {

// Owner of a decoded record of item T.
template <typename T>
struct AsnItemDeleter {
    const ASN1_ITEM* it;
    void operator()(T* v) const { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), it); }
};
template <typename T>
using AsnItemPtr = std::unique_ptr<T, AsnItemDeleter<T>>;

template <typename T>
AsnItemPtr<T> asn1_decode(const unsigned char** in, long len, const ASN1_ITEM* it) {
    return AsnItemPtr<T>(reinterpret_cast<T*>(ASN1_item_d2i(nullptr, in, len, it)),
                         AsnItemDeleter<T>{it});
}

template <typename T>
int asn1_encode(const T* v, unsigned char** out, const ASN1_ITEM* it) {
    return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), out, it);
}

}  // namespace cadb
