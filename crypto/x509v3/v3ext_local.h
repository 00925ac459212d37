// What the record families share inside the library: allocation with the
// family's error, owners, stacks of records.
#pragma once

#include <openssl/crypto.h>

#include <memory>

#include "crypto/core/err.h"
#include "crypto/x509v3/v3ext.h"

namespace cadb::v3ext {

// Whether an attribute has the single string value that gives it a text.
bool attribute_has_text(const X509_ATTRIBUTE* a);

template <typename T>
T* new_record(int func) {
    auto* r = static_cast<T*>(OPENSSL_zalloc(sizeof(T)));
    if (r == nullptr) CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
    return r;
}

// A nested parse failed: reason 66.
inline void nested(int func) { CADB_ERR(ERR_LIB_CADB, func, ERR_LIB_CADB); }
// A missing argument or a value that does not parse: reason 12.
inline void bad(int func) { CADB_ERR(ERR_LIB_CADB, func, ERR_R_INTERNAL); }

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* r) const { Free(r); }
};
template <typename T, void (*Free)(T*)>
using Owner = std::unique_ptr<T, Deleter<T, Free>>;

// Frees a stack of records with their destructor.
template <typename T, void (*Free)(T*)>
void free_stack(OPENSSL_STACK* sk) {
    if (sk == nullptr) return;
    for (int i = 0; i < OPENSSL_sk_num(sk); ++i) Free(static_cast<T*>(OPENSSL_sk_value(sk, i)));
    OPENSSL_sk_free(sk);
}

// A stack of records parsed one by one in the input's order; null (with
// the partial stack freed) at the first failure. A null input gives null
// without error when `optional`.
template <typename Out, typename In, void (*Free)(Out*)>
OPENSSL_STACK* parse_stack(const OPENSSL_STACK* in, Out* (*parse)(const In*), int func) {
    if (in == nullptr) {
        bad(func);
        return nullptr;
    }
    OPENSSL_STACK* out = OPENSSL_sk_new_null();
    if (out == nullptr) {
        CADB_ERR(ERR_LIB_CADB, func, ERR_R_MALLOC);
        return nullptr;
    }
    for (int i = 0; i < OPENSSL_sk_num(in); ++i) {
        Out* r = parse(static_cast<const In*>(OPENSSL_sk_value(in, i)));
        if (r == nullptr || !OPENSSL_sk_push(out, r)) {
            if (r != nullptr) Free(r);
            free_stack<Out, Free>(out);
            nested(func);
            return nullptr;
        }
    }
    return out;
}

}  // namespace cadb::v3ext
