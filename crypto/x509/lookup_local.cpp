#include "crypto/x509/lookup_local.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "crypto/cadb/buffer.h"
#include "crypto/cadb/fingerprint.h"
#include "crypto/core/lock.h"

namespace cadb {
namespace {

// What one lookup holds. Certificate references are guarded by lock 3, CRL
// references by lock 6.
struct LocalStore {
    STACK_OF(X509) * certs = nullptr;
    STACK_OF(X509_CRL) * crls = nullptr;
};

LocalStore* store_of(X509_LOOKUP* lookup) {
    return lookup ? static_cast<LocalStore*>(X509_LOOKUP_get_method_data(lookup)) : nullptr;
}

int new_item(X509_LOOKUP* lookup) {
    auto* s = new (std::nothrow) LocalStore;
    if (s == nullptr) return 0;
    s->certs = sk_X509_new_null();
    s->crls = sk_X509_CRL_new_null();
    if (s->certs == nullptr || s->crls == nullptr || !X509_LOOKUP_set_method_data(lookup, s)) {
        sk_X509_free(s->certs);
        sk_X509_CRL_free(s->crls);
        delete s;
        return 0;
    }
    return 1;
}

void free_item(X509_LOOKUP* lookup) {
    LocalStore* s = store_of(lookup);
    if (s == nullptr) return;
    sk_X509_pop_free(s->certs, X509_free);
    sk_X509_CRL_pop_free(s->crls, X509_CRL_free);
    delete s;
    X509_LOOKUP_set_method_data(lookup, nullptr);
}

// The stock store asks for one object at a time and takes a reference of
// its own on the answer, which it never gives back to the lookup; further
// matches (the real issuer among certificates of one name, every CRL of an
// issuer) it seeks only among its own objects. So every match goes into the
// store's objects and the answer is the first match, borrowed: the lookup
// keeps it for as long as the lookup lives.
template <typename T>
struct Kind;
template <>
struct Kind<X509> {
    static constexpr X509_LOOKUP_TYPE type = X509_LU_X509;
    static int num(STACK_OF(X509) * s) { return sk_X509_num(s); }
    static X509* at(STACK_OF(X509) * s, int i) { return sk_X509_value(s, i); }
    static void free_all(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
    static int add(X509_STORE* store, X509* x) { return X509_STORE_add_cert(store, x); }
    static int set1(X509_OBJECT* ret, X509* x) { return X509_OBJECT_set1_X509(ret, x); }
    static void drop(X509* x) { X509_free(x); }
};
template <>
struct Kind<X509_CRL> {
    static constexpr X509_LOOKUP_TYPE type = X509_LU_CRL;
    static int num(STACK_OF(X509_CRL) * s) { return sk_X509_CRL_num(s); }
    static X509_CRL* at(STACK_OF(X509_CRL) * s, int i) { return sk_X509_CRL_value(s, i); }
    static void free_all(STACK_OF(X509_CRL) * s) { sk_X509_CRL_pop_free(s, X509_CRL_free); }
    static int add(X509_STORE* store, X509_CRL* c) { return X509_STORE_add_crl(store, c); }
    static int set1(X509_OBJECT* ret, X509_CRL* c) { return X509_OBJECT_set1_X509_CRL(ret, c); }
    static void drop(X509_CRL* c) { X509_CRL_free(c); }
};

// found holds the matches with a reference each and is released here. The
// store's objects are taken outside the lookup's lock: the store locks on
// its own.
template <typename T, typename Stack>
int answer_store(X509_LOOKUP* lookup, Stack* found, int n, X509_OBJECT* ret) {
    using K = Kind<T>;
    int ok = 0;
    if (n > 0) {
        X509_STORE* store = X509_LOOKUP_get_store(lookup);
        for (int i = 0; store != nullptr && i < K::num(found); ++i) K::add(store, K::at(found, i));
        T* first = K::at(found, 0);
        if (K::set1(ret, first)) {
            K::drop(first);
            ok = 1;
        }
    }
    K::free_all(found);
    return ok;
}

int by_subject(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
               X509_OBJECT* ret) {
    if (name == nullptr || ret == nullptr) return 0;
    if (type == X509_LU_X509) {
        STACK_OF(X509)* found = sk_X509_new_null();
        if (found == nullptr) return 0;
        const int n = X509_LOOKUP_local_certs_by_subject(lookup, name, found, 1);
        return answer_store<X509>(lookup, found, n, ret);
    }
    if (type == X509_LU_CRL) {
        STACK_OF(X509_CRL)* found = sk_X509_CRL_new_null();
        if (found == nullptr) return 0;
        const int n = X509_LOOKUP_local_crls_by_subject(lookup, name, found, 1);
        return answer_store<X509_CRL>(lookup, found, n, ret);
    }
    return 0;
}

int by_issuer_serial(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const X509_NAME* name,
                     const ASN1_INTEGER* serial, X509_OBJECT* ret) {
    if (type != X509_LU_X509) return 0;
    STACK_OF(X509)* found = sk_X509_new_null();
    int ok = 0;
    if (found != nullptr &&
        X509_LOOKUP_local_certs_by_issuer_serial(lookup, name, serial, found, 0) > 0)
        ok = X509_OBJECT_set1_X509(ret, sk_X509_value(found, 0));
    sk_X509_pop_free(found, X509_free);
    return ok;
}

int by_fingerprint(X509_LOOKUP* lookup, X509_LOOKUP_TYPE type, const unsigned char* bytes, int len,
                   X509_OBJECT* ret) {
    if (type != X509_LU_X509) return 0;
    STACK_OF(X509)* found = sk_X509_new_null();
    int ok = 0;
    if (found != nullptr &&
        X509_LOOKUP_local_certs_by_fingerprint(lookup, bytes, len, found, 0) > 0)
        ok = X509_OBJECT_set1_X509(ret, sk_X509_value(found, 0));
    sk_X509_pop_free(found, X509_free);
    return ok;
}

X509_LOOKUP_METHOD* make_method(const char* name) {
    X509_LOOKUP_METHOD* m = X509_LOOKUP_meth_new(name);
    if (m == nullptr) return nullptr;
    X509_LOOKUP_meth_set_new_item(m, new_item);
    X509_LOOKUP_meth_set_free(m, free_item);
    X509_LOOKUP_meth_set_get_by_subject(m, by_subject);
    X509_LOOKUP_meth_set_get_by_issuer_serial(m, by_issuer_serial);
    X509_LOOKUP_meth_set_get_by_fingerprint(m, by_fingerprint);
    return m;
}

// The in-memory lookups of one store that hold certificates, kept in the
// store's extra data (guarded by lock 11): libcrypto lists no store's
// lookups, and asking the store for a lookup of a method adds one when it
// has none. The lookups go with the store, before this list.
using LookupList = std::vector<X509_LOOKUP*>;

int lookup_list_index() {
    static const int index = X509_STORE_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
            delete static_cast<LookupList*>(ptr);
        });
    return index;
}

// Files the lookup in its store's list; false without memory.
bool remember_lookup(X509_LOOKUP* lookup) {
    X509_STORE* store = X509_LOOKUP_get_store(lookup);
    if (store == nullptr || lookup_list_index() < 0) return true;
    LockGuard lock(CRYPTO_LOCK_CERT_STORE);
    auto* list = static_cast<LookupList*>(X509_STORE_get_ex_data(store, lookup_list_index()));
    try {
        if (list == nullptr) {
            auto made = std::make_unique<LookupList>();
            if (!X509_STORE_set_ex_data(store, lookup_list_index(), made.get())) return false;
            list = made.release();
        }
        if (std::find(list->begin(), list->end(), lookup) == list->end()) list->push_back(lookup);
    } catch (...) {
        return false;
    }
    return true;
}

// Pushes x with a new reference; false on failure.
bool push_cert(STACK_OF(X509) * out, X509* x) {
    if (!X509_up_ref(x)) return false;
    if (sk_X509_push(out, x) > 0) return true;
    X509_free(x);
    return false;
}

bool same_fingerprint(X509* x, const unsigned char* bytes, int len) {
    BufferPtr fp(X509_PUBKEY_FINGER_PRINT_get(X509_get_X509_PUBKEY(x)));
    return fp && fp->length == len && std::memcmp(fp->data, bytes, len) == 0;
}

template <typename Match>
int find_certs(X509_LOOKUP* lookup, STACK_OF(X509) * out, int all, Match match) {
    LocalStore* s = store_of(lookup);
    if (s == nullptr || out == nullptr) return -1;
    LockGuard lock(CRYPTO_LOCK_X509);
    int n = 0;
    for (int i = 0; i < sk_X509_num(s->certs); ++i) {
        X509* x = sk_X509_value(s->certs, i);
        if (!match(x)) continue;
        if (!push_cert(out, x)) return -1;
        ++n;
        if (!all) break;
    }
    return n;
}

}  // namespace

