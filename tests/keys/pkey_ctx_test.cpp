// The private-key context over a drive mapped to a temporary folder.
#include <openssl/evp.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/cms/crmf.h"
#include "crypto/core/gost_pkey.h"
#include "crypto/store/pkey_ctx.h"
#include "crypto/x509/pkcs10.h"
#include "tests/keys/keys_fixture.h"

namespace cadb::test {
namespace {

class PkeyCtx : public KeysTest {
  protected:
    static int count_media(const char*, void* arg) {
        ++*static_cast<int*>(arg);
        return 0;
    }
};

int give_secret(char* buf, int size, int, void*) {
    if (size < 6) return -1;
    std::memcpy(buf, "secret", 6);
    return 6;
}

TEST_F(PkeyCtx, GenerateWriteAndReadBackInTheStore) {
    PkeyCtxPtr ctx(PKEY_CTX_new());
    ASSERT_TRUE(ctx);
    EXPECT_STREQ(ctx->method->name, "PKEY_CTX default method");
    ASSERT_EQ(PKEY_CTX_set_PSE(ctx.get(), store_), 1);
    ASSERT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, 0), 1);
    PKEY* key = PKEY_CTX_get_PKEY(ctx.get());
    ASSERT_NE(key, nullptr);
    char path[260];
    ASSERT_NE(CADB_key_file_path_1(kStorePath, path), nullptr);
    int media_calls = 0;
    ASSERT_EQ(PKEY_CTX_set_media_cb(ctx.get(), count_media, &media_calls), 1);
    ASSERT_EQ(PKEY_CTX_set_path(ctx.get(), path), 1);
    ASSERT_EQ(PKEY_CTX_set_passwd(ctx.get(), "secret", 0), 1);
    ASSERT_EQ(PKEY_CTX_write(ctx.get(), FORM_PEM, PKEY_FORM_PKCS8), 1);

    // A second context finds the key as the store's first key file.
    PkeyCtxPtr reader(PKEY_CTX_new());
    PKEY_CTX_set_PSE(reader.get(), store_);
    PKEY_CTX_set_media_cb(reader.get(), count_media, &media_calls);
    PKEY_CTX_set_passwd_cb(reader.get(), give_secret);
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    PKEY* back = PKEY_CTX_get_PKEY(reader.get());
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(EVP_PKEY_eq(back->key, key->key), 1);
    // And by the path, which lies inside the store: no medium question.
    PKEY_CTX_set_path(reader.get(), path);
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    EXPECT_EQ(media_calls, 0);
}

TEST_F(PkeyCtx, FailedReadsKeepWhatTheContextHeld) {
    PkeyCtxPtr ctx(PKEY_CTX_new());
    // Nothing to read from.
    EXPECT_EQ(PKEY_CTX_read(ctx.get()), 0);
    EXPECT_TRUE(queue_has_reason(ERR_R_INTERNAL));

    PKEY_CTX_set_PSE(ctx.get(), store_);
    ASSERT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410, 0), 1);
    PKEY* held = PKEY_CTX_get_PKEY(ctx.get());
    BufferPtr file(PKEY_get_passwd(held, FORM_DER, PKEY_FORM_PKCS8, store_, "right", 0));
    ASSERT_TRUE(file);

    PkeyCtxPtr reader(PKEY_CTX_new());
    PKEY_CTX_set_PSE(reader.get(), store_);
    PKEY_CTX_set_buffer(reader.get(), file->data, file->length);
    PKEY_CTX_set_passwd(reader.get(), "right", 0);
    ASSERT_EQ(PKEY_CTX_read(reader.get()), 1);
    PKEY* first = PKEY_CTX_get_PKEY(reader.get());
    PKEY_CTX_set_passwd(reader.get(), "wrong", 0);
    EXPECT_EQ(PKEY_CTX_read(reader.get()), 0);
    EXPECT_EQ(PKEY_CTX_get_PKEY(reader.get()), first);
    EXPECT_EQ(EVP_PKEY_eq(first->key, held->key), 1);
    // Bytes and path exclude each other.
    PKEY_CTX_set_path(reader.get(), "a:\\missing.key");
    EXPECT_EQ(reader->key_bytes, nullptr);
    EXPECT_EQ(PKEY_CTX_read(reader.get()), 0);
    EXPECT_EQ(PKEY_CTX_get_PKEY(reader.get()), first);
    PKEY_CTX_set_buffer(reader.get(), file->data, file->length);
    EXPECT_EQ(reader->key_path, nullptr);
    ERR_clear_error();
}

