#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>

#include "crypto/core/engine.h"

namespace cadb {
namespace {

TEST(Engine, CertificateYieldsKey) {
    ASSERT_EQ(ENGINE_load_cadb(), 1);
    for (const char* set : {"A", "B", "C", "XA", "XB"}) {
        std::string path =
            std::string(CADB_VECTORS_DIR) + "/gost3410-2001-keys/cert-" + set + ".pem";
        FILE* f = fopen(path.c_str(), "r");
        ASSERT_NE(f, nullptr);
        X509* x = PEM_read_X509(f, nullptr, nullptr, nullptr);
        fclose(f);
        ASSERT_NE(x, nullptr);
        EVP_PKEY* k = X509_get0_pubkey(x);
        ERR_print_errors_fp(stderr);
        ASSERT_NE(k, nullptr) << set;
        X509_free(x);
    }
}

}  // namespace
}  // namespace cadb
