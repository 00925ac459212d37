// The lookup method over certificates and CRLs in memory, through its own
// queries and through the stock store.
#include <gtest/gtest.h>

#include "crypto/cadb/fingerprint.h"
#include "crypto/x509/lookup_local.h"
#include "tests/x509/chain_util.h"

namespace cadb {
namespace {

using LocalLookup = test::KeyTest;

// A list as a reader gets it: decoding computes the digest by which the
// stock store tells one list of an issuer from another.
test::X509CrlPtr as_read(const test::X509CrlPtr& crl) {
    unsigned char* der = nullptr;
    const int len = i2d_X509_CRL(crl.get(), &der);
    const unsigned char* p = der;
    test::X509CrlPtr out(d2i_X509_CRL(nullptr, &p, len));
    OPENSSL_free(der);
    return out;
}

TEST_F(LocalLookup, QueriesFindFirstOrAllMatches) {
    test::Chain chain;
    test::StorePtr store(X509_STORE_new());
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_local());
    ASSERT_NE(lookup, nullptr);
    EXPECT_STREQ(X509_LOOKUP_meth_get_new_item(X509_LOOKUP_local()) ? "ok" : "", "ok");
    test::X509CrlPtr older = as_read(chain.inter_crl({1}, 2 * test::kDay));
    test::X509CrlPtr newer = as_read(chain.inter_crl({}, test::kDay));
    test::X509CrlPtr root_list = chain.root_crl();
    for (X509_CRL* c : {older.get(), newer.get(), root_list.get()})
        ASSERT_EQ(X509_LOOKUP_local_add_crl(lookup, c), 1);
    for (X509* x : {chain.root.get(), chain.inter.get(), chain.leaf.get()})
        ASSERT_EQ(X509_LOOKUP_local_add_cert(lookup, x), 1);

    STACK_OF(X509_CRL)* crls = sk_X509_CRL_new_null();
    EXPECT_EQ(X509_LOOKUP_local_crls_by_subject(lookup, X509_get_subject_name(chain.inter.get()),
                                                crls, 1),
              2);
    EXPECT_EQ(sk_X509_CRL_value(crls, 0), older.get());
    EXPECT_EQ(sk_X509_CRL_value(crls, 1), newer.get());
    EXPECT_EQ(
        X509_LOOKUP_local_crls_by_subject(lookup, X509_get_subject_name(chain.root.get()), crls, 0),
        1);
    EXPECT_EQ(sk_X509_CRL_num(crls), 3);
    sk_X509_CRL_pop_free(crls, X509_CRL_free);

    STACK_OF(X509)* certs = sk_X509_new_null();
    EXPECT_EQ(X509_LOOKUP_local_certs_by_issuer_serial(
                  lookup, X509_get_issuer_name(chain.leaf.get()),
                  X509_get0_serialNumber(chain.leaf.get()), certs, 1),
              1);
    EXPECT_EQ(sk_X509_value(certs, 0), chain.leaf.get());
    BufferPtr fp(FINGER_PRINT_get(X509_get0_pubkey(chain.inter.get())));
    EXPECT_EQ(X509_LOOKUP_local_certs_by_fingerprint(lookup, fp->data, fp->length, certs, 1), 1);
    EXPECT_EQ(sk_X509_value(certs, 1), chain.inter.get());
    EXPECT_EQ(X509_LOOKUP_local_certs_by_fingerprint(lookup, fp->data, fp->length - 1, certs, 1),
              0);
    sk_X509_pop_free(certs, X509_free);