TEST_F(PkeyCtx, KeysOutsideTheStoreWaitForTheirMedium) {
    PkeyCtxPtr ctx(PKEY_CTX_new());
    PKEY_CTX_set_PSE(ctx.get(), store_);
    ASSERT_EQ(PKEY_CTX_generate(ctx.get(), NID_rsa, 512), 1);
    int media_calls = 0;
    PKEY_CTX_set_media_cb(ctx.get(), count_media, &media_calls);
    // A drive whose folder is missing has no medium; the callback refuses.
    const auto missing = root_ / "no-drive-b";
    setenv("CADB_DRIVE_B", missing.c_str(), 1);
    PKEY_CTX_set_path(ctx.get(), "b:\\keys\\rsa.key");
    EXPECT_EQ(PKEY_CTX_write(ctx.get(), FORM_DER, PKEY_FORM_TRADITIONAL), 0);
    EXPECT_GT(media_calls, 0);
    EXPECT_TRUE(queue_has_reason(ERR_R_INTERNAL));
    // A present medium outside the store is written after the check.
    PKEY_CTX_set_path(ctx.get(), "a:\\elsewhere\\rsa.key");
    EXPECT_EQ(PKEY_CTX_write(ctx.get(), FORM_DER, PKEY_FORM_TRADITIONAL), 1);
    EXPECT_TRUE(std::filesystem::exists(root_ / "elsewhere" / "rsa.key"));
    // Writing needs a path.
    PKEY_CTX_set_path(ctx.get(), nullptr);
    EXPECT_EQ(PKEY_CTX_write(ctx.get(), FORM_DER, PKEY_FORM_TRADITIONAL), 0);
    unsetenv("CADB_DRIVE_B");
    ERR_clear_error();
}

TEST_F(PkeyCtx, TokenStoresSelectTheTokenMethod) {
    PkeyCtxPtr ctx(PKEY_CTX_new());
    PSE* token = PSE_new();
    token->path = "PKCS11:\\module\\store";
    ASSERT_EQ(PKEY_CTX_set_PSE(ctx.get(), token), 1);
    EXPECT_STREQ(ctx->method->name, "PKEY_CTX pkcs11 method");
    // Until a token method is registered its operations are refused.
    EXPECT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, 0), 0);
    // A disk store attached later leaves the method until the path is set.
    PKEY_CTX_set_PSE(ctx.get(), store_);
    EXPECT_STREQ(ctx->method->name, "PKEY_CTX pkcs11 method");
    PKEY_CTX_set_path(ctx.get(), "a:\\key");
    EXPECT_STREQ(ctx->method->name, "PKEY_CTX default method");
    // A path set while a token store is attached selects the token method.
    PKEY_CTX_set_PSE(ctx.get(), token);
    PKEY_CTX_set_path(ctx.get(), "a:\\key");
    EXPECT_EQ(ctx->method, PKEY_CTX_get_pkcs11_method());
    PSE_free(token);
    EXPECT_EQ(PKEY_CTX_set_path(nullptr, "x"), 0);
    EXPECT_EQ(PKEY_CTX_set_PSE(nullptr, nullptr), 0);
    PKEY_CTX_free(nullptr);
    ERR_clear_error();
}

// The request road and the token method attach a certificate, a PKCS#10
// and a CRMF request; the context releases them (the sanitizer build
// reports any that stays).
TEST_F(PkeyCtx, AttachedRequestObjectsGoWithTheContext) {
    PKEY_CTX* ctx = PKEY_CTX_new();
    ASSERT_NE(ctx, nullptr);
    EXPECT_EQ(ctx->crmf, nullptr);
    ctx->x509 = X509_new();
    ctx->pkcs10 = PKCS10_new();
    ctx->crmf = CRMF_new();
    ASSERT_TRUE(ctx->x509 && ctx->pkcs10 && ctx->crmf);
    PKEY_CTX_free(ctx);
}

TEST_F(PkeyCtx, ThreadsShareOneContext) {
    PkeyCtxPtr ctx(PKEY_CTX_new());
    PKEY_CTX_set_PSE(ctx.get(), store_);
    ASSERT_EQ(PKEY_CTX_generate(ctx.get(), NID_ECR3410_CP, 0), 1);
    BufferPtr file(PKEY_get(PKEY_CTX_get_PKEY(ctx.get()), FORM_PEM, PKEY_FORM_TRADITIONAL, nullptr,
                            nullptr, nullptr));
    PKEY_CTX_set_buffer(ctx.get(), file->data, file->length);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20; ++i) {
                if (t % 2 == 0) {
                    if (!PKEY_CTX_read(ctx.get())) ++failures;
                } else {
                    PKEY_CTX_set_passwd(ctx.get(), i % 2 ? "x" : nullptr, 0);
                    PKEY_CTX_set_progress_cb(ctx.get(), nullptr);
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(failures.load(), 0);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb::test
