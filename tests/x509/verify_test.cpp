// Chain verification: three-level chains with CRLs at every level, revoked
// and missing lists, competing lists of one issuer, verification times,
// lone certificates, and errors collected at every level.
#include <gtest/gtest.h>

#include "crypto/core/err.h"
#include "crypto/x509/cert_verify.h"
#include "tests/x509/chain_util.h"

namespace cadb {
namespace {

using test::codes;
using test::kDay;
using test::kLeafSerial;
using Codes = std::vector<int>;

class ChainVerify : public test::ChainSuite {
  protected:
    void SetUp() override {
        leaf_.reset(CERT_split(chain_->leaf.get()));
        untrusted_.add(chain_->inter.get());
        store_ = chain_->store();
    }
    int verify(const test::CrlStack& crls, const struct tm* at = nullptr,
               VERIFY_IGNORE_MASK mask = 0) {
        return CERT_verify(leaf_.get(), store_.get(), untrusted_.sk, crls.sk, at, mask);
    }
    const CERT* inter() const { return leaf_->issuer_cert; }
    const CERT* root() const { return leaf_->issuer_cert ? leaf_->issuer_cert->issuer_cert : nullptr; }

    test::CertPtr leaf_;
    test::CertStack untrusted_;
    test::StorePtr store_;
};

TEST_F(ChainVerify, GoodChainWithACrlAtEveryLevelPasses) {
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    crls.add(chain_->inter_crl().get());
    EXPECT_EQ(verify(crls), 1);
    ASSERT_NE(inter(), nullptr);
    ASSERT_NE(root(), nullptr);
    EXPECT_EQ(root()->issuer_cert, nullptr);
    for (const CERT* c : {static_cast<const CERT*>(leaf_.get()), inter(), root()}) {
        EXPECT_EQ(codes(c), Codes{}) << test::text_of(c->subject_text);
        EXPECT_EQ(c->verify_result, 1);
        ASSERT_NE(c->crl, nullptr);
    }
    EXPECT_EQ(test::text_of(leaf_->crl->issuer_text), "C=RU, CN=Intermediate CA");
    EXPECT_EQ(test::text_of(inter()->crl->issuer_text), "C=RU, CN=Root CA");
    EXPECT_EQ(test::text_of(root()->crl->issuer_text), "C=RU, CN=Root CA");
    EXPECT_EQ(test::text_of(inter()->subject_text), "C=RU, CN=Intermediate CA");
}

TEST_F(ChainVerify, RevokedLeafFailsOnlyItsOwnLevel) {
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    crls.add(chain_->inter_crl({7, kLeafSerial}).get());
    EXPECT_EQ(verify(crls), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_CERT_REVOKED});
    EXPECT_EQ(inter()->verify_result, 1);
    EXPECT_EQ(root()->verify_result, 1);
    const X509_VERIFY_ERROR* e = sk_X509_VERIFY_ERROR_value(leaf_->verify_errors, 0);
    EXPECT_EQ(test::text_of(e->text), "certificate revoked");
    EXPECT_EQ(e->ignorable, 0);
}

TEST_F(ChainVerify, MissingCrlAtOneLevelFailsUnlessIgnorable) {
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    EXPECT_EQ(verify(crls), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_UNABLE_TO_GET_CRL});
    EXPECT_EQ(leaf_->crl, nullptr);
    EXPECT_EQ(inter()->verify_result, 1);

    EXPECT_EQ(verify(crls, nullptr, VERIFY_IGNORE_MASK{1} << X509_V_ERR_UNABLE_TO_GET_CRL), 1);
    ASSERT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_UNABLE_TO_GET_CRL});
    EXPECT_EQ(sk_X509_VERIFY_ERROR_value(leaf_->verify_errors, 0)->ignorable, 1);

    // A missing CRL above the leaf fails the leaf through its issuer.
    test::CrlStack upper_missing;
    upper_missing.add(chain_->inter_crl().get());
    EXPECT_EQ(verify(upper_missing), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{});
    EXPECT_EQ(codes(inter()), Codes{X509_V_ERR_UNABLE_TO_GET_CRL});
    EXPECT_EQ(codes(root()), Codes{X509_V_ERR_UNABLE_TO_GET_CRL});
    EXPECT_EQ(leaf_->verify_result, 0);
}