X509_LOOKUP_METHOD* X509_LOOKUP_local() {
    static X509_LOOKUP_METHOD* const m = make_method("local untrusted store");
    return m;
}

X509_LOOKUP_METHOD* X509_LOOKUP_trusted() {
    static X509_LOOKUP_METHOD* const m = make_method("trusted store");
    return m;
}

int X509_LOOKUP_local_add_cert(X509_LOOKUP* lookup, X509* x) {
    LocalStore* s = store_of(lookup);
    if (s == nullptr || x == nullptr || !remember_lookup(lookup)) return 0;
    LockGuard lock(CRYPTO_LOCK_X509);
    return push_cert(s->certs, x) ? 1 : 0;
}

int X509_STORE_local_certs_by_issuer_serial(X509_STORE* store, const X509_NAME* issuer,
                                            const ASN1_INTEGER* serial, STACK_OF(X509) * out,
                                            int all) {
    if (store == nullptr || issuer == nullptr || serial == nullptr || out == nullptr) return -1;
    if (lookup_list_index() < 0) return -1;
    LockGuard lock(CRYPTO_LOCK_CERT_STORE);
    const auto* list =
        static_cast<const LookupList*>(X509_STORE_get_ex_data(store, lookup_list_index()));
    int n = 0;
    for (std::size_t i = 0; list != nullptr && i < list->size() && (all || n == 0); ++i) {
        const int got = X509_LOOKUP_local_certs_by_issuer_serial((*list)[i], issuer, serial, out,
                                                                 all);
        if (got < 0) return -1;
        n += got;
    }
    return n;
}

