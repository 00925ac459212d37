// A three-level chain made in the test's process: a self-signed root, an
// intermediate CA and a leaf, with CRLs of the root and the intermediate.
#pragma once

#include <openssl/x509_vfy.h>

#include <ctime>
#include <vector>

#include "crypto/x509/cert_verify.h"
#include "tests/x509/cert_util.h"

namespace cadb::test {

struct StoreFree {
    void operator()(X509_STORE* s) const { X509_STORE_free(s); }
};
using StorePtr = std::unique_ptr<X509_STORE, StoreFree>;

inline constexpr long kDay = 24 * 3600;
inline constexpr long kLeafSerial = 300;

struct Chain {
    std::time_t now = std::time(nullptr);
    PkeyPtr root_key = new_key();
    PkeyPtr inter_key = new_key();
    PkeyPtr leaf_key = new_key();
    X509Ptr root = make_cert("Root CA", root_key.get(), nullptr, nullptr, 1, now - 60 * kDay,
                             now + 60 * kDay, true);
    X509Ptr inter = make_cert("Intermediate CA", inter_key.get(), root.get(), root_key.get(), 2,
                              now - 50 * kDay, now + 50 * kDay, true);
    X509Ptr leaf = make_cert("Leaf", leaf_key.get(), inter.get(), inter_key.get(), kLeafSerial,
                             now - 40 * kDay, now + 40 * kDay, false);

    X509CrlPtr root_crl(const std::vector<long>& revoked = {}, long age = kDay) const {
        return make_crl(root.get(), root_key.get(), now - age, now + 7 * kDay, revoked);
    }
    X509CrlPtr inter_crl(const std::vector<long>& revoked = {}, long age = kDay) const {
        return make_crl(inter.get(), inter_key.get(), now - age, now + 7 * kDay, revoked);
    }

    // A store trusting the root.
    StorePtr store() const {
        StorePtr s(X509_STORE_new());
        X509_STORE_add_cert(s.get(), root.get());
        return s;
    }
};

// Tests sharing one chain, made once per suite.
class ChainSuite : public KeyTest {
  protected:
    static void SetUpTestSuite() {
        KeyTest::SetUpTestSuite();
        chain_ = new Chain;
    }
    static void TearDownTestSuite() {
        delete chain_;
        chain_ = nullptr;
        KeyTest::TearDownTestSuite();
    }
    static inline Chain* chain_ = nullptr;
};

// Owners of the record stacks CERT_verify takes.
struct CertStack {
    STACK_OF(CERT)* sk = sk_CERT_new_null();
    ~CertStack() { sk_CERT_pop_free(sk, CERT_free); }
    void add(X509* x) { sk_CERT_push(sk, CERT_split(x)); }
};
struct CrlStack {
    STACK_OF(CRL)* sk = sk_CRL_new_null();
    ~CrlStack() { CRL_list_free(sk); }
    void add(X509_CRL* x) { sk_CRL_push(sk, CRL_split(x)); }
};

inline struct tm utc(std::time_t t) {
    struct tm out {};
    gmtime_r(&t, &out);
    out.tm_wday = out.tm_yday = out.tm_isdst = 0;
    return out;
}

// The error numbers a record collected, in order.
inline std::vector<int> codes(const CERT* c) {
    std::vector<int> out;
    for (int i = 0; i < sk_X509_VERIFY_ERROR_num(c->verify_errors); ++i)
        out.push_back(sk_X509_VERIFY_ERROR_value(c->verify_errors, i)->code);
    return out;
}

}  // namespace cadb::test