TEST_F(ChainVerify, NewestCrlNotAfterTheTimeDecides) {
    const std::time_t now = chain_->now;
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    crls.add(chain_->inter_crl({kLeafSerial}, 3 * kDay).get());  // older: revoked
    crls.add(chain_->inter_crl({}, 2 * kDay).get());             // newer: clean
    EXPECT_EQ(verify(crls), 1);
    EXPECT_EQ(leaf_->crl->revoked_count, 0);

    // Before the newer one was issued, the older one decides.
    const struct tm earlier = test::utc(now - 2 * kDay - 3600);
    EXPECT_EQ(verify(crls, &earlier), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_CERT_REVOKED});

    // A list issued after the verification time is ignored.
    test::CrlStack future;
    future.add(chain_->root_crl().get());
    future.add(chain_->inter_crl({}, 3 * kDay).get());
    future.add(test::make_crl(chain_->inter.get(), chain_->inter_key.get(), now + 3600, now + kDay,
                        {kLeafSerial})
                   .get());
    EXPECT_EQ(verify(future), 1);
}

TEST_F(ChainVerify, VerificationTimeInThePast) {
    const std::time_t now = chain_->now;
    test::PkeyPtr key = test::new_key();
    test::X509Ptr old_leaf = test::make_cert("Old leaf", key.get(), chain_->inter.get(),
                                             chain_->inter_key.get(), 9, now - 20 * kDay,
                                             now - 10 * kDay, false);
    leaf_.reset(CERT_split(old_leaf.get()));
    test::CrlStack crls;
    crls.add(chain_->root_crl({}, 30 * kDay).get());
    crls.add(test::make_crl(chain_->inter.get(), chain_->inter_key.get(), now - 30 * kDay, now + kDay, {})
                 .get());
    EXPECT_EQ(verify(crls), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_CERT_HAS_EXPIRED});

    const struct tm then = test::utc(now - 15 * kDay);
    EXPECT_EQ(verify(crls, &then), 1);
    EXPECT_EQ(codes(leaf_.get()), Codes{});

    // Before the certificate was valid.
    const struct tm before = test::utc(now - 25 * kDay);
    EXPECT_EQ(verify(crls, &before), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_CERT_NOT_YET_VALID});
}

TEST_F(ChainVerify, ErrorsAreCollectedAtEveryLevel) {
    const std::time_t now = chain_->now;
    // An intermediate that has expired, a leaf it revoked, no list of the root.
    test::PkeyPtr key = test::new_key();
    test::X509Ptr expired = test::make_cert("Intermediate CA", chain_->inter_key.get(),
                                            chain_->root.get(), chain_->root_key.get(), 2,
                                            now - 50 * kDay, now - kDay, true);
    test::CertStack untrusted;
    untrusted.add(expired.get());
    test::CrlStack crls;
    crls.add(chain_->inter_crl({kLeafSerial}).get());
    EXPECT_EQ(CERT_verify(leaf_.get(), store_.get(), untrusted.sk, crls.sk, nullptr, 0), 0);
    EXPECT_EQ(codes(leaf_.get()), Codes{X509_V_ERR_CERT_REVOKED});
    ASSERT_NE(inter(), nullptr);
    EXPECT_EQ(codes(inter()), (Codes{X509_V_ERR_CERT_HAS_EXPIRED, X509_V_ERR_UNABLE_TO_GET_CRL}));
    ASSERT_NE(root(), nullptr);
    EXPECT_EQ(codes(root()), Codes{X509_V_ERR_UNABLE_TO_GET_CRL});
    EXPECT_EQ(leaf_->verify_result, 0);
    EXPECT_EQ(inter()->verify_result, 0);
    EXPECT_EQ(root()->verify_result, 0);

    // Ignoring the root's missing list leaves the intermediate's expiry.
    const VERIFY_IGNORE_MASK no_crl = VERIFY_IGNORE_MASK{1} << X509_V_ERR_UNABLE_TO_GET_CRL;
    EXPECT_EQ(CERT_verify(leaf_.get(), store_.get(), untrusted.sk, crls.sk, nullptr, no_crl), 0);
    EXPECT_EQ(root()->verify_result, 1);
    EXPECT_EQ(inter()->verify_result, 0);
}

