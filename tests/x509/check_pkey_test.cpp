// A certificate against a private key: the vector pairs match, other keys
// do not, and missing arguments answer 0.
#include <gtest/gtest.h>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "crypto/keys/pkey.h"
#include "tests/x509/cert_util.h"

namespace cadb {
namespace {

using test::Bytes;
using test::CertPtr;
using CertKeyPair = test::KeyTest;

struct PkeyFree {
    void operator()(PKEY* k) const { PKEY_free(k); }
};
using KeyPtr = std::unique_ptr<PKEY, PkeyFree>;

CertPtr vector_cert(const std::string& set) {
    const Bytes b = test::read_file("gost3410-2001-keys/cert-" + set + ".pem");
    return CertPtr(CERT_read_buffer(FORM_PEM, b.data(), static_cast<int>(b.size())));
}

KeyPtr vector_key(const std::string& set) {
    const Bytes b = test::read_file("gost3410-2001-keys/key-" + set + ".pem");
    return KeyPtr(PKEY_read_buffer(b.data(), static_cast<int>(b.size()), nullptr, nullptr, nullptr));
}

TEST_F(CertKeyPair, VectorKeysMatchOnlyTheirOwnCertificates) {
    const char* sets[] = {"A", "B", "C", "XA", "XB"};
    for (const char* set : sets) {
        SCOPED_TRACE(set);
        CertPtr cert = vector_cert(set);
        KeyPtr key = vector_key(set);
        ASSERT_TRUE(cert && key);
        EXPECT_EQ(CERT_check_PKEY(cert.get(), key.get()), 1);
        KeyPtr other = vector_key(set == std::string("A") ? "B" : "A");
        ASSERT_TRUE(other);
        EXPECT_EQ(CERT_check_PKEY(cert.get(), other.get()), 0);
    }
    ERR_clear_error();
}

TEST_F(CertKeyPair, KeysMadeHereAndMissingArguments) {
    const std::time_t now = std::time(nullptr);
    test::PkeyPtr evp = test::new_key();
    test::X509Ptr x =
        test::make_cert("Own", evp.get(), nullptr, nullptr, 1, now - 60, now + 3600, true);
    CertPtr cert = test::split(x.get());
    KeyPtr key(PKEY_split(evp.get()));
    ASSERT_TRUE(cert && key);
    EXPECT_EQ(CERT_check_PKEY(cert.get(), key.get()), 1);
    test::PkeyPtr stranger = test::new_key();
    KeyPtr other(PKEY_split(stranger.get()));
    EXPECT_EQ(CERT_check_PKEY(cert.get(), other.get()), 0);
    EXPECT_EQ(CERT_check_PKEY(nullptr, key.get()), 0);
    EXPECT_EQ(CERT_check_PKEY(cert.get(), nullptr), 0);
    KeyPtr empty(PKEY_new());
    EXPECT_EQ(CERT_check_PKEY(cert.get(), empty.get()), 0);
}

}  // namespace
}  // namespace cadb
