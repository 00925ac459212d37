// Signing through a CryptoAPI provider: the stand-in provider holds the
// private key of a key the library made, signs the digest the library hands
// it, and the library verifies the result with its own code.
#include "crypto/core/capi_sign.h"

#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "crypto/bn/bn_ptr.h"
#include "crypto/ecgost/ec.h"
#include "crypto/ecgost/ecgost.h"
#include "crypto/r3410/r3410.h"
#include "platform/vendor/capi_api.h"
#include "tests/drivers/provider_sim.h"
#include "tests/drivers/token_fixture.h"
#include "tests/support/kernel_random.h"

namespace cadb {
namespace {

std::string hex(const BIGNUM* v) {
    char* text = BN_bn2hex(v);
    std::string out(text);
    OPENSSL_free(text);
    return out;
}

// The base point of the CryptoPro A set.
constexpr const char* kPx = "1";
constexpr const char* kPy = "8D91E471E0989CDA27DF505A453F2B7635294F2DDF23E3B122ACC99C9E9F1E14";

struct EcKeyFree {
    void operator()(ECGOST* k) const { ECGOST_free(k); }
};
struct GostsFree {
    void operator()(GOSTS* k) const { GOSTS_free(k); }
};

class CapiSignTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.ok());
        sim_.configure(dir_.path().c_str());
        EcCurvePtr c(ECURVE_new_by_code(ECURVE_CODE_CRYPTOPRO_A));
        ec_.reset(ECGOST_new_by_curve(c.get()));
        ASSERT_EQ(ECGOST_key_pair_generation(ec_.get()), 1);
        BIGNUM* d = ECGOST_get_private(ec_.get());
        ASSERT_NE(d, nullptr);
        std::ofstream(dir_.path() / "ec.key")
            << "gost2001\n" << hex(c->p.get()) << "\n" << hex(c->a.get()) << "\n"
            << hex(c->b.get()) << "\n" << hex(c->q.get()) << "\n" << kPx << "\n" << kPy << "\n"
            << hex(d) << "\n";
        BN_clear_free(d);
        ASSERT_EQ(sim_.acquire(&prov_, "ec", nullptr, 0, 0), 1);
        for (std::size_t i = 0; i < digest_.size(); ++i)
            digest_[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    void TearDown() override {
        if (prov_ != 0) sim_.release(prov_, 0);
        EXPECT_EQ(sim_.live_hashes(), 0);  // every hash object destroyed
    }

    test::ScopedModulePath module_path_{CADB_TEST_MODULES_DIR};
    testing::KernelRandom random_;
    test::ProviderSim sim_;
    test::TempDir dir_;
    std::unique_ptr<ECGOST, EcKeyFree> ec_;
    vendor::HCRYPTPROV prov_ = 0;
    std::vector<unsigned char> digest_ = std::vector<unsigned char>(32);
};

TEST_F(CapiSignTest, ProviderSignsAndTheLibraryVerifies) {
    ec_->capi = {prov_, vendor::kAtSignature};
    unsigned char sig[128];
    std::size_t len = sizeof sig;
    const int before = sim_.hashes_made();
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, &len, ec_.get()), 1);
    EXPECT_EQ(sim_.hashes_made() - before, 1);
    ASSERT_EQ(len, 64u);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, len, ec_.get()), 1);
    // The caller's digest is left as it was.
    EXPECT_EQ(digest_[1], 10);
    // The raw form: r || s, over the digest as the provider reads it.
    len = sizeof sig;
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_RAW, digest_.data(), 32, sig, &len, ec_.get()), 1);
    std::vector<unsigned char> reversed(digest_.rbegin(), digest_.rend());
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_RAW, reversed.data(), 32, sig, len, ec_.get()), 1);
    // Without a provider the key signs by itself.
    ec_->capi = {};
    len = sizeof sig;
    const int made = sim_.hashes_made();
    ASSERT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, &len, ec_.get()), 1);
    EXPECT_EQ(sim_.hashes_made(), made);
    EXPECT_EQ(ECGOST_verify(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, len, ec_.get()), 1);
}