TEST_F(ChainVerify, WrongSignaturesAreFound) {
    const std::time_t now = chain_->now;
    test::PkeyPtr key = test::new_key();
    // Claims the intermediate as issuer but is signed by another key.
    test::X509Ptr forged = test::make_cert("Leaf", key.get(), chain_->inter.get(), key.get(),
                                           kLeafSerial, now - kDay, now + kDay, false);
    leaf_.reset(CERT_split(forged.get()));
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    // And a list of the intermediate signed by the root's key.
    crls.add(test::make_crl(chain_->inter.get(), chain_->root_key.get(), now - kDay, now + kDay, {})
                 .get());
    ERR_clear_error();
    EXPECT_EQ(verify(crls), 0);
    EXPECT_EQ(codes(leaf_.get()),
              (Codes{X509_V_ERR_CERT_SIGNATURE_FAILURE, X509_V_ERR_CRL_SIGNATURE_FAILURE}));
    // Findings are in the levels, not on the queue: an entry there would
    // mean the verification could not run.
    EXPECT_EQ(ERR_peek_error(), 0u);
}

// The DER of x with one byte of its signature value changed, read back.
template <typename T>
T* changed_signature(const T* x, int (*i2d)(const T*, unsigned char**),
                     T* (*d2i)(T**, const unsigned char**, long)) {
    unsigned char* der = nullptr;
    const int len = i2d(x, &der);
    if (len <= 0) return nullptr;
    der[len - 3] ^= 0x01;
    const unsigned char* p = der;
    T* back = d2i(nullptr, &p, len);
    OPENSSL_free(der);
    return back;
}

TEST_F(ChainVerify, ChangedSignaturesAreFindingsNotErrors) {
    test::X509Ptr leaf(changed_signature<X509>(chain_->leaf.get(), i2d_X509, d2i_X509));
    ASSERT_TRUE(leaf);
    leaf_.reset(CERT_split(leaf.get()));
    ASSERT_TRUE(leaf_);
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    test::X509CrlPtr inter_crl(
        changed_signature<X509_CRL>(chain_->inter_crl().get(), i2d_X509_CRL, d2i_X509_CRL));
    ASSERT_TRUE(inter_crl);
    crls.add(inter_crl.get());
    ERR_clear_error();
    ::ERR_clear_error();
    ERR_raise(ERR_LIB_USER, 42);  // the caller's own, queued before the call
    EXPECT_EQ(verify(crls), 0);
    EXPECT_EQ(codes(leaf_.get()),
              (Codes{X509_V_ERR_CERT_SIGNATURE_FAILURE, X509_V_ERR_CRL_SIGNATURE_FAILURE}));
    // Findings are in the levels, not on the queue: an entry there would
    // mean the verification could not run. The caller's entry stays alone.
    EXPECT_EQ(ERR_peek_error(), 0u);
    const unsigned long callers = ::ERR_get_error();
    EXPECT_EQ(ERR_GET_LIB(callers), ERR_LIB_USER);
    EXPECT_EQ(ERR_GET_REASON(callers), 42);
    EXPECT_EQ(::ERR_get_error(), 0u);
}

