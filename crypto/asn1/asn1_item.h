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

// Record functions in the library's conventions for one item: T_new, T_free,
// d2i_T, i2d_T and T_dup, declared and defined over the item's template.
#define CADB_ASN1_DECLARE_FUNCTIONS(T)                     \
    T* T##_new();                                          \
    void T##_free(T* v);                                   \
    T* d2i_##T(T** v, const unsigned char** in, long len); \
    int i2d_##T(const T* v, unsigned char** out);          \
    T* T##_dup(const T* v);

#define CADB_ASN1_IMPLEMENT_FUNCTIONS(T)                                                         \
    T* T##_new() { return reinterpret_cast<T*>(ASN1_item_new(ASN1_ITEM_rptr(T))); }              \
    void T##_free(T* v) { ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(v), ASN1_ITEM_rptr(T)); } \
    T* d2i_##T(T** v, const unsigned char** in, long len) {                                      \
        return reinterpret_cast<T*>(                                                             \
            ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(v), in, len, ASN1_ITEM_rptr(T)));       \
    }                                                                                            \
    int i2d_##T(const T* v, unsigned char** out) {                                               \
        return ASN1_item_i2d(reinterpret_cast<const ASN1_VALUE*>(v), out, ASN1_ITEM_rptr(T));    \
    }                                                                                            \
    T* T##_dup(const T* v) { return reinterpret_cast<T*>(ASN1_item_dup(ASN1_ITEM_rptr(T), v)); }
