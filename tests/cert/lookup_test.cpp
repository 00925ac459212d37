// The lookup method over certificates and CRLs in memory, through its own
// queries and through the stock store.
#include <gtest/gtest.h>

#include "crypto/cadb/fingerprint.h"
#include "crypto/cadb/lookup_local.h"
#include "tests/cert/chain_util.h"

namespace cadb {
namespace {

using LocalLookup = test::KeyTest;

TEST_F(LocalLookup, QueriesFindFirstOrAllMatches) {
    test::Chain chain;
    test::StorePtr store(X509_STORE_new());
    X509_LOOKUP* lookup = X509_STORE_add_lookup(store.get(), X509_LOOKUP_local());
    ASSERT_NE(lookup, nullptr);
    EXPECT_STREQ(X509_LOOKUP_meth_get_new_item(X509_LOOKUP_local()) ? "ok" : "", "ok");
    test::X509CrlPtr older = chain.inter_crl({1}, 2 * test::kDay);
    test::X509CrlPtr newer = chain.inter_crl({}, test::kDay);
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
    EXPECT_EQ(X509_LOOKUP_local_crls_by_subject(lookup, X509_get_subject_name(chain.root.get()),
                                                crls, 0),
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

    // Through the stock store: one object per question.
    X509_OBJECT* obj = X509_OBJECT_new();
    EXPECT_EQ(X509_LOOKUP_by_subject(lookup, X509_LU_CRL, X509_get_subject_name(chain.root.get()),
                                     obj),
              1);
    EXPECT_EQ(X509_OBJECT_get0_X509_CRL(obj), root_list.get());
    X509_OBJECT_free(obj);
    obj = X509_OBJECT_new();
    EXPECT_EQ(X509_LOOKUP_by_fingerprint(lookup, X509_LU_X509, fp->data, fp->length, obj), 1);
    EXPECT_EQ(X509_OBJECT_get0_X509(obj), chain.inter.get());
    X509_OBJECT_free(obj);
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