TEST_F(ChainVerify, TheCallersLibraryEntryStays) {
    test::CrlStack good;
    good.add(chain_->root_crl().get());
    good.add(chain_->inter_crl().get());
    test::CrlStack missing;
    missing.add(chain_->inter_crl().get());
    for (const test::CrlStack* crls : {&good, &missing}) {
        ERR_clear_error();
        ERR_put_error(ERR_LIB_CADB, 1, 2, __FILE__, __LINE__);
        EXPECT_EQ(verify(*crls), crls == &good ? 1 : 0);
        EXPECT_EQ(ERR_get_error(), ERR_pack_code(ERR_LIB_CADB, 1, 2));
        EXPECT_EQ(ERR_get_error(), 0UL);
    }
}

TEST_F(ChainVerify, LoneCertificates) {
    const std::time_t now = chain_->now;
    test::PkeyPtr key = test::new_key();
    test::X509Ptr self = test::make_cert("Alone", key.get(), nullptr, nullptr, 5, now - kDay,
                                         now + kDay, true);
    test::CertPtr c = test::split(self.get());
    test::StorePtr empty(X509_STORE_new());
    EXPECT_EQ(CERT_verify(c.get(), empty.get(), nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(codes(c.get()),
              (Codes{X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, X509_V_ERR_UNABLE_TO_GET_CRL}));
    EXPECT_EQ(c->issuer_cert, nullptr);

    // Trusted, and with its own list, it passes.
    test::StorePtr trusting(X509_STORE_new());
    X509_STORE_add_cert(trusting.get(), self.get());
    test::CrlStack crls;
    crls.add(test::make_crl(self.get(), key.get(), now - 60, now + kDay, {}).get());
    EXPECT_EQ(CERT_verify(c.get(), trusting.get(), nullptr, crls.sk, nullptr, 0), 1);

    // A leaf whose issuer is nowhere cannot have its signature checked.
    test::CrlStack inter_list;
    inter_list.add(chain_->inter_crl().get());
    EXPECT_EQ(CERT_verify(leaf_.get(), empty.get(), nullptr, inter_list.sk, nullptr, 0), 0);
    const Codes lone = codes(leaf_.get());
    EXPECT_NE(std::find(lone.begin(), lone.end(), X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE),
              lone.end());
}

TEST_F(ChainVerify, NoSecurityLevelFailsGostChains) {
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    crls.add(chain_->inter_crl().get());
    X509_VERIFY_PARAM_set_auth_level(X509_STORE_get0_param(store_.get()), 3);
    EXPECT_EQ(verify(crls), 1);
    EXPECT_EQ(codes(leaf_.get()), Codes{});
}

TEST_F(ChainVerify, RepeatedVerificationStartsAfresh) {
    test::CrlStack crls;
    crls.add(chain_->root_crl().get());
    EXPECT_EQ(verify(crls), 0);
    crls.add(chain_->inter_crl().get());
    EXPECT_EQ(verify(crls), 1);
    EXPECT_EQ(codes(leaf_.get()), Codes{});
    EXPECT_NE(leaf_->crl, nullptr);
}

TEST_F(ChainVerify, BadArgumentsFailWithAnError) {
    ERR_clear_error();
    EXPECT_EQ(CERT_verify(nullptr, store_.get(), nullptr, nullptr, nullptr, 0), 0);
    EXPECT_EQ(ERR_code_func(ERR_peek_last_error()), CADB_F_CERT_VERIFY);
    EXPECT_EQ(CERT_verify(leaf_.get(), nullptr, nullptr, nullptr, nullptr, 0), 0);
    ERR_clear_error();
}

TEST(IgnorableMask, EveryNumberIsAnsweredWithoutOverflow) {
    const VERIFY_IGNORE_MASK all = ~VERIFY_IGNORE_MASK{0};
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(0, all), 0);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(-1, all), 0);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(3, all), 1);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(32, VERIFY_IGNORE_MASK{1} << 32), 1);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(32, 1), 0);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(63, VERIFY_IGNORE_MASK{1} << 63), 1);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(64, all), 0);
    EXPECT_EQ(X509_VERIFY_ERROR_is_ignorable(1000, all), 0);
}

}  // namespace
}  // namespace cadb