TEST_F(CapiSignTest, RefusalsAndFailures) {
    unsigned char sig[128];
    std::size_t len = 99;
    const int before = sim_.hashes_made();
    // A digest without a hash identifier touches no provider.
    EXPECT_EQ(CAPI_sign_digest(prov_, 2, 999, digest_.data(), 32, sig, sizeof sig, &len), 0);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(sim_.hashes_made(), before);
    // A digest shorter than the hash, a missing provider, a buffer too small.
    EXPECT_EQ(CAPI_sign_digest(prov_, 2, 176, digest_.data(), 20, sig, sizeof sig, &len), -1);
    EXPECT_EQ(CAPI_sign_digest(0, 2, 176, digest_.data(), 32, sig, sizeof sig, &len), -1);
    EXPECT_EQ(CAPI_sign_digest(prov_, 2, 176, digest_.data(), 32, sig, 63, &len), -1);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(CAPI_sign_digest(prov_, 2, 288, digest_.data(), 32, sig, 64, &len), 64);
    EXPECT_EQ(CAPI_alg_of_nid(41), vendor::kCalgSha1);
    EXPECT_EQ(CAPI_alg_of_nid(64), vendor::kCalgSha1);
    EXPECT_EQ(CAPI_alg_of_nid(114), vendor::kCalgSsl3Shamd5);
    // The provider failing fails the signing entry: result 0, length 0.
    ec_->capi = {prov_, vendor::kAtSignature};
    sim_.fail_sign(1);
    len = sizeof sig;
    EXPECT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, &len, ec_.get()), 0);
    EXPECT_EQ(len, 0u);
    sim_.fail_sign(0);
    // A room smaller than the signature.
    len = 10;
    EXPECT_EQ(ECGOST_sign(ECGOST_SIG_CRYPTOPRO, digest_.data(), 32, sig, &len, ec_.get()), 0);
    EXPECT_EQ(len, 0u);
}

TEST_F(CapiSignTest, Gost94KeysSignThroughTheProviderToo) {
    std::unique_ptr<GOSTS, GostsFree> key(GOSTS_new());
    ASSERT_EQ(R3410_set_default_params(key.get()), 1);
    unsigned char x[32];
    for (int i = 0; i < 32; ++i) x[i] = static_cast<unsigned char>(0x40 + i);
    ASSERT_EQ(GOSTS_generate_pubkey(key.get(), x, 32), 1);
    BnPtr xb(BN_bin2bn(x, 32, nullptr));
    BnCtxPtr ctx(BN_CTX_new());
    BN_nnmod(xb.get(), xb.get(), key->q.get(), ctx.get());
    std::ofstream(dir_.path() / "r94.key") << "gost94\n" << hex(key->p.get()) << "\n"
                                           << hex(key->q.get()) << "\n" << hex(key->a.get())
                                           << "\n" << hex(xb.get()) << "\n";
    vendor::HCRYPTPROV prov = 0;
    ASSERT_EQ(sim_.acquire(&prov, "r94", nullptr, 0, 0), 1);
    key->capi = {prov, vendor::kAtSignature};
    std::vector<unsigned char> sig(static_cast<std::size_t>(GOSTS_signature_size(key.get())));
    unsigned int len = 0;
    ASSERT_EQ(GOSTS_sign(0, digest_.data(), 32, sig.data(), &len, key.get()), 1);
    ASSERT_EQ(len, 64u);
    // The provider's s || r over the digest read little-endian.
    auto s = std::unique_ptr<R3410_SIG, decltype(&R3410_SIG_free)>(R3410_SIG_new(), R3410_SIG_free);
    ASSERT_TRUE(s);
    BN_bin2bn(sig.data(), 32, s->s.get());
    BN_bin2bn(sig.data() + 32, 32, s->r.get());
    std::vector<unsigned char> reversed(digest_.rbegin(), digest_.rend());
    key->capi = {};
    EXPECT_EQ(GOSTS_do_verify(reversed.data(), 32, s.get(), key.get()), 1);
    sim_.release(prov, 0);
}

}  // namespace
}  // namespace cadb
