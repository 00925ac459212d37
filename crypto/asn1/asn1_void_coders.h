// Typed DER coders behind libcrypto's untyped coder signatures
// (d2i_of_void, i2d_of_void). A decoder of one type called through a pointer
// of another function type is undefined behaviour, so the generic readers
// and writers are handed these thunks, each of which calls its coder with
// the coder's own types.
#pragma once

#include <openssl/asn1.h>

#include <type_traits>

namespace cadb {
namespace asn1_void_detail {

template <typename T>
T* decoded_type(T* (*)(T**, const unsigned char**, long));
template <typename T>
T* encoded_type(int (*)(const T*, unsigned char**));
template <typename T>
T* encoded_type(int (*)(T*, unsigned char**));

}  // namespace asn1_void_detail

// d2i_as_void<d2i_X509> is a d2i_of_void that decodes an X509.
template <auto Decode>
void* d2i_as_void(void** out, const unsigned char** in, long len) {
    using T = std::remove_pointer_t<decltype(asn1_void_detail::decoded_type(Decode))>;
    if (out == nullptr) return Decode(nullptr, in, len);
    T* typed = static_cast<T*>(*out);
    T* result = Decode(&typed, in, len);
    *out = typed;
    return result;
}

// i2d_as_void<i2d_X509> is an i2d_of_void that encodes an X509.
template <auto Encode>
int i2d_as_void(const void* obj, unsigned char** out) {
    using T = std::remove_pointer_t<decltype(asn1_void_detail::encoded_type(Encode))>;
    // Encoders that take a non-const record do not change it.
    return Encode(const_cast<T*>(static_cast<const T*>(obj)), out);
}

}  // namespace cadb