int X509_LOOKUP_local_add_crl(X509_LOOKUP* lookup, X509_CRL* crl) {
    LocalStore* s = store_of(lookup);
    if (s == nullptr || crl == nullptr) return 0;
    LockGuard lock(CRYPTO_LOCK_CRL);
    if (!X509_CRL_up_ref(crl)) return 0;
    if (sk_X509_CRL_push(s->crls, crl) > 0) return 1;
    X509_CRL_free(crl);
    return 0;
}

int X509_LOOKUP_local_crls_by_subject(X509_LOOKUP* lookup, const X509_NAME* name,
                                      STACK_OF(X509_CRL) * out, int all) {
    LocalStore* s = store_of(lookup);
    if (s == nullptr || name == nullptr || out == nullptr) return -1;
    LockGuard lock(CRYPTO_LOCK_CRL);
    int n = 0;
    for (int i = 0; i < sk_X509_CRL_num(s->crls); ++i) {
        X509_CRL* crl = sk_X509_CRL_value(s->crls, i);
        if (X509_NAME_cmp(X509_CRL_get_issuer(crl), name) != 0) continue;
        if (!X509_CRL_up_ref(crl)) return -1;
        if (sk_X509_CRL_push(out, crl) <= 0) {
            X509_CRL_free(crl);
            return -1;
        }
        ++n;
        if (!all) break;
    }
    return n;
}

int X509_LOOKUP_local_certs_by_subject(X509_LOOKUP* lookup, const X509_NAME* name,
                                       STACK_OF(X509) * out, int all) {
    if (name == nullptr) return -1;
    return find_certs(lookup, out, all,
                      [&](X509* x) { return X509_NAME_cmp(X509_get_subject_name(x), name) == 0; });
}

int X509_LOOKUP_local_certs_by_issuer_serial(X509_LOOKUP* lookup, const X509_NAME* issuer,
                                             const ASN1_INTEGER* serial, STACK_OF(X509) * out,
                                             int all) {
    if (issuer == nullptr || serial == nullptr) return -1;
    return find_certs(lookup, out, all, [&](X509* x) {
        return X509_NAME_cmp(X509_get_issuer_name(x), issuer) == 0 &&
               ASN1_INTEGER_cmp(X509_get0_serialNumber(x), serial) == 0;
    });
}

int X509_LOOKUP_local_certs_by_fingerprint(X509_LOOKUP* lookup, const unsigned char* bytes, int len,
                                           STACK_OF(X509) * out, int all) {
    if (bytes == nullptr || len <= 0) return -1;
    return find_certs(lookup, out, all, [&](X509* x) { return same_fingerprint(x, bytes, len); });
}

}  // namespace cadb
