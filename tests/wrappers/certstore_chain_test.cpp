// Chains built from nothing but a certificate store's named lookups: the
// root under "trusted", the intermediate under "untrusted", the library
// store itself empty; a missing or wrong issuer fails with the verification
// error of its level; many threads verify against one store while
// certificates are still being put into it; a signer whose certificate the
// message does not carry is found in the store's second lookup of a method.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "crypto/x509/cert_verify.h"
#include "crypto/x509/lookup_local.h"
#include "tests/cms/cms_util.h"
#include "tests/x509/chain_util.h"
#include "wrappers/tcertstore.h"

namespace cadb {
namespace {

using Codes = std::vector<int>;
using test::codes;

class CertStoreChain : public test::ChainSuite {
  protected:
    void SetUp() override {
        crls_.add(chain_->root_crl().get());
        crls_.add(chain_->inter_crl().get());
    }

    // A store as the enrolment control makes it: two lookups of the local
    // method.
    struct Filled {
        TRef<TCertStore> store = make_ref<TCertStore>();
        TCertStoreEntry* trusted = store->addLookup(X509_LOOKUP_local(), "trusted", 1);
        TCertStoreEntry* untrusted = store->addLookup(X509_LOOKUP_local(), "untrusted", 0);
    };
    static void put(TCertStoreEntry* entry, TCertStore& store, X509* x) {
        ASSERT_NE(entry->lookup(), nullptr);
        test::CertPtr record = test::split(x);
        ASSERT_TRUE(entry->addCertificate(store.keep(TCertificate(record.get()))));
    }
    int verify(TCertStore& store, CERT* leaf) {
        return CERT_verify(leaf, store.get(), nullptr, crls_.sk, nullptr, 0);
    }

