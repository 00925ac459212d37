// The certificate context: reading from memory and files, writing in each
// form, token paths, failures that leave no certificate, and threads sharing
// one context.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "crypto/x509/cert_ctx.h"
#include "tests/x509/cert_util.h"

namespace cadb {
namespace {

using test::Bytes;

struct CtxFree {
    void operator()(CERT_CTX* c) const { CERT_CTX_free(c); }
};
using CtxPtr = std::unique_ptr<CERT_CTX, CtxFree>;

class CertContext : public test::KeyTest {
  protected:
    void SetUp() override {
        pem_ = test::read_file("gost3410-2001-keys/cert-A.pem");
        dir_ = std::filesystem::temp_directory_path() /
               ("cadb-certctx-" + std::to_string(getpid()));
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    Bytes pem_;
    std::filesystem::path dir_;
};

TEST_F(CertContext, ReadsFromMemoryAndWritesEveryFormToFiles) {
    CtxPtr ctx(CERT_CTX_new());
    ASSERT_TRUE(ctx);
    EXPECT_STREQ(ctx->method->name, "CERT_CTX default method");
    EXPECT_EQ(CERT_CTX_get_CERT(ctx.get()), nullptr);
    ASSERT_EQ(CERT_CTX_set_buffer(ctx.get(), pem_.data(), static_cast<int>(pem_.size())), 1);
    ASSERT_EQ(CERT_CTX_read(ctx.get()), 1);
    const CERT* c = CERT_CTX_get_CERT(ctx.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(test::text_of(c->subject_text), "CN=Test A, O=Vectors, C=RU");
    const Bytes der = test::der_of(c->x509);

    for (int form : {FORM_DER, FORM_PEM, FORM_TEXT}) {
        SCOPED_TRACE(form);
        const std::string path = file("cert-" + std::to_string(form));
        ASSERT_EQ(CERT_CTX_set_path(ctx.get(), path.c_str()), 1);
        EXPECT_EQ(ctx->bytes, nullptr);
        ASSERT_EQ(CERT_CTX_write(ctx.get(), form), 1);
        CtxPtr back(CERT_CTX_new());
        ASSERT_EQ(CERT_CTX_set_path(back.get(), path.c_str()), 1);
        if (form == FORM_TEXT) {
            // The printed form is for people; it does not read back.
            EXPECT_EQ(CERT_CTX_read(back.get()), 0);
            EXPECT_EQ(CERT_CTX_get_CERT(back.get()), nullptr);
            continue;
        }
        ASSERT_EQ(CERT_CTX_read(back.get()), 1);
        EXPECT_EQ(test::der_of(CERT_CTX_get_CERT(back.get())->x509), der);
    }
    ERR_clear_error();
}

TEST_F(CertContext, FailuresLeaveNoCertificate) {
    CtxPtr ctx(CERT_CTX_new());
    ERR_clear_error();
    EXPECT_EQ(CERT_CTX_read(ctx.get()), 0);
    EXPECT_EQ(ERR_code_reason(ERR_peek_last_error()), ERR_R_INTERNAL);
    EXPECT_EQ(CERT_CTX_write(ctx.get(), FORM_PEM), 0);

    ASSERT_EQ(CERT_CTX_set_buffer(ctx.get(), pem_.data(), static_cast<int>(pem_.size())), 1);
    ASSERT_EQ(CERT_CTX_read(ctx.get()), 1);
    const Bytes junk = {'n', 'o', 't', ' ', 'a', ' ', 'c', 'e', 'r', 't'};
    ASSERT_EQ(CERT_CTX_set_buffer(ctx.get(), junk.data(), static_cast<int>(junk.size())), 1);
    EXPECT_EQ(CERT_CTX_read(ctx.get()), 0);
    EXPECT_EQ(CERT_CTX_get_CERT(ctx.get()), nullptr);

    ASSERT_EQ(CERT_CTX_set_path(ctx.get(), file("missing").c_str()), 1);
    EXPECT_EQ(CERT_CTX_read(ctx.get()), 0);
    EXPECT_EQ(CERT_CTX_get_CERT(ctx.get()), nullptr);

    EXPECT_EQ(CERT_CTX_set_buffer(nullptr, pem_.data(), 1), 0);
    EXPECT_EQ(CERT_CTX_read(nullptr), 0);
    CERT_CTX_free(nullptr);
    ERR_clear_error();
}

TEST_F(CertContext, TokenPathsSelectTheTokenMethod) {
    CtxPtr ctx(CERT_CTX_new());
    for (const char* path : {"pkcs11:\\module\\cert", "PKCS11:\\module", "Pkcs11"}) {
        ASSERT_EQ(CERT_CTX_set_path(ctx.get(), path), 1);
        EXPECT_STREQ(ctx->method->name, "certificate pkcs11 method") << path;
        // No token method is registered: the path is refused, not read as a file.
        EXPECT_EQ(CERT_CTX_read(ctx.get()), 0);
    }
    ASSERT_EQ(CERT_CTX_set_path(ctx.get(), file("pkcs11").c_str()), 1);
    EXPECT_STREQ(ctx->method->name, "CERT_CTX default method");

    static int reads = 0;
    static const CERT_CTX_METHOD kStandIn = {"certificate pkcs11 method",
                                             [](CERT_CTX*) { return ++reads; }, nullptr};
    CERT_CTX_set_pkcs11_method(&kStandIn);
    ASSERT_EQ(CERT_CTX_set_path(ctx.get(), "pkcs11:\\m"), 1);
    EXPECT_EQ(CERT_CTX_read(ctx.get()), 1);
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(CERT_CTX_write(ctx.get(), FORM_DER), 1);  // no write operation: success
    CERT_CTX_set_pkcs11_method(nullptr);
    ERR_clear_error();
}

TEST_F(CertContext, ThreadsShareOneContext) {
    CtxPtr ctx(CERT_CTX_new());
    const Bytes other = test::read_file("gost3410-2001-keys/cert-B.pem");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const Bytes& mine = t % 2 ? pem_ : other;
            for (int i = 0; i < 50; ++i) {
                std::lock_guard lock(ctx->mutex);
                ASSERT_EQ(CERT_CTX_set_buffer(ctx.get(), mine.data(), static_cast<int>(mine.size())),
                          1);
                ASSERT_EQ(CERT_CTX_read(ctx.get()), 1);
                ASSERT_NE(CERT_CTX_get_CERT(ctx.get()), nullptr);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_NE(CERT_CTX_get_CERT(ctx.get()), nullptr);
}

}  // namespace
}  // namespace cadb
