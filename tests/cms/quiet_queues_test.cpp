// Both error queues, libcrypto's and the library's, say only what happened:
// operations that succeed leave nothing on either, and a failure leaves its
// own reason and nothing from a call that only looked.
#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/pem.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "crypto/cadb/buffer_encode.h"
#include "crypto/core/err.h"
#include "crypto/pkcs7/p7_recip.h"
#include "tests/cms/cms_util.h"
#include "tests/store/store_util.h"

namespace cadb {
namespace {

using test::Bytes;

class QuietQueues : public test::CmsTest {
  protected:
    void SetUp() override {
        ERR_clear_error();
        ::ERR_clear_error();
    }
    static void expect_empty(const char* what) {
        EXPECT_EQ(ERR_peek_error(), 0UL) << what;
        EXPECT_EQ(::ERR_peek_error(), 0UL) << what;
        ERR_clear_error();
        ::ERR_clear_error();
    }
};

TEST_F(QuietQueues, GoodInputLeavesBothEmptyAndAFailureOnlyItsReason) {
    const Bytes content = test::text("content whose queues stay quiet");
    test::StorePtr store = pki().chain.store();
    for (const test::Party* p : {&pki().gost2001, &pki().gost94, &pki().rsa}) {
        SCOPED_TRACE(test::text_of(p->cert->subject_text));
        const Bytes msg = test::sign(pki(), {p}, content);
        expect_empty("signing");
        CmsPtr c = test::reader(msg);
        ASSERT_EQ(CMS_get_type(c.get()), 22);
        EXPECT_EQ(CMS_verify(c.get(), store.get(), nullptr, 0), 1);
        EXPECT_EQ(test::take(CMS_get_content(c.get())), content);
        expect_empty("reading and verifying");
    }
    test::sign(pki(), {&pki().gost2001, &pki().second}, content,
               CMS_OPT_DETACHED | CMS_OPT_SIGNING_TIME);
    expect_empty("two signers, detached");

    // Every other message type, written and opened.
    unsigned char password_key[32];
    int password_len = 0;
    ASSERT_EQ(CMS_passwd2key(174, "quiet", -1, password_key, &password_len, 0), 1);
    struct Kind {
        int type;
        std::function<void(CMS*)> setup;
        std::function<int(CMS*)> open;
    };
    const Kind kinds[] = {
        {23,
         [&](CMS* w) {
             EXPECT_EQ(CMS_set_cipher(w, 174), 1);
             EXPECT_EQ(CMS_add_recipient(w, pki().gost2001.cert.get(), -1), 1);
         },
         [&](CMS* r) {
             return CMS_set_recipient_key(r, pki().gost2001.pkey.get(),
                                          pki().gost2001.cert.get()) &&
                    CMS_decrypt(r);
         }},
        {25, [](CMS* w) { EXPECT_EQ(CMS_digested_set_md(w, 176), 1); },
         [](CMS* r) { return CMS_digested_verify(r); }},
        {26,
         [&](CMS* w) {
             EXPECT_EQ(CMS_set_cipher(w, 174), 1);
             EXPECT_EQ(CMS_encrypted_set_password(w, password_key, password_len), 1);
         },
         [&](CMS* r) {
             return CMS_encrypted_set_password(r, password_key, password_len) && CMS_decrypt(r);
         }},
        {261, [](CMS*) {}, [](CMS* r) { return CMS_uncompress(r); }},
    };
    for (const Kind& k : kinds) {
        SCOPED_TRACE(k.type);
        CmsPtr w(CMS_new());
        ASSERT_EQ(CMS_set_type(w.get(), k.type, 0), 1);
        k.setup(w.get());
        ASSERT_EQ(CMS_update_data(w.get(), content.data(), static_cast<int>(content.size())), 1);
        ASSERT_EQ(CMS_final(w.get()), 1);
        const Bytes msg = test::take(CMS_get(w.get(), 1));
        expect_empty("writing");
        CmsPtr r = test::reader(msg);
        ASSERT_EQ(CMS_get_type(r.get()), k.type);
        ASSERT_EQ(k.open(r.get()), 1);
        EXPECT_EQ(test::take(CMS_get_content(r.get())), content);
        expect_empty("opening");
    }

    // Keys written and read back in every form, clear and under a password.
    for (const test::Party* p : {&pki().gost2001, &pki().gost94, &pki().rsa}) {
        for (int format : {FORM_DER, FORM_PEM}) {
            for (int form : {PKEY_FORM_TRADITIONAL, PKEY_FORM_PKCS8}) {
                for (const char* password : {static_cast<const char*>(nullptr), "pw"}) {
                    SCOPED_TRACE(std::to_string(format) + " " + std::to_string(form) + " " +
                                 (password ? "password" : "clear"));
                    if (password && format == FORM_DER && form == PKEY_FORM_TRADITIONAL) continue;
                    BUFFER* file =
                        password
                            ? PKEY_get_passwd(p->pkey.get(), format, form, nullptr, password, 2)
                            : PKEY_get(p->pkey.get(), format, form, nullptr, nullptr, nullptr);
                    ASSERT_NE(file, nullptr);
                    const Bytes bytes = test::take(file);
                    test::PkeyRecPtr read(
                        PKEY_read_buffer_passwd(bytes.data(), static_cast<int>(bytes.size()),
                                                nullptr, password, password ? 2 : 0));
                    EXPECT_NE(read, nullptr);
                    expect_empty("a key written and read");
                }
            }
        }
    }

    // A key store on a disk, made and opened.
    const auto drive = testing::make_drive_a("cadb-quiet");
    {
        testing::CtxPtr made = testing::store_context("a:\\quiet", "pw");
        ASSERT_EQ(PSE_CTX_create(made.get()), 1);
        ASSERT_EQ(PSE_CTX_write(made.get()), 1);
        testing::CtxPtr opened = testing::store_context("a:\\quiet", "pw");
        EXPECT_EQ(PSE_CTX_read(opened.get()), 1);
    }
    std::filesystem::remove_all(drive);
    expect_empty("a store made and opened");

    // A traditional PEM key read without a password callback.
    BIO* bio = BIO_new(BIO_s_mem());
    ASSERT_EQ(PEM_write_bio_PrivateKey_traditional(bio, pki().rsa.key.get(), nullptr, nullptr, 0,
                                                   nullptr, nullptr),
              1);
    char* pem = nullptr;
    const long pem_len = BIO_get_mem_data(bio, &pem);
    test::PkeyRecPtr back(PKEY_read_buffer(reinterpret_cast<const unsigned char*>(pem),
                                           static_cast<int>(pem_len), nullptr, nullptr, nullptr));
    BIO_free(bio);
    EXPECT_NE(back, nullptr);
    expect_empty("a traditional PEM key");

    // A flipped content byte fails the signature: no complaint of a search
    // through the digest filters stands beside it.
    Bytes msg = test::sign(pki(), {&pki().gost2001}, content);
    ERR_clear_error();
    auto at = std::search(msg.begin(), msg.end(), content.begin(), content.end());
    ASSERT_NE(at, msg.end());
    at[3] ^= 0x01;
    CmsPtr c = test::reader(msg);
    ASSERT_EQ(CMS_get_type(c.get()), 22);
    CMS_verify(c.get(), store.get(), nullptr, 0);
    EXPECT_EQ(test::results(c.get()), (std::vector<std::pair<int, int>>{{1, 0}}));
    EXPECT_EQ(::ERR_peek_error(), 0UL);
    while (const unsigned long e = ERR_get_error()) {
        EXPECT_FALSE(ERR_code_lib(e) == ERR_LIB_OPENSSL && ERR_code_func(e) == ERR_LIB_BIO)
            << std::hex << e;
    }

    // A recipient record whose version is longer than any number is
    // refused with the library's reason, not taken with libcrypto's "too
    // large" left behind.
    ERR_clear_error();
    PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
    ASSERT_NE(ri, nullptr);
    ASSERT_EQ(PKCS7_RECIP_INFO_set(ri, pki().gost2001.x509.get()), 1);
    const unsigned char nine[9] = {1};
    ASSERT_EQ(ASN1_STRING_set(ri->version, nine, sizeof nine), 1);
    unsigned char* der = nullptr;
    const int der_len = i2d_PKCS7_RECIP_INFO(ri, &der);
    PKCS7_RECIP_INFO_free(ri);
    ASSERT_GT(der_len, 0);
    ::ERR_clear_error();  // the writer's own look at the version
    const unsigned char* p = der;
    ri = d2i_PKCS7_RECIP_INFO(nullptr, &p, der_len);
    OPENSSL_free(der);
    EXPECT_EQ(ri, nullptr);
    PKCS7_RECIP_INFO_free(ri);
    EXPECT_EQ(::ERR_peek_error(), 0UL);
    EXPECT_EQ(ERR_code_lib(ERR_peek_last_error()), ERR_LIB_ASN1_);
    ERR_clear_error();
}

}  // namespace
}  // namespace cadb