    test::CrlStack crls_;
};

TEST_F(CertStoreChain, RootTrustedAndIntermediateUntrustedVerifyTheLeaf) {
    Filled f;
    put(f.trusted, *f.store, chain_->root.get());
    put(f.untrusted, *f.store, chain_->inter.get());
    ASSERT_EQ(sk_X509_OBJECT_num(X509_STORE_get0_objects(f.store->get())), 0);

    test::CertPtr leaf = test::split(chain_->leaf.get());
    EXPECT_EQ(verify(*f.store, leaf.get()), 1);
    EXPECT_EQ(codes(leaf.get()), Codes{});
    ASSERT_NE(leaf->issuer_cert, nullptr);
    EXPECT_EQ(X509_cmp(leaf->issuer_cert->x509, chain_->inter.get()), 0);
    ASSERT_NE(leaf->issuer_cert->issuer_cert, nullptr);
    EXPECT_EQ(X509_cmp(leaf->issuer_cert->issuer_cert->x509, chain_->root.get()), 0);
    // Again, now that the store has what the lookups gave it.
    EXPECT_EQ(verify(*f.store, leaf.get()), 1);
    EXPECT_EQ(codes(leaf.get()), Codes{});
}

TEST_F(CertStoreChain, MissingIssuerFailsAtItsLevel) {
    test::CertPtr leaf = test::split(chain_->leaf.get());
    {
        // No intermediate anywhere: the leaf's issuer cannot be found, nor
        // its signature checked.
        Filled f;
        put(f.trusted, *f.store, chain_->root.get());
        EXPECT_EQ(verify(*f.store, leaf.get()), 0);
        EXPECT_EQ(codes(leaf.get()), (Codes{X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
                                            X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE}));
        EXPECT_EQ(leaf->issuer_cert, nullptr);
    }
    {
        // No root: the leaf itself is sound, the intermediate's issuer is
        // missing.
        Filled f;
        put(f.untrusted, *f.store, chain_->inter.get());
        EXPECT_EQ(verify(*f.store, leaf.get()), 0);
        EXPECT_EQ(codes(leaf.get()), Codes{});
        ASSERT_NE(leaf->issuer_cert, nullptr);
        EXPECT_EQ(codes(leaf->issuer_cert), Codes{X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT});
        EXPECT_EQ(leaf->issuer_cert->verify_result, 0);
        EXPECT_EQ(leaf->verify_result, 0);
    }
    ERR_clear_error();
}

TEST_F(CertStoreChain, IntermediateOfAnotherKeyFailsTheLeafSignature) {
    // Same name as the real intermediate, issued by the root, another key.
    test::PkeyPtr other = test::new_key();
    test::X509Ptr impostor =
        test::make_cert("Intermediate CA", other.get(), chain_->root.get(), chain_->root_key.get(),
                        7, chain_->now - 50 * test::kDay, chain_->now + 50 * test::kDay, true);
    Filled f;
    put(f.trusted, *f.store, chain_->root.get());
    put(f.untrusted, *f.store, impostor.get());
    test::CertPtr leaf = test::split(chain_->leaf.get());
    EXPECT_EQ(verify(*f.store, leaf.get()), 0);
    // The intermediate's list, checked with the impostor's key, fails too.
    EXPECT_EQ(codes(leaf.get()),
              (Codes{X509_V_ERR_CERT_SIGNATURE_FAILURE, X509_V_ERR_CRL_SIGNATURE_FAILURE}));
    ERR_clear_error();
}

TEST_F(CertStoreChain, ManyThreadsVerifyWhileCertificatesArePut) {
    Filled f;
    put(f.trusted, *f.store, chain_->root.get());
    put(f.untrusted, *f.store, chain_->inter.get());
    // Other certificates of the same names and some of their own.
    std::vector<test::X509Ptr> more;
    test::PkeyPtr key = test::new_key();
    for (int i = 0; i < 24; ++i)
        more.push_back(test::make_cert(i % 2 ? "Leaf" : "Other " + std::to_string(i), key.get(),
                                       chain_->inter.get(), chain_->inter_key.get(), 1000 + i,
                                       chain_->now - test::kDay, chain_->now + test::kDay, false));

    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int round = 0; round < 8; ++round) {
                test::CertPtr leaf = test::split(chain_->leaf.get());
                if (CERT_verify(leaf.get(), f.store->get(), nullptr, crls_.sk, nullptr, 0) != 1)
                    ++failures;
            }
        });
    threads.emplace_back([&] {
        for (const test::X509Ptr& x : more)
            if (X509_LOOKUP_local_add_cert(f.untrusted->lookup(), x.get()) != 1) ++failures;
    });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);

    STACK_OF(X509)* found = sk_X509_new_null();
    EXPECT_EQ(X509_LOOKUP_local_certs_by_subject(
                  f.untrusted->lookup(), X509_get_subject_name(chain_->leaf.get()), found, 1),
              12);
    sk_X509_pop_free(found, X509_free);
    ERR_clear_error();
}

class CertStoreSigner : public test::CmsTest {};

TEST_F(CertStoreSigner, FoundInTheSecondLookupOfOneMethod) {
    const test::Bytes msg = test::sign(pki(), {&pki().gost2001}, test::text("signed"));
    TRef<TCertStore> store = make_ref<TCertStore>();
    TCertStoreEntry* trusted = store->addLookup(X509_LOOKUP_local(), "trusted", 1);
    TCertStoreEntry* untrusted = store->addLookup(X509_LOOKUP_local(), "untrusted", 0);
    ASSERT_TRUE(trusted->addCertificate(store->keep(TCertificate(pki().root.get()))));
    ASSERT_TRUE(untrusted->addCertificate(store->keep(TCertificate(pki().inter.get()))));
    // The message's own certificates are not looked at: the signer is only
    // under "untrusted".
    CmsPtr ignoring = test::reader(msg, CMS_OPT_IGNORE_CERTS);
    ASSERT_EQ(CMS_get_type(ignoring.get()), 22);
    ASSERT_EQ(CMS_verify(ignoring.get(), store->get(), nullptr, 0), 1);
    EXPECT_EQ(test::results(ignoring.get()), (std::vector<std::pair<int, int>>{{-1, -1}}));

    ASSERT_TRUE(untrusted->addCertificate(store->keep(TCertificate(pki().gost2001.cert.get()))));
    CmsPtr c = test::reader(msg, CMS_OPT_IGNORE_CERTS);
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    ASSERT_EQ(CMS_verify(c.get(), store->get(), nullptr, 0), 1);
    EXPECT_EQ(test::results(c.get()), (std::vector<std::pair<int, int>>{{1, 1}}));
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