    // Through the stock store: one object per question, with a reference
    // of the caller's own.
    X509_STORE_CTX* ctx = X509_STORE_CTX_new();
    ASSERT_EQ(X509_STORE_CTX_init(ctx, store.get(), nullptr, nullptr), 1);
    X509_OBJECT* obj = X509_OBJECT_new();
    EXPECT_EQ(X509_STORE_CTX_get_by_subject(ctx, X509_LU_CRL,
                                            X509_get_subject_name(chain.root.get()), obj),
              1);
    EXPECT_EQ(X509_OBJECT_get0_X509_CRL(obj), root_list.get());
    X509_OBJECT_free(obj);
    obj = X509_OBJECT_new();
    EXPECT_EQ(X509_STORE_CTX_get_by_subject(ctx, X509_LU_X509,
                                            X509_get_subject_name(chain.inter.get()), obj),
              1);
    EXPECT_EQ(X509_OBJECT_get0_X509(obj), chain.inter.get());
    X509_OBJECT_free(obj);
    // Both lists of the intermediate are among the store's objects now.
    STACK_OF(X509_CRL)* lists =
        X509_STORE_CTX_get1_crls(ctx, X509_get_subject_name(chain.inter.get()));
    EXPECT_EQ(sk_X509_CRL_num(lists), 2);
    sk_X509_CRL_pop_free(lists, X509_CRL_free);
    X509_STORE_CTX_free(ctx);
    obj = X509_OBJECT_new();
    EXPECT_EQ(X509_LOOKUP_by_fingerprint(lookup, X509_LU_X509, fp->data, fp->length, obj), 1);
    EXPECT_EQ(X509_OBJECT_get0_X509(obj), chain.inter.get());
    X509_OBJECT_free(obj);

    certs = sk_X509_new_null();
    EXPECT_EQ(X509_LOOKUP_local_certs_by_subject(lookup, X509_get_subject_name(chain.root.get()),
                                                 certs, 1),
              1);
    EXPECT_EQ(sk_X509_value(certs, 0), chain.root.get());
    EXPECT_EQ(X509_LOOKUP_local_certs_by_subject(lookup, nullptr, certs, 1), -1);
    sk_X509_pop_free(certs, X509_free);
}

// Counts the marked certificates that are really released.
struct Released {
    static int& certs() {
        static int n = 0;
        return n;
    }
    static int index() {
        static const int i = X509_get_ex_new_index(
            0, nullptr, nullptr, nullptr, [](void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
                if (ptr != nullptr) ++certs();
            });
        return i;
    }
};

TEST_F(LocalLookup, StockQuestionsLeaveNoReferenceBehind) {
    const int before = Released::certs();
    {
        test::Chain chain;
        for (X509* x : {chain.root.get(), chain.inter.get(), chain.leaf.get()})
            X509_set_ex_data(x, Released::index(), x);
        test::StorePtr store(X509_STORE_new());
        X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_local());
        for (X509* x : {chain.root.get(), chain.inter.get()})
            ASSERT_EQ(X509_LOOKUP_local_add_cert(lookup, x), 1);
        // Chain building asks for the issuers by subject, over and over.
        for (int round = 0; round < 3; ++round) {
            X509_STORE_CTX* ctx = X509_STORE_CTX_new();
            ASSERT_EQ(X509_STORE_CTX_init(ctx, store.get(), chain.leaf.get(), nullptr), 1);
            X509_VERIFY_PARAM_set_auth_level(X509_STORE_CTX_get0_param(ctx), 0);
            EXPECT_EQ(X509_verify_cert(ctx), 1)
                << X509_verify_cert_error_string(X509_STORE_CTX_get_error(ctx));
            EXPECT_EQ(sk_X509_num(X509_STORE_CTX_get0_chain(ctx)), 3);
            X509_STORE_CTX_free(ctx);
        }
    }
    EXPECT_EQ(Released::certs() - before, 3);
    ERR_clear_error();
}

TEST_F(LocalLookup, TrustedStoreIsTheSameRecordUnderItsOwnName) {
    EXPECT_NE(X509_LOOKUP_trusted(), X509_LOOKUP_local());
    EXPECT_STREQ(X509_LOOKUP_meth_get_new_item(X509_LOOKUP_trusted()) ? "ok" : "", "ok");
    test::StorePtr store(X509_STORE_new());
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_trusted());
    test::Chain chain;
    ASSERT_EQ(X509_LOOKUP_local_add_cert(lookup, chain.leaf.get()), 1);
    EXPECT_EQ(X509_LOOKUP_local_add_cert(nullptr, chain.leaf.get()), 0);
    EXPECT_EQ(X509_LOOKUP_local_crls_by_subject(nullptr, nullptr, nullptr, 1), -1);
}

}  // namespace
}  // namespace cadb
